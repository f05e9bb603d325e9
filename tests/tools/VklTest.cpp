// Runs the built vkl program as a process, as a user does.
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/resources/ResourceTables.h"
#include "tests/support/Process.h"
#include "tests/support/TestEnv.h"

namespace {

using Result = ProcessResult;
int Lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

class VklTest : public ::testing::Test {
protected:
    // Runs vkl on the test's home directory.
    Result Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {VklProgram(), "--home", tmp / "home"});
        return RunProcess(args, tmp.path());
    }

    TempDir tmp;
};

}  // namespace

TEST_F(VklTest, DemoRunsToTheEnd)
{
    const Result r = Run({"demo", "--dir", tmp / "demo"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("records byte-identical to the original"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 assert bookmarks"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(VklTest, RecordWithALimitThenInfoOnEveryFileAndMessagesInARange)
{
    const Result rec = Run({"record", "-o", "run", "--dir", tmp / "logs", "--max-size", "1", "--messages", "40000",
                            "--assert-every", "25000", "--bookmark-asserts", "--description", "bench run"});
    ASSERT_EQ(rec.status, 0) << rec.err;
    EXPECT_NE(rec.out.find("recorded 40000 messages"), std::string::npos) << rec.out;
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp / "logs")) {
        ++files;
        const std::string path = e.path().string();
        const Result info = Run({"info", path});
        EXPECT_EQ(info.status, 0) << path << info.err;
        EXPECT_NE(info.out.find("bench run"), std::string::npos) << info.out;
        const Result json = Run({"info", "--json", path});
        EXPECT_EQ(json.status, 0);
        EXPECT_NE(json.out.find("\"header_position\""), std::string::npos);
    }
    EXPECT_GE(files, 2u);
    const Result msgs = Run({"messages", tmp / "logs/run.vkl", "--from", "100", "--to", "149"});
    ASSERT_EQ(msgs.status, 0) << msgs.err;
    EXPECT_EQ(Lines(msgs.out), 1 + 50);
}

TEST_F(VklTest, ReplayIntoAnotherLogGivesIdenticalRecordsAndDescribeChangesOnlyTheDescription)
{
    ASSERT_EQ(Run({"record", "-o", "src", "--dir", tmp.path(), "--messages", "3000"}).status, 0);
    const Result replay = Run({"replay", tmp / "src.vkl", "--into", tmp / "copy.vkl"});
    ASSERT_EQ(replay.status, 0) << replay.err;
    const auto a = ReadAll(tmp / "src.vkl"), b = ReadAll(tmp / "copy.vkl");
    ASSERT_GT(a.size(), 4u);
    const uint32_t h = a[0] | (a[1] << 8) | (a[2] << 16) | (a[3] << 24);
    // The same header position and the same records.
    ASSERT_TRUE(b.size() >= h && std::equal(a.begin(), a.begin() + h, b.begin()));

    ASSERT_EQ(Run({"describe", tmp / "src.vkl", "field test in Berlin"}).status, 0);
    const Result info = Run({"info", tmp / "src.vkl"});
    EXPECT_NE(info.out.find("field test in Berlin"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("records          3000"), std::string::npos) << info.out;
}

TEST_F(VklTest, GkiRecordsListsEveryRecordUntilABadOne)
{
    // A signal, a logged signal and a command, then a record of the unknown type 0x44.
    auto le = [](std::vector<uint8_t>& b, uint32_t v, int width) {
        for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    std::vector<uint8_t> gki;
    for (auto [v, w] : {std::pair{83u, 4}, {17u, 2}, {1u, 4}, {2u, 4}, {3u, 2}, {7u, 4}}) le(gki, v, w);
    gki.insert(gki.end(), {'a', 'b', 'c'});
    for (auto [v, w] : {std::pair{50u, 4}, {23u, 2}, {1u, 4}, {2u, 4}, {5u, 4}, {6u, 4}, {1u, 2}, {7u, 4}}) le(gki, v, w);
    gki.push_back('q');
    for (auto [v, w] : {std::pair{67u, 4}, {3u, 2}, {42u, 4}}) le(gki, v, w);
    gki.push_back(0);
    const size_t bad = gki.size();
    for (auto [v, w] : {std::pair{0x44u, 4}, {0u, 2}}) le(gki, v, w);
    WriteAll(tmp / "log.gki", gki);
    const std::string db = R"({"signals": [{"id": 7, "name": "SEVEN_IND", "fields": [{"name": "t", "type": "char"}]}]})";
    WriteAll(tmp / "db.json", std::vector<uint8_t>(db.begin(), db.end()));

    Result r = Run({"--signals", tmp / "db.json", "gki-records", tmp / "log.gki"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), 1 + 3) << r.out;
    EXPECT_NE(r.out.find("0  S         17  0x00000001  0x00000002           -           -      3  0x00000007 SEVEN_IND  61 62 63"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("0x00000005  0x00000006      1  0x00000007 SEVEN_IND  71"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "vkl: " + (tmp / "log.gki") + ": record at offset " + std::to_string(bad) +
                         ": unknown record type code 0x00000044\n");
    EXPECT_EQ(ReadAll(tmp / "log.gki"), gki);

    // A range that ends before the bad record reads no further.
    r = Run({"gki-records", "--json", "--from", "2", "--to", "3", tmp / "log.gki"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"number\": 2"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"number\": 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"type\": \"C\""), std::string::npos) << r.out;

    gki.resize(bad - 1);  // the command record loses its last body byte
    WriteAll(tmp / "cut.gki", gki);
    r = Run({"gki-records", tmp / "cut.gki"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("record at offset 52: the record is cut short"), std::string::npos) << r.err;
    EXPECT_EQ(Run({"--signals", tmp / "missing.json", "gki-records", tmp / "cut.gki"}).status, 1);
}

TEST_F(VklTest, ResourcesAsJsonAndOneByOne)
{
    // The tables themselves are checked through the module; here, that the command shows them.
    const Result r = Run({"resources", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["dialogs"].size(), tables::Dialogs().size());
    EXPECT_EQ(doc["menus"].size(), tables::Menus().size());
    EXPECT_EQ(doc["version"]["file_version"], tables::kFileVersion);
    for (const auto& d : doc["dialogs"]) {
        if (d["id"] != tables::kSortDialog) continue;
        EXPECT_EQ(d["caption"], "Select Columns");
        EXPECT_EQ(d["font"]["name"], tables::kFont);
        EXPECT_EQ(d["controls"][1]["kind"], ControlKindName(ControlKind::comboBox));
        const auto& flags = d["controls"][1]["flags"];
        EXPECT_NE(std::find(flags.begin(), flags.end(), "drop-down list"), flags.end()) << flags.dump();
        EXPECT_EQ(d["init"][1]["text"], tables::kSortItems[1]);
    }

    const Result one = Run({"resources", "5022"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out.find("dialog 5001"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("\"Alphabetically\""), std::string::npos) << one.out;
    const Result none = Run({"resources", "4242"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "vkl: Logger.dll: no resource 4242\n");
}

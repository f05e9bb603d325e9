// Runs the built vkl program as a process, as a user does.
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/convert/ConvertTest.h"
#include "tests/resources/ResourceTables.h"
#include "tests/tools/VklRun.h"

using Result = ProcessResult;
using VklTest = VklRunTest;

TEST_F(VklTest, DemoRunsToTheEnd)
{
    const Result r = Vkl({"demo", "--dir", tmp / "demo"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "records byte-identical to the original")) << r.out;
    EXPECT_TRUE(Has(r.out, "3 assert bookmarks")) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(VklTest, RecordWithALimitThenInfoOnEveryFileAndMessagesInARange)
{
    const Result rec = Vkl({"record", "-o", "run", "--dir", tmp / "logs", "--max-size", "1", "--messages", "40000",
                            "--assert-every", "25000", "--bookmark-asserts", "--description", "bench run"});
    ASSERT_EQ(rec.status, 0) << rec.err;
    EXPECT_TRUE(Has(rec.out, "recorded 40000 messages")) << rec.out;
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp / "logs")) {
        ++files;
        const Result info = Vkl({"info", "--json", e.path().string()});
        EXPECT_EQ(info.status, 0) << e.path() << info.err;
        EXPECT_TRUE(Has(info.out, "bench run") && Has(info.out, "\"header_position\"")) << info.out;
    }
    EXPECT_GE(files, 2u);
    const Result msgs = Vkl({"messages", tmp / "logs/run.vkl", "--from", "100", "--to", "149"});
    ASSERT_EQ(msgs.status, 0) << msgs.err;
    EXPECT_EQ(Lines(msgs.out), 1u + 50u);
}

TEST_F(VklTest, ReplayIntoAnotherLogGivesIdenticalRecordsAndDescribeChangesOnlyTheDescription)
{
    ASSERT_EQ(Vkl({"record", "-o", "src", "--dir", tmp.path(), "--messages", "3000"}).status, 0);
    const Result replay = Vkl({"replay", tmp / "src.vkl", "--into", tmp / "copy.vkl"});
    ASSERT_EQ(replay.status, 0) << replay.err;
    const auto a = ReadAll(tmp / "src.vkl"), b = ReadAll(tmp / "copy.vkl");
    ASSERT_GT(a.size(), 4u);
    const uint32_t h = a[0] | (a[1] << 8) | (a[2] << 16) | (a[3] << 24);
    // The same header position and the same records.
    ASSERT_TRUE(b.size() >= h && std::equal(a.begin(), a.begin() + h, b.begin()));

    ASSERT_EQ(Vkl({"describe", tmp / "src.vkl", "field test in Berlin"}).status, 0);
    const Result info = Vkl({"info", tmp / "src.vkl"});
    EXPECT_TRUE(Has(info.out, "field test in Berlin")) << info.out;
    EXPECT_TRUE(Has(info.out, "records          3000")) << info.out;
}

TEST_F(VklTest, GkiRecordsListsEveryRecordUntilABadOne)
{
    // A signal, a logged signal and a command, then a record of the unknown type 0x44.
    const Bytes signal = Cat({LE('S', 4), LE(17, 2), LE(1, 4), LE(2, 4), LE(3, 2), LE(7, 4), {'a', 'b', 'c'}});
    const Bytes logged =
        Cat({LE('2', 4), LE(23, 2), LE(1, 4), LE(2, 4), LE(5, 4), LE(6, 4), LE(1, 2), LE(7, 4), {'q'}});
    Bytes gki = Cat({signal, logged, LE('C', 4), LE(3, 2), LE(42, 4), {0}});
    const size_t bad = gki.size();
    Append(gki, Cat({LE(0x44, 4), LE(0, 2)}));
    WriteAll(tmp / "log.gki", gki);
    const std::string db =
        R"({"signals": [{"id": 7, "name": "SEVEN_IND", "fields": [{"name": "t", "type": "char"}]}]})";
    WriteAll(tmp / "db.json", Bytes(db.begin(), db.end()));

    Result r = Vkl({"--signals", tmp / "db.json", "gki-records", tmp / "log.gki"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), 1u + 3u) << r.out;
    EXPECT_TRUE(Has(r.out,
                    "0  S         17  0x00000001  0x00000002           -           -      3  0x00000007 "
                    "SEVEN_IND  61 62 63"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "0x00000005  0x00000006      1  0x00000007 SEVEN_IND  71")) << r.out;
    EXPECT_EQ(r.err, "vkl: " + (tmp / "log.gki") + ": record at offset " + std::to_string(bad) +
                         ": unknown record type code 0x00000044\n");
    EXPECT_EQ(ReadAll(tmp / "log.gki"), gki);

    // A range that ends before the bad record reads no further.
    r = Vkl({"gki-records", "--json", "--from", "2", "--to", "3", tmp / "log.gki"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\"number\": 2")) << r.out;
    EXPECT_FALSE(Has(r.out, "\"number\": 1")) << r.out;
    EXPECT_TRUE(Has(r.out, "\"type\": \"C\"")) << r.out;

    gki.resize(bad - 1);  // the command record loses its last body byte
    WriteAll(tmp / "cut.gki", gki);
    ExpectFails({"gki-records", tmp / "cut.gki"}, 1, "record at offset 52: the record is cut short");
    EXPECT_EQ(Vkl({"--signals", tmp / "missing.json", "gki-records", tmp / "cut.gki"}).status, 1);
}

TEST_F(VklTest, ResourcesAsJsonAndOneByOne)
{
    // The tables themselves are checked through the module; here, that the command shows them.
    const Result r = Vkl({"resources", "--json"});
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

    const Result one = Vkl({"resources", "5022"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_FALSE(Has(one.out, "dialog 5001")) << one.out;
    EXPECT_TRUE(Has(one.out, "\"Alphabetically\"")) << one.out;
    ExpectFails({"resources", "4242"}, 1, "vkl: Logger.dll: no resource 4242\n");
}

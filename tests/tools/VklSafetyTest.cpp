// The command line keeps the user's files safe and says clearly what is wrong: run as a
// process, grouped by cause.
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/File.h"
#include "tests/support/LogFileBytes.h"
#include "tests/tools/VklRun.h"

namespace {
namespace fs = std::filesystem;

class VklSafetyTest : public VklRunTest {
protected:
    VklSafetyTest() { global = {"--clock", "2011-03-03 14:05:09"}; }
    // A small recorded log, as the user would have one.
    std::string Small(const std::string& name)
    {
        const ProcessResult r = Vkl({"-q", "record", "-o", name, "--dir", tmp / "logs", "--messages", "22",
                                     "--assert-every", "7", "--bookmark-asserts", "--description", "small test"});
        EXPECT_EQ(r.status, 0) << r.err;
        return tmp / ("logs/" + name + ".vkl");
    }
};

}  // namespace

// No existing file is replaced unless asked; inspection changes nothing and tells damage
// from a recording in progress.
TEST_F(VklSafetyTest, FilesChangeOnlyWhenAsked)
{
    const std::string log = Small("day1");
    const Bytes original = ReadAll(log);
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"info", log}, {"messages", log, "--json"}, {"replay", log}})
        EXPECT_EQ(Vkl(args).status, 0) << args[0];
    ExpectFails({"record", "-o", "day1", "--dir", tmp / "logs", "--messages", "10"}, 1,
                "exists; not replaced (--force replaces it)");
    EXPECT_EQ(Vkl({"replay", log, "--into", log}).status, 2);
    // A link planted at the output name is never followed, not even with --force.
    ASSERT_EQ(::symlink(log.c_str(), (tmp / "logs/planted.vkl").c_str()), 0);
    EXPECT_EQ(Vkl({"record", "-o", "planted", "--dir", tmp / "logs", "--messages", "5", "--force"}).status, 1);
    EXPECT_EQ(ReadAll(log), original);  // inspected, refused as an output, not written through the link

    // Asked: --force replaces, --append adds.
    ASSERT_EQ(Vkl({"-q", "record", "-o", "day1", "--dir", tmp / "logs", "--messages", "5", "--force"}).status, 0);
    ASSERT_EQ(Vkl({"-q", "record", "-o", "day1", "--dir", tmp / "logs", "--messages", "5", "--append"}).status, 0);
    EXPECT_TRUE(Has(Vkl({"info", log}).out, "records          10")) << Vkl({"info", log}).out;

    // A file another process has open for writing is being recorded, not damaged.
    Bytes killed = original;
    killed[0] = killed[1] = killed[2] = killed[3] = 0;
    WriteAll(tmp / "rec.vkl", killed);
    {
        CFile writer;
        ASSERT_TRUE(writer.Open((tmp / "rec.vkl").c_str(), CFile::modeReadWrite | CFile::shareDenyWrite));
        ExpectFails({"info", tmp / "rec.vkl"}, 1, "is being recorded by another process");
        ExpectFails({"describe", tmp / "rec.vkl", "x"}, 1, "is being recorded by another process");
        EXPECT_EQ(Vkl({"repair", tmp / "rec.vkl"}).status, 1);
    }
    // Closed: now it needs repair, and describe refuses it untouched.
    ExpectFails({"describe", tmp / "rec.vkl", "x"}, 1, "needs repair");
    EXPECT_EQ(ReadAll(tmp / "rec.vkl"), killed);
}

TEST_F(VklSafetyTest, HostileAndDamagedFilesGetOneClearLineQuickly)
{
    // Header texts are Windows-1252 bytes: JSON gets UTF-8, plain output stops at a NUL.
    const std::string log = Small("latin");
    ASSERT_EQ(Vkl({"describe", log, std::string("caf\xe9") + '\0' + "hidden"}).status, 0);
    EXPECT_EQ(nlohmann::json::parse(Vkl({"info", "--json", log}).out)["files"][0]["description"], "caf\xc3\xa9");
    EXPECT_TRUE(Has(Vkl({"info", log}).out, "description      caf\xc3\xa9\n"));

    // A pipe, a directory, a sparse file of 5 GiB.
    ASSERT_EQ(::mkfifo((tmp / "p.vkl").c_str(), 0600), 0);
    ExpectFails({"info", tmp / "p.vkl"}, 1, "not a regular file");
    EXPECT_EQ(Vkl({"messages", tmp.path()}).status, 1);
    std::ofstream(tmp / "big.vkl").close();
    fs::resize_file(tmp / "big.vkl", 5ull << 30);
    ExpectFails({"info", tmp / "big.vkl"}, 1, "not a log file");

    // A record with data length -1 is a record to every command.
    WriteAll(tmp / "neg.vkl", LogBytes(4 + 43 + 40, {1}, Cat({UnreadableRecord(), FreshHeader()})));
    EXPECT_TRUE(Has(Vkl({"info", tmp / "neg.vkl"}).out, "records          2,"));
    EXPECT_EQ(Vkl({"messages", tmp / "neg.vkl"}).status, 0);
    EXPECT_EQ(Vkl({"replay", tmp / "neg.vkl"}).status, 0);

    // A record that cannot be read is named at its offset by every command.
    Bytes bytes = ReadAll(log);
    bytes[4 + 4] = 9;  // the first record's device number: no such slot
    WriteAll(log, bytes);
    for (const char* command : {"info", "messages"})
        ExpectFails({command, log}, 1, "record at offset 4 cannot be read: implausible record: device number");
    EXPECT_EQ(Vkl({"replay", log}).status, 1);
}

TEST_F(VklSafetyTest, AFullDiskStopsTheRecordingAtOnceAndTheFileRepairsCleanly)
{
    // 300 MB said free, then every write from the 51st on fails as on a full disk.
    ProcessResult r = Vkl({"record", "-o", "full", "--dir", tmp / "logs", "--messages", "100000"},
                          WithShim({{"VKL_SHIM_FREE_MB", "300"}, {"VKL_SHIM_ENOSPC_AT", "51"}}));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "Error writing log file.")) << r.err;
    EXPECT_TRUE(Has(r.err, "(No space left on device); 49 of ")) << r.err;  // the H word, 49 records, the failure
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp / "logs"), fs::directory_iterator{}), 1);
    r = Vkl({"repair", tmp / "logs/full.vkl"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "49 records kept")) << r.out;

    // No room at all: refused before anything is made, with the guard's own words.
    ExpectFails({"record", "-o", "none", "--dir", tmp / "low", "--messages", "50"}, 1,
                "The Recorder requires at least 250 MB free", WithShim({{"VKL_SHIM_FREE_MB", "100"}}));
    EXPECT_TRUE(fs::is_empty(tmp / "low"));
}

TEST_F(VklSafetyTest, TheCommandLineSaysWhatIsWrong)
{
    const std::string text = "just some text, not a log\n", notes = tmp / "notes.txt";
    WriteAll(notes, Bytes(text.begin(), text.end()));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
        int lines = 1;  // the library's own text, where it has one, comes first
    } cases[] = {
        {{"bogus"}, 2, "unknown command 'bogus'"},
        {{"messages", "x.vkl", "--from", "-1"}, 2, "'-1' is not a whole number"},
        {{"record", "--messages", "0"}, 2, "'0' is out of range (1 to "},
        {{"record", "--messages", "99999999999999999999999"}, 2, "is too large"},
        {{"record", "-o", "../x", "--messages", "1"}, 2, "-o takes a file name, not a path"},
        {{"record", "-o", "a\\b", "--messages", "1"}, 2, "-o takes a file name, not a path"},
        {{"record", "-o", std::string(300, 'n'), "--dir", tmp.path(), "--messages", "1"}, 1, "File name too long", 2},
        {{"info", tmp / "missing.vkl"}, 1, tmp / "missing.vkl: cannot open: No such file or directory"},
        {{"info", notes}, 1, "not a log file"},
        {{"repair", notes}, 1, "notes.txt"},
        {{"info", "--no-such-flag", notes}, 2, "--no-such-flag"},
        {{}, 2, ""},
    };
    for (const Case& c : cases) {
        const ProcessResult r = Vkl(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(Has(r.err, c.says)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.lines) << r.err;
    }
    EXPECT_EQ(ReadAll(notes), Bytes(text.begin(), text.end()));
}

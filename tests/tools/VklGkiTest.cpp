// vkl export-gki and vkl import-gki as a process: the round trip of a recorded session,
// the errors question answered from the flags, and each end with its exit status.
#include "tests/convert/ConvertTest.h"
#include "tests/tools/VklRun.h"

using VklGkiTest = VklRunTest;

TEST_F(VklGkiTest, ARecordedSessionGoesThereAndBackAndAFailedImportLeavesNoLog)
{
    ASSERT_EQ(Vkl({"-q", "record", "-o", "s", "--dir", tmp.path(), "--messages", "300"}).status, 0);
    const ProcessResult out = Vkl({"export-gki", tmp / "s.vkl"});
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.err, "vkl: Conversion Succeeded!\n");
    EXPECT_TRUE(Has(out.out, "300 messages read, ")) << out.out;
    const ProcessResult in = Vkl({"import-gki", tmp / "s.gki", "-o", tmp / "back.vkl"});
    ASSERT_EQ(in.status, 0) << in.err;
    // As many messages come back as records went out.
    const std::string written = out.out.substr(out.out.find("read, ") + 6);
    const std::string count = written.substr(0, written.find(' '));
    EXPECT_TRUE(Has(in.out, count + " records read, " + count + " messages written")) << in.out;

    // An existing output is left alone; OUT the same file as the input is a usage error.
    EXPECT_EQ(Vkl({"export-gki", tmp / "s.vkl"}).status, 1);
    EXPECT_EQ(Vkl({"import-gki", tmp / "s.gki", "-o", tmp / "s.gki"}).status, 2);

    const Bytes bad = Cat({LE(0x44, 4), LE(0, 20)});
    WriteAll(tmp / "bad.gki", bad);
    ExpectFails({"import-gki", tmp / "bad.gki"}, 1,
                "vkl: There is a problem with this signal type\nvkl: Conversion Failed\n");
    EXPECT_FALSE(FileExists(tmp / "bad.vkl"));
    EXPECT_EQ(ReadAll(tmp / "bad.gki"), bad);
}

TEST_F(VklGkiTest, TheErrorsQuestion)
{
    // A type-6 message of the bundled database's layout (S 2, I 4) for an identifier it does
    // not know, behind one of a kind other than 1.
    const Bytes data = Cat({LE(6, 8), LE(1, 2), LE(2, 2), LE(1, 2), LE(0, 2), LE(0x3000, 4), {7}});
    WriteAll(tmp / "u.vkl", LogBytes({RecordBytes(1, TypedData(6), /*kind=*/2), RecordBytes(2, data)}));
    const std::string errorLine = "No such ID : 0x00003000";
    struct Case {
        std::vector<std::string> flags;  // the answer, then export-gki's own
        std::vector<std::pair<std::string, std::string>> env;
        bool listed, opened;
    };
    const Case cases[] = {
        {{"--no"}, {}, false, false},
        {{"--yes"}, {}, true, false},
        {{"--yes", "--open-errors"}, {{"VISUAL", ""}, {"EDITOR", "cat"}}, false, true},
    };
    for (const Case& c : cases) {
        std::remove((tmp / "u.gki").c_str());
        std::vector<std::string> args = {c.flags[0], "export-gki", tmp / "u.vkl"};
        args.insert(args.end(), c.flags.begin() + 1, c.flags.end());
        const ProcessResult r = Vkl(args, c.env);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_TRUE(Has(r.err, "Conversion Completed with errors!  View Errors?")) << r.err;
        EXPECT_EQ(Has(r.out, "errors: " + tmp / "home" + "/Bin Logs/GKIConversion.err\n  " + errorLine + "\n"),
                  c.listed)
            << r.out;
        EXPECT_EQ(Has(r.out, errorLine + "\r\n"), c.opened) << r.out;  // the editor shows the file itself
        EXPECT_TRUE(Has(r.out, "1 of other kinds, 0 of other types, 1 not converted")) << r.out;
    }
}

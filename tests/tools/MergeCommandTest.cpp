// vkl merge and vkl extract, run as a user runs them.
#include <fstream>

#include "tests/logger/LoggerTestSupport.h"
#include "tests/tools/VklRun.h"

namespace {

class MergeCommandTest : public HostFixture {
protected:
    ProcessResult Vkl(std::vector<std::string> args, const Env& env = {})
    {
        args.insert(args.begin(), {VklProgram(), "--home", tmp / "home"});
        for (auto& a : args)
            if (a.size() > 4 && a.substr(a.size() - 4) == ".vkl" && a.find('/') == std::string::npos) a = Path(a);
        return RunProcess(args, tmp.path(), env);
    }
    void Inputs()
    {
        WriteLog(Path("a.vkl"), Range(1, 100), {{4 + 10 * 76, "a's own"}});
        WriteLog(Path("b.vkl"), Range(101, 150));
    }
};

TEST_F(MergeCommandTest, EachSeamsModeAndAnExtraction)
{
    Inputs();
    WriteLog(Path("o.vkl"), Range(1001, 1020));
    const Bytes a = ReadAll(Path("a.vkl"));
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> bookmarks;
    } cases[] = {
        {{"merge", "-o", "none.vkl", "a.vkl", "b.vkl"}, {}},
        {{"merge", "-o", "src.vkl", "--seams", "sources", "a.vkl", "b.vkl"},
         {"a.vkl Begin Bookmark", "a's own", "a.vkl End Bookmark", "b.vkl Begin Bookmark", "b.vkl End Bookmark"}},
        {{"merge", "-o", "o.vkl", "--append", "--seams", "all", "a.vkl", "b.vkl"},
         {"o.vkl Begin Bookmark", "o.vkl End Bookmark", "a.vkl Begin Bookmark", "a's own", "a.vkl End Bookmark",
          "b.vkl Begin Bookmark", "b.vkl End Bookmark"}},
    };
    std::string said;
    for (const auto& c : cases) {
        const ProcessResult r = Vkl(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> texts;
        for (const auto& m : Bookmarks(Path(c.args[2]))) texts.push_back(m.second);
        EXPECT_EQ(texts, c.bookmarks) << c.args[2];
        said += r.out;
    }
    // The records' order is the library's (MergeTest); o.vkl's own seam shows it was added to.
    EXPECT_TRUE(Has(said, "a.vkl: its bookmark was not carried over")) << said;
    ProcessResult r = Vkl({"extract", "a.vkl", "-o", "x.vkl", "--from", "10", "--to", "19"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "extracted 10 messages (index 10 .. 19) from " + Path("a.vkl") + " into " + Path("x.vkl") + "\n");
    r = Vkl({"extract", "a.vkl", "-o", "x.vkl", "--force", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\"messages\": 100")) << r.out;
    EXPECT_EQ(ReadAll(Path("a.vkl")), a);  // inputs are only read
}

TEST_F(MergeCommandTest, ABadInputInTheMiddle)
{
    Inputs();
    std::vector<uint64_t> bad = Range(500, 509);
    bad.insert(bad.begin() + 3, kUnreadable);
    WriteLog(Path("bad.vkl"), bad);
    WriteAll(Path("noise.vkl"), Bytes(300, 0x5A));  // not a log: the repair question is answered No
    const Bytes noise = ReadAll(Path("noise.vkl"));

    ProcessResult r = Vkl({"merge", "-o", "m1.vkl", "a.vkl", "bad.vkl", "noise.vkl", "b.vkl"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bad.vkl: Error reading log file. (3 of its records got in); going on")) << r.err;
    EXPECT_TRUE(Has(r.err, "There was problem openning " + Path("noise.vkl") + " for reading"));
    std::vector<uint64_t> expected = Range(1, 100);
    for (uint64_t i : {500, 501, 502}) expected.push_back(i);
    for (uint64_t i : Range(101, 150)) expected.push_back(i);
    EXPECT_EQ(Indexes(Path("m1.vkl")), expected);
    EXPECT_EQ(ReadAll(Path("noise.vkl")), noise);

    r = Vkl({"merge", "-o", "m2.vkl", "--stop-on-error", "a.vkl", "bad.vkl", "b.vkl"});
    EXPECT_EQ(r.status, 1);
    expected.resize(103);
    EXPECT_EQ(Indexes(Path("m2.vkl")), expected);

    r = Vkl({"merge", "-o", "m3.vkl", "--check-first", "a.vkl", "bad.vkl", "noise.vkl", "b.vkl"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bad.vkl: record at offset 232 is marked unreadable")) << r.err;
    EXPECT_TRUE(Has(r.err, "noise.vkl: needs repair")) << r.err;
    EXPECT_FALSE(FileExists(Path("m3.vkl")));
}

TEST_F(MergeCommandTest, RefusalsChangeNothing)
{
    Inputs();
    WriteLog(Path("o.vkl"), Range(1, 2));
    const Bytes o = ReadAll(Path("o.vkl"));
    // 999 bookmarks of its own, and two at its seam: more than a header may hold.
    const Marks many(999, {4, "m"});
    WriteLog(Path("many.vkl"), Range(1, 2), many);
    // Two logs whose records take 2.25 GiB each (files with holes).
    for (const char* name : {"big1.vkl", "big2.vkl"}) ASSERT_TRUE(WriteSparseLog(Path(name), 0x90000000u));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"merge", "-o", "o.vkl", "a.vkl"}, 1, "o.vkl: exists; not changed (--append adds to it)"},
        {{"merge", "-o", "o.vkl", "--append", "a.vkl", "o.vkl"}, 2, "the output is one of the inputs"},
        {{"merge", "-o", "o.vkl", "--append", "--seams", "sources", "many.vkl"}, 1, "up to 1001 bookmarks"},
        {{"merge", "-o", "o.vkl", "--append", "big1.vkl", "big2.vkl"}, 1, "the result would reach 4 GiB"},
        {{"merge", "-o", "o.vkl", "--append", "--seams", "some", "a.vkl"}, 2, "--seams"},
        {{"extract", "o.vkl", "-o", "o.vkl"}, 2, "the output is the input"},
        {{"extract", "a.vkl", "-o", "o.vkl"}, 1, "o.vkl: exists; not replaced (--force replaces it)"},
        {{"extract", "a.vkl", "-o", "x.vkl", "--to", "4294967296"}, 2, "out of range"},
        {{"extract", "a.vkl", "-o", "y.vkl", "--from", "101"}, 1, "No messages within the selected range were found"},
    };
    for (const auto& c : cases) {
        const ProcessResult r = Vkl(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << ": " << r.err;
        EXPECT_TRUE(Has(r.err, c.says)) << r.err;
        EXPECT_EQ(ReadAll(Path("o.vkl")), o);
    }
    EXPECT_FALSE(FileExists(Path("x.vkl")) || FileExists(Path("y.vkl")));
}

TEST_F(MergeCommandTest, CtrlCLeavesAValidOutputAndSaysWhereItStopped)
{
    Inputs();
    // Ctrl-C at the 40th write to a log file: within a.vkl when each record has its own write.
    const ProcessResult r =
        Vkl({"merge", "-o", "m.vkl", "--each-record", "a.vkl", "b.vkl"}, WithShim({{"VKL_SHIM_SIGINT_AT", "40"}}));
    EXPECT_EQ(r.status, 130) << r.err;
    const std::vector<uint64_t> got = Indexes(Path("m.vkl"));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got, Range(1, got.size()));
    EXPECT_LT(got.size(), 100u);
    EXPECT_TRUE(Has(
        r.out, "stopped by Ctrl-C in " + Path("a.vkl") + " after " + std::to_string(got.size()) + " of its records"))
        << r.out;
    EXPECT_EQ(Vkl({"info", "m.vkl"}).status, 0);  // closed with its header
}

TEST_F(MergeCommandTest, TwoThousandInputsFromAList)
{
    std::ofstream list(Path("list.txt"));
    for (int i = 0; i < 2000; ++i) {
        const std::string name = Path("in" + std::to_string(i) + ".vkl");
        WriteLog(name, {static_cast<uint64_t>(2 * i + 1), static_cast<uint64_t>(2 * i + 2)});
        list << name << "\n";
    }
    list.close();
    const ProcessResult r = Vkl({"merge", "-o", "all.vkl", "--inputs-from", Path("list.txt"), "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Indexes(Path("all.vkl")), Range(1, 4000));
    EXPECT_TRUE(Has(r.out, "\"records_end\": " + std::to_string(4 + 4000 * 76)));
}

}  // namespace

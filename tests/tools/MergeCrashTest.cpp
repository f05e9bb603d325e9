// Merges into an existing log killed at random write calls: both repairs (on appending and
// on reading) keep the old records and every new one that stands whole; the inputs never
// change. Records are 76 bytes; an unkilled run with the same clock is the reference.
#include <filesystem>
#include <random>

#include "platform/SettingsKeys.h"
#include "tests/logger/MergeSupport.h"
#include "tests/support/Process.h"

namespace {
constexpr size_t kRec = 76;

class MergeCrashTest : public HostFixture {
protected:
    std::string In(const std::string& name) const { return tmp / ("logs/" + name); }
    void Fresh()
    {
        std::filesystem::remove_all(In(""));
        std::filesystem::create_directories(In(""));
        WriteLog(In("t.vkl"), Range(1, 200), {{4, "old"}});
        WriteLog(In("a.vkl"), Range(201, 500));
        WriteLog(In("b.vkl"), Range(501, 800), {{80, "b's"}});
    }
    // Runs the merge; killed before its kill-th write call when kill > 0, else counting them.
    long Merge(std::vector<std::string> args, long kill)
    {
        args.insert(args.begin(), {VklProgram(), "--home", tmp / "home", "--clock", "2011-03-03 14:05:09", "-q",
                                   "merge", "-o", In("t.vkl"), "--append", In("a.vkl"), In("b.vkl")});
        const auto env = WithShim({{kill > 0 ? "VKL_SHIM_KILL_AT" : "VKL_SHIM_COUNT",
                                    kill > 0 ? std::to_string(kill) : tmp / "count"}});
        const ProcessResult r = RunProcess(args, tmp.path(), env);
        EXPECT_EQ(r.status, kill > 0 ? 128 + SIGKILL : 0) << r.err;
        const Bytes text = kill > 0 ? Bytes() : ReadAll(tmp / "count");
        return std::atol(std::string(text.begin(), text.end()).c_str());
    }
};

// How many records, from the first, `bytes` holds as the reference holds them.
size_t WholeRecords(const Bytes& reference, const Bytes& bytes, size_t records)
{
    size_t n = 0;
    for (size_t at = 4; n < records && at + kRec <= bytes.size(); at += kRec, ++n)
        if (!std::equal(bytes.begin() + at, bytes.begin() + at + kRec, reference.begin() + at)) break;
    return n;
}

TEST_F(MergeCrashTest, AKilledMergeLeavesTheOldRecordsAndAWholePrefixOfTheNewOnes)
{
    settings->WriteInt(SettingsKeys::kViewerSettings, SettingsKeys::kAutoRepair, 1);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    long kills = 0;
    std::string callCounts;  // write calls of each kind of merge
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, {"--seams", "sources"}, {"--each-record"}}) {
        Fresh();
        const Bytes a = ReadAll(In("a.vkl")), b = ReadAll(In("b.vkl"));
        const long calls = Merge(extra, 0);
        callCounts += (callCounts.empty() ? "" : ", ") + std::to_string(calls);
        const Bytes reference = ReadAll(In("t.vkl"));
        ASSERT_EQ(Indexes(In("t.vkl")), Range(1, 800));
        // Every call of a short run; otherwise the first and last few and a random sample.
        for (long kill = 1; kill <= calls; ++kill) {
            if (calls > 40 && kill > 3 && kill <= calls - 3 && random() % calls >= 60) continue;
            Fresh();
            Merge(extra, kill);
            ++kills;
            const size_t whole = WholeRecords(reference, ReadAll(In("t.vkl")), 800);
            ASSERT_GE(whole, 200u) << "killed at " << kill;
            std::filesystem::copy_file(In("t.vkl"), In("read.vkl"));
            for (const auto& [path, write] : {std::pair{In("t.vkl"), 1}, std::pair{In("read.vkl"), 0}}) {
                CLogFile f;  // the append route, then the reading route
                ASSERT_TRUE(f.Open(path.c_str(), write, 0, 0)) << "killed at " << kill;
                f.Close();
                ASSERT_TRUE(f.OpenForInspection(path.c_str()) && !f.NeedsRepair());
                EXPECT_EQ(f.GetHeaderPosition(), 4 + whole * kRec) << "killed at " << kill << ", writing " << write;
                EXPECT_EQ(WholeRecords(reference, ReadAll(path), whole), whole);
            }
            ASSERT_EQ(ReadAll(In("a.vkl")), a);
            ASSERT_EQ(ReadAll(In("b.vkl")), b);
        }
    }
    std::printf(
        "merge crash test: %ld kills among %s write calls; both repairs kept the old records and every whole new one\n",
        kills, callCounts.c_str());
}

}  // namespace

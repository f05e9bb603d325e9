// Merges into an existing log are killed with SIGKILL (through the preloaded shim) at
// random write calls. Whatever the moment, the target holds its old records and a prefix
// of the new ones: the repair that an open for appending runs keeps the old records and
// every new record that stands whole, and the repair of an open for reading keeps the
// same. The inputs never change. The runs use a fixed clock, so an unkilled run writes
// the very bytes a killed run was writing: it is the reference.
#include <algorithm>
#include <filesystem>
#include <random>

#include "platform/SettingsKeys.h"
#include "tests/logger/MergeSupport.h"
#include "tests/support/Process.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Extent {
    uint32_t offset, size;
};

// Where the records of a sound log lie.
std::vector<Extent> ExtentsOf(const std::string& path)
{
    std::vector<Extent> out;
    CLogFile f;
    if (!f.OpenForInspection(path.c_str()) || f.NeedsRepair()) return out;
    for (CVESKMessage m; f.GetPosition() < f.GetHeaderPosition();) {
        const auto start = static_cast<uint32_t>(f.GetPosition());
        ReadLogRecord(f, m);
        out.push_back({start, static_cast<uint32_t>(f.GetPosition()) - start});
    }
    return out;
}

// How many of the reference's records, from the first, `bytes` holds whole at their offsets.
size_t WholePrefix(const std::vector<Extent>& extents, const Bytes& reference, const Bytes& bytes)
{
    size_t n = 0;
    while (n < extents.size() && extents[n].offset + extents[n].size <= bytes.size() &&
           std::equal(bytes.begin() + extents[n].offset, bytes.begin() + extents[n].offset + extents[n].size,
                      reference.begin() + extents[n].offset))
        ++n;
    return n;
}

class MergeCrashTest : public HostFixture {
protected:
    std::string In(const std::string& name) const { return tmp / ("logs/" + name); }
    void Fresh()
    {
        fs::remove_all(In(""));
        fs::create_directories(In(""));
        WriteLog(In("t.vkl"), Range(1, 200), {{4, "old"}});
        WriteLog(In("a.vkl"), Range(201, 500));
        WriteLog(In("b.vkl"), Range(501, 800), {{80, "b's"}});
    }
    // Runs the merge; killed before its kill-th write call when kill > 0, else counting them.
    long Merge(std::vector<std::string> args, long kill)
    {
        args.insert(args.begin(), {VklProgram(), "--home", tmp / "home", "--clock", "2011-03-03 14:05:09", "-q",
                                   "merge", "-o", In("t.vkl"), "--append", In("a.vkl"), In("b.vkl")});
        const std::string count = tmp / "count";
        std::vector<std::pair<std::string, std::string>> env = {{"LD_PRELOAD", std::getenv("VKL_SYSCALL_SHIM")}};
        env.emplace_back(kill > 0 ? "VKL_SHIM_KILL_AT" : "VKL_SHIM_COUNT", kill > 0 ? std::to_string(kill) : count);
        const ProcessResult r = RunProcess(args, tmp.path(), env);
        EXPECT_EQ(r.status, kill > 0 ? 128 + SIGKILL : 0) << r.err;
        const Bytes text = kill > 0 ? Bytes() : ReadAll(count);
        return std::atol(std::string(text.begin(), text.end()).c_str());
    }
};

TEST_F(MergeCrashTest, AKilledMergeLeavesTheOldRecordsAndAWholePrefixOfTheNewOnes)
{
    ASSERT_NE(std::getenv("VKL_SYSCALL_SHIM"), nullptr);
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
        const std::vector<Extent> extents = ExtentsOf(In("t.vkl"));
        ASSERT_EQ(extents.size(), 800u);
        // Every call of a short run; otherwise the first and last few and a random sample.
        std::vector<long> points;
        for (long n = 1; n <= calls; ++n)
            if (calls <= 40 || n <= 3 || n > calls - 3 || random() % calls < 60) points.push_back(n);
        for (const long kill : points) {
            Fresh();
            Merge(extra, kill);
            ++kills;
            const Bytes killed = ReadAll(In("t.vkl"));
            const size_t whole = WholePrefix(extents, reference, killed);
            ASSERT_GE(whole, 200u) << "killed at " << kill;
            fs::copy_file(In("t.vkl"), In("read.vkl"));
            for (const auto& [path, write] : {std::pair{In("t.vkl"), 1}, std::pair{In("read.vkl"), 0}}) {
                CLogFile f;  // the append route, then the reading route
                ASSERT_TRUE(f.Open(path.c_str(), write, 0, 0)) << "killed at " << kill;
                f.Close();
                const std::vector<Extent> kept = ExtentsOf(path);
                ASSERT_EQ(kept.size(), whole) << "killed at " << kill << (write ? ", appending" : ", reading");
                EXPECT_TRUE(std::equal(reference.begin() + 4,
                                       reference.begin() + extents[whole - 1].offset + extents[whole - 1].size,
                                       ReadAll(path).begin() + 4));
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

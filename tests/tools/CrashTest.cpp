// vkl killed at a write call (through the preloaded shim) while it records, appends, merges,
// describes or repairs; the repair of every file keeps each whole record and invents none,
// and a file added to keeps its old records.
// With a fixed clock an unkilled run writes the very bytes a killed one was writing: it is
// the reference. A sample of kill points runs; VKL_CRASH_SWEEP=full takes every one.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "logfile/LogFile.h"
#include "platform/VESKMessage.h"
#include "tests/tools/VklRun.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Record {
    uint32_t offset = 0;
    Bytes bytes;
};

// The records of a sound file, as their bytes at their offsets.
std::vector<Record> RecordsOf(const std::string& path)
{
    std::vector<Record> out;
    CLogFile f;
    if (!f.OpenForInspection(path.c_str()) || f.NeedsRepair()) return out;
    const Bytes all = ReadAll(path);
    CVESKMessage m;
    while (f.GetPosition() < f.GetHeaderPosition()) {
        const auto start = static_cast<uint32_t>(f.GetPosition());
        ReadLogRecord(f, m);
        const auto end = static_cast<uint32_t>(f.GetPosition());
        out.push_back({start, Bytes(all.begin() + start, all.begin() + end)});
    }
    return out;
}

struct Scenario {
    const char* name;
    std::vector<std::vector<std::string>> setup;  // vkl commands run before, not killed
    std::vector<std::string> run;                 // the command killed
    bool repairsInput = false;                    // the command is itself a repair of a damaged file
};

class CrashTest : public VklRunTest {
protected:
    CrashTest() { global = {"--clock", "2011-03-03 14:05:09", "-q", "--yes"}; }
    std::string Dir() const { return tmp / "logs"; }

    // Runs the setup and the command in a fresh directory; with kill > 0 the command is
    // killed before its kill-th write call. Returns the command's write-call count.
    long Play(const Scenario& s, long kill)
    {
        fs::remove_all(Dir());
        fs::create_directories(Dir());
        for (const auto& command : s.setup) EXPECT_EQ(Vkl(InDir(command)).status, 0) << s.name;
        if (s.repairsInput) {  // a recording cut off part-way through a record
            Bytes bytes = ReadAll(Dir() + "/r.vkl");
            bytes.resize(bytes.size() / 2 + 3);
            bytes[0] = bytes[1] = bytes[2] = bytes[3] = 0;
            WriteAll(Dir() + "/r.vkl", bytes);
        }
        oldRecords = RecordsOf(Dir() + "/r.vkl").size();  // of a sound file the command adds to
        const ProcessResult r = Vkl(InDir(s.run), WithShim({{"VKL_SHIM_FREE_MB", "100000"},
                                                            {kill > 0 ? "VKL_SHIM_KILL_AT" : "VKL_SHIM_COUNT",
                                                             kill > 0 ? std::to_string(kill) : tmp / "count"}}));
        EXPECT_EQ(r.status, kill > 0 ? 128 + SIGKILL : 0) << s.name << " at " << kill << ": " << r.err;
        return kill > 0 ? 0 : std::atol(Read("count").c_str());
    }
    std::vector<std::string> InDir(std::vector<std::string> args) const
    {
        for (auto& a : args)
            if (a.rfind("DIR", 0) == 0) a = Dir() + a.substr(3);
        return args;
    }
    std::map<std::string, Bytes> Files() const
    {
        std::map<std::string, Bytes> out;
        for (const auto& e : fs::directory_iterator(Dir())) out[e.path().filename().string()] = ReadAll(e.path());
        return out;
    }

    size_t oldRecords = 0;
};

// The kill points. A sample for CI: a dozen spread over the run, the last few, and a few
// around each file boundary. The full sweep: every write call, except that a long run
// (a roll-over of a 1 MB file) takes every call near a file boundary and every 17th
// elsewhere.
std::vector<long> KillPoints(long calls, const std::vector<long>& boundaries)
{
    const bool full = std::getenv("VKL_CRASH_SWEEP") && std::string(std::getenv("VKL_CRASH_SWEEP")) == "full";
#ifdef VKL_SANITIZED
    const long sample = 4;  // every process is several times slower under a sanitizer
#else
    const long sample = 12;
#endif
    const long stride = full ? (calls > 2000 ? 17 : 1) : std::max(1l, calls / sample);
    const long near = full ? 40 : sample / 6;
    std::vector<long> points;
    for (long n = 1; n <= calls; n += stride) points.push_back(n);
    for (long n = std::max(1l, calls - 3); n <= calls; ++n) points.push_back(n);
    for (const long b : boundaries)
        for (long n = std::max(1l, b - near); n <= std::min(calls, b + near); ++n) points.push_back(n);
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

const Scenario kScenarios[] = {
    {"record", {}, {"record", "-o", "r", "--dir", "DIR", "--messages", "300"}},
    {"roll-over", {}, {"record", "-o", "r", "--dir", "DIR", "--messages", "15000", "--max-size", "1"}},
    {"assert cut",
     {},
     {"record", "-o", "r", "--dir", "DIR", "--messages", "300", "--assert-every", "70", "--cut-asserts",
      "--bookmark-asserts"}},
    {"append",
     {{"record", "-o", "r", "--dir", "DIR", "--messages", "200", "--description", "before"}},
     {"record", "-o", "r", "--dir", "DIR", "--messages", "200", "--append", "--seed", "7"}},
    // Each record its own write call: kills land between any two records.
    {"merge",
     {{"record", "-o", "r", "--dir", "DIR", "--messages", "200"},
      {"record", "-o", "a", "--dir", "DIR", "--messages", "150", "--seed", "3"},
      {"record", "-o", "b", "--dir", "DIR", "--messages", "150", "--seed", "4"}},
     {"merge", "-o", "DIR/r.vkl", "--append", "--seams", "sources", "--each-record", "DIR/a.vkl", "DIR/b.vkl"}},
    {"describe",
     {{"record", "-o", "r", "--dir", "DIR", "--messages", "200", "--bookmark-asserts", "--assert-every", "50"}},
     {"describe", "DIR/r.vkl", "a longer description than before"}},
    {"repair", {{"record", "-o", "r", "--dir", "DIR", "--messages", "300"}}, {"repair", "DIR/r.vkl"}, true},
};

}  // namespace

TEST_F(CrashTest, AKillAtAnyWriteLosesNoWholeRecordAndRepairEndsSound)
{
    long kills = 0;
    for (const Scenario& s : kScenarios) {
        const long calls = Play(s, 0);
        ASSERT_GT(calls, 0) << s.name;
        std::map<std::string, std::vector<Record>> reference;
        std::vector<long> boundaries;  // about where each file's writes end (names sort in creation order)
        for (const auto& [name, bytes] : Files()) {
            reference[name] = RecordsOf(Dir() + "/" + name);
            boundaries.push_back((boundaries.empty() ? 0 : boundaries.back()) +
                                 static_cast<long>(reference[name].size()) + 3);
        }
        for (const long kill : KillPoints(calls, boundaries)) {
            Play(s, kill);
            ++kills;
            for (const auto& [name, bytes] : Files()) {
                SCOPED_TRACE(std::string(s.name) + " at " + std::to_string(kill) + ", " + name);
                ASSERT_TRUE(reference.count(name)) << "a file the reference lacks";
                const std::vector<Record>& ref = reference[name];
                // A file killed before its header position word was written holds nothing.
                if (bytes.size() < LogFormat::kHeaderPosSize) continue;
                // The records that reached the disk: the reference's, from the first, whole at their offsets.
                const auto torn = std::find_if(ref.begin(), ref.end(), [&file = bytes](const Record& r) {
                    return r.offset + r.bytes.size() > file.size() ||
                           !std::equal(r.bytes.begin(), r.bytes.end(), file.begin() + r.offset);
                });
                const auto whole = static_cast<size_t>(torn - ref.begin());
                // A file added to keeps its old records whole.
                ASSERT_GE(whole, name == "r.vkl" ? oldRecords : 0);
                const ProcessResult repair = Vkl({"repair", Dir() + "/" + name});
                ASSERT_EQ(repair.status, 0) << repair.err;
                ASSERT_EQ(Vkl({"info", Dir() + "/" + name}).status, 0);
                const std::vector<Record> got = RecordsOf(Dir() + "/" + name);
                // Nothing lost: every whole record is kept. Nothing invented: what is kept is
                // the reference's records, from the first.
                ASSERT_EQ(got.size(), s.repairsInput ? ref.size() : whole);
                for (size_t i = 0; i < got.size(); ++i)
                    ASSERT_TRUE(got[i].offset == ref[i].offset && got[i].bytes == ref[i].bytes) << "record " << i;
            }
        }
    }
    std::printf("crash sweep: %ld kills, every one repaired to a sound file with every whole record\n", kills);
}

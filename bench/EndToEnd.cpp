// The message path end to end, whole vkl processes timed from outside:
//
//   vkl record --messages N               (the simulated device through the bus into a log)
//   vkl replay LOG --speed 0 --into COPY  (a log through the bus into a second log)
//
// each beside the floor measured in the same run: the same record bytes written into a
// fresh file with one write() per record, as the logger does. The log the first
// recording makes gives the records: it is the log that is replayed, and a recording of
// the same seed makes records of the same sizes, so both commands write as many records
// of the same sizes as the floor. Each command runs in turn with the floor,
// several times; the ratio (floor time / command time) is taken pair by pair and its
// median printed, so a machine whose speed drifts still gives a fair figure.
//
// The floor runs in this process's one thread. The logger writes from a worker thread of
// a process with several, where every write costs a little more (the kernel counts a
// reference to the file for each call once the descriptor table is shared), so each
// command is also set beside a second floor: the same records from a second thread,
// made as the message client makes its worker, while the first waits. Every timed run
// starts after the writes of the runs before have reached the disk.
//
//   bench_EndToEnd [--records=N] [--pairs=P] [benchmark flags]   (N = 2,000,000, P = 5)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "framework/Sync.h"
#include "logfile/LogFile.h"
#include "platform/VESKMessage.h"

extern char** environ;

namespace {
uint64_t g_records = 2000000;
int g_pairs = 5;

struct Figures {
    std::vector<double> floor, command, ratio;
    std::vector<double> threadFloor, threadRatio;  // the floor from a second thread
};
Figures g_record, g_replay;

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs vkl with `args` (its output thrown away) and returns the wall seconds; negative
// when it could not run or failed.
double RunVkl(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {VKL_PATH, "--home", BenchScratchDir() + "/home", "-q"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, VKL_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    const double secs = Seconds(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? secs : -1;
}

std::string Dir(const char* name)
{
    const std::string d = BenchScratchDir() + "/" + name;
    std::filesystem::create_directories(d);
    return d;
}

// The source log, recorded once, and its records as they lie in the file.
struct Source {
    std::string path;
    std::vector<BYTE> bytes;      // offset 4 up to the header position
    std::vector<uint32_t> sizes;  // of every record, in order
};

const Source& TheSource()
{
    static const Source source = [] {
        Source s;
        const std::string dir = Dir("source");
        s.path = dir + "/source.vkl";
        if (RunVkl({"record", "--dir", dir, "-o", "source", "--messages", std::to_string(g_records)}) < 0) return s;
        CLogFile f;
        if (!f.OpenForInspection(s.path.c_str())) return s;
        CVESKMessage m;
        ULONGLONG at = f.GetPosition();
        while (f.GetPosition() < f.GetHeaderPosition()) {
            ReadLogRecord(f, m);
            s.sizes.push_back(static_cast<uint32_t>(f.GetPosition() - at));
            at = f.GetPosition();
        }
        s.bytes.resize(f.GetHeaderPosition() - CLogFile::kFirstRecord);
        f.Seek(static_cast<LONG>(CLogFile::kFirstRecord), CFile::begin);
        f.Read(s.bytes.data(), static_cast<UINT>(s.bytes.size()));
        f.Close();
        return s;
    }();
    return source;
}

// The floor: the source's records written into a fresh file, one write() per record
// (with `positioned`, one pwrite() at each record's offset).
double Floor(const Source& s, bool positioned = false)
{
    const std::string path = Dir("floor") + "/floor.bin";
    std::filesystem::remove(path);
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd < 0) return -1;
    const BYTE* p = s.bytes.data();
    for (uint32_t size : s.sizes) {
        const ssize_t n = positioned ? ::pwrite(fd, p, size, static_cast<off_t>(p - s.bytes.data()))
                                     : ::write(fd, p, size);
        if (n != static_cast<ssize_t>(size)) {
            ::close(fd);
            return -1;
        }
        p += size;
    }
    ::close(fd);
    const double secs = Seconds(start);
    std::filesystem::remove(path);
    return secs;
}

// The same records from a second thread, set up as a message client's worker, with
// pwrite() as the logger writes (write() from a thread of such a process also takes the
// file position's lock). It runs in a child process: once a process has made a thread,
// the C library takes it as one with several for good, and this process's own floor
// must stay a one-thread floor.
double ThreadFloor(const Source& s)
{
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        ::close(fds[0]);
        double secs = -1;
        std::thread writer([&] {
            MarkThreadUncancellable();
            secs = Floor(s, /*positioned=*/true);
        });
        writer.join();
        const bool sent = ::write(fds[1], &secs, sizeof secs) == static_cast<ssize_t>(sizeof secs);
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    double secs = -1;
    if (::read(fds[0], &secs, sizeof secs) != static_cast<ssize_t>(sizeof secs)) secs = -1;
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return secs;
}

// Each timed run starts with the writes of the runs before on the disk, so that none
// of them pays for another's write-back.
void Settle()
{
    ::sync();
}

// Runs the floor and `command` in turn, `g_pairs` times, into `out`.
template <typename Command>
void Pairs(benchmark::State& state, Figures& out, Command command)
{
    const Source& s = TheSource();
    if (s.sizes.size() != g_records) {
        state.SkipWithError("the source log could not be recorded");
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < g_pairs; ++i) {
            Settle();
            const double floor = Floor(s);
            Settle();
            const double threadFloor = ThreadFloor(s);
            Settle();
            const double took = command();
            if (floor < 0 || threadFloor < 0 || took < 0) {
                state.SkipWithError("a run failed");
                return;
            }
            out.floor.push_back(floor);
            out.command.push_back(took);
            out.ratio.push_back(floor / took);
            out.threadFloor.push_back(threadFloor);
            out.threadRatio.push_back(threadFloor / took);
        }
    }
    state.counters["ratio"] = Median(out.ratio);
    state.counters["floor_s"] = Median(out.floor);
    state.counters["thread_floor_s"] = Median(out.threadFloor);
    state.counters["thread_ratio"] = Median(out.threadRatio);
    state.counters["vkl_s"] = Median(out.command);
}

void BM_RecordBesideFloor(benchmark::State& state)
{
    Pairs(state, g_record, [] {
        const std::string dir = Dir("record");
        std::filesystem::remove(dir + "/run.vkl");
        return RunVkl({"record", "--dir", dir, "-o", "run", "--messages", std::to_string(g_records)});
    });
}

void BM_ReplayIntoBesideFloor(benchmark::State& state)
{
    Pairs(state, g_replay, [] {
        const std::string dir = Dir("replay");
        std::filesystem::remove(dir + "/copy.vkl");
        return RunVkl({"replay", TheSource().path, "--speed", "0", "--into", dir + "/copy"});
    });
}

BENCHMARK(BM_RecordBesideFloor)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplayIntoBesideFloor)->Iterations(1)->Unit(benchmark::kMillisecond);

void Print(const char* what, const Figures& f)
{
    if (f.ratio.empty()) return;
    std::printf(
        "%s: %.3f s; floor (one write() per record, same sizes, fresh file): %.3f s; ratio %.2f "
        "(median of %zu pairs, from %.2f to %.2f; aim: at least 0.8)\n",
        what, Median(f.command), Median(f.floor), Median(f.ratio), f.ratio.size(),
        *std::min_element(f.ratio.begin(), f.ratio.end()), *std::max_element(f.ratio.begin(), f.ratio.end()));
    std::printf("  beside the same records written by a second thread (pwrite()): %.3f s; ratio %.2f (median)\n",
                Median(f.threadFloor), Median(f.threadRatio));
}

// Takes --records=N and --pairs=P out of the arguments.
void TakeOwnFlags(int& argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--records=", 10) == 0)
            g_records = std::strtoull(argv[i] + 10, nullptr, 10);
        else if (std::strncmp(argv[i], "--pairs=", 8) == 0)
            g_pairs = std::max(1, std::atoi(argv[i] + 8));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
}
}  // namespace

int main(int argc, char** argv)
{
    TakeOwnFlags(argc, argv);
    return RunBenchmarks(argc, argv, [] {
        const std::string n = std::to_string(g_records);
        Print(("vkl record --messages " + n).c_str(), g_record);
        Print(("vkl replay LOG --speed 0 --into COPY (" + n + " records)").c_str(), g_replay);
    });
}

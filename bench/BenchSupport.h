#pragma once
// Shared set-up of the benchmarks: a scratch directory, and host services that touch
// nothing outside it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <vector>
#include <memory>
#include <string>
#include <unistd.h>

#include "framework/Archive.h"
#include "logfile/LogFile.h"
#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "platform/VESKMessage.h"
#include "tests/support/ScratchDir.h"

// The benchmarks' scratch directory, removed at exit; `inMemory` gives a second one in
// /dev/shm where the system offers it.
inline const std::string& BenchScratchDir(bool inMemory = false)
{
    static const ScratchDir disk("vklbench");
    static const ScratchDir memory("vklbench", /*inMemory=*/true);
    return inMemory ? memory.path() : disk.path();
}

// Host services that touch nothing outside the scratch directory; installed once.
inline void InstallBenchServices()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    HostServices s;
    s.homeDirectory = BenchScratchDir().c_str();
    s.settings = std::make_shared<CMemorySettingsStore>();
    s.freeSpace = std::make_shared<CFixedFreeSpace>(FreeSpaceResult{FreeSpaceResult::ok, 100ull << 30});
    s.deviceLink = std::make_shared<CDeviceTable>();
    Services::Install(s);
}

// A benchmark program's main: the host services, the benchmarks, then `report` prints the
// figures as ratios beside the floors measured in the same run.
template <typename Report>
int RunBenchmarks(int& argc, char** argv, Report report)
{
    InstallBenchServices();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    report();
    return 0;
}

// A scratch directory in memory (/dev/shm where there is one), so that figures are the
// code's own and not the disk's.
inline const std::string& BenchMemoryDir()
{
    return BenchScratchDir(/*inMemory=*/true);
}

// Best rates of the runs: by the wall clock, and by the processor time the process used
// (the same on an idle machine; on a busy one the second is the fairer figure).
struct BenchRate {
    double wall = 0, cpu = 0;
};

inline double BenchCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Times each run of `body` (false: the run failed) over `items` items, keeping the best.
template <typename Body>
void BenchTimed(benchmark::State& state, BenchRate& best, uint64_t items, Body body)
{
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = BenchCpuSeconds();
        if (!body()) {
            state.SkipWithError("the run failed");
            return;
        }
        const double cpu = BenchCpuSeconds() - cpuStart;
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best.wall = std::max(best.wall, static_cast<double>(items) / secs);  // the best run: least disturbed
        best.cpu = std::max(best.cpu, static_cast<double>(items) / cpu);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * items));
}

// A log of `records` type-6 messages of 60 data bytes: the 8-byte message header, the
// native signal header of the bundled layout (fields at 0 and 2, body length at 4,
// identifier at 8) for PDCP_STATS_IND, then 40 body bytes.
inline void WriteBenchSignalLog(const std::string& path, uint64_t records)
{
    constexpr int kDataLength = 60;
    constexpr uint32_t kPdcpStatsInd = 4104;
    CLogFile log;
    if (!log.Open(path.c_str(), 1, 1, 0)) std::abort();
    {
        CArchive ar(&log, CArchive::store);
        std::vector<BYTE> d(kDataLength, 0);
        for (uint64_t i = 1; i <= records; ++i) {
            d[0] = 6;
            BYTE* h = d.data() + 8;
            h[4] = 40;
            for (int k = 0; k < 4; ++k) h[8 + k] = static_cast<BYTE>(kPdcpStatsInd >> (8 * k));
            for (int k = 12; k < 52; ++k) h[k] = static_cast<BYTE>(i * 7 + static_cast<uint64_t>(k));
            CVESKMessage m(1, 0, d.data(), kDataLength, 0);
            m.SetPCTimeStamp(CSystemTime(2011, 3, 3, 14, 5, 9, static_cast<int>(i % 1000)));
            m.SetMessageIndex(i);
            m.Serialize(ar);
        }
        ar.Close();
    }
    log.Close();
}

// Reads every record of a log, as every reader does (a fresh archive per record), doing
// nothing with them: the floor of the conversions. Returns the number read.
inline uint64_t BenchReadAllRecords(const std::string& path)
{
    CLogFile log;
    if (!log.Open(path.c_str(), 0, 0, 0)) return 0;
    uint64_t n = 0;
    CVESKMessage m;
    while (log.GetPosition() < log.GetHeaderPosition()) {
        ReadLogRecord(log, m);
        benchmark::DoNotOptimize(m.GetMessageIndex());
        ++n;
    }
    log.Close();
    return n;
}

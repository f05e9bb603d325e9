#pragma once
// Shared set-up of the benchmarks: a scratch directory, and host services that touch
// nothing outside it.
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>

#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/Services.h"
#include "platform/Settings.h"
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

// A scratch directory in memory (/dev/shm where there is one), so that the figures are
// the code's own and not the disk's.
inline const std::string& BenchMemoryDir()
{
    return BenchScratchDir(/*inMemory=*/true);
}

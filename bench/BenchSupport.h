#pragma once
// Shared set-up of the benchmarks: a scratch directory, and host services that touch
// nothing outside it.
#include <benchmark/benchmark.h>
#include <cstdlib>
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

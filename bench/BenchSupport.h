#pragma once
// Shared set-up of the benchmarks: a scratch directory, and host services that touch
// nothing outside it.
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>

#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/Services.h"
#include "platform/Settings.h"

inline const std::string& BenchScratchDir()
{
    static const std::string dir = [] {
        char templ[] = "/tmp/vklbench.XXXXXX";
        const char* made = mkdtemp(templ);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

inline void InstallBenchServices()
{
    HostServices s;
    s.homeDirectory = BenchScratchDir().c_str();
    s.settings = std::make_shared<CMemorySettingsStore>();
    s.freeSpace = std::make_shared<CFixedFreeSpace>(FreeSpaceResult{FreeSpaceResult::ok, 100ull << 30});
    s.deviceLink = std::make_shared<CDeviceTable>();
    Services::Install(s);
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
    static const std::string dir = [] {
        char shm[] = "/dev/shm/vklbench.XXXXXX";
        if (const char* d = mkdtemp(shm)) return std::string(d);
        return BenchScratchDir();
    }();
    return dir;
}

#pragma once
// Shared set-up of the benchmarks: a scratch directory, and host services that touch
// nothing outside it.
#include <cstdlib>
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

#pragma once
// Shared set-up of the fuzz targets: host services that touch nothing outside a scratch
// directory, message boxes answered No, and a scratch file per process.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "framework/MessageBox.h"
#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/MessageBus.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "tests/support/ScratchDir.h"

// In memory where the system offers it: rewriting a file on a disk for every input costs
// more than the input's run.
inline const std::string& FuzzScratchDir()
{
    static const ScratchDir dir("vklfuzz", /*inMemory=*/true);
    return dir.path();
}

inline void FuzzInstallServices()
{
    HostServices s;
    s.homeDirectory = FuzzScratchDir().c_str();
    s.settings = std::make_shared<CMemorySettingsStore>();
    s.clock = std::make_shared<CFixedClock>(CSystemTime(2011, 3, 3, 14, 5, 9, 0));
    s.freeSpace = std::make_shared<CFixedFreeSpace>(FreeSpaceResult{FreeSpaceResult::ok, 100ull << 30});
    s.deviceLink = std::make_shared<CDeviceTable>();
    s.bus = std::make_shared<CMessageBus>();
    Services::Install(s);
    SetMessageBoxHandler([](const MessageBoxRequest& r) { return (r.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK; });
}

inline std::string FuzzWriteFile(const uint8_t* data, size_t size)
{
    const std::string path = FuzzScratchDir() + "/input.vkl";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

inline std::vector<uint8_t> FuzzReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#include "platform/DefaultServices.h"

#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>

#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/MessageBus.h"
#include "platform/Recoder.h"
#include "platform/Settings.h"
#include "platform/SignalDb.h"
#include "platform/TomlSettings.h"
#include "platform/Trace.h"

#ifndef VKL_SOURCE_DATA_DIR
#define VKL_SOURCE_DATA_DIR "data"
#endif
#ifndef VKL_INSTALL_DATA_DIR
#define VKL_INSTALL_DATA_DIR "../share/vkl"
#endif

namespace {

void MakeDir(const std::string& path)
{
    ::mkdir(path.c_str(), 0777);
}

bool IsFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folder of the shared object this code is in.
std::string ModuleFolder()
{
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<const void*>(&ModuleFolder), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

namespace Services {

CString DefaultHomeDirectory()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.local";
        MakeDir(base);
        base += "/share";
    }
    MakeDir(base);
    const std::string dir = base + "/vkl";
    MakeDir(dir);
    MakeDir(dir + "/Bin Logs");
    return CString(dir);
}

CString DefaultDataDirectory()
{
    // An installed library finds its data beside it (lib/ → share/vkl); a library in the
    // build tree uses the source tree's.
    const std::string folder = ModuleFolder();
    if (!folder.empty()) {
        const std::string installed = folder + "/" + VKL_INSTALL_DATA_DIR;
        if (IsFile(installed + "/signals.json")) return CString(installed);
    }
    return CString(VKL_SOURCE_DATA_DIR);
}

void FillDefaults(HostServices& s)
{
    if (s.homeDirectory.IsEmpty()) s.homeDirectory = DefaultHomeDirectory();
    if (s.dataDirectory.IsEmpty()) s.dataDirectory = DefaultDataDirectory();
    if (!s.settings) s.settings = std::make_shared<CTomlSettingsStore>(CTomlSettingsStore::DefaultPath(s.homeDirectory));
    if (!s.clock) s.clock = std::make_shared<CSystemClock>();
    if (!s.freeSpace) s.freeSpace = std::make_shared<CStatvfsFreeSpace>();
    if (!s.deviceLink) s.deviceLink = std::make_shared<CDeviceTable>();
    if (!s.bus) s.bus = std::make_shared<CMessageBus>();
    if (!s.signalDb) s.signalDb = CSvmDb::LoadOrEmpty(s.dataDirectory + "/signals.json");
    if (!s.recoder) s.recoder = std::make_shared<CConverter>(s.signalDb);
}

}  // namespace Services

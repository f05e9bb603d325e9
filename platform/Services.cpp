#include "platform/Services.h"

#include <cstdlib>
#include <mutex>
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

namespace {

std::mutex g_mutex;
HostServices g_services;
bool g_traceSet = false;

void MakeDir(const std::string& path)
{
    ::mkdir(path.c_str(), 0777);
}

// Fills every empty member with its default. Called with g_mutex held.
void FillDefaults(HostServices& s)
{
    if (s.homeDirectory.IsEmpty()) s.homeDirectory = Services::DefaultHomeDirectory();
    if (!s.settings) s.settings = std::make_shared<CTomlSettingsStore>(CTomlSettingsStore::DefaultPath(s.homeDirectory));
    if (!s.clock) s.clock = std::make_shared<CSystemClock>();
    if (!s.freeSpace) s.freeSpace = std::make_shared<CStatvfsFreeSpace>();
    if (!s.deviceLink) s.deviceLink = std::make_shared<CDeviceTable>();
    if (!s.bus) s.bus = std::make_shared<CMessageBus>();
    if (!s.signalDb) s.signalDb = CSvmDb::LoadDefault();
    if (!s.recoder) s.recoder = std::make_shared<CConverter>(s.signalDb);
}

template <typename T>
T Get(T HostServices::*member)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    FillDefaults(g_services);
    return g_services.*member;
}

}  // namespace

namespace Services {

std::shared_ptr<ISettingsStore> Settings() { return Get(&HostServices::settings); }
CString HomeDirectory() { return Get(&HostServices::homeDirectory); }
std::shared_ptr<IClock> Clock() { return Get(&HostServices::clock); }
std::shared_ptr<IFreeSpace> FreeSpace() { return Get(&HostServices::freeSpace); }
std::shared_ptr<ITraceSink> Trace()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_services.trace;
}
std::shared_ptr<CDeviceLink> DeviceLink() { return Get(&HostServices::deviceLink); }
std::shared_ptr<CMessageBus> Bus() { return Get(&HostServices::bus); }
std::shared_ptr<CConverter> Recoder() { return Get(&HostServices::recoder); }
std::shared_ptr<CSvmDb> SignalDb() { return Get(&HostServices::signalDb); }

HostServices Current()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    FillDefaults(g_services);
    return g_services;
}

void Install(const HostServices& services)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_services = services;
    (void)g_traceSet;
}

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

}  // namespace Services

CScopedServices::CScopedServices(const HostServices& services)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    m_previous = g_services;
    g_services = services;
}

CScopedServices::~CScopedServices()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_services = m_previous;
}

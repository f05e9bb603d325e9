#include "platform/Services.h"

#include <atomic>
#include <mutex>

#include "platform/DefaultServices.h"

namespace {

std::mutex g_mutex;
HostServices g_services;
// Counts the installs, so that a user may keep what it looked up until the next one.
std::atomic<uint64_t> g_generation{0};

template <typename T>
T Get(T HostServices::*member)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Services::FillDefaults(g_services);
    return g_services.*member;
}

// A service that has no default: null when none is installed.
template <typename T>
T Installed(T HostServices::*member)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_services.*member;
}

}  // namespace

namespace Services {

std::shared_ptr<ISettingsStore> Settings() { return Get(&HostServices::settings); }
CString HomeDirectory() { return Get(&HostServices::homeDirectory); }
CString DataDirectory() { return Get(&HostServices::dataDirectory); }
std::shared_ptr<IClock> Clock() { return Get(&HostServices::clock); }
std::shared_ptr<IFreeSpace> FreeSpace() { return Get(&HostServices::freeSpace); }
std::shared_ptr<ITraceSink> Trace() { return Installed(&HostServices::trace); }
std::shared_ptr<ILogFileObserver> FileObserver() { return Installed(&HostServices::fileObserver); }
std::shared_ptr<IProgressService> Progress() { return Installed(&HostServices::progress); }
std::shared_ptr<IUserInterface> UserInterface() { return Installed(&HostServices::userInterface); }
std::shared_ptr<CDeviceLink> DeviceLink() { return Get(&HostServices::deviceLink); }
std::shared_ptr<CMessageBus> Bus() { return Get(&HostServices::bus); }
std::shared_ptr<CConverter> Recoder() { return Get(&HostServices::recoder); }
std::shared_ptr<CSvmDb> SignalDb() { return Get(&HostServices::signalDb); }

HostServices Current()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Services::FillDefaults(g_services);
    return g_services;
}

void Install(const HostServices& services)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_services = services;
    ++g_generation;
}

uint64_t Generation()
{
    return g_generation.load(std::memory_order_acquire);
}

}  // namespace Services

CScopedServices::CScopedServices(const HostServices& services)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    m_previous = g_services;
    g_services = services;
    ++g_generation;
}

CScopedServices::~CScopedServices()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_services = m_previous;
    ++g_generation;
}

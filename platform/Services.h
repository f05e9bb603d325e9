#pragma once
// The registry of host services: the one place where the library reaches the settings
// store, home directory, bundled data, clock, free-space query, trace sink, device link, message bus,
// Recoder, signal database, the progress of long operations and the user interface's wait
// cursor. Every service has a default that works on a fresh machine (for the last two:
// none, nothing shown); a host installs its own at start-up, a test through CScopedServices.
// Library code reaches host services only through here.
#include <cstdint>
#include <memory>

#include "framework/String.h"
#include "platform/SystemTime.h"

class ISettingsStore;
class IClock;
class IFreeSpace;
class ITraceSink;
class ILogFileObserver;
class IProgressService;
class IUserInterface;
class CDeviceLink;
class CMessageBus;
class CConverter;
class CSvmDb;

struct HostServices {
    std::shared_ptr<ISettingsStore> settings;
    CString homeDirectory;  // no trailing separator
    CString dataDirectory;  // the bundled data (signal database, column list)
    std::shared_ptr<IClock> clock;
    std::shared_ptr<IFreeSpace> freeSpace;
    std::shared_ptr<ITraceSink> trace;  // null: trace output off
    std::shared_ptr<ILogFileObserver> fileObserver;  // null: nobody listens
    std::shared_ptr<IProgressService> progress;      // null: no report, no stop
    std::shared_ptr<IUserInterface> userInterface;   // null: no wait cursor
    std::shared_ptr<CDeviceLink> deviceLink;
    std::shared_ptr<CMessageBus> bus;
    std::shared_ptr<CConverter> recoder;
    std::shared_ptr<CSvmDb> signalDb;
};

namespace Services {
// Copies of the installed services (defaults made on first use).
std::shared_ptr<ISettingsStore> Settings();
CString HomeDirectory();
CString DataDirectory();
std::shared_ptr<IClock> Clock();
std::shared_ptr<IFreeSpace> FreeSpace();
std::shared_ptr<ITraceSink> Trace();
std::shared_ptr<ILogFileObserver> FileObserver();
std::shared_ptr<IProgressService> Progress();
std::shared_ptr<IUserInterface> UserInterface();
std::shared_ptr<CDeviceLink> DeviceLink();
std::shared_ptr<CMessageBus> Bus();
std::shared_ptr<CConverter> Recoder();
std::shared_ptr<CSvmDb> SignalDb();

// The whole set as installed now (defaults filled in).
HostServices Current();
// Installs a set; members left empty get the defaults.
void Install(const HostServices& services);
// Grows with every install (CScopedServices included). A user that reads the
// generation before it takes copies of services may keep them, and what it looked up
// in them, for as long as the generation stays the same.
uint64_t Generation();
// The per-user data directory used when no home directory is installed:
// $XDG_DATA_HOME/vkl or ~/.local/share/vkl (created with its "Bin Logs" folder).
CString DefaultHomeDirectory();
// The bundled data used when none is installed: share/vkl beside an installed library,
// else the source tree's data/ folder.
CString DefaultDataDirectory();
}  // namespace Services

// Installs services for the life of the object and puts the previous ones back.
class CScopedServices {
public:
    explicit CScopedServices(const HostServices& services);
    ~CScopedServices();
    CScopedServices(const CScopedServices&) = delete;
    CScopedServices& operator=(const CScopedServices&) = delete;

private:
    HostServices m_previous;
};

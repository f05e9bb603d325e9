// The host side of the module probe: built as its own shared object against libLogger,
// loaded by the probe after the probe has loaded libLogger itself. Records a few
// messages through the message bus with the C++ interface, as a desktop host does.
#include <memory>
#include <string>

#include "logger/LoggerManager.h"
#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/MessageBus.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "platform/VESKMessage.h"

extern "C" int ProbeRecord(const char* directory, int messages)
{
    HostServices s;
    s.homeDirectory = directory;
    s.settings = std::make_shared<CMemorySettingsStore>();
    s.freeSpace = std::make_shared<CFixedFreeSpace>(FreeSpaceResult{FreeSpaceResult::ok, 100ull << 30});
    s.deviceLink = std::make_shared<CDeviceTable>();
    s.bus = std::make_shared<CMessageBus>();
    Services::Install(s);

    CLoggerManager* manager = Init();
    CLogger* logger = manager->AddNewLogger((std::string(directory) + "\\probe").c_str(), true, false, -1, 0, 0, 0);
    if (!logger || !logger->GetClient()) return 1;
    logger->Resume();
    const unsigned char data[] = {6, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
    for (int i = 1; i <= messages; ++i) {
        CVESKMessage m(1, 0, data, sizeof data, 0);
        m.SetMessageIndex(static_cast<uint64_t>(i));
        Services::Bus()->Dispatch(m, 0, 0);
    }
    logger->EmptyFIFO();
    Term();
    Services::Install(HostServices());
    return 0;
}

#pragma once
// The connected devices: IMEIs, operating-system types per side, the device's software
// version. The host says which devices are connected; none by default.
#include <array>
#include <mutex>

#include "framework/String.h"
#include "framework/Types.h"

constexpr int kDeviceSlots = 5;
using DeviceTexts = std::array<CString, kDeviceSlots>;

class CDeviceLink {
public:
    virtual ~CDeviceLink() = default;
    virtual DeviceTexts GetDeviceIMEIs() = 0;
    // side 0 = Com, 1 = App
    virtual DeviceTexts GetDeviceOsTypes(int side) = 0;
    virtual CString GetUEVersion() = 0;
};

// A table of connected devices that a host (or the simulated device) fills in.
class CDeviceTable : public CDeviceLink {
public:
    DeviceTexts GetDeviceIMEIs() override;
    DeviceTexts GetDeviceOsTypes(int side) override;
    CString GetUEVersion() override;

    void Connect(int slot, const CString& imei, const CString& comOsType, const CString& appOsType);
    void Disconnect(int slot);
    void DisconnectAll();
    void SetUEVersion(const CString& version);

private:
    std::mutex m_mutex;
    DeviceTexts m_imeis, m_com, m_app;
    CString m_ueVersion;
};

// Bracket the use of the per-thread device-link object.
CDeviceLink* AcquireDeviceLink(DWORD threadId);
void ReleaseDeviceLink(DWORD threadId);
// The connected device's software version ("" when none).
CString GetUEVersionString();

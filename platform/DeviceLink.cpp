#include "platform/DeviceLink.h"

#include <map>

#include "platform/Services.h"

DeviceTexts CDeviceTable::GetDeviceIMEIs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_imeis;
}

DeviceTexts CDeviceTable::GetDeviceOsTypes(int side)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return side == 0 ? m_com : m_app;
}

CString CDeviceTable::GetUEVersion()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ueVersion;
}

void CDeviceTable::Connect(int slot, const CString& imei, const CString& comOsType, const CString& appOsType)
{
    if (slot < 0 || slot >= kDeviceSlots) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_imeis[static_cast<size_t>(slot)] = imei;
    m_com[static_cast<size_t>(slot)] = comOsType;
    m_app[static_cast<size_t>(slot)] = appOsType;
}

void CDeviceTable::Disconnect(int slot)
{
    Connect(slot, "", "", "");
}

void CDeviceTable::DisconnectAll()
{
    for (int i = 0; i < kDeviceSlots; ++i) Disconnect(i);
}

void CDeviceTable::SetUEVersion(const CString& version)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ueVersion = version;
}

namespace {
std::mutex g_linkMutex;
// Per-thread use counts with the object handed out, kept alive while acquired.
std::map<DWORD, std::pair<int, std::shared_ptr<CDeviceLink>>> g_acquired;
}  // namespace

CDeviceLink* AcquireDeviceLink(DWORD threadId)
{
    std::shared_ptr<CDeviceLink> link = Services::DeviceLink();
    std::lock_guard<std::mutex> lock(g_linkMutex);
    auto& entry = g_acquired[threadId];
    if (entry.first++ == 0) entry.second = link;
    return entry.second.get();
}

void ReleaseDeviceLink(DWORD threadId)
{
    std::lock_guard<std::mutex> lock(g_linkMutex);
    auto it = g_acquired.find(threadId);
    if (it == g_acquired.end()) return;
    if (--it->second.first <= 0) g_acquired.erase(it);
}

CString GetUEVersionString()
{
    return Services::DeviceLink()->GetUEVersion();
}

#include "platform/Settings.h"

#include <cstdlib>

#include "platform/Services.h"

ISettingsStore* GetSettingsStore()
{
    // The registry keeps the store alive for as long as it is installed.
    return Services::Settings().get();
}

int GetSettingInt(ISettingsStore* store, const char* section, const char* key, int def)
{
    if (!store) store = GetSettingsStore();
    return store->GetInt(section, key, def);
}

CString GetSettingString(ISettingsStore* store, const char* section, const char* key, const char* def)
{
    if (!store) store = GetSettingsStore();
    return store->GetString(section, key, def ? def : "");
}

void WriteSettingInt(ISettingsStore* store, const char* section, const char* key, int value)
{
    if (!store) store = GetSettingsStore();
    store->WriteInt(section, key, value);
}

void WriteSettingString(ISettingsStore* store, const char* section, const char* key, const char* value)
{
    if (!store) store = GetSettingsStore();
    store->WriteString(section, key, value ? value : "");
}

CString GetHomeDirectory(ISettingsStore*)
{
    return Services::HomeDirectory();
}

int CMemorySettingsStore::GetInt(const CString& section, const CString& key, int def)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_values.find({section.str(), key.str()});
    if (it == m_values.end()) return def;
    char* end = nullptr;
    const long v = std::strtol(it->second.c_str(), &end, 10);
    return (end && *end == '\0' && !it->second.empty()) ? static_cast<int>(v) : def;
}

CString CMemorySettingsStore::GetString(const CString& section, const CString& key, const CString& def)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_values.find({section.str(), key.str()});
    return it == m_values.end() ? def : CString(it->second);
}

void CMemorySettingsStore::WriteInt(const CString& section, const CString& key, int value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[{section.str(), key.str()}] = std::to_string(value);
}

void CMemorySettingsStore::WriteString(const CString& section, const CString& key, const CString& value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[{section.str(), key.str()}] = value.str();
}

bool CMemorySettingsStore::Has(const CString& section, const CString& key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values.count({section.str(), key.str()}) != 0;
}

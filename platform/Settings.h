#pragma once
// The host's settings store: sections and keys as the system names them.
#include <map>
#include <mutex>
#include <string>

#include "framework/String.h"

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    virtual int GetInt(const CString& section, const CString& key, int def) = 0;
    virtual CString GetString(const CString& section, const CString& key, const CString& def) = 0;
    virtual void WriteInt(const CString& section, const CString& key, int value) = 0;
    virtual void WriteString(const CString& section, const CString& key, const CString& value) = 0;
    // An exclusive session: reads and writes between Begin and End are one step for every
    // other thread and process using the store (a read-modify-write of a counter).
    // Sessions nest.
    virtual void BeginExclusive() {}
    virtual void EndExclusive() {}
};

class CSettingsExclusive {
public:
    explicit CSettingsExclusive(ISettingsStore* store) : m_store(store)
    {
        if (m_store) m_store->BeginExclusive();
    }
    ~CSettingsExclusive()
    {
        if (m_store) m_store->EndExclusive();
    }
    CSettingsExclusive(const CSettingsExclusive&) = delete;
    CSettingsExclusive& operator=(const CSettingsExclusive&) = delete;

private:
    ISettingsStore* m_store;
};

// The store installed in the host-services registry.
ISettingsStore* GetSettingsStore();
int GetSettingInt(ISettingsStore* store, const char* section, const char* key, int def);
CString GetSettingString(ISettingsStore* store, const char* section, const char* key, const char* def);
void WriteSettingInt(ISettingsStore* store, const char* section, const char* key, int value);
void WriteSettingString(ISettingsStore* store, const char* section, const char* key, const char* value);
// The tool directory, without a trailing separator (the store argument is not needed:
// the registry knows it).
CString GetHomeDirectory(ISettingsStore* store = nullptr);

// Settings held in memory: tests, and hosts that keep no file.
class CMemorySettingsStore : public ISettingsStore {
public:
    int GetInt(const CString& section, const CString& key, int def) override;
    CString GetString(const CString& section, const CString& key, const CString& def) override;
    void WriteInt(const CString& section, const CString& key, int value) override;
    void WriteString(const CString& section, const CString& key, const CString& value) override;
    bool Has(const CString& section, const CString& key) const;
    void BeginExclusive() override { m_session.lock(); }
    void EndExclusive() override { m_session.unlock(); }

private:
    std::recursive_mutex m_session;
    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, std::string> m_values;
};

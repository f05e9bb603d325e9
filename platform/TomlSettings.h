#pragma once
// The default settings store: a TOML file with quoted section and key names.
#include "platform/Settings.h"

class CTomlSettingsStore : public ISettingsStore {
public:
    explicit CTomlSettingsStore(CString path);
    static CString DefaultPath(const CString& homeDirectory);

    int GetInt(const CString& section, const CString& key, int def) override;
    CString GetString(const CString& section, const CString& key, const CString& def) override;
    void WriteInt(const CString& section, const CString& key, int value) override;
    void WriteString(const CString& section, const CString& key, const CString& value) override;
    const CString& GetPath() const { return m_strPath; }

private:
    CString m_strPath;
    CMemorySettingsStore m_fallback;  // placeholder until the file store lands
};

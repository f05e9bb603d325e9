#include "platform/TomlSettings.h"

CTomlSettingsStore::CTomlSettingsStore(CString path) : m_strPath(std::move(path)) {}
CString CTomlSettingsStore::DefaultPath(const CString& homeDirectory) { return homeDirectory + "/settings.toml"; }
int CTomlSettingsStore::GetInt(const CString& s, const CString& k, int d) { return m_fallback.GetInt(s, k, d); }
CString CTomlSettingsStore::GetString(const CString& s, const CString& k, const CString& d) { return m_fallback.GetString(s, k, d); }
void CTomlSettingsStore::WriteInt(const CString& s, const CString& k, int v) { m_fallback.WriteInt(s, k, v); }
void CTomlSettingsStore::WriteString(const CString& s, const CString& k, const CString& v) { m_fallback.WriteString(s, k, v); }

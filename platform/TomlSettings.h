#pragma once
// The default settings store: a TOML file whose tables are the sections and whose keys
// are the setting names, both quoted where they hold spaces:
//
//   ['Viewer Settings']
//   'Log Name Index' = 3
//   'Log Name Location' = 'US'
//
// (written with TOML's literal quotes; double quotes are read as well)
//
// Every read reads the file anew, so a change made by another process is seen. Every
// write is a read-modify-write under an exclusive advisory lock on a side file
// ("<file>.lock"), written to a temporary file and renamed over the old one, so two
// processes that advance the same counter never lose an increment and a reader never
// sees half a file. A missing or unreadable file gives the defaults; a malformed one
// gives the defaults and one warning, and is never overwritten.
#include <atomic>
#include <mutex>
#include <thread>

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
    void BeginExclusive() override;
    void EndExclusive() override;

private:
    bool InSession() const;
    template <typename Fn>
    void Modify(Fn&& change);
    void Warn(const std::string& text);

    CString m_strPath;
    std::atomic<bool> m_bWarned{false};
    std::recursive_mutex m_session;  // held by the thread in an exclusive session
    std::atomic<std::thread::id> m_sessionOwner{};
    int m_nSessionDepth = 0;
    int m_sessionFd = -1;
};

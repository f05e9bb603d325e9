#pragma once
// The default settings store: a TOML file. Sections are tables and settings are keys,
// both written as quoted names:
//
//   ["Viewer Settings"]
//   "Log Name Index" = 3
//   "Log Name Location" = "US"
//
// Integers are TOML integers and texts are TOML strings.
//
// Reading: every read reads the file anew, so a change made by another process is seen
// at once. A missing or unreadable file gives the defaults. A malformed file gives the
// defaults and one warning on stderr (naming the file and the parse error) per store
// object; the file is left as it is.
//
// Writing: every write is a read-modify-write under an exclusive advisory lock (flock)
// on the side file "<file>.lock": the file is read again under the lock, changed, written
// to "<file>.tmp" and renamed over the old file, so a reader never sees half a file and
// two processes that advance the same counter never lose an increment. A write to a
// malformed or unreadable file is refused with a warning, so the file is never destroyed.
//
// Exclusive sessions (BeginExclusive / EndExclusive) hold the same lock across several
// reads and writes, for a read-increment-write of a counter such as "Log Name Index".
//
// Texts are stored as they are when they are valid UTF-8; any other byte is taken as
// Latin-1 and stored as its UTF-8 form, so the file always stays valid TOML.
#include <atomic>
#include <mutex>
#include <string>

#include "platform/Settings.h"

class CTomlSettingsStore : public ISettingsStore {
public:
    explicit CTomlSettingsStore(CString path);
    ~CTomlSettingsStore() override;
    CTomlSettingsStore(const CTomlSettingsStore&) = delete;
    CTomlSettingsStore& operator=(const CTomlSettingsStore&) = delete;

    // "<home directory>/settings.toml".
    static CString DefaultPath(const CString& homeDirectory);

    int GetInt(const CString& section, const CString& key, int def) override;
    CString GetString(const CString& section, const CString& key, const CString& def) override;
    void WriteInt(const CString& section, const CString& key, int value) override;
    void WriteString(const CString& section, const CString& key, const CString& value) override;
    void BeginExclusive() override;
    void EndExclusive() override;

    const CString& GetPath() const { return m_strPath; }

private:
    struct Value;
    Value Lookup(const CString& section, const CString& key);
    template <typename Change>
    void Modify(const CString& section, const CString& key, Change&& change);
    void WarnOnce(const std::string& text);

    CString m_strPath;
    std::string m_osPath;
    std::atomic<bool> m_bWarned{false};
    // Held by the thread in an exclusive session and by every write, so the threads of
    // this process take turns; the flock on the side file does the same across processes.
    std::recursive_mutex m_session;
    int m_nSessionDepth = 0;  // guarded by m_session
    int m_sessionLockFd = -1; // guarded by m_session
};

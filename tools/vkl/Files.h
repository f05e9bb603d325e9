#pragma once
// What every vkl command checks before it hands a path to the library, and how header
// texts (ANSI bytes, Windows-1252) reach a UTF-8 terminal or a JSON document.
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/Settings.h"

class CLogFile;

namespace vkl {

// Empty when `path` names a regular file that can be read; otherwise one line saying why
// not (missing, a directory, a pipe or device, ...).
std::string CheckInputFile(const std::string& path);
// Whether two paths name the same file (both must exist).
bool SameFile(const std::string& a, const std::string& b);
// Whether something (a file, a link, a directory) is at the path.
bool Exists(const std::string& path);
// For an output the user named: empty when it may be written; with `force` an existing
// regular file is removed first (the user asked for that). Otherwise the refusal.
std::string PrepareOutput(const std::string& path, bool force);
// A file name without any directory part ("..", "/", "\" refused).
bool IsPlainName(const std::string& name);
// What the operating system said when the library could not open a log file, or "".
std::string OpenErrorText(const CLogFile& file);

// Header texts: Windows-1252 bytes as UTF-8; Printable stops at the first NUL.
std::string AnsiToUtf8(const std::string& ansi);
std::string Printable(const std::string& ansi);

// The stored settings with some values set for this run only (nothing is written back
// for them): the repair answer of `repair`, the directory of `record --dir`.
class SettingsOverlay : public ISettingsStore {
public:
    explicit SettingsOverlay(std::shared_ptr<ISettingsStore> inner) : m_inner(std::move(inner)) {}
    void SetInt(const CString& section, const CString& key, int value);
    void SetString(const CString& section, const CString& key, const CString& value);
    int GetInt(const CString& section, const CString& key, int def) override;
    CString GetString(const CString& section, const CString& key, const CString& def) override;
    void WriteInt(const CString& section, const CString& key, int value) override;
    void WriteString(const CString& section, const CString& key, const CString& value) override;
    void BeginExclusive() override { m_inner->BeginExclusive(); }
    void EndExclusive() override { m_inner->EndExclusive(); }

private:
    std::shared_ptr<ISettingsStore> m_inner;
    std::map<std::pair<std::string, std::string>, std::string> m_values;
};

}  // namespace vkl

#include "tools/vkl/Files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "logfile/LogFile.h"
#include "tools/vkl/Options.h"

namespace vkl {

std::string CheckInputFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return path + ": cannot open: " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return path + ": is a directory, not a log file";
    if (!S_ISREG(st.st_mode)) return path + ": not a regular file (a pipe, device or socket), not read";
    if (::access(path.c_str(), R_OK) != 0) return path + ": cannot open: " + std::strerror(errno);
    return {};
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string PrepareOutput(const std::string& path, bool force)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (!force) return path + ": exists; not replaced (--force replaces it)";
    if (!S_ISREG(st.st_mode)) return path + ": exists and is not a regular file; not replaced";
    if (::unlink(path.c_str()) != 0) return path + ": cannot be replaced: " + std::strerror(errno);
    return {};
}

bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

std::string OpenErrorText(const CLogFile& file)
{
    const CFileException& e = file.GetOpenError();
    if (e.m_cause == CFileException::none) return {};
    if (e.m_lOsError == EBUSY) return "in use: another process is recording it";
    if (e.m_lOsError == EEXIST) return "exists; a log file is never replaced";
    if (e.m_lOsError == ELOOP) return "a symbolic link; log files are never written through one";
    if (e.m_lOsError) return std::strerror(e.m_lOsError);
    if (e.m_cause == CFileException::invalidFile) return "not a log file";
    return e.GetErrorMessage().str();
}

namespace {
// Windows-1252 characters 0x80..0x9F; 0 marks the five it leaves undefined.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}
}  // namespace

std::string AnsiToUtf8(const std::string& ansi)
{
    std::string out;
    out.reserve(ansi.size());
    for (const char ch : ansi) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else if (b < 0xA0) {
            const char32_t c = kCp1252High[b - 0x80];
            AppendUtf8(out, c ? c : U'\uFFFD');
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

std::string Printable(const std::string& ansi)
{
    return AnsiToUtf8(ansi.substr(0, ansi.find('\0')));
}

void SettingsOverlay::SetInt(const CString& section, const CString& key, int value)
{
    m_values[{section.str(), key.str()}] = std::to_string(value);
}

void SettingsOverlay::SetString(const CString& section, const CString& key, const CString& value)
{
    m_values[{section.str(), key.str()}] = value.str();
}

int SettingsOverlay::GetInt(const CString& section, const CString& key, int def)
{
    const auto it = m_values.find({section.str(), key.str()});
    return it == m_values.end() ? m_inner->GetInt(section, key, def) : std::stoi(it->second);
}

CString SettingsOverlay::GetString(const CString& section, const CString& key, const CString& def)
{
    const auto it = m_values.find({section.str(), key.str()});
    return it == m_values.end() ? m_inner->GetString(section, key, def) : CString(it->second);
}

void SettingsOverlay::WriteInt(const CString& section, const CString& key, int value)
{
    m_inner->WriteInt(section, key, value);
}

void SettingsOverlay::WriteString(const CString& section, const CString& key, const CString& value)
{
    m_inner->WriteString(section, key, value);
}

}  // namespace vkl

namespace vkl {

std::string CheckWholeNumber(const std::string& text, uint64_t min, uint64_t max)
{
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return "'" + text + "' is not a whole number from " + range;
    uint64_t value = 0;
    for (const char c : text) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return "'" + text + "' is too large (" + range + ")";
        value = value * 10 + digit;
    }
    if (value < min || value > max) return "'" + text + "' is out of range (" + range + ")";
    return {};
}

}  // namespace vkl

#include "platform/TomlSettings.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>

#include "framework/File.h"

namespace {

constexpr const char* kLockSuffix = ".lock";
constexpr const char* kTempSuffix = ".tmp";

std::string ErrorText(int err)
{
    return std::strerror(err);
}

// ---- reading ----------------------------------------------------------------------------

enum class FileState { ok, missing, unreadable, malformed };

struct Document {
    FileState state = FileState::missing;
    toml::table table;
    std::string problem;  // why the file cannot be used, for the warning
};

bool ReadWhole(const std::string& path, std::string& text, int& err)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return false;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            err = errno;
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

Document Load(const std::string& path)
{
    Document doc;
    std::string text;
    int err = 0;
    if (!ReadWhole(path, text, err)) {
        if (err == ENOENT) {
            doc.state = FileState::missing;
        } else {
            doc.state = FileState::unreadable;
            doc.problem = "cannot be read (" + ErrorText(err) + ")";
        }
        return doc;
    }
    try {
        doc.table = toml::parse(std::string_view(text), std::string_view(path));
        doc.state = FileState::ok;
    } catch (const toml::parse_error& e) {
        std::ostringstream s;
        s << "is malformed (line " << e.source().begin.line << ", column " << e.source().begin.column << ": "
          << e.description() << ")";
        doc.state = FileState::malformed;
        doc.problem = s.str();
    }
    return doc;
}

// Strict decimal: an optional sign and digits, nothing else, within the range of int.
bool ParseDecimal(const std::string& text, int& value)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    if (first == last || (*first == '-' && first + 1 == last)) return false;
    int64_t parsed = 0;
    const auto [end, ec] = std::from_chars(first, last, parsed);
    if (ec != std::errc() || end != last) return false;
    if (parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

// ---- writing ----------------------------------------------------------------------------

// Length of the valid UTF-8 sequence starting at s[i], or 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
size_t Utf8SequenceLength(std::string_view s, size_t i)
{
    auto cont = [&](size_t k, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        if (i + k >= s.size()) return false;
        const auto c = static_cast<unsigned char>(s[i + k]);
        return c >= lo && c <= hi;
    };
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(1) && cont(2) ? 3 : 0;
    if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (c == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

// A TOML basic string ("..."), used for names and texts alike.
void AppendQuoted(std::string& out, std::string_view s)
{
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04X", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
        } else if (const size_t n = Utf8SequenceLength(s, i)) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            // Not UTF-8: a Latin-1 byte, stored as its UTF-8 form.
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    out += '"';
}

void AppendValue(std::string& out, const toml::node& node)
{
    if (const auto* s = node.as_string()) {
        AppendQuoted(out, s->get());
    } else if (const auto* array = node.as_array()) {
        out += '[';
        bool first = true;
        for (const toml::node& element : *array) {
            if (!first) out += ", ";
            first = false;
            AppendValue(out, element);
        }
        out += ']';
    } else if (const auto* table = node.as_table()) {  // only inside arrays
        out += '{';
        bool first = true;
        for (const auto& [key, value] : *table) {
            out += first ? " " : ", ";
            first = false;
            AppendQuoted(out, key.str());
            out += " = ";
            AppendValue(out, value);
        }
        out += first ? "}" : " }";
    } else {
        // Integers, floats, booleans, dates and times: toml++ prints them as TOML.
        std::ostringstream s;
        node.visit([&s](const auto& v) { s << v; });
        out += s.str();
    }
}

// Plain values first, then one [header] per table, nested tables with dotted headers.
void AppendTable(std::string& out, const toml::table& table, const std::string& header)
{
    bool hasValues = false, hasTables = false;
    for (const auto& [key, value] : table) (value.is_table() ? hasTables : hasValues) = true;
    if (!header.empty() && (hasValues || !hasTables)) {
        if (!out.empty()) out += '\n';
        out += '[' + header + "]\n";
    }
    for (const auto& [key, value] : table) {
        if (value.is_table()) continue;
        AppendQuoted(out, key.str());
        out += " = ";
        AppendValue(out, value);
        out += '\n';
    }
    for (const auto& [key, value] : table) {
        if (!value.is_table()) continue;
        std::string name;
        AppendQuoted(name, key.str());
        AppendTable(out, *value.as_table(), header.empty() ? name : header + '.' + name);
    }
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the text next to the file and renames it over the file. Runs under the lock,
// so one temporary name is enough. The rename is what keeps a reader from ever seeing
// half a file; there is no fsync, because a counter such as "Log Name Index" is written
// for every new log and surviving a power cut is not what the store promises.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& problem)
{
    const std::string temp = path + kTempSuffix;
    struct stat old {};
    const bool hadFile = ::stat(path.c_str(), &old) == 0;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        problem = "cannot be written (" + ErrorText(errno) + ")";
        return false;
    }
    if (hadFile) (void)::fchmod(fd, old.st_mode & 07777);  // keep the file's permissions
    const bool written = WriteAll(fd, text);
    const int writeErr = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        problem = "cannot be written (" + ErrorText(written ? errno : writeErr) + ")";
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void MakeParentDirectory(const std::string& path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
}

// An exclusive flock on "<file>.lock"; returns the descriptor (closing it releases the
// lock) or -1 with the reason in `problem`.
int LockSideFile(const std::string& path, std::string& problem)
{
    MakeParentDirectory(path);
    const std::string lockPath = path + kLockSuffix;
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        problem = "cannot be locked (" + lockPath + ": " + ErrorText(errno) + ")";
        return -1;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        problem = "cannot be locked (" + lockPath + ": " + ErrorText(errno) + ")";
        ::close(fd);
        return -1;
    }
    return fd;
}

class CloseOnExit {
public:
    explicit CloseOnExit(int fd) : m_fd(fd) {}
    ~CloseOnExit()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    CloseOnExit(const CloseOnExit&) = delete;
    CloseOnExit& operator=(const CloseOnExit&) = delete;

private:
    int m_fd;
};

}  // namespace

// ---- the store ------------------------------------------------------------------------------

struct CTomlSettingsStore::Value {
    enum Kind { none, integer, text, other } kind = none;
    int64_t number = 0;
    std::string str;
};

CTomlSettingsStore::CTomlSettingsStore(CString path) : m_strPath(std::move(path)), m_osPath(CFile::OsPath(m_strPath)) {}

CTomlSettingsStore::~CTomlSettingsStore()
{
    if (m_sessionLockFd >= 0) ::close(m_sessionLockFd);
}

CString CTomlSettingsStore::DefaultPath(const CString& homeDirectory)
{
    return homeDirectory + "/settings.toml";
}

void CTomlSettingsStore::WarnOnce(const std::string& text)
{
    if (!m_bWarned.exchange(true))
        std::fprintf(stderr, "warning: settings file %s %s; using the default settings\n", m_osPath.c_str(), text.c_str());
}

CTomlSettingsStore::Value CTomlSettingsStore::Lookup(const CString& section, const CString& key)
{
    const Document doc = Load(m_osPath);
    if (doc.state == FileState::malformed || doc.state == FileState::unreadable) WarnOnce(doc.problem);
    Value out;
    if (doc.state != FileState::ok) return out;
    const toml::table* table = doc.table.get_as<toml::table>(section.str());
    const toml::node* node = table ? table->get(key.str()) : nullptr;
    if (!node) return out;
    if (const auto n = node->value_exact<int64_t>()) {
        out.kind = Value::integer;
        out.number = *n;
    } else if (const auto* s = node->as_string()) {
        out.kind = Value::text;
        out.str = s->get();
    } else {
        out.kind = Value::other;
    }
    return out;
}

int CTomlSettingsStore::GetInt(const CString& section, const CString& key, int def)
{
    const Value v = Lookup(section, key);
    if (v.kind == Value::integer) return (v.number >= INT32_MIN && v.number <= INT32_MAX) ? static_cast<int>(v.number) : def;
    int parsed = 0;
    if (v.kind == Value::text && ParseDecimal(v.str, parsed)) return parsed;
    return def;
}

CString CTomlSettingsStore::GetString(const CString& section, const CString& key, const CString& def)
{
    const Value v = Lookup(section, key);
    if (v.kind == Value::text) return CString(v.str);
    if (v.kind == Value::integer) return CString(std::to_string(v.number));
    return def;
}

template <typename Change>
void CTomlSettingsStore::Modify(const CString& section, const CString& key, Change&& change)
{
    auto refuse = [&](const std::string& problem) {
        std::fprintf(stderr, "warning: settings file %s %s; \"%s\" in [\"%s\"] was not saved\n", m_osPath.c_str(),
                     problem.c_str(), key.c_str(), section.c_str());
    };
    std::lock_guard<std::recursive_mutex> turn(m_session);
    int ownLock = -1;
    if (m_nSessionDepth == 0) {  // otherwise this thread's session holds the lock already
        std::string problem;
        ownLock = LockSideFile(m_osPath, problem);
        if (ownLock < 0) return refuse(problem);
    }
    CloseOnExit release(ownLock);

    Document doc = Load(m_osPath);  // again, under the lock
    if (doc.state == FileState::malformed || doc.state == FileState::unreadable) {
        WarnOnce(doc.problem);
        return refuse(doc.problem);
    }
    toml::node* existing = doc.table.get(section.str());
    if (existing && !existing->is_table()) return refuse("holds \"" + section.str() + "\" as a value, not a section");
    if (!existing) existing = doc.table.insert_or_assign(section.str(), toml::table{}).first->second.as_table();
    change(*existing->as_table());

    std::string text;
    AppendTable(text, doc.table, std::string());
    std::string problem;
    MakeParentDirectory(m_osPath);
    if (!ReplaceFile(m_osPath, text, problem)) refuse(problem);
}

void CTomlSettingsStore::WriteInt(const CString& section, const CString& key, int value)
{
    Modify(section, key, [&](toml::table& t) { t.insert_or_assign(key.str(), static_cast<int64_t>(value)); });
}

void CTomlSettingsStore::WriteString(const CString& section, const CString& key, const CString& value)
{
    Modify(section, key, [&](toml::table& t) { t.insert_or_assign(key.str(), value.str()); });
}

void CTomlSettingsStore::BeginExclusive()
{
    m_session.lock();
    if (m_nSessionDepth++ == 0) {
        // Without the side file (an unwritable directory) the session still orders this
        // process's threads; the writes inside it will then be refused anyway.
        std::string problem;
        m_sessionLockFd = LockSideFile(m_osPath, problem);
    }
}

void CTomlSettingsStore::EndExclusive()
{
    if (--m_nSessionDepth == 0 && m_sessionLockFd >= 0) {
        ::close(m_sessionLockFd);
        m_sessionLockFd = -1;
    }
    m_session.unlock();
}

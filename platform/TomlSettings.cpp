#include "platform/TomlSettings.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

#include <toml++/toml.h>

#include "framework/File.h"

namespace {

// An advisory lock on "<settings file>.lock", released with the object.
class FileLock {
public:
    FileLock(const std::string& settingsPath, int operation, bool held)
    {
        if (held) return;  // this thread's exclusive session holds it already
        m_fd = ::open((settingsPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            while (::flock(m_fd, operation) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd = -1;
};

enum class ReadState { ok, missing, malformed };

struct Loaded {
    ReadState state = ReadState::missing;
    toml::table table;
    std::string error;
};

Loaded Load(const std::string& path)
{
    Loaded out;
    std::ifstream in(path, std::ios::binary);
    if (!in) return out;
    std::stringstream text;
    text << in.rdbuf();
    try {
        out.table = toml::parse(text.str(), path);
        out.state = ReadState::ok;
    } catch (const toml::parse_error& e) {
        std::ostringstream msg;
        msg << path << ":" << e.source().begin.line << ":" << e.source().begin.column << ": " << e.description();
        out.error = msg.str();
        out.state = ReadState::malformed;
    }
    return out;
}

const toml::node* Find(const toml::table& table, const CString& section, const CString& key)
{
    const toml::table* sec = table[section.str()].as_table();
    return sec ? sec->get(key.str()) : nullptr;
}

}  // namespace

CTomlSettingsStore::CTomlSettingsStore(CString path) : m_strPath(std::move(path)) {}

CString CTomlSettingsStore::DefaultPath(const CString& homeDirectory)
{
    return homeDirectory + "/settings.toml";
}

bool CTomlSettingsStore::InSession() const
{
    return m_sessionOwner.load() == std::this_thread::get_id();
}

void CTomlSettingsStore::BeginExclusive()
{
    m_session.lock();
    if (m_nSessionDepth++ == 0) {
        const std::string path = CFile::OsPath(m_strPath);
        std::error_code ec;
        if (std::filesystem::path(path).has_parent_path())
            std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        m_sessionFd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_sessionFd >= 0) {
            while (::flock(m_sessionFd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
        m_sessionOwner = std::this_thread::get_id();
    }
}

void CTomlSettingsStore::EndExclusive()
{
    if (--m_nSessionDepth == 0) {
        m_sessionOwner = std::thread::id();
        if (m_sessionFd >= 0) ::close(m_sessionFd);
        m_sessionFd = -1;
    }
    m_session.unlock();
}

void CTomlSettingsStore::Warn(const std::string& text)
{
    if (!m_bWarned.exchange(true)) std::fprintf(stderr, "warning: settings file %s; using the defaults\n", text.c_str());
}

int CTomlSettingsStore::GetInt(const CString& section, const CString& key, int def)
{
    const std::string path = CFile::OsPath(m_strPath);
    Loaded loaded;
    {
        FileLock lock(path, LOCK_SH, InSession());
        loaded = Load(path);
    }
    if (loaded.state == ReadState::malformed) Warn(loaded.error);
    const toml::node* node = Find(loaded.table, section, key);
    if (!node) return def;
    if (auto v = node->value<int64_t>()) return static_cast<int>(*v);
    if (auto s = node->value<std::string>()) {
        try {
            size_t used = 0;
            const long v = std::stol(*s, &used, 10);
            if (used == s->size()) return static_cast<int>(v);
        } catch (const std::exception&) {
        }
    }
    return def;
}

CString CTomlSettingsStore::GetString(const CString& section, const CString& key, const CString& def)
{
    const std::string path = CFile::OsPath(m_strPath);
    Loaded loaded;
    {
        FileLock lock(path, LOCK_SH, InSession());
        loaded = Load(path);
    }
    if (loaded.state == ReadState::malformed) Warn(loaded.error);
    const toml::node* node = Find(loaded.table, section, key);
    if (!node) return def;
    if (auto s = node->value<std::string>()) return CString(*s);
    if (auto v = node->value<int64_t>()) return CString(std::to_string(*v));
    return def;
}

template <typename Fn>
void CTomlSettingsStore::Modify(Fn&& change)
{
    namespace fs = std::filesystem;
    const std::string path = CFile::OsPath(m_strPath);
    std::error_code ec;
    if (fs::path(path).has_parent_path()) fs::create_directories(fs::path(path).parent_path(), ec);
    FileLock lock(path, LOCK_EX, InSession());
    Loaded loaded = Load(path);
    if (loaded.state == ReadState::malformed) {
        Warn(loaded.error);
        std::fprintf(stderr, "warning: settings file %s is malformed; the setting was not saved\n", path.c_str());
        return;
    }
    change(loaded.table);
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << loaded.table << "\n";
        if (!out) {
            fs::remove(temp, ec);
            return;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) fs::remove(temp, ec);
}

void CTomlSettingsStore::WriteInt(const CString& section, const CString& key, int value)
{
    Modify([&](toml::table& t) {
        if (!t[section.str()].is_table()) t.insert_or_assign(section.str(), toml::table{});
        t[section.str()].as_table()->insert_or_assign(key.str(), static_cast<int64_t>(value));
    });
}

void CTomlSettingsStore::WriteString(const CString& section, const CString& key, const CString& value)
{
    Modify([&](toml::table& t) {
        if (!t[section.str()].is_table()) t.insert_or_assign(section.str(), toml::table{});
        t[section.str()].as_table()->insert_or_assign(key.str(), value.str());
    });
}

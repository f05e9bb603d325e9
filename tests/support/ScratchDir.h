#pragma once
// A fresh, empty directory of the tests, benchmarks and fuzz targets, removed with all it
// holds when the object goes.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

class ScratchDir {
public:
    // `prefix` names the directory (prefix.XXXXXX); `inMemory` puts it in /dev/shm where the
    // system offers it, for work that rewrites files so often that a disk would dominate.
    explicit ScratchDir(const std::string& prefix = "vkltest", bool inMemory = false)
    {
        if (inMemory && Make("/dev/shm/" + prefix)) return;
        if (!Make((std::filesystem::temp_directory_path() / prefix).string()))
            throw std::runtime_error("cannot make a scratch directory for " + prefix);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    bool Make(std::string templ)
    {
        templ += ".XXXXXX";
        if (!::mkdtemp(templ.data())) return false;
        m_path = templ;
        return true;
    }
    std::string m_path;
};

#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/File.h"
#include "platform/Trace.h"
#include "tools/vkl/Inspect.h"

namespace vkl {

// Notes every file a logger opens for writing.
class OpenedFiles : public ILogFileObserver {
public:
    void OpenedForWriting(const CString& path) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths.push_back(CFile::OsPath(path.c_str()));
    }
    std::vector<std::string> Paths()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_paths;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_paths;
};

// The files a recording (or a merge through a logger) made, summarised.
struct SetReport {
    std::vector<FileSummary> files;
    uint64_t records = 0, bookmarks = 0;
    int pages = 0;
};
// With `counted`, the records it counted while the files were written are not read again.
SetReport Report(const std::vector<std::string>& paths, const RecordCounter* counted = nullptr);
// One line per file: path, messages, pages, size, first bookmark.
std::string Describe(const SetReport& r);

struct RecordOptions {
    std::string name;
    std::string dir;
    int device = -1;
    unsigned long maxSizeMB = 0;
    bool bookmarkAsserts = false;
    bool cutAsserts = false;
    uint64_t messages = 0;
    double seconds = 0;
    uint64_t assertEvery = 0;
    std::string description;
    uint64_t seed = 1;
    bool force = false;
    bool append = false;
};

struct ReplayOptions {
    std::string file;
    unsigned int speedMs = 0;
    bool loop = false;
    std::string into;
    bool force = false;
};

struct DemoOptions {
    std::string dir = "vkl-demo";
};

int CmdRecord(const RecordOptions& options);
// The line that reports messages a logger's client dropped by design (paused or terminated).
std::string DroppedText(uint64_t dropped);
int CmdReplay(const ReplayOptions& options);
int CmdDemo(const DemoOptions& options);

}  // namespace vkl

#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vkl {

// What `info` says about one file, read without changing it.
struct FileSummary {
    std::string path;
    uint64_t size = 0;
    uint32_t headerPosition = 0;  // where the records end (for a damaged file: where a repair would end them)
    bool needsRepair = false;
    bool beingRecorded = false;  // another process has it open for writing
    uint64_t repairDrops = 0;    // bytes a repair would cut off
    bool repairKeepsHeader = false;
    bool currentLayout = true;
    // Header texts as UTF-8 (they are stored as Windows-1252 bytes).
    std::string headerVersion, toolVersion, deviceVersion, description, created;
    std::optional<uint32_t> anchorPosition;
    std::string anchorDescription;
    std::vector<std::pair<uint32_t, std::string>> bookmarks;
    int pages = 0;
    struct Device {
        std::string record, comOsType, appOsType;
    };
    std::vector<Device> devices;
    uint64_t records = 0;
    std::optional<uint64_t> firstIndex, lastIndex;
    std::string firstTime, lastTime;
    std::string readError;  // empty when every record up to the header position was read
    uint32_t readEnd = 0;   // offset of the first record that could not be read, or the header position
};

// Counts the records of the log files a recording writes while it writes them, a step
// at a time, so that summarising a file once it is closed reads only what came after the
// last step. It reads whole records only, and stops following a file at the first
// record it cannot judge: the summary reads on from there by its own rules.
class RecordCounter {
public:
    RecordCounter();
    ~RecordCounter();
    RecordCounter(const RecordCounter&) = delete;
    RecordCounter& operator=(const RecordCounter&) = delete;
    // Counts what was appended to `path` since the last step, up to `budget` bytes.
    void Step(const std::string& path, size_t budget = 4 << 20);
    struct Counted;
    // What was counted of `path`, or null.
    const Counted* Find(const std::string& path) const;

private:
    struct Followed;
    std::map<std::string, std::unique_ptr<Followed>> m_files;
    std::vector<unsigned char> m_buffer;
};

// Reads a summary; false with `error` set when the file cannot be opened or is not a log
// file. With `counted`, the records before its offset are taken as counted there (the
// file has only grown since).
bool Summarise(const std::string& path, FileSummary& out, std::string& error, bool showProgress,
               const RecordCounter* counted = nullptr);
std::string SummaryText(const FileSummary& s);
std::string FormatSystemTime(const void* systemTime);
// "needs repair" or "is being recorded by another process", with what to do, for one line.
std::string DamageText(const std::string& path, bool beingRecorded);

int CmdInfo(const std::vector<std::string>& files, bool json);

}  // namespace vkl

#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vkl {

// What `info` says about one file, read without changing it.
struct FileSummary {
    std::string path;
    uint64_t size = 0;
    uint32_t headerPosition = 0;
    bool needsRepair = false;
    bool currentLayout = true;
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
    uint32_t readEnd = 0;   // offset where reading stopped
};

// Reads a summary; false with `error` set when the file cannot be opened or is not a log file.
bool Summarise(const std::string& path, FileSummary& out, std::string& error, bool showProgress);
std::string SummaryText(const FileSummary& s);
std::string FormatSystemTime(const void* systemTime);

int CmdInfo(const std::vector<std::string>& files, bool json);
int CmdMessages(const std::string& file, std::optional<uint64_t> from, std::optional<uint64_t> to, bool json);

}  // namespace vkl

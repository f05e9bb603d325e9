#pragma once
#include <cstdint>
#include <string>

namespace vkl {

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
};

struct ReplayOptions {
    std::string file;
    unsigned int speedMs = 0;
    bool loop = false;
    std::string into;
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

#pragma once
// vkl merge, vkl extract.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/vkl/Inspect.h"

namespace vkl {

struct MergeOptions {
    std::string output;
    std::vector<std::string> inputs;
    std::string inputsFrom;  // a list file, or "-" for stdin
    bool append = false;
    std::string seams = "none";  // none, sources, all
    bool stopOnError = false;
    bool checkFirst = false;
    bool sortByCreation = false;
    bool json = false;
    bool eachRecord = false;  // the library's reference path: one write per record
    // Through a logger on the output:
    bool viaLogger = false;
    int device = -1;
    unsigned long maxSizeMB = 0;
    bool bookmarkAsserts = false;
    bool cutAsserts = false;
    // The next file of an earlier-layout set, into the file that names it:
    std::string next;
};

// What happened to one input of a merge.
struct MergedInput {
    std::string path;
    std::string status = "not reached";  // merged, failed, stopped, not reached
    std::string error;
    uint64_t bytesAdded = 0;
    std::optional<uint64_t> recordsAdded;  // counted where an input did not get in whole
    uint64_t bookmarksDropped = 0;         // its own bookmarks, which --seams none does not carry
};

struct MergeResult {
    std::vector<MergedInput> inputs;
    bool outputExisted = false;
    bool outputExists = false;
    bool outputSound = false;  // its header read (else it needs repair)
    uint32_t recordsEnd = 0;  // the output's header position afterwards
    uint64_t bookmarks = 0;   // the output's bookmarks afterwards
    bool interrupted = false;
};

struct ExtractOptions {
    std::string file;
    std::string output;
    uint64_t from = 0;
    uint64_t to = 0xFFFFFFFF;
    bool force = false;
    bool json = false;
};

// The static merges, one library call per input; nothing printed but errors. Returns the
// exit status.
int MergeInputs(const MergeOptions& options, MergeResult& result);
int CmdMerge(MergeOptions options);
// The extraction; nothing printed but errors; `extracted` summarises the output.
int ExtractRange(const ExtractOptions& options, FileSummary& extracted);

}  // namespace vkl

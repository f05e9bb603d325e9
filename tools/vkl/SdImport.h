#pragma once
// One SD-card dump through the library's single import, for vkl import-sd and vkl demo.
#include <string>

namespace vkl {

// Imports `file` into the new log `out` with the progress bar; `summary` gets the lines
// that say what was converted (packets, stretches skipped, first and last time stamp).
// The library's message boxes go to the host's handler when `showBoxes` is set, else they
// are answered unseen. The exit status: 0, 3 when stretches were skipped, 1 on failure
// (any word of the library but "Conversion Succeeded!"), 130 after Ctrl-C.
int ImportSdLog(const std::string& file, const std::string& out, std::string& summary, bool showBoxes);

}  // namespace vkl

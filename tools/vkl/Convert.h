#pragma once
// What vkl convert offers the other commands.
#include <cstdint>
#include <string>
#include <vector>

namespace vkl {

// Writes the HTML page of `log` into the new file `out` through the converter's worker,
// its column dialog answered with `columns`; `rows` gets the page's row count. Empty when
// the library said "Conversion Finished." alone; else what it said, or why it refused.
std::string WriteHtmlPage(const std::string& log, const std::string& out, const std::vector<std::string>& columns,
                          uint64_t& rows);

}  // namespace vkl

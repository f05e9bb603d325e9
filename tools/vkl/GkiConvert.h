#pragma once
// vkl export-gki, vkl import-gki: a log to a GKI file and back through the library's
// converter, with its progress window as a progress bar and its boxes as stderr lines.
#include <cstdint>
#include <string>

#include "tools/vkl/Commands.h"

namespace vkl {

void AddGkiConvertCommands(CLI::App& app, CommandList& out);

// What one GKI conversion did, as its summary line has it.
struct GkiRun {
    int status = 0;  // the exit status
    uint64_t read = 0, written = 0;
};
// Runs one export (`toGki`) or import of `in` into `out` (which must not exist) and
// prints its summary; the demo's way in.
GkiRun RunGkiConversion(bool toGki, const std::string& in, const std::string& out, bool summary = true);

// The demo's round trip: LOG exported to GKI, imported back, exported again; its report
// line, or an error line (empty `error` when it held). Files go into `dir`.
std::string GkiRoundTrip(const std::string& log, const std::string& dir, std::string& error);

}  // namespace vkl

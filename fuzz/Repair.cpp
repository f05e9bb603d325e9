// Repairs arbitrary bytes as a log file (auto-repair on) and checks what repair promises:
// it only cuts. A sound file is left byte for byte; a file that is not a log file at all
// is left byte for byte; otherwise every byte from offset 4 to the new header position
// is the input's byte at the same offset, the records end inside the input, a header that
// was kept is the input's own bytes, and the result is sound. A reading Close then
// changes nothing.
#include <cstdlib>

#include "framework/Endian.h"
#include "fuzz/FuzzSupport.h"
#include "logfile/LogFile.h"
#include "platform/SettingsKeys.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    WriteSettingInt(GetSettingsStore(), SettingsKeys::kViewerSettings, SettingsKeys::kAutoRepair, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteFile(data, size);
    const std::vector<uint8_t> before(data, data + size);
    bool wasSound = false;
    {
        CLogFile f;
        wasSound = f.OpenForInspection(path.c_str()) && !f.NeedsRepair();
    }
    CLogFile f;
    const bool opened = f.Open(path.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0) != 0;
    const bool repaired = opened && !wasSound && !f.NeedsRepair();
    const CLogFile::RepairReport report = f.GetRepairReport();
    f.Close();
    const std::vector<uint8_t> after = FuzzReadFile(path);
    if (!repaired) {
        if (after != before) std::abort();  // only a repair may change the file
        return 0;
    }
    if (after.size() < 4) std::abort();
    const uint32_t h = LoadLittleEndian<uint32_t>(after.data());
    if (h != report.recordsEnd || h < 4 || h > before.size() || h > after.size()) std::abort();
    for (size_t i = 4; i < h; ++i)
        if (after[i] != before[i]) std::abort();  // a record kept is the input's bytes
    if (report.headerKept && (after.size() != before.size() || !std::equal(after.begin() + 4, after.end(), before.begin() + 4)))
        std::abort();
    CLogFile check;
    if (!check.OpenForInspection(path.c_str()) || check.NeedsRepair()) std::abort();
    return 0;
}

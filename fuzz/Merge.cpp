// Merges arbitrary bytes, as a source log, into a small sound log (MergeAndBookmark,
// marking the target's seam too) and extracts an index range from them, once writing each
// record with its own call and once in runs. Both ways must give the same results and
// bytes; the source must stay as it was (the repair question is answered No); whatever
// was written must be a sound log.
#include <cstdlib>
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "logfile/LogFile.h"
#include "logger/Logger.h"
#include "platform/VESKMessage.h"

namespace {
std::vector<uint8_t> g_target;  // a sound log of two records
std::unique_ptr<CLogger> g_reader;

struct Outcome {
    bool merged = false;
    CString error;
    std::vector<uint8_t> target;
    int extracted = 0;
    std::vector<uint8_t> extract;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

void RequireSound(const std::string& path)
{
    CLogFile f;
    if (!f.OpenForInspection(path.c_str()) || f.NeedsRepair()) std::abort();
}

Outcome Run(const std::string& source, bool eachRecord)
{
    CLogger::SetWriteEachRecord(eachRecord);
    const std::string target = FuzzScratchDir() + "/target.vkl", out = FuzzScratchDir() + "/out.vkl";
    std::remove(out.c_str());
    {
        std::ofstream t(target, std::ios::binary | std::ios::trunc);
        t.write(reinterpret_cast<const char*>(g_target.data()), static_cast<std::streamsize>(g_target.size()));
    }
    Outcome o;
    o.merged = CLogger::MergeAndBookmark(target.c_str(), source.c_str(), o.error, 1);
    o.target = FuzzReadFile(target);
    RequireSound(target);
    g_reader->SetLogFileName("input.vkl", (FuzzScratchDir() + "/").c_str());
    if (g_reader->OpenLogFile("input.vkl", 0)) o.extracted = g_reader->ExtractLogData(3, 40, out.c_str());
    if (o.extracted) {
        o.extract = FuzzReadFile(out);
        RequireSound(out);
    }
    return o;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    const std::string path = FuzzScratchDir() + "/template.vkl";
    CLogFile f;
    f.Open(path.c_str(), /*bWrite=*/1, /*bNew=*/1, /*bReadOnly=*/0);
    {
        CArchive ar(&f, CArchive::store);
        const BYTE data[4] = {6, 0, 1, 2};
        for (uint64_t i = 1; i <= 2; ++i) {
            CVESKMessage m(1, 0, data, 4, 0);
            m.SetMessageIndex(i);
            m.Serialize(ar);
        }
    }
    f.Close();
    g_target = FuzzReadFile(path);
    g_reader = std::make_unique<CLogger>("scratch", 1, 0, FuzzScratchDir().c_str(), -1, 0, 0, 0);
    g_reader->Pause();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string source = FuzzWriteFile(data, size);
    const std::vector<uint8_t> before(data, data + size);
    const Outcome each = Run(source, true);
    const Outcome runs = Run(source, false);
    if (!(each == runs)) std::abort();
    if (FuzzReadFile(source) != before) std::abort();
    return 0;
}

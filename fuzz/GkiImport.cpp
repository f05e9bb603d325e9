// Hostile GKI files through the whole import: the converter's worker reads them into a
// new log. No input may crash, hang or change the GKI file; a failed import leaves no
// log, and a log that is left opens cleanly and holds messages numbered 1, 2, 3 ...
#include <cstdlib>
#include <unistd.h>

#include "convert/LogFileConverter.h"
#include "fuzz/FuzzSupport.h"
#include "logfile/LogFile.h"

namespace {

// The messages of a log the import left, checked as they are read.
void CheckLog(const std::string& path)
{
    CLogFile log;
    if (!log.Open(path.c_str(), 0, 0, 0)) std::abort();
    uint64_t expected = 1;
    while (log.GetPosition() < log.GetHeaderPosition()) {
        CVESKMessage m;
        ReadLogRecord(log, m);
        if (m.GetMessageIndex() != expected++ || m.GetKind() != 1 || m.GetDataLength() < 8) std::abort();
    }
    log.Close();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string gki = FuzzWriteFile(data, size);
    const std::string out = FuzzScratchDir() + "/out.vkl";
    ::unlink(out.c_str());
    int ok = 0;
    {
        CLogFileConverter conv(nullptr);
        if (!conv.ConvertGKILogToVkl(gki.c_str(), out.c_str())) std::abort();
        while (conv.IsConverting()) conv.m_progressWnd.PumpMessage(10);
        conv.GetState().m_evWorkerEnded.Wait(INFINITE);
        ok = conv.m_bImportOk;
    }
    const bool left = ::access(out.c_str(), F_OK) == 0;
    if (!ok && left) std::abort();
    if (left) CheckLog(out);
    if (FuzzReadFile(gki) != std::vector<uint8_t>(data, data + size)) std::abort();
    return 0;
}

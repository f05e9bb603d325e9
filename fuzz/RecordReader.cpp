// Opens arbitrary bytes as a log file and reads every record up to the header position,
// once through the read-only inspection and once through an ordinary open whose repair
// question is answered No. Neither may crash or hang, and neither may change the file:
// a file that was only read is closed without a write. The inspection also counts the
// records with the skim, which must agree with reading them one by one as messages.
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "logfile/LogFile.h"
#include "platform/VESKMessage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    return 0;
}

static void ReadAllRecords(CLogFile& f)
{
    try {
        f.Seek(4, CFile::begin);
        while (f.GetPosition() < f.GetHeaderPosition()) {
            CVESKMessage m;
            ReadLogRecord(f, m);
            if (m.GetDataLength() < 0) break;
        }
    } catch (const CException&) {
    }
}

// The records up to the header position counted one by one and with the skim: the
// same count, the same end and the same outcome, or the program stops.
static void CompareSkim(CLogFile& f)
{
    ULONGLONG read = 0, readEnd = CLogFile::kFirstRecord;
    bool readFailed = false;
    try {
        CVESKMessage m;
        for (f.SeekAbsolute(readEnd); readEnd < f.GetHeaderPosition(); readEnd = f.GetPosition(), ++read)
            ReadCheckedLogRecord(f, m, f.GetHeaderPosition());
    } catch (const CException&) {
        readFailed = true;
    }
    RecordSkim skim;
    ULONGLONG skimEnd = CLogFile::kFirstRecord;
    bool skimFailed = false;
    try {
        SkimLogFile(f, skimEnd, f.GetHeaderPosition(), skim, nullptr);
    } catch (const CException&) {
        skimFailed = true;
    }
    if (skim.records != read || skimEnd != readEnd || skimFailed != readFailed) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteFile(data, size);
    const std::vector<uint8_t> before(data, data + size);
    {
        CLogFile f;
        if (f.OpenForInspection(path.c_str())) {
            CompareSkim(f);
            ReadAllRecords(f);
            f.Close();
        }
    }
    if (FuzzReadFile(path) != before) std::abort();
    {
        CLogFile f;
        // An ordinary open for reading (read-write access, as readers open); a declined
        // repair and a reading Close both leave the file as it was.
        if (f.Open(path.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0)) {
            ReadAllRecords(f);
            f.Close();
        }
        if (FuzzReadFile(path) != before) std::abort();
    }
    return 0;
}

// Opens arbitrary bytes as a log file and reads every record up to the header position,
// once through the read-only inspection and once through an ordinary open whose repair
// question is answered No. Neither may crash or hang, and neither may change the file:
// a file that was only read is closed without a write.
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteFile(data, size);
    const std::vector<uint8_t> before(data, data + size);
    {
        CLogFile f;
        if (f.OpenForInspection(path.c_str())) {
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

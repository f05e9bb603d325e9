// Loads arbitrary bytes as a log-file header: no crash, no hang, no unbounded allocation.
#include "framework/Archive.h"
#include "framework/File.h"
#include "fuzz/FuzzSupport.h"
#include "logfile/LogFileHeader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteFile(data, size);
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) return 0;
    CLogFileHeader header;
    try {
        CArchive ar(&file, CArchive::load);
        header.Serialize(ar);
    } catch (const CException&) {
    }
    return 0;
}

// Reads arbitrary bytes as a GKI log, record after record, as the import does: one fresh
// archive per record, messages built against the bundled signal database, message boxes
// answered silently. No input may crash, hang, grow memory without bound or change the
// file; the messages are numbered 1, 2, 3 ... and carry the 8-byte message header.
#include <cstdlib>

#include "convert/GKISignalRecReader.h"
#include "framework/Archive.h"
#include "framework/File.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteFile(data, size);
    {
        CFile file(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
        CGKISignalRecReader reader;
        uint64_t expected = 1;
        try {
            while (file.GetPosition() < file.GetLength()) {
                CArchive ar(&file, CArchive::load);
                reader.Serialize(ar);
                ar.Close();
                const std::unique_ptr<CVESKMessage> m = reader.GetMessage();
                if (!m || m->GetMessageIndex() != expected++ || m->GetKind() != 1 || m->GetDataLength() < 8)
                    std::abort();
                if (reader.m_pRecord) std::abort();
            }
        } catch (const CException&) {
            if (reader.m_pRecord) std::abort();
        }
    }
    if (FuzzReadFile(path) != std::vector<uint8_t>(data, data + size)) std::abort();
    return 0;
}

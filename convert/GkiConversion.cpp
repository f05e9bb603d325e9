// The pieces the GKI export and import share.
#include "convert/GkiConversion.h"

#include "convert/LogFileConverter.h"
#include "framework/Archive.h"
#include "framework/File.h"

void GkiCounts::Reset()
{
    for (std::atomic<uint64_t>* n : {&read, &written, &otherKind, &otherType, &notConverted, &dropped, &readErrors,
                                     &cutShort})
        *n = 0;
    sizeLimit = false;
}

namespace Gki {

void ProgressSteps::Post(CConverterState& s, uint64_t position)
{
    ++m_next;
    s.PostProgress(position);
}

void CutBack(CArchive& ar, CFile& file, uint64_t start)
{
    ar.Flush();
    file.SetLength(start);
    file.SeekAbsolute(start);
}

void CutBackQuietly(CFile& file, uint64_t start)
{
    if (!file.IsOpen()) return;
    try {
        file.SetLength(start);
    } catch (const CException&) {
        // The failure that led here is reported already.
    }
}

}  // namespace Gki

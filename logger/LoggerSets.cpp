// CLogger: continuation files, navigation in a set, and pages.
#include <filesystem>

#include "framework/File.h"
#include "logger/Logger.h"
#include "platform/Clock.h"

namespace {
constexpr int kStampLength = 19;

// "_dd_Mon_yy_HH;MM;SS": only the six separator positions are tested.
bool EndsWithStamp(const CString& base)
{
    if (base.GetLength() < kStampLength) return false;
    const CString s = base.Right(kStampLength);
    return s.GetAt(0) == '_' && s.GetAt(3) == '_' && s.GetAt(7) == '_' && s.GetAt(10) == '_' && s.GetAt(13) == ';' &&
           s.GetAt(16) == ';';
}

// A continuation name that would repeat an existing file (two roll-overs within one
// second) gets "~2", "~3", ... after its stamp; such a suffix is dropped again when the
// name is continued, so a set carries one stamp only.
CString DropRepeatSuffix(const CString& base)
{
    const int tilde = base.ReverseFind('~');
    if (tilde <= 0 || tilde == base.GetLength() - 1) return base;
    for (int i = tilde + 1; i < base.GetLength(); ++i)
        if (base.GetAt(i) < '0' || base.GetAt(i) > '9') return base;
    const CString stem = base.Left(tilde);
    return EndsWithStamp(stem) ? stem : base;
}
}  // namespace

CString CLogger::GetContLogFileName()
{
    ++m_nNumOfFiles;
    const int dot = m_strFileName.Find('.');
    CString base = dot < 0 ? m_strFileName : m_strFileName.Left(dot);
    base = DropRepeatSuffix(base);
    if (EndsWithStamp(base)) base = base.Left(base.GetLength() - kStampLength);
    const CString name = base + FormatTime(LocalTimeNow(), "_%d_%b_%y_%H;%M;%S") + LogFormat::kExtension;
    // The current file is on the disk, so a name equal to it is taken too.
    return UniqueLogName(m_strPath, name);
}

void CLogger::OpenContFile()
{
    std::lock_guard lock(m_lock);
    const CString previous = m_strFileName;
    const CString next = GetContLogFileName();
    m_logFile.SetNextLogFileName(next);
    Close();
    m_strFileName = next;
    m_bMadeName = true;
    if (!OpenCurrentFile(1)) return;
    m_logFile.SetPrevLogFileName(previous);
    m_logFile.SetNumOfPages(1);
}

void CLogger::OpenNextFile()
{
    std::lock_guard lock(m_lock);
    const CString next = m_logFile.GetNextLogFileName();
    if (next.IsEmpty()) return;
    OpenSetFile(next);
}

void CLogger::OpenPrevFile()
{
    std::lock_guard lock(m_lock);
    const CString prev = m_logFile.GetPrevLogFileName();
    if (prev.IsEmpty()) return;
    OpenSetFile(prev);
}

void CLogger::SetNextFileName(CString strName)
{
    m_logFile.SetNextLogFileName(std::move(strName));
}

void CLogger::SetPrevFileName(CString strName)
{
    m_logFile.SetPrevLogFileName(std::move(strName));
}

int CLogger::GetNumOfPagesInFile()
{
    return m_logFile.GetNumOfPages();
}

// Walks the set from its first file to its last, calling visit on each open file, and
// leaves the remembered file open for reading at its remembered position.
bool CLogger::WalkSet(const std::function<void(CLogFile&)>& visit)
{
    const CString remembered = m_strFileName;
    const ULONGLONG position = ValueOr<ULONGLONG>(0, [&] { return m_logFile.IsOpen() ? m_logFile.GetPosition() : 0; });
    Seek(static_cast<long>(LogFormat::kFirstRecord), CFile::begin, /*bAcrossFiles=*/1);
    if (m_strFileName.IsEmpty()) return false;  // the walk back has already said why
    visit(m_logFile);
    for (CString next = m_logFile.GetNextLogFileName(); !next.IsEmpty(); next = m_logFile.GetNextLogFileName()) {
        if (!OpenSetFile(next)) return false;
        visit(m_logFile);
    }
    if (m_strFileName != remembered && !OpenSetFile(remembered)) return false;
    IgnoreFailure("the walk's position is a convenience; the file is open either way",
                  [&] { m_logFile.SeekAbsolute(position); });
    return true;
}

int CLogger::GetNumOfFiles()
{
    std::lock_guard lock(m_lock);
    m_nNumOfFiles = 1;
    int visited = 0;
    if (!WalkSet([&](CLogFile&) { ++visited; })) return 0;
    m_nNumOfFiles = visited;
    return m_nNumOfFiles;
}

int CLogger::GetTotalNumOfPages()
{
    std::lock_guard lock(m_lock);
    int pages = 0;
    if (!WalkSet([&](CLogFile& f) { pages += f.GetNumOfPages(); })) return 0;
    return pages;
}

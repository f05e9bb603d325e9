// CLogger: continuation files, navigation in a set, and pages.
#include <filesystem>

#include "framework/File.h"
#include "framework/MessageBox.h"
#include "logger/Logger.h"
#include "platform/Clock.h"

namespace {
constexpr const char* kCantOpen = "Can't open log file.";
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
    const CString stem = base + FormatTime(LocalTimeNow(), "_%d_%b_%y_%H;%M;%S");
    CString name = stem + LogFormat::kExtension;
    for (int n = 2; name == m_strFileName || std::filesystem::exists(CFile::OsPath(m_strPath + name)); ++n) {
        name = stem;
        name.AppendFormat("~%d.vkl", n);
    }
    return name;
}

void CLogger::OpenContFile()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const CString previous = m_strFileName;
    const CString next = GetContLogFileName();
    m_logFile.SetNextLogFileName(next);
    Close();
    m_strFileName = next;
    if (!OpenCurrentFile(1)) return;
    m_logFile.SetPrevLogFileName(previous);
    m_logFile.SetNumOfPages(1);
}

void CLogger::OpenNextFile()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const CString next = m_logFile.GetNextLogFileName();
    if (next.IsEmpty()) return;
    Close();
    m_strFileName = next;
    if (!m_logFile.Open((m_strPath + m_strFileName).c_str(), 0, 1, 0)) {
        m_strFileName.Empty();
        AfxMessageBox(kCantOpen, MB_OK);
    }
}

void CLogger::OpenPrevFile()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const CString prev = m_logFile.GetPrevLogFileName();
    if (prev.IsEmpty()) return;
    Close();
    m_strFileName = prev;
    if (!m_logFile.Open((m_strPath + m_strFileName).c_str(), 0, 1, 0)) {
        m_strFileName.Empty();
        AfxMessageBox(kCantOpen, MB_OK);
    }
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

namespace {
// Walks a set from its first file to its last; calls visit on each open file.
// Leaves the remembered file open for reading at its remembered position.
template <typename Visit>
bool WalkSet(CLogger& logger, CLogFile& file, CString& fileName, const CString& path, Visit visit)
{
    const CString remembered = fileName;
    ULONGLONG position = 0;
    try {
        if (file.IsOpen()) position = file.GetPosition();
    } catch (const CException&) {
    }
    logger.Seek(4, CFile::begin, 1);
    if (fileName.IsEmpty()) return false;  // the walk back has already said why
    auto fail = [&] {
        fileName.Empty();
        AfxMessageBox(kCantOpen, MB_OK);
        return false;
    };
    visit(file);
    for (CString next = file.GetNextLogFileName(); !next.IsEmpty(); next = file.GetNextLogFileName()) {
        logger.Close();
        fileName = next;
        if (!file.Open((path + fileName).c_str(), 0, 1, 0)) return fail();
        visit(file);
    }
    if (fileName != remembered) {
        logger.Close();
        fileName = remembered;
        if (!file.Open((path + fileName).c_str(), 0, 1, 0)) return fail();
    }
    try {
        file.SeekAbsolute(position);
    } catch (const CException&) {
    }
    return true;
}
}  // namespace

int CLogger::GetNumOfFiles()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_nNumOfFiles = 1;
    int visited = 0;
    if (!WalkSet(*this, m_logFile, m_strFileName, m_strPath, [&](CLogFile&) { ++visited; })) return 0;
    m_nNumOfFiles = visited;
    return m_nNumOfFiles;
}

int CLogger::GetTotalNumOfPages()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    int pages = 0;
    if (!WalkSet(*this, m_logFile, m_strFileName, m_strPath, [&](CLogFile& f) { pages += f.GetNumOfPages(); })) return 0;
    return pages;
}

// CLogger: choosing, opening, walking, renaming and copying log files.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "framework/Exceptions.h"
#include "framework/File.h"
#include "framework/MessageBox.h"
#include "framework/Path.h"
#include "logger/Logger.h"
#include "platform/Clock.h"
#include "platform/MessageBus.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"
#include "platform/Trace.h"

namespace {
constexpr const char* kCantOpen = "Can't open log file.";
constexpr const char* kCantSave =
    "Cannot save log file.\nMake sure the file is not in use and that the specified folder exists.";

// Moves a file, replacing an existing target; across file systems by copying.
bool MoveFileReplacing(const CString& from, const CString& to)
{
    namespace fs = std::filesystem;
    const fs::path src = CFile::OsPath(from), dst = CFile::OsPath(to);
    std::error_code ec;
    fs::rename(src, dst, ec);
    if (!ec) return true;
    if (ec != std::errc::cross_device_link) return false;
    if (!fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec) || ec) return false;
    fs::remove(src, ec);
    return !ec;
}

bool CopyFileReplacing(const CString& from, const CString& to)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const bool ok = fs::copy_file(CFile::OsPath(from), CFile::OsPath(to), fs::copy_options::overwrite_existing, ec);
    return ok && !ec;
}
}  // namespace

CString CLogger::GetLogFilesPath()
{
    ISettingsStore* store = GetSettingsStore();
    CString base;
    if (GetSettingInt(store, SettingsKeys::kVersionDirectory, SettingsKeys::kUseLocal, 1) == 0)
        base = GetSettingString(store, SettingsKeys::kVersionDirectory, SettingsKeys::kDirectory, "");
    if (base.IsEmpty()) base = GetHomeDirectory(store);
    return base + "\\Bin Logs\\";
}

bool CLogger::OpenLogFile(const CString& strName, int bWrite)
{
    std::lock_guard lock(m_lock);
    m_strFileName = strName;
    m_bMadeName = m_strFileName.IsEmpty();
    if (m_bMadeName) {
        m_bKovaLogName = GetSettingInt(GetSettingsStore(), SettingsKeys::kViewerSettings, SettingsKeys::kKovaLogName, 1);
        if (m_bKovaLogName != 0) {
            SetVESKFileName();
        } else {
            // One step for every other logger and process, so no two take the same index.
            CSettingsExclusive session(GetSettingsStore());
            BuildLogNameConvention();
            ++m_nLogNameIndex;
            WriteSettingInt(GetSettingsStore(), SettingsKeys::kViewerSettings, SettingsKeys::kLogNameIndex, m_nLogNameIndex);
        }
    }
    if (!LogFormat::HasLogExtension(m_strFileName)) m_strFileName += LogFormat::kExtension;
    if (m_bMadeName && bWrite) m_strFileName = UniqueLogName(m_strPath, m_strFileName);
    return OpenCurrentFile(bWrite);
}

bool CLogger::TryOpenNamedFile(int bWrite, int bNew)
{
    return m_logFile.Open((m_strPath + m_strFileName).c_str(), bWrite, bNew, /*bReadOnly=*/0) != 0;
}

bool CLogger::OpenNamedFile(int bWrite, int bNew)
{
    bool opened = TryOpenNamedFile(bWrite, bNew);
    // A name the library made that another logger or process took meanwhile: the next
    // free name of the same stem.
    for (int tries = 0; !opened && bWrite && m_bMadeName && m_logFile.GetOpenError().m_lOsError == EEXIST && tries < 100;
         ++tries) {
        m_strFileName = UniqueLogName(m_strPath, m_strFileName);
        opened = TryOpenNamedFile(bWrite, bNew);
    }
    if (opened) return true;
    m_strFileName.Empty();
    AfxMessageBox(kCantOpen, MB_OK);
    return false;
}

CString CLogger::UniqueLogName(const CString& strDirectory, const CString& strName)
{
    auto taken = [&](const CString& name) {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(CFile::OsPath(strDirectory + name), ec));
    };
    if (!taken(strName)) return strName;
    const CString ext = LogFormat::HasLogExtension(strName) ? strName.Right(4) : CString();
    CString stem = strName.Left(strName.GetLength() - ext.GetLength());
    // A name that already carries a repeat suffix counts on from its stem.
    const int tilde = stem.ReverseFind('~');
    if (tilde > 0 && tilde < stem.GetLength() - 1 &&
        stem.Mid(tilde + 1).str().find_first_not_of("0123456789") == std::string::npos)
        stem = stem.Left(tilde);
    for (int n = 2;; ++n) {
        CString name = stem;
        name.AppendFormat("~%d", n);
        name += ext;
        if (!taken(name)) return name;
    }
}

bool CLogger::OpenSetFile(const CString& strName)
{
    Close();
    m_strFileName = strName;
    return OpenNamedFile(/*bWrite=*/0, /*bNew=*/1);
}

bool CLogger::OpenCurrentFile(int bWrite)
{
    std::lock_guard lock(m_lock);
    if (m_logFile.IsOpen()) m_logFile.Close();
    if (m_strFileName.IsEmpty()) return true;
    const CString path = m_strPath + m_strFileName;
    if (!OpenNamedFile(bWrite, m_bNewFile)) return false;
    if (m_pArchive) {
        ReleaseMessageArchive(m_pArchive.get());
        m_pArchive->Abort();
        m_pArchive.reset();
    }
    m_pArchive = std::make_unique<CArchive>(&m_logFile, CArchive::store, CArchive::kDefaultBufSize);
    m_nPages = 1;
    m_nMsgsInPage = 1;
    m_bWriteFailed = false;
    WriteTrace(("Open file:\t" + CString(bWrite ? "wr\t" : "rd\t") + path + "\n").c_str());
    if (bWrite) NotifyLogFileOpened(path);
    return true;
}

void CLogger::SetVESKFileName()
{
    m_strFileName = "Log " + FormatTime(LocalTimeNow(), "%d-%b-%y %H;%M;%S") + LogFormat::kExtension;
}

CString CLogger::GetFileName()
{
    return m_strFileName;
}

CString CLogger::GetPathName()
{
    return m_strPath;
}

CString CLogger::GetFullPath()
{
    std::lock_guard lock(m_lock);
    return m_logFile.IsOpen() ? m_logFile.GetFilePath() : CString();
}

unsigned long CLogger::GetFileSize()
{
    std::lock_guard lock(m_lock);
    return ValueOr(0ul, [&] { return m_logFile.IsOpen() ? static_cast<unsigned long>(m_logFile.GetLength()) : 0; });
}

unsigned long CLogger::GetLogFilePosition()
{
    std::lock_guard lock(m_lock);
    return ValueOr(0ul, [&] { return m_logFile.IsOpen() ? static_cast<unsigned long>(m_logFile.GetPosition()) : 0; });
}

long CLogger::Seek(long lOff, unsigned int nFrom, int bAcrossFiles)
{
    std::lock_guard lock(m_lock);
    return ValueOr(0l, [&] {
        const bool atEnd = static_cast<unsigned long>(lOff) == m_logFile.GetHeaderPosition();
        if (bAcrossFiles && (lOff == static_cast<long>(LogFormat::kFirstRecord) || atEnd))
            return SeekAcrossFiles(lOff, nFrom);
        return static_cast<long>(m_logFile.Seek(static_cast<LONG>(lOff), nFrom));
    });
}

long CLogger::SeekAcrossFiles(long lOff, unsigned int nFrom)
{
    const bool backwards = lOff == static_cast<long>(LogFormat::kFirstRecord);
    long target = lOff;
    for (;;) {
        const CString next = backwards ? m_logFile.GetPrevLogFileName() : m_logFile.GetNextLogFileName();
        if (next.IsEmpty()) break;
        if (!OpenSetFile(next)) return 0;
        if (!backwards) target = static_cast<long>(m_logFile.GetHeaderPosition());
    }
    return static_cast<long>(m_logFile.Seek(static_cast<LONG>(target), nFrom));
}

unsigned int CLogger::GetFileHandle()
{
    return static_cast<unsigned int>(m_logFile.m_hFile);
}

void CLogger::SetLogFileName(const CString& strName, const CString& strPath)
{
    std::lock_guard lock(m_lock);
    m_strFileName = strName;
    m_strPath = strPath;
}

bool CLogger::RenameFile(const CString& strFrom, const CString& strTo)
{
    return TransferFile(strFrom, strTo, true);
}

bool CLogger::CopyLoggerFile(const CString& strFrom, const CString& strTo)
{
    return TransferFile(strFrom, strTo, false);
}

// Moves or copies a log file while not recording: the own file is closed first and
// reopened for reading at the same position afterwards (under its new name after a move).
bool CLogger::TransferFile(const CString& strFrom, const CString& strTo, bool bMove)
{
    std::lock_guard lock(m_lock);
    if (m_strFileName.IsEmpty() || IsLogging()) return false;
    try {
        ULONGLONG position = 0;
        if (m_logFile.IsOpen()) {
            position = m_logFile.GetPosition();
            m_logFile.Close();
        }
        const bool result = bMove ? MoveFileReplacing(strFrom, strTo) : CopyFileReplacing(strFrom, strTo);
        if (!result) {
            AfxMessageBox(kCantSave, MB_OK | MB_ICONERROR);
        } else if (bMove) {
            m_strFileName = PathFileName(strTo);
            m_strPath = PathFolder(strTo);
        }
        if (m_logFile.Open((m_strPath + m_strFileName).c_str(), /*bWrite=*/0, /*bNew=*/1, /*bReadOnly=*/0))
            m_logFile.SeekAbsolute(position);
        return result;
    } catch (const CException&) {
        return false;
    }
}

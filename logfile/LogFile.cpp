#include "logfile/LogFile.h"

#include <new>

#include "framework/Archive.h"
#include "framework/Endian.h"
#include "framework/MessageBox.h"
#include "logfile/LogFormat.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"
#include "platform/VESKMessage.h"

namespace {
constexpr const char* kRepairQuestion = "File might be corrupt - Do you want to repair it?";
constexpr const char* kRepairError = "Error repairing log file";
constexpr const char* kReopenError = "Error re-opening file for writing.";
}  // namespace

void ReadLogRecord(CFile& file, CVESKMessage& message)
{
    CArchive ar(&file, CArchive::load, CArchive::kDefaultBufSize);
    try {
        message.Serialize(ar);
    } catch (...) {
        // The read-ahead is given back on a failure too, so the position tells how far
        // the record got before it failed.
        try {
            ar.Close();
        } catch (const CException&) {
            ar.Abort();
        }
        throw;
    }
    ar.Close();
}

CLogFile::CLogFile() = default;

// Destroying the object closes the handle only; owners call Close first.
CLogFile::~CLogFile() = default;

void CLogFile::WriteHeaderPosition(DWORD pos)
{
    BYTE bytes[LogFormat::kHeaderPosSize];
    StoreLittleEndian<DWORD>(bytes, pos);
    CFile::Seek(0, begin);
    CFile::Write(bytes, sizeof bytes);
}

DWORD CLogFile::ReadHeaderPosition()
{
    BYTE bytes[LogFormat::kHeaderPosSize] = {0, 0, 0, 0};
    CFile::Seek(0, begin);
    CFile::Read(bytes, sizeof bytes);  // bytes missing from a shorter file stay 0
    return LoadLittleEndian<DWORD>(bytes);
}

bool CLogFile::AskRepair(bool autoRepair) const
{
    return autoRepair || AfxMessageBox(kRepairQuestion, MB_YESNO) == IDYES;
}

CLogFile::LoadResult CLogFile::LoadHeader()
{
    CFile::SeekAbsolute(m_dwHeaderPos);
    CArchive ar(this, CArchive::load, CArchive::kDefaultBufSize);
    try {
        m_header.Serialize(ar);
        ar.Close();
        return LoadResult::loaded;
    } catch (const CFileException&) {
    } catch (const CArchiveException&) {
    } catch (const CNotSupportedException&) {
    }
    ar.Abort();
    return LoadResult::failed;
}

void CLogFile::WriteHeaderAtEnd()
{
    CArchive ar(this, CArchive::store, CArchive::kDefaultBufSize);
    try {
        m_header.Serialize(ar);
        ar.Close();
    } catch (...) {
        ar.Abort();
        throw;
    }
}

int CLogFile::Repair()
{
    try {
        const ULONGLONG length = GetLength();
        m_dwHeaderPos = LogFormat::ClampPosition(length);
        WriteHeaderPosition(m_dwHeaderPos);
        SeekToEnd();
        WriteHeaderAtEnd();
        CFile::Flush();
        CFile::Seek(static_cast<LONG>(kFirstRecord), begin);
        return 1;
    } catch (const CFileException&) {
    } catch (const CArchiveException&) {
    }
    return 0;
}

int CLogFile::Open(const char* path, int bWrite, int bNew, int bReadOnly)
{
    if (!path || !*path) return 0;
    if (IsOpen()) Close();
    m_bInspectOnly = false;
    m_bNeedsRepair = false;
    return OpenImpl(path, bWrite, bNew, bReadOnly);
}

int CLogFile::OpenImpl(const char* path, int bWrite, int bNew, int bReadOnly)
{
    m_bWriteMode = bWrite;
    UINT flags = bReadOnly ? modeRead : modeReadWrite;
    if (bWrite) {
        flags |= shareDenyWrite | modeCreate;
        if (!bNew) flags |= modeNoTruncate;
    } else {
        flags |= shareDenyNone;
    }
    if (!CFile::Open(path, flags)) return 0;

    auto fail = [this] {
        CFile::Abort();
        return 0;
    };
    const bool autoRepair = GetSettingInt(GetSettingsStore(), SettingsKeys::kViewerSettings, SettingsKeys::kAutoRepair, 0) != 0;
    m_header.Reset();

    try {
        if (!bWrite || (!bNew && GetLength() >= LogFormat::kHeaderPosSize)) {
            // Reading, or appending to an existing file.
            bool repaired = false;
            m_dwHeaderPos = 0;
            m_dwHeaderPos = ReadHeaderPosition();
            if (m_dwHeaderPos < kFirstRecord) {
                if (!AskRepair(autoRepair)) return fail();
                if (!Repair()) return fail();
                repaired = true;
            }
            if (LoadHeader() == LoadResult::failed && m_header.m_nNumOfPages != 0) {
                if (repaired) return fail();
                if (!AskRepair(autoRepair)) return fail();
                // Reading: the bytes from H on are dropped. Appending: everything up to
                // the old end, the unreadable header included, counts as records.
                if (!bWrite) CFile::SetLength(m_dwHeaderPos);
                if (!Repair()) return fail();
            }
            if (!bWrite) {
                CFile::Seek(static_cast<LONG>(kFirstRecord), begin);
            } else {
                CFile::SetLength(m_dwHeaderPos);
                SeekToEnd();
            }
            return 1;
        }
        // A new file (or one too short to hold a header position).
        m_header.Reset();
        WriteHeaderPosition(0);
        m_dwHeaderPos = 0;
        return 1;
    } catch (const std::bad_alloc&) {
    } catch (const CException&) {
    }
    // Any other fault while loading or repairing: the file stays as it is and open.
    AfxMessageBox(kRepairError, MB_OK);
    try {
        if (!bWrite) CFile::Seek(static_cast<LONG>(kFirstRecord), begin);
    } catch (const CException&) {
    }
    return 1;
}

int CLogFile::OpenForInspection(const char* path)
{
    if (!path || !*path) return 0;
    if (IsOpen()) Close();
    m_bInspectOnly = true;
    m_bNeedsRepair = false;
    m_bWriteMode = 0;
    if (!CFile::Open(path, modeRead | shareDenyNone)) return 0;
    m_header.Reset();
    try {
        const ULONGLONG length = GetLength();
        const DWORD clampedLength = LogFormat::ClampPosition(length);
        m_dwHeaderPos = ReadHeaderPosition();
        if (m_dwHeaderPos < kFirstRecord || m_dwHeaderPos > clampedLength) {
            // What a repair would make of it: every byte after offset 4 is a record.
            m_bNeedsRepair = true;
            m_dwHeaderPos = clampedLength;
            m_header.Reset();
        } else if (LoadHeader() == LoadResult::failed && m_header.m_nNumOfPages != 0) {
            m_bNeedsRepair = true;
        }
        CFile::Seek(static_cast<LONG>(kFirstRecord), begin);
    } catch (const CException&) {
        m_bNeedsRepair = true;
    } catch (const std::bad_alloc&) {
        m_bNeedsRepair = true;
    }
    return 1;
}

void CLogFile::Close()
{
    if (!IsOpen()) return;
    const CString path = GetFilePath();
    if (m_bInspectOnly) {
        CFile::Abort();
        return;
    }
    if (m_bWriteMode) {
        try {
            CFile::Flush();
            if (GetLength() == LogFormat::kHeaderPosSize) {
                CFile::Close();
                CFile::Remove(path);
                return;
            }
            SeekToEnd();
            const ULONGLONG length = GetLength();
            const DWORD h = LogFormat::ClampPosition(length);
            WriteHeaderAtEnd();
            CFile::Flush();
            WriteHeaderPosition(h);
            m_dwHeaderPos = h;
            CFile::Close();
        } catch (const CException&) {
            CFile::Abort();
        }
        return;
    }
    if (path.IsEmpty()) return;
    // Reading: the header is written back in the current layout where it was.
    CFile::Abort();
    if (!CFile::Open(path, modeReadWrite | shareDenyNone)) return;  // left unchanged
    try {
        CFile::SeekAbsolute(m_dwHeaderPos);
        CFile::SetLength(m_dwHeaderPos);
        SeekToEnd();
        WriteHeaderAtEnd();
        CFile::Flush();
        CFile::Close();
    } catch (const CException&) {
        CFile::Abort();
    }
}

int CLogFile::SwitchToRead()
{
    if (!m_bWriteMode || !IsOpen()) return 0;
    const CString path = GetFilePath();
    try {
        CFile::Flush();
        if (GetLength() == LogFormat::kHeaderPosSize) {
            CFile::Close();
            CFile::Remove(path);
            return 0;
        }
        SeekToEnd();
        const ULONGLONG length = GetLength();
        m_dwHeaderPos = LogFormat::ClampPosition(length);
        WriteHeaderAtEnd();
        CFile::Flush();
        WriteHeaderPosition(m_dwHeaderPos);
        CFile::SeekAbsolute(m_dwHeaderPos);
    } catch (const CException&) {
        CFile::Abort();
        return 0;
    }
    m_bWriteMode = 0;
    CFile::Abort();
    if (!CFile::Open(path, modeReadWrite | shareDenyNone)) return 0;
    CFile::SeekAbsolute(m_dwHeaderPos);
    return 1;
}

int CLogFile::SwitchToWrite()
{
    if (m_bWriteMode || !IsOpen()) return 0;
    const CString path = GetFilePath();
    Close();
    if (!CFile::Open(path, modeReadWrite | shareDenyWrite)) {
        AfxMessageBox(kReopenError, MB_OK | MB_ICONERROR);
        return 0;
    }
    try {
        m_dwHeaderPos = ReadHeaderPosition();
        CFile::SetLength(m_dwHeaderPos);
        SeekToEnd();
    } catch (const CException&) {
        CFile::Abort();
        return 0;
    }
    m_bWriteMode = 1;
    return 1;
}

ULONGLONG CLogFile::Seek(LONG offset, UINT from)
{
    if (offset < 0 && from == begin) {
        // An unsigned position of 2 GiB or more passed through the signed interface.
        CFile::Seek(static_cast<LONG>((static_cast<DWORD>(offset) & 0x7FFFFFFFu) + 1), begin);
        return CFile::Seek(0x7FFFFFFF, current);
    }
    return CFile::Seek(offset, from);
}

void CLogFile::ClearHeader()
{
    m_header.m_bookmarks.clear();
    m_header.ClearAnchor();
    m_header.m_strPrevFileName.Empty();
    m_header.m_strNextFileName.Empty();
}

void CLogFile::CopyHeaderTo(CLogFileHeader* target) const
{
    if (!target) return;
    target->m_strVESKVersion = m_header.m_strVESKVersion;
    target->m_strUEVersion = m_header.m_strUEVersion;
    target->m_strFileDescription = m_header.m_strFileDescription;
    target->m_creationTime = m_header.m_creationTime;
    target->ClearAnchor();
    target->m_bookmarks.clear();
}

#include "logfile/LogFile.h"

#include <algorithm>
#include <cassert>
#include <new>

#include "framework/Archive.h"
#include "framework/Endian.h"
#include "framework/MessageBox.h"
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
    ReadThroughFreshArchive(file, [&message](CArchive& ar) { message.Serialize(ar); });
}

namespace {
// Why a record with these fields is none, or null when they pass the validity rules.
// The data length's upper bound is the loader's own (CVESKMessage::kMaxDataLength).
const char* RecordFieldsFault(int32_t kind, int32_t device, const SYSTEMTIME& t)
{
    if (kind < 1 || kind > 255) return "implausible record: kind out of range";
    if (device < 0 || device >= LogFormat::kMaxDevices) return "implausible record: device number out of range";
    if (t.wMonth > 12 || t.wDayOfWeek > 6 || t.wDay > 31 || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
        t.wMilliseconds > 999)
        return "implausible record: PC time stamp out of range";
    return nullptr;
}

// A record's fixed fields: kind, device and PC time before the data length, and the
// message index and further value after the data.
constexpr size_t kRecordTimeAt = 8;
constexpr size_t kRecordLengthAt = kRecordTimeAt + CSystemTime::kStoredSize;
constexpr size_t kRecordHead = kRecordLengthAt + 4;
constexpr size_t kRecordTail = 8 + 4;
}  // namespace

bool IsPlausibleRecord(const CVESKMessage& message, CString* why)
{
    const char* fault = RecordFieldsFault(message.GetKind(), message.GetDeviceNumber(), message.GetPCTimeStamp());
    if (fault && why) *why = fault;
    return fault == nullptr;
}

void RecordSkim::Add(ULONGLONG index, const CSystemTime& time)
{
    if (records++ == 0) {
        firstIndex = index;
        firstTime = time;
    }
    lastIndex = index;
    lastTime = time;
}

size_t SkimLogRecords(const BYTE* data, size_t size, RecordSkim& skim, bool* ruleBroken)
{
    size_t at = 0, last = 0;
    ULONGLONG found = 0;
    bool broken = false;
    while (size - at >= kRecordHead + kRecordTail) {
        const BYTE* record = data + at;
        const auto length = static_cast<int32_t>(LoadLittleEndian<uint32_t>(record + kRecordLengthAt));
        if ((broken = length > CVESKMessage::kMaxDataLength)) break;
        const size_t dataBytes = length > 0 ? static_cast<size_t>(length) : 0;
        if (size - at - kRecordHead - kRecordTail < dataBytes) break;
        if ((broken = RecordFieldsFault(static_cast<int32_t>(LoadLittleEndian<uint32_t>(record)),
                                        static_cast<int32_t>(LoadLittleEndian<uint32_t>(record + 4)),
                                        CSystemTime::LoadWords(record + kRecordTimeAt)) != nullptr))
            break;
        if (found++ == 0)
            skim.Add(LoadLittleEndian<uint64_t>(record + kRecordHead + dataBytes),
                     CSystemTime::Load(record + kRecordTimeAt));
        last = at;
        at += kRecordHead + dataBytes + kRecordTail;
    }
    if (found > 1) {
        // The ones between are only counted; the last one is taken as the first was.
        const BYTE* record = data + last;
        const size_t dataBytes = at - last - kRecordHead - kRecordTail;
        skim.records += found - 2;
        skim.Add(LoadLittleEndian<uint64_t>(record + kRecordHead + dataBytes),
                 CSystemTime::Load(record + kRecordTimeAt));
    }
    if (ruleBroken) *ruleBroken = broken;
    return at;
}

void ReadCheckedLogRecord(CFile& file, CVESKMessage& message, ULONGLONG limit)
{
    ReadLogRecord(file, message);
    CString why;
    if (!IsPlausibleRecord(message, &why))
        throw CArchiveException(CArchiveException::badIndex, file.GetFilePath(), why);
    if (file.GetPosition() > limit)
        throw CArchiveException(CArchiveException::endOfFile, file.GetFilePath(), "record runs into the header");
}

void SkimLogFile(CFile& file, ULONGLONG& offset, ULONGLONG limit, RecordSkim& skim,
                 const std::function<void(ULONGLONG)>& progress)
{
    CVESKMessage message;
    while (offset < limit) {
        file.SeekAbsolute(offset);
        const BYTE* run = nullptr;
        const UINT got = file.ReadDirect(run, static_cast<UINT>(std::min<ULONGLONG>(limit - offset, 0xFFFFFFFFu)));
        size_t used = SkimLogRecords(run, got, skim);
        if (used == 0) {
            file.SeekAbsolute(offset);
            ReadCheckedLogRecord(file, message, limit);
            skim.Add(message.GetMessageIndex(), message.GetPCTimeStamp());
            used = static_cast<size_t>(file.GetPosition() - offset);
        }
        offset += used;
        if (progress) progress(offset);
    }
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

// Loads the header at `pos`: true when it loads and ends exactly at `end`.
bool CLogFile::LoadHeaderAt(DWORD pos, ULONGLONG end)
{
    CFile::SeekAbsolute(pos);
    CArchive ar(this, CArchive::load, CArchive::kDefaultBufSize);
    try {
        m_header.Serialize(ar);
        ar.Close();
    } catch (const CFileException&) {
        ar.Abort();
        return false;
    } catch (const CArchiveException&) {
        ar.Abort();
        return false;
    } catch (const CNotSupportedException&) {
        ar.Abort();
        return false;
    }
    return CFile::GetPosition() == end;
}

CLogFile::Soundness CLogFile::CheckSound()
{
    const ULONGLONG length = GetLength();
    m_dwHeaderPos = ReadHeaderPosition();
    if (m_dwHeaderPos < kFirstRecord || m_dwHeaderPos > length) return Soundness::damaged;
    return LoadHeaderAt(m_dwHeaderPos, length) ? Soundness::sound : Soundness::damaged;
}

namespace {
// Whether a header of the current layout could start at `pos`: its first string holds
// the header-version text. Cheap enough to ask at every record boundary.
bool StartsWithHeader(CFile& file, ULONGLONG pos)
{
    file.SeekAbsolute(pos);
    BYTE first[256];
    if (file.Read(first, 1) != 1 || first[0] == 0xFF) return false;
    const UINT n = first[0];
    if (file.Read(first + 1, n) != n) return false;
    const std::string text(reinterpret_cast<const char*>(first + 1), n);
    return text.find(CLogFileHeader::kHeaderVersionMark) != std::string::npos;
}
}  // namespace

// Reads the records from offset 4 while they pass the validity rules and end inside the
// file, and looks at every record boundary for a complete header that ends the file.
CLogFile::RepairReport CLogFile::ScanForRepair()
{
    const ULONGLONG length = GetLength();
    const ULONGLONG limit = std::min<ULONGLONG>(length, LogFormat::kMaxPosition);
    RepairReport report;
    ULONGLONG pos = kFirstRecord;
    for (;;) {
        if (StartsWithHeader(*this, pos) && LoadHeaderAt(static_cast<DWORD>(pos), length)) {
            report.headerKept = true;
            break;
        }
        if (pos >= limit) break;
        CFile::SeekAbsolute(pos);
        CVESKMessage message;
        try {
            ReadCheckedLogRecord(*this, message, limit);
        } catch (const CArchiveException&) {
            break;
        }
        pos = CFile::GetPosition();
        ++report.records;
    }
    if (!report.headerKept) m_header.Reset();
    report.recordsEnd = static_cast<DWORD>(std::min<ULONGLONG>(pos, limit));
    report.droppedBytes = report.headerKept ? 0 : length - std::min(pos, length);
    return report;
}

// Only cuts: the records kept stay where they are. Throws the file's or the archive's
// exception when a write fails.
// The header written anew behind the records, as a close writes it: 0 in the first word
// first and H last, so that a process killed in between leaves the old header or the new
// one for repair to keep.
void CLogFile::RewriteHeader()
{
    WriteHeaderPosition(0);
    CFile::SetLength(m_dwHeaderPos);
    SeekToEnd();
    WriteHeaderAtEnd();
    CFile::Flush();
    WriteHeaderPosition(m_dwHeaderPos);
}

void CLogFile::Repair()
{
    m_repair = ScanForRepair();
    // Nothing recognised: not a log file, and cutting it would only destroy it.
    if (!m_repair.headerKept && m_repair.records == 0 && m_repair.droppedBytes > 0)
        throw CArchiveException(CArchiveException::badIndex, GetFilePath(), "no record and no header: not a log file");
    m_dwHeaderPos = m_repair.recordsEnd;
    if (m_repair.headerKept) {
        WriteHeaderPosition(m_dwHeaderPos);
    } else {
        // As a close writes it, so that a repair killed part-way leaves a file the next
        // repair reads the same way.
        m_header.m_nNumOfPages = LogFormat::PagesForRecords(m_repair.records);
        RewriteHeader();
    }
    CFile::Flush();
    m_bNeedsRepair = false;
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

bool CLogFile::OpenOs(const char* path, UINT flags)
{
    CFileException error;
    if (!CFile::Open(path, flags, &error)) {
        m_openError = error;
        return false;
    }
    if (!IsRegularFile()) {
        m_openError = CFileException(CFileException::invalidFile, 0, path);
        CFile::Abort();
        return false;
    }
    return true;
}

int CLogFile::Fail()
{
    CFile::Abort();
    return 0;
}

int CLogFile::Open(const char* path, int bWrite, int bNew, int bReadOnly)
{
    if (!path || !*path) return 0;
    if (IsOpen()) Close();
    m_bInspectOnly = false;
    m_bNeedsRepair = false;
    m_bBeingRecorded = false;
    m_repair = RepairReport();
    m_openError = CFileException();
    m_bWriteMode = bWrite;
    UINT flags = bReadOnly ? modeRead : modeReadWrite;
    if (bWrite)
        flags |= shareDenyWrite | modeCreate | modeNoFollow | (bNew ? modeCreateNew : modeNoTruncate);
    else
        flags |= shareDenyNone;
    if (!OpenOs(path, flags)) return 0;

    const bool autoRepair =
        GetSettingInt(GetSettingsStore(), SettingsKeys::kViewerSettings, SettingsKeys::kAutoRepair, 0) != 0;
    m_header.Reset();
    try {
        const ULONGLONG length = GetLength();
        if (bWrite && length == 0) {
            // A new file: 0 in the header position word until it is closed.
            WriteHeaderPosition(0);
            m_dwHeaderPos = 0;
            m_loadedHeader = m_header;
            return 1;
        }
        if (length < LogFormat::kHeaderPosSize) {
            // Too short to be a log file: neither read nor written over.
            m_openError = CFileException(CFileException::invalidFile, 0, path);
            return Fail();
        }
        return OpenExisting(bWrite != 0, autoRepair);
    } catch (const std::bad_alloc&) {
    } catch (const CException&) {
    }
    // A fault while loading or repairing. Reading goes on with the file as it is, as far
    // as its records are whole; writing is refused, so nothing is written after damage.
    AfxMessageBox(kRepairError, MB_OK);
    if (bWrite) return Fail();
    m_bNeedsRepair = true;
    m_dwHeaderPos = m_repair.recordsEnd >= kFirstRecord ? m_repair.recordsEnd : kFirstRecord;
    m_loadedHeader = m_header;
    IgnoreFailure("the reader finds the position where it is", [&] { CFile::SeekAbsolute(kFirstRecord); });
    return 1;
}

// Reading, or appending to an existing file.
int CLogFile::OpenExisting(bool bWrite, bool autoRepair)
{
    if (CheckSound() == Soundness::damaged) {
        m_bNeedsRepair = true;
        if (!AskRepair(autoRepair)) return Fail();
        Repair();
    }
    m_loadedHeader = m_header;
    if (!bWrite) {
        CFile::SeekAbsolute(kFirstRecord);
        return 1;
    }
    // The 0 goes in before the old header is cut off: from here until the close, a
    // killed process leaves a file that repair reads from offset 4.
    WriteHeaderPosition(0);
    CFile::SetLength(m_dwHeaderPos);
    SeekToEnd();
    return 1;
}

int CLogFile::OpenForInspection(const char* path)
{
    if (!path || !*path) return 0;
    if (IsOpen()) Close();
    m_bInspectOnly = true;
    m_bNeedsRepair = false;
    m_bBeingRecorded = false;
    m_repair = RepairReport();
    m_openError = CFileException();
    m_bWriteMode = 0;
    if (!OpenOs(path, modeRead | shareDenyNone)) return 0;
    {
        // Another handle with write access refuses a deny-write open: the file is being
        // recorded (or changed) right now.
        CFile probe;
        CFileException error;
        m_bBeingRecorded =
            !probe.Open(path, modeRead | shareDenyWrite, &error) && error.m_cause == CFileException::sharingViolation;
    }
    m_header.Reset();
    try {
        if (GetLength() < LogFormat::kHeaderPosSize) {
            m_bNeedsRepair = true;
            m_dwHeaderPos = kFirstRecord;
        } else if (CheckSound() == Soundness::damaged) {
            // What a repair would make of it.
            m_bNeedsRepair = true;
            m_repair = ScanForRepair();
            if (!m_repair.headerKept) m_header.m_nNumOfPages = LogFormat::PagesForRecords(m_repair.records);
            m_dwHeaderPos = m_repair.recordsEnd;
        }
        CFile::SeekAbsolute(kFirstRecord);
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
    if (!m_bWriteMode) {
        CloseReading();
        return;
    }
    try {
        CFile::Flush();
        if (GetLength() == LogFormat::kHeaderPosSize) {
            CFile::Close();
            CFile::Remove(path);
            return;
        }
        SeekToEnd();
        const DWORD h = LogFormat::ClampPosition(GetLength());
        // The header before H: a close killed in between leaves a header that repair keeps.
        WriteHeaderAtEnd();
        CFile::Flush();
        WriteHeaderPosition(h);
        m_dwHeaderPos = h;
        m_loadedHeader = m_header;
        CFile::Close();
    } catch (const CException&) {
        CFile::Abort();
    }
}

// A file that was only read stays as it was: the header is written back, in the current
// layout where it was, only when something in it changed while the file was open.
void CLogFile::CloseReading()
{
    const CString path = GetFilePath();
    const bool changed = !m_header.SameContent(m_loadedHeader);
    CFile::Abort();
    if (path.IsEmpty() || !changed || m_bNeedsRepair) return;
    if (!CFile::Open(path, modeReadWrite | shareDenyNone | modeNoFollow)) return;  // left unchanged
    try {
        RewriteHeader();
        m_loadedHeader = m_header;
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
        m_dwHeaderPos = LogFormat::ClampPosition(GetLength());
        WriteHeaderAtEnd();
        CFile::Flush();
        WriteHeaderPosition(m_dwHeaderPos);
        m_loadedHeader = m_header;
    } catch (const CException&) {
        CFile::Abort();
        return 0;
    }
    m_bWriteMode = 0;
    CFile::Abort();
    if (!OpenOs(path, modeReadWrite | shareDenyNone)) return 0;
    CFile::SeekAbsolute(m_dwHeaderPos);
    return 1;
}

int CLogFile::SwitchToWrite()
{
    if (m_bWriteMode || !IsOpen()) return 0;
    const CString path = GetFilePath();
    Close();
    if (!OpenOs(path, modeReadWrite | shareDenyWrite | modeNoFollow)) {
        AfxMessageBox(kReopenError, MB_OK | MB_ICONERROR);
        return 0;
    }
    try {
        const DWORD h = ReadHeaderPosition();
        // Never cut at a position the file does not hold (that would grow it).
        if (h < kFirstRecord || h > GetLength()) return Fail();
        m_dwHeaderPos = h;
        WriteHeaderPosition(0);
        CFile::SetLength(m_dwHeaderPos);
        SeekToEnd();
    } catch (const CException&) {
        return Fail();
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
    assert(target != &m_header);
    target->m_strVESKVersion = m_header.m_strVESKVersion;
    target->m_strUEVersion = m_header.m_strUEVersion;
    target->m_strFileDescription = m_header.m_strFileDescription;
    target->m_creationTime = m_header.m_creationTime;
    target->ClearAnchor();
    target->m_bookmarks.clear();
}

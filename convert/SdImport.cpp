// SD-card log import: ConvertSDLogToVkl with its worker (the packet index, time stamps,
// one message per indexed packet) and the batch ConvertSDLogsToVkl (plain sequential
// reading, no time stamps). The dump's layout and the index are in convert/SdLog.h.
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "convert/ChangePageProgressDlg.h"
#include "convert/DiagLogHeaderReader.h"
#include "convert/DiagLogPacketReader.h"
#include "convert/LogFileConverter.h"
#include "convert/SdImportTexts.h"
#include "convert/SdLog.h"
#include "convert/UseModuleResources.h"
#include "framework/MessageBox.h"
#include "framework/Path.h"
#include "framework/SeTranslator.h"
#include "platform/Clock.h"
#include "platform/Settings.h"
#include "resources/resource.h"

namespace {

constexpr size_t kPendingGroup = 300000;  // pending messages written together
constexpr int kArchiveBuffer = 4096;
// A written record: kind, device, time stamp, data length, data, index, further value.
constexpr uint64_t kRecordOverhead = 4 + 4 + 16 + 4 + 8 + 4;
// Records end short of 4 GiB by room for the header written at the close.
constexpr uint64_t kRecordsLimit = LogFormat::kMaxPosition - 0x100000;

// The messages read and not yet written, each a kind-1 message of device 0 with further
// value 1: their bodies one after another in one block, and a length and time stamp each.
// The storage stays from group to group, so a message costs no allocation of its own.
class CPendingGroup {
public:
    struct Entry {
        uint32_t length;
        SYSTEMTIME time;
    };
    size_t size() const { return m_entries.size(); }
    void clear()
    {
        m_bytes.clear();
        m_entries.clear();
        m_taken = 0;
    }
    void reserve(size_t messages) { m_entries.reserve(messages); }
    // The block that the next body is appended to; Add takes it in.
    std::vector<BYTE>& Bytes() { return m_bytes; }
    void Add(const SYSTEMTIME& time)
    {
        m_entries.push_back({static_cast<uint32_t>(m_bytes.size() - m_taken), time});
        m_taken = m_bytes.size();
    }
    const std::vector<Entry>& Entries() const { return m_entries; }
    const BYTE* Data() const { return m_bytes.data(); }

private:
    std::vector<BYTE> m_bytes;
    std::vector<Entry> m_entries;
    size_t m_taken = 0;  // bytes of the block that belong to entries
};

// Writes pending messages to the new log in order, numbered from 1, and forgets them.
class CSdLogWriter {
public:
    CSdLogWriter(CArchive& out, SdImportSummary& summary) : m_out(out), m_summary(summary) {}
    // False when a record would pass the log's size limit: nothing more is written.
    bool Write(CPendingGroup& pending)
    {
        const BYTE* data = pending.Data();
        for (const CPendingGroup::Entry& entry : pending.Entries()) {
            const uint64_t size = kRecordOverhead + entry.length;
            if (m_end + size > kRecordsLimit) {
                m_summary.bOutputFull = true;
                pending.clear();
                return false;
            }
            CVESKMessage::StoreRecord(m_out, /*kind=*/1, /*device=*/0, entry.time, data,
                                      static_cast<int32_t>(entry.length), ++m_summary.packets, /*further=*/1);
            data += entry.length;
            m_end += size;
            Note(entry.time);
        }
        pending.clear();
        return true;
    }

private:
    void Note(const SYSTEMTIME& t)
    {
        if (!m_summary.bHaveTimes) m_summary.first = t;
        m_summary.last = t;
        m_summary.bHaveTimes = true;
    }
    CArchive& m_out;
    SdImportSummary& m_summary;
    uint64_t m_end = LogFormat::kFirstRecord;
};

// How reading one packet ended.
enum class PacketRead { ok, readError, end };

// Reads one packet at the file's position, its body (if it has one to convert, `made`)
// appended to the pending block, and gives the loading archive's read-ahead back. A
// failed read is an error when it had consumed less than the whole file, the end of the
// file otherwise.
PacketRead ReadPacket(CArchive& in, CFile& file, ULONGLONG length, CDiagLogPacketReader& reader, CPendingGroup& pending,
                      bool& made)
{
    made = false;
    try {
        made = reader.ReadInto(in, pending.Bytes());
        in.Flush();
        return PacketRead::ok;
    } catch (const CArchiveException&) {
    } catch (const CFileException&) {
    }
    try {
        in.Flush();  // whatever the failed read left unconsumed goes back
    } catch (const CException&) {
    }
    return IsReadErrorPosition(file.GetPosition(), length) ? PacketRead::readError : PacketRead::end;
}

void EnsureFolder(const CString& path)
{
    std::error_code ec;
    std::filesystem::create_directories(CFile::OsPath(path), ec);
}

// Writes every error text, each followed by "\n", into a new file at `path`.
bool WriteErrorFile(const CString& path, const std::list<CString>& errors)
{
    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::modeNoFollow)) return false;
    try {
        for (const CString& text : errors) {
            file.Write(text.GetString(), static_cast<UINT>(text.GetLength()));
            file.Write("\n", 1);
        }
        file.Close();
        return true;
    } catch (const CFileException&) {
        file.Abort();
        return false;
    }
}

}  // namespace

// ---- the single conversion ----

void CConverterState::BuildPacketIndex(const BYTE* data, uint64_t size)
{
    const SdLog::IndexLimits limits{static_cast<uint32_t>(std::max(m_nFirstPacketOffset, 0)), m_wMinPacketLength,
                                    m_wMaxPacketLength};
    SdLog::BuildPacketIndex(data, size, limits, m_packetOffsets);
}

namespace {

// Reads the indexed packets into the new log. True when m_evRun stopped the reading.
bool ImportIndexedPackets(CConverterState& s, CArchive& in, const CDiagLogHeaderReader& header)
{
    const ULONGLONG length = s.m_sdInFile.GetLength();
    const ULONGLONG step = length / 100;
    ULONGLONG k = 1;
    CArchive out(&s.m_importLog, CArchive::store, kArchiveBuffer);
    CSdLogWriter writer(out, s.m_sdSummary);
    SdLog::CTimeStamper stamper(header.GetStartTime());
    CPendingGroup pending;
    pending.reserve(std::min(kPendingGroup + 1, s.m_packetOffsets.size()));
    CDiagLogPacketReader reader;
    bool made = false;
    bool stopped = false;
    for (const uint32_t offset : s.m_packetOffsets) {
        if (s.IsStopRequested()) {
            stopped = true;
            break;
        }
        s.m_sdInFile.SeekAbsolute(offset);
        if (offset > step * k) {
            ++k;
            s.PostProgress(offset);
        }
        const PacketRead read = ReadPacket(in, s.m_sdInFile, length, reader, pending, made);
        if (read == PacketRead::end) break;
        if (read == PacketRead::readError) {
            pending.clear();
            if (!s.IsAbandoned()) AfxMessageBox(SdImportTexts::kReadError);
            continue;
        }
        if (!made) continue;
        pending.Add(stamper.Stamp(reader.GetDeviceTime(), reader.GetTimeBaseFlag()));
        if (pending.size() > kPendingGroup && !writer.Write(pending)) break;
    }
    in.Close();
    writer.Write(pending);
    out.Close();
    return stopped;
}

// The import's reading and writing, up to closing both files.
bool RunSdImport(CConverterState& s)
{
    CArchive in(&s.m_sdInFile, CArchive::load, kArchiveBuffer);
    const ULONGLONG length = s.m_sdInFile.GetLength();
    CDiagLogHeaderReader header;
    header.Serialize(in);
    in.Flush();
    {
        const SdLog::CFileView view(s.m_sdInFile, length);  // released as soon as the index is built
        s.BuildPacketIndex(view.Data(), view.Size());
    }
    s.m_sdInFile.SeekToBegin();
    const bool stopped = ImportIndexedPackets(s, in, header);
    s.m_sdInFile.Close();
    s.m_importLog.Close();  // the log gets its header; an empty one is removed
    return stopped;
}

}  // namespace

UINT CConverterState::SdImportThread(CConverterState& s)
{
    CString failure;
    bool stopped = false;
    {
        CSeTranslatorScope translator;
        try {
            stopped = RunSdImport(s);
        } catch (const SE_Exception&) {
            failure = SdImportTexts::kFailedFault;
        } catch (const std::bad_alloc&) {
            failure = SdImportTexts::kFailedMemory;
        } catch (const CException&) {
            failure = SdImportTexts::kFailed;
        }
    }
    CloseQuietly(s.m_sdInFile);
    CloseQuietly(s.m_importLog);
    s.CloseProgressWindow();
    if (!failure.IsEmpty()) {
        s.m_bSdImportOk = 0;
        s.m_bSdImporting = 0;
        s.ClearThread();
        s.m_evDone.SetEvent();
        if (!s.IsAbandoned()) AfxMessageBox(failure);
        return 1;
    }
    // The outcome is set before m_evDone, so a host that sees the end reads it.
    s.m_bSdImporting = 0;
    s.m_bSdImportOk = 1;
    s.ClearThread();
    s.m_evDone.SetEvent();
    if (!stopped) s.ShowOutcomeOfOwner(SdImportTexts::kErrorFile);
    return 1;
}

bool CConverterState::ShowOutcomeOfOwner(const char* errorFileName)
{
    std::lock_guard<std::mutex> lock(m_ownerMutex);
    return m_pOwner && m_pOwner->ShowConversionOutcome(errorFileName);
}

bool CLogFileConverter::ConvertSDLogToVkl(const char* sdPath, const char* vklPath)
{
    if (!m_sdInFile.Open(sdPath, CFile::modeRead | CFile::shareDenyWrite)) {
        AfxMessageBox(SdImportTexts::kOpenForReading);
        return false;
    }
    if (m_sdInFile.GetLength() > SdLog::kMaxSdLength) {
        CConverterState::CloseQuietly(m_sdInFile);
        AfxMessageBox(SdImportTexts::kOpenForReading);
        return false;
    }
    if (!m_importLog.Open(vklPath, 1, 1, 0)) {
        AfxMessageBox(SdImportTexts::kOpenForWriting);
        CConverterState::CloseQuietly(m_sdInFile);
        return false;
    }
    UseModuleResources resources;
    m_state->m_sdSummary = SdImportSummary();
    m_bSdImporting = 1;
    m_bSdImportOk = 0;
    StartWorker(CString(SdImportTexts::kConverting) + sdPath, m_sdInFile.GetLength(), &CConverterState::SdImportThread);
    return true;
}

// ---- the batch ----

namespace {

// Reads the packets in plain sequence from the header's end into the new log. A packet
// of another protocol makes no message and its body is stepped over; a length below 4
// ends the reading (nothing would advance it).
void ImportSequentialPackets(CConverterState& s, CArchive& in, ULONGLONG length)
{
    CArchive out(&s.m_importLog, CArchive::store, kArchiveBuffer);
    CSdLogWriter writer(out, s.m_sdSummary);
    CPendingGroup pending;
    CDiagLogPacketReader reader;
    bool made = false;
    while (s.m_sdInFile.GetPosition() < length && !s.IsStopRequested()) {
        const ULONGLONG start = s.m_sdInFile.GetPosition();
        const PacketRead read = ReadPacket(in, s.m_sdInFile, length, reader, pending, made);
        if (read == PacketRead::end) break;
        if (read == PacketRead::readError) {
            pending.clear();
            if (s.m_sdInFile.GetPosition() <= start) break;  // nothing was consumed: no way on
            continue;
        }
        if (reader.m_wLength < SdLog::kPacketHeaderSize) break;
        if (!made) {
            const ULONGLONG next = start + reader.m_wLength;
            if (next >= length) break;
            s.m_sdInFile.SeekAbsolute(next);
            continue;
        }
        pending.Add(LocalTimeNow());  // no time stamps here: the time the packet was read
        if (pending.size() > kPendingGroup && !writer.Write(pending)) break;
    }
    in.Close();
    writer.Write(pending);
    out.Close();
}

// The tool directory's file for the batch's errors about one output file.
CString BatchErrorFilePath(const CString& home, const CString& outputPath)
{
    CString title = PathFileName(outputPath);
    if (const int dot = title.ReverseFind('.'); dot >= 0) title = title.Left(dot);
    CString path;
    path.Format(SdImportTexts::kBatchErrorFile, home.GetString(), title.GetString());
    return path;
}

// The output of one batch input: Temp folder, the input's name less its last 4
// characters, the local time. A name that is taken gets a number before its last "_".
CString BatchOutputPath(const CString& tempFolder, const CString& sdPath)
{
    const CString name = PathFileName(sdPath);
    const CString base = tempFolder + name.Left(std::max(0, name.GetLength() - 4)) +
                         FormatTime(LocalTimeNow(), SdImportTexts::kBatchTimePattern);
    CString path = base + LogFormat::kExtension;
    CFileStatus status;
    for (int n = 2; CFile::GetStatus(path, status) && n < 10000; ++n) {
        path.Format("%s%d_%s", base.GetString(), n, LogFormat::kExtension);
    }
    return path;
}

}  // namespace

int CLogFileConverter::ConvertOneSdLog()
{
    CConverterState& s = *m_state;
    const CString output = m_importLog.GetFilePath();
    bool failed = false;
    {
        CSeTranslatorScope translator;
        try {
            CArchive in(&m_sdInFile, CArchive::load, kArchiveBuffer);
            const ULONGLONG length = m_sdInFile.GetLength();
            CDiagLogHeaderReader header;
            header.Serialize(in);
            in.Flush();
            ImportSequentialPackets(s, in, length);
        } catch (const SE_Exception&) {
            failed = true;
        } catch (const std::bad_alloc&) {
            failed = true;
        } catch (const CException&) {
            failed = true;
        }
    }
    CConverterState::CloseQuietly(m_sdInFile);
    CConverterState::CloseQuietly(m_importLog);
    s.CloseProgressWindow();
    m_bSdImporting = 0;
    m_bSdImportOk = failed ? 0 : 1;
    s.ClearThread();
    m_evDone.SetEvent();
    if (failed) return 0;
    if (m_errors.empty()) return 1;
    const CString home = GetHomeDirectory();
    EnsureFolder(home + "\\Bin Logs");
    if (WriteErrorFile(BatchErrorFilePath(home, output), m_errors)) m_errors.clear();
    return 0;
}

bool CLogFileConverter::ConvertSDLogsToVkl(std::list<CString>& sdPaths, std::list<CString>& vklPaths, CWnd* pParent)
{
    const CString home = GetHomeDirectory();
    const CString tempFolder = home + SdImportTexts::kTempFolder;
    EnsureFolder(tempFolder);
    UseModuleResources resources;
    auto dialog = std::make_unique<CChangePageProgressDlg>(SdImportTexts::kBatchTitle, pParent);
    m_pBatchDlg = dialog.get();
    dialog->SetProgressSize(static_cast<int>(std::min<size_t>(sdPaths.size(), 0x7FFFFFFF)));
    CChangePageProgressDlg::CreateMe(dialog.get(), pParent);
    std::list<CString> kept;
    bool anyErrors = false;
    CString text;
    for (const CString& sdPath : sdPaths) {
        const CString output = BatchOutputPath(tempFolder, sdPath);
        if (!m_sdInFile.Open(sdPath, CFile::modeRead | CFile::shareDenyWrite) ||
            m_sdInFile.GetLength() > SdLog::kMaxSdLength) {
            CConverterState::CloseQuietly(m_sdInFile);
            text.Format(SdImportTexts::kBatchOpenForReading, sdPath.GetString());
            AfxMessageBox(text);
            continue;
        }
        if (!m_importLog.Open(output, 1, 1, 0)) {
            text.Format(SdImportTexts::kBatchOpenForWriting, output.GetString());
            AfxMessageBox(text);
            CConverterState::CloseQuietly(m_sdInFile);
            continue;
        }
        m_evDone.ResetEvent();
        m_bSdImporting = 1;
        m_bSdImportOk = 0;
        m_errors.clear();
        m_state->m_sdSummary = SdImportSummary();
        dialog->StepItUp(1);
        if (ConvertOneSdLog())
            kept.push_back(output);
        else
            anyErrors = true;
    }
    m_pBatchDlg = nullptr;
    dialog.reset();
    if (anyErrors) {
        text.Format(SdImportTexts::kBatchEndedWithErrors, home.GetString());
        AfxMessageBox(text);
    }
    vklPaths.splice(vklPaths.end(), kept);
    return true;
}

// CLogger: merging log files, and extracting a range of messages into a new one.
//
// Every operation reads its source by the record reading convention: one fresh loading
// archive per record, from offset 4 up to the header position.
//
// The static forms and the extraction copy records to the end of their target in one of
// two ways, byte for byte the same:
// - each record with its own write: serialised through a store archive over the target
//   and flushed before the next record is read (the reference);
// - in runs: records are serialised into memory and written about 1 MiB at a time.
// Either way, whenever the operation reports anything (it returns, sets an error text,
// shows a box or reports progress) the target holds exactly the records processed so
// far; a process killed at any moment leaves the old records and a prefix of the new
// ones, whole except possibly the last; and a failed write loses exactly the record it
// was writing: the file is cut back to where that record began. A record that would end
// past the largest position a log file holds counts as a failed write.
//
// The merges into a logger, MergeFiles(CLogger*) and MergeFiles(), hand every record to
// the logger's writer, which filters, counts pages, marks asserts and rolls over.
#include <atomic>
#include <cerrno>
#include <new>
#include <vector>

#include "framework/Endian.h"
#include "framework/Exceptions.h"
#include "framework/File.h"
#include "framework/MessageBox.h"
#include "framework/Path.h"
#include "logger/Logger.h"
#include "platform/MessageBus.h"
#include "platform/Progress.h"
#include "platform/VESKMessage.h"

namespace {
constexpr const char* kReadError = "Error reading log file.";
constexpr const char* kCantOpenForWriting = "There was problem openning %s for writing";
constexpr const char* kCantOpenForReading = "There was problem openning %s for reading";
constexpr const char* kCantCreateOutput = "Error opening log file for writing";
constexpr const char* kNothingInRange = "No messages within the selected range were found in the log file.";
constexpr const char* kExtractTitle = "Extract Data";
constexpr const char* kBeginBookmark = "%s Begin Bookmark";
constexpr const char* kEndBookmark = "%s End Bookmark";
constexpr DWORD kNoOffset = 0xFFFFFFFF;
constexpr size_t kRunBytes = 1 << 20;

std::atomic<bool> g_writeEachRecord{false};

// A file that keeps in memory what is written to it: the run not yet written.
class CRunBuffer : public CFile {
public:
    void Write(const void* buf, UINT count) override
    {
        const BYTE* p = static_cast<const BYTE*>(buf);
        m_bytes.insert(m_bytes.end(), p, p + count);
    }
    std::vector<BYTE> m_bytes;
};

// Writes the records an operation copies to the end of its target (positioned there).
class CRecordWriter {
public:
    CRecordWriter(CFile& target, bool eachRecord)
        : m_target(target),
          m_eachRecord(eachRecord),
          m_archive(eachRecord ? static_cast<CFile*>(&target) : &m_run, CArchive::store, CArchive::kDefaultBufSize),
          m_lastStart(target.GetPosition())
    {
        if (!eachRecord) m_run.m_bytes.reserve(kRunBytes + 64 * 1024);
    }

    // Writes the record, or adds it to the run.
    void Add(CVESKMessage& m)
    {
        if (!m_eachRecord) {
            m.Serialize(m_archive);
            m_archive.Flush();
            m_ends.push_back(m_run.m_bytes.size());
            if (m_run.m_bytes.size() >= kRunBytes) Flush();
            return;
        }
        const ULONGLONG start = m_target.GetPosition();
        m_lastStart = start;
        try {
            m.Serialize(m_archive);
            m_archive.Flush();
            if (m_target.GetPosition() > LogFormat::kMaxPosition) Drop(start);
        } catch (const CException&) {
            Drop(start);
        }
    }

    // Writes the run, record by record as far as writes fail.
    void Flush()
    {
        if (m_ends.empty()) return;
        size_t from = 0, next = 0;  // the first byte and the first record not yet written
        bool lastDropped = false;
        while (next < m_ends.size()) {
            const ULONGLONG base = m_target.GetPosition();
            size_t upto = next;  // records [next, upto) end below the largest position
            while (upto < m_ends.size() && base + (m_ends[upto] - from) <= LogFormat::kMaxPosition) ++upto;
            const size_t bytes = upto > next ? m_ends[upto - 1] - from : 0;
            size_t failed = upto;  // the record a failed write was writing, or the one past the limit
            try {
                if (bytes) m_target.Write(m_run.m_bytes.data() + from, static_cast<UINT>(bytes));
            } catch (const CException&) {
                const size_t reached = from + static_cast<size_t>(m_target.GetPosition() - base);
                for (failed = next; m_ends[failed] <= reached;) ++failed;
            }
            if (failed >= m_ends.size()) break;
            Drop(base + (RecordStart(failed) - from));
            lastDropped = failed + 1 == m_ends.size();
            from = m_ends[failed];
            next = failed + 1;
        }
        const ULONGLONG end = m_target.GetPosition();
        m_lastStart = lastDropped ? end : end - (m_ends.back() - RecordStart(m_ends.size() - 1));
        m_run.m_bytes.clear();
        m_ends.clear();
    }

    // Serialises the header of an extraction's output behind the records.
    void WriteHeader(CLogFileHeader& header)
    {
        Flush();
        header.Serialize(m_archive);
        m_archive.Flush();
        if (!m_eachRecord) m_target.Write(m_run.m_bytes.data(), static_cast<UINT>(m_run.m_bytes.size()));
        m_run.m_bytes.clear();
    }

    void Close()
    {
        Flush();
        IgnoreFailure("the records are written; the archive holds none", [&] { m_archive.Close(); });
    }

    CArchive* Archive() { return &m_archive; }
    // Where the last record added begins, or would have begun when it was dropped; where
    // the target ended at the start when there was none. Valid after Flush.
    ULONGLONG LastStart() const { return m_lastStart; }
    ULONGLONG Dropped() const { return m_dropped; }

private:
    size_t RecordStart(size_t i) const { return i == 0 ? 0 : m_ends[i - 1]; }
    // A record that could not be written is lost; the file is cut back to where it began.
    void Drop(ULONGLONG start)
    {
        ++m_dropped;
        IgnoreFailure("a file that cannot be cut back keeps the part; repair cuts it", [&] {
            m_target.SetLength(start);
            m_target.SeekAbsolute(start);
        });
    }

    CFile& m_target;
    bool m_eachRecord;
    CRunBuffer m_run;
    CArchive m_archive;
    std::vector<size_t> m_ends;  // where each record of the run ends in it
    ULONGLONG m_lastStart;
    ULONGLONG m_dropped = 0;
};

// How a reading ended.
enum class ReadEnd {
    end,         // the end of the records, or the caller was done
    stopped,     // the progress service asked for a stop
    failed,      // a read error, or a record the caller refused
    pastRecords  // an archive error at or past the end of the records
};
enum class Step { next, done, refuse };

// Reads the records of `file` from its position up to `end`, one fresh archive each, and
// hands each with its offset to `take`. `flush` runs before each progress report.
template <typename Take, typename Flush>
ReadEnd ReadRecords(CLogFile& file, DWORD end, Take take, Flush flush)
{
    CProgressReporter progress(end > CLogFile::kFirstRecord ? end - CLogFile::kFirstRecord : 0, file.GetFilePath());
    CVESKMessage m;
    for (;;) {
        const ULONGLONG pos = file.GetPosition();
        if (pos >= end) return ReadEnd::end;
        if (progress.StopRequested()) return ReadEnd::stopped;
        if (progress.Due()) {
            flush();
            progress.Report(pos - CLogFile::kFirstRecord);
        }
        try {
            ReadLogRecord(file, m);
        } catch (const CArchiveException&) {
            return file.GetPosition() < end ? ReadEnd::failed : ReadEnd::pastRecords;
        } catch (const CException&) {
            return ReadEnd::failed;
        } catch (const std::bad_alloc&) {
            return ReadEnd::failed;
        }
        const Step step = take(m, pos);
        if (step == Step::done) return ReadEnd::end;
        if (step == Step::refuse) return ReadEnd::failed;
    }
}

// The static forms' reading: every record with a data length of 0 or more.
template <typename Write>
ReadEnd CopyRecords(CLogFile& source, CRecordWriter* writer, Write write)
{
    source.SeekAbsolute(CLogFile::kFirstRecord);
    return ReadRecords(
        source, source.GetHeaderPosition(),
        [&](CVESKMessage& m, ULONGLONG pos) {
            if (m.GetDataLength() < 0) return Step::refuse;
            write(m, pos);
            return Step::next;
        },
        [&] {
            if (writer) writer->Flush();
        });
}

CString Formatted(const char* format, const CString& text)
{
    CString s;
    s.Format(format, text.c_str());
    return s;
}

// The two bookmarks around a range that came from the file `from`.
void AddSeam(CLogBookmarkList& list, const CString& target, DWORD begin, DWORD end, const CString& from)
{
    const CString name = PathFileName(from);
    list.emplace_back(begin, Formatted(kBeginBookmark, name), target);
    list.emplace_back(end, Formatted(kEndBookmark, name), target);
}
}  // namespace

void CLogger::SetWriteEachRecord(bool bOn)
{
    g_writeEachRecord = bOn;
}

bool CLogger::GetWriteEachRecord()
{
    return g_writeEachRecord.load();
}

DWORD CLogger::LastRecordOffset(CString strFile, CString& strError)
{
    CLogFile file;
    if (!file.Open(strFile.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0)) {
        strError = Formatted(kCantOpenForReading, strFile);
        return kNoOffset;
    }
    DWORD last = CLogFile::kFirstRecord;
    ReadEnd how = ReadEnd::failed;
    IgnoreFailure("a file that cannot be read has no last record", [&] {
        how = CopyRecords(file, nullptr, [&](CVESKMessage&, ULONGLONG pos) { last = static_cast<DWORD>(pos); });
    });
    file.Close();
    if (how == ReadEnd::end) return last;
    if (how == ReadEnd::failed) strError = kReadError;
    return kNoOffset;
}

bool CLogger::MergeFiles(CString strTarget, CString strSource, CString& strError)
{
    return MergeInto(strTarget, strSource, strError, /*bSeams=*/false, /*bBookmark=*/0);
}

bool CLogger::MergeAndBookmark(CString strTarget, CString strSource, CString& strError, int bBookmark)
{
    return MergeInto(strTarget, strSource, strError, /*bSeams=*/true, bBookmark);
}

// The static forms: MergeFiles without bookmarks, MergeAndBookmark with them (bSeams).
bool CLogger::MergeInto(const CString& strTarget, const CString& strSource, CString& strError, bool bSeams,
                        int bBookmark)
{
    const bool markTarget = bSeams && bBookmark;
    DWORD lastTarget = 0;
    if (markTarget && (lastTarget = LastRecordOffset(strTarget, strError)) == kNoOffset) return false;
    CLogFile target;
    if (!target.Open(strTarget.c_str(), /*bWrite=*/1, /*bNew=*/0, /*bReadOnly=*/0)) {
        strError = Formatted(kCantOpenForWriting, strTarget);
        return false;
    }
    CLogBookmarkList& bookmarks = *target.GetBookmarks();
    const auto targetSeam = [&] {
        if (markTarget && lastTarget > CLogFile::kFirstRecord)
            AddSeam(bookmarks, strTarget, CLogFile::kFirstRecord, lastTarget, strTarget);
    };
    CLogFile source;
    if (!source.Open(strSource.c_str(), /*bWrite=*/0, /*bNew=*/1, /*bReadOnly=*/0)) {
        strError = Formatted(kCantOpenForReading, strSource);
        targetSeam();
        target.Close();
        return false;
    }
    ReadEnd how = ReadEnd::failed;
    ULONGLONG start = 0, lastStart = 0;
    {
        CRecordWriter writer(target, GetWriteEachRecord());
        IgnoreFailure("an error outside a single read ends the merge as a read error does", [&] {
            start = target.GetPosition();
            how = CopyRecords(source, &writer, [&](CVESKMessage& m, ULONGLONG) { writer.Add(m); });
        });
        writer.Close();
        lastStart = writer.LastStart();
        if (bSeams) ReleaseMessageArchive(writer.Archive());
    }
    if (how == ReadEnd::end && bSeams) {
        targetSeam();
        if (lastStart != start) {
            const CString name = PathFileName(strSource);
            bookmarks.emplace_back(static_cast<DWORD>(start), Formatted(kBeginBookmark, name), strTarget);
            for (const CLogBookmark& b : *source.GetBookmarks())
                bookmarks.emplace_back(static_cast<DWORD>(b.m_dwFilePos + start - CLogFile::kFirstRecord),
                                       b.m_strDescription, strTarget);
            bookmarks.emplace_back(static_cast<DWORD>(lastStart), Formatted(kEndBookmark, name), strTarget);
        }
    }
    if (how == ReadEnd::failed) strError = kReadError;
    target.Close();
    source.Close();
    return how == ReadEnd::end;
}

int CLogger::MergeFiles(CLogger* pOther)
{
    if (!pOther) return 1;
    std::lock_guard lock(pOther->m_lock);
    CLogFile& source = pOther->m_logFile;
    ReadEnd how = ReadEnd::failed;
    IgnoreFailure("an error outside a single read is reported as a read error", [&] {
        source.SeekAbsolute(CLogFile::kFirstRecord);
        how = ReadRecords(
            source, source.GetHeaderPosition(),
            [&](CVESKMessage& m, ULONGLONG) {
                if (m.GetDataLength() < 0) return Step::refuse;
                WriteMessage(&m);
                return HasWriteFailed() ? Step::done : Step::next;  // the writer has said why
            },
            [] {});
    });
    if (how == ReadEnd::failed) AfxMessageBox(kReadError, MB_OK);
    return 1;
}

int CLogger::MergeFiles()
{
    std::lock_guard lock(m_lock);
    if (m_strFileName.IsEmpty() ||
        !m_logFile.Open((m_strPath + m_strFileName).c_str(), /*bWrite=*/1, /*bNew=*/0, /*bReadOnly=*/0)) {
        AfxMessageBox(kReadError, MB_OK);
        return 1;
    }
    const CString nextName = m_logFile.GetNextLogFileName();
    if (nextName.IsEmpty()) return 1;
    // The next file is only read, and destroyed without a close: it stays as it was.
    CLogFile next;
    if (!next.Open((m_strPath + nextName).c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0)) {
        AfxMessageBox(kReadError, MB_OK);
        return 1;
    }
    try {
        m_logFile.SeekAbsolute(m_logFile.GetHeaderPosition());
        const DWORD end = next.GetHeaderPosition();
        next.SeekAbsolute(CLogFile::kFirstRecord);
        CProgressReporter progress(end > CLogFile::kFirstRecord ? end - CLogFile::kFirstRecord : 0, next.GetFilePath());
        CArchive ar(&next, CArchive::load, CArchive::kDefaultBufSize);
        CVESKMessage m;
        // Flushing the archive after each message gives back its read-ahead, so the
        // file's position is where reading stands.
        for (ULONGLONG pos; (pos = next.GetPosition()) < end && !HasWriteFailed();) {
            if (progress.StopRequested()) break;
            if (progress.Due()) progress.Report(pos - CLogFile::kFirstRecord);
            try {
                m.Serialize(ar);
                ar.Flush();
            } catch (const CException& e) {
                ar.Flush();
                const ULONGLONG reached = next.GetPosition();
                if (reached < end || !dynamic_cast<const CArchiveException*>(&e)) AfxMessageBox(kReadError, MB_OK);
                if (reached <= pos) break;  // nothing more can be read
                continue;                   // the failed record is skipped
            }
            HandleMessage(&m);
        }
        ar.Close();
    } catch (const CException&) {
        AfxMessageBox(kReadError, MB_OK);
    } catch (const std::bad_alloc&) {
        AfxMessageBox(kReadError, MB_OK);
    }
    return 1;
}

int CLogger::ExtractLogData(unsigned int nFirst, unsigned int nLast, const char* pszPath)
{
    std::lock_guard lock(m_lock);
    CFile out;
    const UINT create =
        CFile::modeCreate | CFile::modeCreateNew | CFile::modeNoFollow | CFile::modeReadWrite | CFile::shareDenyWrite;
    if (!pszPath || !out.Open(pszPath, create)) {
        AfxMessageBox(kCantCreateOutput, MB_OK | MB_ICONERROR);
        return 0;
    }
    CWaitCursor wait;
    ULONGLONG written = 0;
    ReadEnd how = ReadEnd::failed;
    const ULONGLONG remembered = GetLogFilePosition();
    try {
        const BYTE zero[LogFormat::kHeaderPosSize] = {0, 0, 0, 0};
        out.Write(zero, sizeof zero);
        CRecordWriter writer(out, GetWriteEachRecord());
        m_logFile.SeekAbsolute(CLogFile::kFirstRecord);
        const uint64_t first = nFirst, last = nLast;
        how = ReadRecords(
            m_logFile, m_logFile.GetHeaderPosition(),
            [&](CVESKMessage& m, ULONGLONG) {
                const uint64_t index = m.GetMessageIndex();
                if (index < first) return Step::next;
                if (index > last) return Step::done;
                writer.Add(m);
                ++written;
                return writer.Dropped() ? Step::refuse : Step::next;
            },
            [&] { writer.Flush(); });
        IgnoreFailure("the logger's own position is a convenience", [&] { m_logFile.SeekAbsolute(remembered); });
        writer.Flush();
        if (how == ReadEnd::end && written > 0 && !writer.Dropped()) {
            const DWORD recordsEnd = LogFormat::ClampPosition(out.GetPosition());
            CLogFileHeader header;
            m_logFile.CopyHeaderTo(&header);
            writer.WriteHeader(header);
            writer.Close();
            out.Flush();
            out.SeekAbsolute(0);
            BYTE word[LogFormat::kHeaderPosSize];
            StoreLittleEndian<DWORD>(word, recordsEnd);
            out.Write(word, sizeof word);
            out.Close();
            return 1;
        }
    } catch (const CException&) {
        how = ReadEnd::failed;
    } catch (const std::bad_alloc&) {
        how = ReadEnd::failed;
    }
    IgnoreFailure("the logger's own position is a convenience", [&] { m_logFile.SeekAbsolute(remembered); });
    if (how == ReadEnd::end && written == 0) AfxMessageBox(kNothingInRange, kExtractTitle, MB_OK | MB_ICONINFORMATION);
    out.Abort();
    IgnoreFailure("an output that cannot be removed stays behind, without a header", [&] { CFile::Remove(pszPath); });
    return 0;
}

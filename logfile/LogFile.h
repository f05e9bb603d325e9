#pragma once
// The log file: a 4-byte header position H at offset 0, the message records from offset
// 4 up to H, and the serialised header (CLogFileHeader) from H to the end (LogFormat.h).
//
// A file is sound when H is at least 4 and the header loads at H and ends exactly at the
// end of the file. Anything else needs repair.
//
// While a file is open for writing, new or appended, the header is not in the file and
// the header position word holds 0: the file ends after the last record. When appending,
// the 0 is written before the old header is cut off, so a process killed at any moment
// leaves a file whose repair keeps every whole record, old and new. The header is written
// at the end, and then H at offset 0, when the file is closed or switched to reading. A
// file whose length is exactly 4 when it is closed is deleted.
//
// Repair only cuts. It reads the records from offset 4 while they pass the validity rules
// (IsPlausibleRecord) and end inside the file. A complete header that an interrupted
// close left behind the records is recognised and kept; otherwise the file is cut after
// the last whole record and a fresh header, whose page count follows from the records,
// is written there. Every record kept is the original's bytes at the same offset.
//
// A new file is created exclusively: it never replaces an existing file, and no writer
// follows a symbolic link. A file that was only read is closed without a write: its
// header is rewritten only when something in it changed while it was open.
//
// Records carry no length of their own: each is one CVESKMessage serialisation, read by
// a fresh loading archive placed at the record's start (ReadLogRecord).
#include <functional>

#include "framework/File.h"
#include "logfile/LogFileHeader.h"
#include "logfile/LogFormat.h"

class CVESKMessage;

class CLogFile : public CFile {
public:
    static constexpr DWORD kFirstRecord = LogFormat::kFirstRecord;

    // What a repair did (also what a repair would do, for a file opened for inspection).
    struct RepairReport {
        ULONGLONG records = 0;       // records kept
        DWORD recordsEnd = 0;        // where the last record kept ends: the new H
        ULONGLONG droppedBytes = 0;  // bytes cut off behind the records (old header included)
        bool headerKept = false;     // a complete header was found behind the records
    };

    CLogFile();
    ~CLogFile() override;

    int Open(const char* path, int bWrite, int bNew, int bReadOnly);
    // Read-only inspection: reads the header position and the header exactly as reading
    // does, but never repairs, rewrites or otherwise changes the file. A damaged file is
    // reported by NeedsRepair(); its records are then taken to end where a repair would
    // put them (GetRepairReport). Close only closes the handle.
    int OpenForInspection(const char* path);
    bool NeedsRepair() const { return m_bNeedsRepair; }
    bool IsInspecting() const { return m_bInspectOnly; }
    // Inspection: another process holds the file open for writing (it is being recorded).
    bool IsBeingRecorded() const { return m_bBeingRecorded; }
    // The last repair made by Open, or the one inspection found necessary.
    const RepairReport& GetRepairReport() const { return m_repair; }
    // Why the operating system refused the last Open (cause none when it did not).
    const CFileException& GetOpenError() const { return m_openError; }

    void Close() override;
    int SwitchToRead();
    int SwitchToWrite();
    ULONGLONG Seek(LONG offset, UINT from) override;

    DWORD GetHeaderPosition() const { return m_dwHeaderPos; }
    bool IsWriteMode() const { return m_bWriteMode != 0; }

    CString GetVESKVersion() const { return m_header.m_strVESKVersion; }
    CString GetUEVersion() const { return m_header.m_strUEVersion; }
    CString GetFileDescription() const { return m_header.m_strFileDescription; }
    void SetFileDescription(const CString& text) { m_header.m_strFileDescription = text; }
    DWORD GetAnchorPosition() const { return m_header.GetAnchorPosition(); }
    void SetAnchorPosition(DWORD pos) { m_header.SetAnchorPosition(pos); }
    CString GetAnchorDescription() const { return m_header.GetAnchorDescription(); }
    void SetAnchorDescription(const CString& text) { m_header.SetAnchorDescription(text); }
    CSystemTime& GetCreationTime() { return m_header.m_creationTime; }
    CLogBookmarkList* GetBookmarks() { return &m_header.m_bookmarks; }
    CLogBookmark* FindBookMarkByFilePos(DWORD pos) { return m_header.FindBookMarkByFilePos(pos); }
    bool IsBookmark(DWORD pos) const { return m_header.IsBookmark(pos); }
    CString GetNextLogFileName() const { return m_header.m_strNextFileName; }
    CString GetPrevLogFileName() const { return m_header.m_strPrevFileName; }
    void SetNextLogFileName(CString name) { m_header.m_strNextFileName = std::move(name); }
    void SetPrevLogFileName(CString name) { m_header.m_strPrevFileName = std::move(name); }
    int GetNumOfPages() const { return m_header.m_nNumOfPages; }
    void SetNumOfPages(int pages) { m_header.m_nNumOfPages = pages; }
    CLogFileHeader* GetLogFileHeader() { return &m_header; }

    void ClearHeader();
    void CopyHeaderTo(CLogFileHeader* target) const;

private:
    using CFile::Open;  // callers open a log file with the four-flag form
    enum class Soundness { sound, damaged };
    bool AskRepair(bool autoRepair) const;
    bool LoadHeaderAt(DWORD pos, ULONGLONG end);
    Soundness CheckSound();
    RepairReport ScanForRepair();
    void Repair();
    void WriteHeaderAtEnd();
    void RewriteHeader();  // the header behind the records, 0 first and H last
    void WriteHeaderPosition(DWORD pos);
    DWORD ReadHeaderPosition();
    bool OpenOs(const char* path, UINT flags);
    int OpenExisting(bool bWrite, bool autoRepair);
    void CloseReading();
    int Fail();

    CLogFileHeader m_header;
    CLogFileHeader m_loadedHeader;  // the header as it is in the file, for a reading Close
    DWORD m_dwHeaderPos = 0;
    int m_bWriteMode = 1;
    bool m_bInspectOnly = false;
    bool m_bNeedsRepair = false;
    bool m_bBeingRecorded = false;
    RepairReport m_repair;
    CFileException m_openError;
};

// Reads one record at the file's position through a fresh loading archive (4096-byte
// buffer) and closes it, so the position lands on the next record. Throws the
// archive's or the file's exception.
void ReadLogRecord(CFile& file, CVESKMessage& message);

// The validity rules a record must pass to count as one (docs/FORMAT.md): kind 1 to 255,
// device 0 to 4, every field of the PC time stamp in its range, data length at most
// 16 MiB. Sets `why` when it fails.
bool IsPlausibleRecord(const CVESKMessage& message, CString* why = nullptr);

// ReadLogRecord, then the validity rules and the end: a record that fails the rules or
// ends after `limit` raises an archive exception naming the reason. What repair and
// inspection read with.
void ReadCheckedLogRecord(CFile& file, CVESKMessage& message, ULONGLONG limit);

// Counts records without building messages: how many, and the first and last one's
// message index and PC time.
struct RecordSkim {
    ULONGLONG records = 0;
    ULONGLONG firstIndex = 0, lastIndex = 0;
    CSystemTime firstTime, lastTime;
    void Add(ULONGLONG index, const CSystemTime& time);
};

// Walks the records that lie whole in `data` (which starts at a record) and pass the
// validity rules, adding them to `skim`; returns the bytes they take. It stops before a
// record that does not lie whole in `data`, fails a rule or has a data length above the
// loader's limit: ReadCheckedLogRecord at that record gives its exact outcome. What
// inspection counts with, at memory speed. `ruleBroken`, when given, tells whether it
// stopped at a record that breaks a rule (and not at one that only runs past `size`).
size_t SkimLogRecords(const BYTE* data, size_t size, RecordSkim& skim, bool* ruleBroken = nullptr);

// Counts the records of `file` from `offset` up to `limit` by the rules ReadCheckedLogRecord
// applies, skimming the runs in the file's read cache and reading as a message only a
// record the skim leaves (a long one, or one that ends the records). `offset` follows the
// records counted, so when a record cannot be read (the reader's exception is thrown) it
// names that record's start. `progress` hears the offset after each run.
void SkimLogFile(CFile& file, ULONGLONG& offset, ULONGLONG limit, RecordSkim& skim,
                 const std::function<void(ULONGLONG)>& progress);

#pragma once
// The log file: a 4-byte header position H at offset 0, the message records from offset
// 4 up to H, and the serialised header (CLogFileHeader) from H to the end.
//
// While a file is open for writing the header is not in the file: the file ends after
// the last record, and its first four bytes hold 0 (new file) or the position where
// the previous header was cut off (appending). The header is written at the end, and H
// at offset 0, when the file is closed or switched to reading. A file whose length is
// exactly 4 when it is closed is deleted. H below 4 marks a damaged file (a recording
// that ended without a close); opening repairs it by taking everything after offset 4
// as records.
//
// Records carry no length of their own: each is one CVESKMessage serialisation, read by
// a fresh loading archive placed at the record's start (ReadLogRecord).
#include "framework/File.h"
#include "logfile/LogFileHeader.h"
#include "logfile/LogFormat.h"

class CVESKMessage;

class CLogFile : public CFile {
public:
    static constexpr DWORD kFirstRecord = LogFormat::kFirstRecord;

    CLogFile();
    ~CLogFile() override;

    int Open(const char* path, int bWrite, int bNew, int bReadOnly);
    // Read-only inspection: reads the header position and the header exactly as reading
    // does, but never repairs, rewrites or otherwise changes the file. A damaged file is
    // reported by NeedsRepair(); its records are then taken to end where a repair would
    // put them. Close only closes the handle.
    int OpenForInspection(const char* path);
    bool NeedsRepair() const { return m_bNeedsRepair; }
    bool IsInspecting() const { return m_bInspectOnly; }

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
    enum class LoadResult { loaded, failed, fault };
    bool AskRepair(bool autoRepair) const;
    LoadResult LoadHeader();
    int Repair();
    void WriteHeaderAtEnd();
    void WriteHeaderPosition(DWORD pos);
    DWORD ReadHeaderPosition();
    int OpenImpl(const char* path, int bWrite, int bNew, int bReadOnly);

    CLogFileHeader m_header;
    DWORD m_dwHeaderPos = 0;
    int m_bWriteMode = 1;
    bool m_bInspectOnly = false;
    bool m_bNeedsRepair = false;
};

// Reads one record at the file's position through a fresh loading archive (4096-byte
// buffer) and closes it, so the position lands on the next record. Throws the
// archive's or the file's exception.
void ReadLogRecord(CFile& file, CVESKMessage& message);

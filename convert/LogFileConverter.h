#pragma once
// CLogFileConverter (exported): the object through which the host converts log files
// into tab-separated text and CSV, HTML and GKI logs, and imports GKI and SD-card logs
// into log files. This header is the frame every conversion shares; each conversion adds
// its entry points to the class and its worker to the state.
//
// Members and ownership
//   Everything a conversion touches lives in one block, CConverterState, which the
//   converter and its running worker own together. The converter names each part by its
//   member name (conv.m_logFile, conv.m_bCsv, ...); a worker is given the block, never the
//   converter, and uses the same names (s.m_logFile). Only one asynchronous conversion
//   runs per converter, and the synchronous ConvertLogToText must not be called while
//   one does (IsConverting).
//
// Stopping: a POSIX thread cannot be killed
//   The destructor resets m_evRun (a worker ends through its normal end path before its
//   next record), waits up to 2000 ms for m_evDone, then takes m_lock, so that no file is
//   closed under a record being read. When the worker has
//   not ended by then (a message box left open, an output that blocks), the converter
//   lets go of it: the worker finishes on its own, with the block (files, events, lock,
//   progress window, m_pThread) still its own, closes its files itself and shows nothing
//   more. An abandoned worker never reads another record, so the host's Recoder and
//   filter, which the converter does not own, are touched only under m_lock while the
//   converter lives.
//
// The launch (host's thread), as ConvertLogToHTML does it
//   1. Open the source, then each output through OpenNewOutput (created exclusively,
//      never through a link: an existing file makes the open fail). Failures are shown
//      with the conversion's texts and nothing starts.
//   2. UseModuleResources for the dialogs (convert/UseModuleResources.h).
//   3. StartWorker(text, source length, worker): m_evDone reset (IsConverting is true
//      from here), the progress window made with that label and range, shown, and the
//      worker started with the block and stored in m_pThread before it runs.
//
// A worker (its own thread), as CConverterState::TextWriterThread does it
//   UINT MyWorker(CConverterState& s) {
//       CSeTranslatorScope translator;        // processor faults arrive as SE_Exception
//       try {
//           while (s.m_logFile.GetPosition() < end && !s.IsStopRequested()) {
//               if (...) s.PostProgress(s.m_logFile.GetPosition());
//               CRecordStep step(s);          // the row step, below
//               ...
//           }
//           close its files; s.EndWorker(ConvertTexts::kFinished);
//       } catch (const SE_Exception&) {
//           close its files; s.EndWorker(ConvertTexts::kFailedCorrupt);
//       }
//       return 1;
//   }
//   EndWorker is the end of every readable export: the end message to the progress
//   window, the outcome's message box, m_pThread cleared, m_evDone signalled. Workers
//   whose end differs (an import signals m_evDone before its boxes; a stopped GKI
//   conversion says nothing) use CloseProgressWindow, ClearThread and m_evDone directly.
//
// The row step (CRecordStep): one record at m_logFile's position, read through a fresh
// loading archive while m_lock is held, from before the read until the row values are
// complete (or Release). The read-error rule, for every reader of the source: when a read
// fails, the position it had consumed to decides. Short of the header position the record
// failed inside the records, a read error ("Error reading log file."); at or past it the
// last record ran into the header, the normal end of the records.
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "convert/GkiConversion.h"
#include "convert/LogConvertProgressWnd.h"
#include "framework/File.h"
#include "framework/Sync.h"
#include "logfile/LogFile.h"
#include "platform/Recoder.h"
#include "platform/VESKMessage.h"

class CAllFilters;
class CChangePageProgressDlg;
class CConverterState;
class CRecordStep;
class CLogFileConverter;
class CWnd;

// What the last SD-card import wrote, for a host that reports it.
struct SdImportSummary {
    uint64_t packets = 0;      // messages written to the log
    bool bHaveTimes = false;   // first and last hold the time stamps of the first and last of them
    SYSTEMTIME first{}, last{};
    bool bOutputFull = false;  // the log reached its 4 GiB limit and reading stopped there
};

// Opens a file that a conversion makes: created anew for writing, never through a
// symbolic link; an existing file at the name makes the open fail. `flags` adds the
// type (CFile::typeText for the readable exports).
bool OpenNewOutput(CFile& file, const char* path, UINT flags = 0);

// Whether a read that failed, having consumed the file up to `position`, failed inside
// the records (a read error) rather than running into the header at `end`.
inline bool IsReadErrorPosition(ULONGLONG position, ULONGLONG end)
{
    return position < end;
}

// The state of a converter, owned by the converter and by its running worker together.
class CConverterState : public std::enable_shared_from_this<CConverterState> {
public:
    using WorkerProcedure = UINT (*)(CConverterState&);
    static constexpr int kRowMapBuckets = 17;
    static constexpr size_t kRowNamesKept = 64;       // more names in the row values are let go
    static constexpr uint64_t kProgressEvery = 1000;  // written rows between progress posts
    static constexpr const char* kColumnIndex = "Index";
    static constexpr const char* kColumnTime = "PC Time Stamp";
    static constexpr const char* kColumnData = "Data";

    explicit CConverterState(CConverter* pConverter);
    ~CConverterState();
    CConverterState(const CConverterState&) = delete;
    CConverterState& operator=(const CConverterState&) = delete;

    // ---- the worker's side of the frame ----
    bool IsConverting() { return !m_evDone.IsSignalled(); }
    // m_evRun no longer signalled: the converter is going away.
    bool IsStopRequested() { return !m_evRun.IsSignalled(); }
    // The converter has let go of this worker (it did not end within the destructor's wait).
    bool IsAbandoned() const { return m_bAbandoned; }
    void PostProgress(ULONGLONG position);
    void CloseProgressWindow();
    // The end of a readable export: CloseProgressWindow, the outcome in a message box
    // (none for an abandoned worker, nor for an empty text), m_pThread cleared, m_evDone
    // signalled.
    void EndWorker(const CString& outcome);
    // Releases the worker's thread object (the thread carries on to its end) and clears
    // m_pThread.
    void ClearThread();
    // Closes a file, ignoring errors: the failure paths, where one is already reported.
    static void CloseQuietly(CFile& file);
    // The outcome text of an output write that failed.
    static CString WriteErrorText(const CFileException& e);
    // Runs `body` and gives the outcome text of the failure that ended it, or "" when it
    // returned: a processor fault (SE_Exception) or a lack of memory gives
    // "Conversion Failed - File may be corrupt.", an output write that failed
    // WriteErrorText.
    static CString FailureOf(const std::function<void()>& body);

    // ---- the row step's pieces ----
    // Column name -> position in the selection, for DecodeToColumns.
    static ColumnSelection SelectionMap(const std::vector<CString>& columns);
    bool IsFilteredOut(const CVESKMessage& message) const;   // the skip test (kind 1 only)
    bool IsOutsideRange(const CVESKMessage& message) const;  // inclusive; 0~0 is no range
    // Fills m_mapRowValues for one message, under m_lock; false when the Recoder could
    // not decode it (decoded mode only). `wanted` is CConverter::WantedColumns(selection).
    bool RecordRowValues(const CVESKMessage& message, const ColumnSelection& selection, unsigned wanted);
    // Empties m_mapRowValues for the next message. A name may stay with an empty text,
    // which every reader of the row takes as a name that is not there.
    void ClearRowValues();
    // Sets one row value (name -> text) in m_mapRowValues.
    void SetRowValue(const CString& name, const CString& text);
    // The row value of the selected column m_astrColumns[column], null when the row has
    // none. Where each column's text lies is looked up once, and again only after a
    // name has come into m_mapRowValues or left it (or the rows begin anew).
    const CString* RowValue(size_t column) const;
    // "\t", or "," when m_bCsv is set.
    char Separator() const { return m_bCsv ? ',' : '\t'; }
    // The text table's header: every selected name that is not empty, each followed by
    // the separator, then an empty line.
    void AppendTextHeader(std::string& out) const;
    // One text line from m_mapRowValues (first-column "Index" rule, commas replaced when
    // m_bCsv is 1), every field followed by the separator, ended by "\n".
    void AppendTextLine(std::string& out, uint64_t index) const;

    // The text writers (convert/TextExport.cpp).
    static UINT TextWriterThread(CConverterState& s);
    int WriteTextTable(const ColumnSelection& selection, CString& result);
    // The HTML writer (convert/HtmlExport.cpp).
    static UINT HtmlWriterThread(CConverterState& s);
    // An asynchronous export around `body`, which writes the output and gives the outcome
    // text: the translator installed first; both files closed, then EndWorker with the
    // outcome, or with the failure that ended `body` (FailureOf).
    static UINT RunExportWorker(CConverterState& s, const std::function<CString()>& body);

    // The SD-card import (convert/SdImport.cpp): the worker of ConvertSDLogToVkl, and the
    // packet index of the dump in `data` (its `size` bytes) into m_packetOffsets.
    static UINT SdImportThread(CConverterState& s);
    void BuildPacketIndex(const BYTE* data, uint64_t size);
    // The converter's outcome routine (ShowConversionOutcome), for a worker: false, and
    // nothing shown, once the converter has gone.
    bool ShowOutcomeOfOwner(const char* errorFileName);

    // The GKI export and import workers (convert/GkiExport.cpp, convert/GkiImport.cpp).
    static UINT ExportToGKIThread(CConverterState& s);
    static UINT ImportGKIThread(CConverterState& s);

    // ---- the members, in the converter's order ----
    std::atomic<CWinThread*> m_pThread{nullptr};
    std::atomic<BYTE> m_bImportOk{0};
    std::atomic<BYTE> m_bSdImportOk{0};
    CLogConvertProgressWnd m_progressWnd;
    CChangePageProgressDlg* m_pBatchDlg = nullptr;
    CConverter* m_pConverter;
    CLogFile m_logFile;
    CStdioFile m_outFile;
    CFile m_gkiOutFile;
    CLogFile m_importLog;
    CFile m_gkiInFile;
    std::atomic<BYTE> m_bImporting{0};
    CFile m_sdInFile;
    std::atomic<BYTE> m_bSdImporting{0};
    CEvent m_evRun{/*bInitiallyOwn=*/true, /*bManualReset=*/true};
    CEvent m_evDone{/*bInitiallyOwn=*/true, /*bManualReset=*/true};
    CCriticalSection m_lock;
    std::vector<CString> m_astrColumns;
    ColumnValues m_mapRowValues;
    std::list<CString> m_errors;
    int m_bCsv = 0;
    CAllFilters* m_pFilter = nullptr;
    int m_bRawData = 0;
    WORD m_wMaxPacketLength = 0x2000;
    int m_nFirstPacketOffset = 28;
    WORD m_wMinPacketLength = 16;
    std::vector<uint32_t> m_packetOffsets;
    uint64_t m_nFromIndex = 0;
    uint64_t m_nToIndex = 0;
    SdImportSummary m_sdSummary;
    // Signalled when the worker's procedure has returned: a host that must outlive the
    // outcome boxes an import shows after m_evDone waits for it.
    CEvent m_evWorkerEnded{/*bInitiallyOwn=*/true, /*bManualReset=*/true};
    // What the last GKI conversion did, and where an import's records must end.
    GkiCounts m_gkiCounts;
    uint64_t m_nImportRecordsLimit = kImportRecordsLimit;

private:
    friend class CLogFileConverter;
    // The converter, while it lives (the destructor clears it, waiting for an outcome
    // routine that is running to end).
    std::mutex m_ownerMutex;
    CLogFileConverter* m_pOwner = nullptr;
    enum class RowsEnd { finished, readError, decodeFailed };
    // Writes one row: called under m_lock (in the step) with the record's start position;
    // false ends the rows as decodeFailed.
    using RowWriter = std::function<bool(CRecordStep& step, DWORD start)>;
    // The rows of the records from m_logFile's position to its header position.
    // Asynchronous: within the index range, with progress posts, stopping when asked.
    // Output write failures and processor faults propagate.
    RowsEnd WriteRows(const ColumnSelection& selection, bool asynchronous, const RowWriter& row);
    RowsEnd WriteTextRows(const ColumnSelection& selection, bool asynchronous);

    // Scratch of the row step, kept from one message to the next so that a row costs no
    // allocation: the Recoder's map, the message.
    ColumnValues m_decodedValues;
    // RowValue's places of the selected columns' texts, and the count of changes to the
    // names of m_mapRowValues they were found at (m_nRowNamesChanges).
    mutable std::vector<const CString*> m_rowValuePlaces;
    mutable uint64_t m_nRowPlacesAt = 0;
    uint64_t m_nRowNamesChanges = 1;
    // RowTexts's places in m_mapRowValues of the Recoder's columns m_nTextPlacesFor,
    // found at m_nTextPlacesAt changes to its names.
    CConverter::ColumnTexts m_textPlaces{};
    uint64_t m_nTextPlacesAt = 0;
    unsigned m_nTextPlacesFor = 0;
    // The row value of `name` in m_mapRowValues, made empty when it is not there.
    CString& RowValueEntry(const CString& name);
    // The row values of the Recoder's `columns` (bits of CConverter::Column), made empty
    // when they are not there, for its texts to go straight into them.
    const CConverter::ColumnTexts& RowTexts(unsigned columns);
    CVESKMessage m_message;
    friend class CRecordStep;

    std::mutex m_threadMutex;  // m_ownThread, and m_pThread's setting and clearing
    std::unique_ptr<CWinThread> m_ownThread;
    std::atomic<bool> m_bAbandoned{false};  // set under m_lock by the destructor
};

// The row step: one record of the source read and made into row values under m_lock,
// which is held for the life of the object or until Release.
class CRecordStep {
public:
    enum Result {
        row,           // the message is read and m_mapRowValues holds its row
        skipped,       // outside the index range, or filtered out
        endOfRecords,  // the read ran into the header: the records are done
        readError,     // the read failed inside the records
        stopped,       // the converter let go of this worker: read nothing more
    };
    explicit CRecordStep(CConverterState& s);
    ~CRecordStep() = default;
    CRecordStep(const CRecordStep&) = delete;
    CRecordStep& operator=(const CRecordStep&) = delete;

    // Reads the record at m_logFile's position; with `useRange` a message outside the
    // index range is skipped, and so is one the filter rejects; then RecordRowValues.
    // SE_Exception passes through; other framework exceptions are read errors.
    Result Read(const ColumnSelection& selection, unsigned wanted, bool useRange);
    // RecordRowValues's result (raw mode: always true).
    bool Decoded() const { return m_bDecoded; }
    const CVESKMessage& Message() const { return m_s.m_message; }
    void Release();

private:
    CConverterState& m_s;
    std::unique_lock<CCriticalSection> m_lock;
    bool m_bDecoded = true;
};

class CLogFileConverter {
public:
    static constexpr DWORD kStopWaitMs = 2000;

    // The Recoder to decode with (not owned); null takes the registry's shared one.
    explicit CLogFileConverter(CConverter* pConverter);
    virtual ~CLogFileConverter();
    CLogFileConverter(const CLogFileConverter&) = delete;
    CLogFileConverter& operator=(const CLogFileConverter&) = delete;

    // True unless m_evDone is signalled: an asynchronous conversion runs.
    bool IsConverting();
    // Empties m_astrColumns and appends a copy of `columns`.
    void SetSelectedColumns(const std::vector<CString>& columns);
    // Converts the whole log to a text or CSV table on the caller's thread (no range, no
    // progress, no stop). 1 when a table was written, 0 when the conversion could not
    // start or failed; `result` says which. An empty selection is refused before
    // anything is opened (0, no text).
    int ConvertLogToText(const std::vector<CString>& columns, const char* logPath, const char* outPath,
                         CString& result);
    // Starts an asynchronous export of `logPath` to `outPath` after the column dialog:
    // text or CSV (bText true) by m_bCsv, m_bRawData and m_pFilter, else an HTML page by
    // m_bRawData and m_pFilter (docs/FORMAT.md, "HTML page"). Returns at once; the
    // end is told by IsConverting and the worker's message boxes. A cancelled dialog,
    // or a selection of no column, leaves the output empty and starts nothing.
    void ConvertLogToHTML(const char* logPath, const char* outPath, bool bText);
    // Starts an export of a log to a new GKI file. Returns at once; failures to start
    // are shown in message boxes.
    void ConvertLogToGKI(const char* logPath, const char* gkiPath);
    // Starts an import of a GKI file into a new log: true when the worker was started.
    // The outcome is shown in message boxes and left in m_bImportOk.
    bool ConvertGKILogToVkl(const char* gkiPath, const char* logPath);
    // The end of an import or GKI export (convert/ConversionOutcome.h): the success box,
    // or the errors question and, on Yes, m_errors in the error file `errorFileName`
    // ("GKIConversion.err", "SDLogConversion.err") opened in the editor. Returns whether
    // the user chose to view.
    bool ShowConversionOutcome(const char* errorFileName);
    // Posts the end message to the progress window, if it is there.
    void CloseProgressWindow() { m_state->CloseProgressWindow(); }

    // Converts the SD-card log `sdPath` into a new log `vklPath` on a worker thread with
    // the progress window; true when the worker was started. The outcome goes to
    // m_bSdImportOk and the worker's message boxes.
    bool ConvertSDLogToVkl(const char* sdPath, const char* vklPath);
    // Converts every SD-card log of `sdPaths` in turn on this thread into the tool's
    // Temp folder, appending to `vklPaths` the path of each converted without error
    // report. Always true.
    bool ConvertSDLogsToVkl(std::list<CString>& sdPaths, std::list<CString>& vklPaths, CWnd* pParent);

    // The launch's last steps (see the header comment), for every asynchronous conversion.
    void StartWorker(const CString& text, ULONGLONG range, CConverterState::WorkerProcedure worker);
    CConverterState& GetState() { return *m_state; }

private:
    // One SD-card log of a batch, m_sdInFile to m_importLog; nonzero on success.
    int ConvertOneSdLog();
    std::shared_ptr<CConverterState> m_state;

public:
    // The members, in order, naming the parts of the shared state.
    std::atomic<CWinThread*>& m_pThread;
    std::atomic<BYTE>& m_bImportOk;
    std::atomic<BYTE>& m_bSdImportOk;
    CLogConvertProgressWnd& m_progressWnd;
    CChangePageProgressDlg*& m_pBatchDlg;
    CConverter*& m_pConverter;
    CLogFile& m_logFile;
    CStdioFile& m_outFile;
    CFile& m_gkiOutFile;
    CLogFile& m_importLog;
    CFile& m_gkiInFile;
    std::atomic<BYTE>& m_bImporting;
    CFile& m_sdInFile;
    std::atomic<BYTE>& m_bSdImporting;
    CEvent& m_evRun;
    CEvent& m_evDone;
    CCriticalSection& m_lock;
    std::vector<CString>& m_astrColumns;
    ColumnValues& m_mapRowValues;
    std::list<CString>& m_errors;
    int& m_bCsv;
    CAllFilters*& m_pFilter;
    int& m_bRawData;
    WORD& m_wMaxPacketLength;
    int& m_nFirstPacketOffset;
    WORD& m_wMinPacketLength;
    std::vector<uint32_t>& m_packetOffsets;
    uint64_t& m_nFromIndex;
    uint64_t& m_nToIndex;
};

#pragma once
// CLogger: records one stream of device messages into one log-file set.
//
// The logger's message client takes the messages the host dispatches and, from its own
// worker thread, calls HandleVESKMessage, which hands each one to HandleMessage: one
// record per message, flushed at once, page counting, assert marking and the roll-over
// into a continuation file when the file is full. Everything else runs on the host's
// thread. A recursive lock keeps Close, Clear, the file operations and the roll-over
// apart from a HandleMessage in progress; Close never holds it while it waits for the
// client's queue to drain. The worker keeps that lock from one message to the next while
// messages keep coming, and lets go of it as soon as another thread asks for it or the
// queue runs dry.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "framework/Archive.h"
#include "framework/String.h"
#include "framework/Sync.h"
#include "framework/Types.h"
#include "logfile/LogFile.h"
#include "logfile/LogFormat.h"

class CVESKMessage;
class CMessageClient;
class CAllFilters;

class CLogger {
public:
    static constexpr int kMessagesPerPage = LogFormat::kMessagesPerPage;
    static constexpr DWORD kClientRegistration = 0x0201001C;
    static constexpr DWORD kCloseDrainMs = 500;

    CLogger(const CString& strFileName, int bNewFile, int bClientFlag, const CString& strPath, int nDeviceId,
            unsigned long nMaxFileSizeMB, int bAddBookmarkInAssert, int bCutLogInAssert);
    virtual ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // Recording (message intake and writing).
    virtual void Close();
    virtual unsigned long GetFileSize();
    virtual CString GetFullPath();
    virtual bool IsLogging();
    virtual void Clear();
    virtual void Resume();
    virtual void Pause();
    virtual CString GetFileName();
    virtual CString GetPathName();
    virtual void SetVESKFileName();
    virtual void HandleMessage(CVESKMessage* pMessage);
    virtual void WriteMessage(CVESKMessage* pMessage) { HandleMessage(pMessage); }

    static void HandleVESKMessage(void* pOwner, CVESKMessage* pMessage);
    static void HandleQueueIdle(void* pOwner);
    unsigned long EmptyFIFO();
    unsigned long GetNumMessagesInFIFO();
    void Terminate(int nReason);
    CAllFilters* GetFilters();
    void SetDevice(int nIndex, int nValue);
    void SetRecordAllDevices(int bAll);
    CMessageClient* GetClient() const { return m_pClient; }

    // File operations.
    static CString GetLogFilesPath();
    bool OpenLogFile(const CString& strName, int bWrite);
    unsigned long GetLogFilePosition();
    long Seek(long lOff, unsigned int nFrom, int bAcrossFiles);
    unsigned int GetFileHandle();
    CLogFile* GetLogFile() { return &m_logFile; }
    void SetLogFileName(const CString& strName, const CString& strPath);
    bool RenameFile(const CString& strFrom, const CString& strTo);
    bool CopyLoggerFile(const CString& strFrom, const CString& strTo);

    // Naming convention and disk-space guard.
    void BuildLogNameConvention();
    static unsigned long GetMaxFileSizeInMB(CString strDirectory, CString& strMessage);
    unsigned long GetMaxFileSize() const { return m_nMaxFileSizeMB; }

    // Continuation files, navigation and pages.
    CString GetContLogFileName();
    void OpenContFile();
    void OpenNextFile();
    void OpenPrevFile();
    void SetNextFileName(CString strName);
    void SetPrevFileName(CString strName);
    int GetNumOfFiles();
    void InitializeNumOfFiles() { m_nNumOfFiles = 1; }
    int GetNumOfPagesInFile();
    int GetTotalNumOfPages();

    // Bookmarks, descriptions and assert marking.
    void AddBookmark(CString strText);
    void AddFileDescription(const CString& strDescription, CString& strResult, CString strFilePath);
    void SetAddBookmarkInAssert(int bOn) { m_bAddBookmarkInAssert = bOn; }
    void SetCutLogInAssert(int bOn) { m_bCutLogInAssert = bOn; }
    static int IsAssertMessage(CVESKMessage* pMessage, CString& strText);

    // Merging and extracting.
    int ExtractLogData(unsigned int nFirst, unsigned int nLast, const char* pszPath);
    int MergeFiles(CLogger* pOther);
    int MergeFiles();
    static bool MergeFiles(CString strTarget, CString strSource, CString& strError);
    static bool MergeAndBookmark(CString strTarget, CString strSource, CString& strError, int bBookmark);
    // How the static merges and the extraction write what they copy: each record with
    // its own write, flushed before the next is read (the reference), or in runs of whole
    // records (the default). The files come out byte for byte the same.
    static void SetWriteEachRecord(bool bOn);
    static bool GetWriteEachRecord();

    // A write that failed stops the logger at once: the record in progress is cut off, the
    // host is told "Error writing log file." with the operating system's reason, and no
    // later message is written. For hosts: whether that happened, and the reason.
    bool HasWriteFailed() const { return m_bWriteFailed.load(); }
    CString GetWriteError();
    // The first free name of the same stem in `strDirectory`: `strName` itself, else
    // "stem~2.vkl", "stem~3.vkl", ... A name the library makes never replaces a file.
    static CString UniqueLogName(const CString& strDirectory, const CString& strName);

    // State, for hosts and tests.
    DWORD GetLastMessagePosition() const { return m_dwLastMsgPos; }
    int GetPages() const { return m_nPages; }
    int GetDeviceId() const { return m_nDeviceId; }

protected:
    bool OpenCurrentFile(int bWrite);
    // Opens m_strPath + m_strFileName; on failure forgets the name and says "Can't open
    // log file.".
    bool OpenNamedFile(int bWrite, int bNew);
    bool TryOpenNamedFile(int bWrite, int bNew);
    void StopOnWriteError(const CException& error, DWORD recordStart);
    bool RollOverDue(bool isAssert);
    // Closes the current file and opens another file of the set for reading in its place.
    bool OpenSetFile(const CString& strName);
    bool WalkSet(const std::function<void(CLogFile&)>& visit);
    // Walks to the first file of the set (lOff 4) or to the end of the last one.
    long SeekAcrossFiles(long lOff, unsigned int nFrom);
    void ReleaseArchive();
    bool TransferFile(const CString& strFrom, const CString& strTo, bool bMove);
    // The offset of the last record of a file, 4 when it has none, 0xFFFFFFFF on failure
    // (with the text set).
    static DWORD LastRecordOffset(CString strFile, CString& strError);
    static bool MergeInto(const CString& strTarget, const CString& strSource, CString& strError, bool bSeams,
                          int bBookmark);
    void ReadNamingSettings();

    CString m_strFileName;
    CString m_strPath;
    int m_bNewFile = 1;
    std::unique_ptr<CArchive> m_pArchive;
    int m_nNumOfFiles = 1;
    int m_nPages = 1;
    int m_nMsgsInPage = 0;
    int m_anDevices[LogFormat::kMaxDevices] = {0, 0, 0, 0, 0};
    int m_bRecordAllDevices = 0;
    int m_nDeviceId = -1;
    unsigned long m_nMaxFileSizeMB = 0;
    DWORD m_dwLastMsgPos = LogFormat::kFirstRecord;
    CString m_strDescription;
    int m_bAddBookmarkInAssert = 0;
    int m_bCutLogInAssert = 0;
    CLogFile m_logFile;
    CMessageClient* m_pClient = nullptr;
    int m_bKovaLogName = 1;
    int m_nLogNameIndex = 1;
    CString m_strLogNameLocation;
    CString m_strLogNameUSIM;
    int m_nLogNameSetupId = 1;
    CString m_strLogNameScheme;
    CString m_strLogNameVersion;

    // The current name was made by the library (date, convention or continuation): a
    // name taken meanwhile by another logger or process moves on to the next free one.
    bool m_bMadeName = false;
    std::atomic<bool> m_bWriteFailed{false};
    std::mutex m_errorLock;
    CString m_strWriteError;

    CYieldingLock m_lock;
};

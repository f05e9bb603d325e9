// CLogger: construction, message intake and writing, pausing, clearing and closing.
#include "framework/Exceptions.h"
#include "framework/MessageBox.h"
#include "framework/Path.h"
#include "logger/Logger.h"
#include "platform/MessageBus.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"
#include "platform/Trace.h"
#include "platform/VESKMessage.h"

CLogger::CLogger(const CString& strFileName, int bNewFile, int bClientFlag, const CString& strPath, int nDeviceId,
                 unsigned long nMaxFileSizeMB, int bAddBookmarkInAssert, int bCutLogInAssert)
{
    m_strPath = strPath.IsEmpty() ? GetLogFilesPath() : WithTrailingSeparator(strPath);
    m_bNewFile = bNewFile;
    m_nNumOfFiles = 1;
    m_nPages = 1;
    m_nMsgsInPage = 0;

    m_bKovaLogName = GetSettingInt(GetSettingsStore(), SettingsKeys::kViewerSettings, SettingsKeys::kKovaLogName, 1);
    ReadNamingSettings();

    if (OpenLogFile(strFileName, 1)) {
        m_pClient = CreateMessageClient(this, bClientFlag, &CLogger::HandleVESKMessage, 0);
        m_pClient->SetIdleCallback(&CLogger::HandleQueueIdle);
        RegisterMessageClient(kClientRegistration, bClientFlag, m_pClient, &CLogger::HandleVESKMessage, this);
        m_pClient->SetThreadPriority(-2);
        m_pClient->SetSourceFilter(-1, -1);
    } else {
        m_pClient = nullptr;
    }

    // The free space is that of the directory the logger records into. No room (a limit
    // of 0) is said once, with the guard's own words; such a logger writes on without
    // rolling over until a write fails.
    m_nMaxFileSizeMB = nMaxFileSizeMB;
    CString message;
    const unsigned long limit = GetMaxFileSizeInMB(m_strPath, message);
    if (m_nMaxFileSizeMB == 0 || m_nMaxFileSizeMB > limit) m_nMaxFileSizeMB = limit;
    if (limit == 0 && m_pClient) AfxMessageBox(message.c_str(), MB_OK | MB_ICONEXCLAMATION);

    m_nDeviceId = nDeviceId;
    m_dwLastMsgPos = LogFormat::kFirstRecord;
    m_strDescription.Empty();
    m_bAddBookmarkInAssert = bAddBookmarkInAssert;
    m_bCutLogInAssert = bCutLogInAssert;
}

CLogger::~CLogger()
{
    Close();
    if (m_pClient) {
        m_pClient->Pause();
        m_pClient->Stop();
        DestroyMessageClient(&m_pClient);
    }
}

void CLogger::HandleVESKMessage(void* pOwner, CVESKMessage* pMessage)
{
    if (!pOwner || !pMessage) return;
    CLogger& logger = *static_cast<CLogger*>(pOwner);
    // Only the client's worker keeps the lock: the idle callback lets go of it there.
    const bool worker = logger.m_pClient && logger.m_pClient->IsWorkerThread();
    if (worker) logger.m_lock.Keep();
    logger.HandleMessage(pMessage);
    if (worker) logger.m_lock.YieldIfWanted();
}

void CLogger::HandleQueueIdle(void* pOwner)
{
    if (pOwner) static_cast<CLogger*>(pOwner)->m_lock.Release();
}

void CLogger::HandleMessage(CVESKMessage* pMessage)
{
    if (!pMessage) return;
    std::lock_guard lock(m_lock);
    if (!m_pArchive || m_strFileName.IsEmpty() || !m_logFile.IsOpen()) return;
    if (m_nDeviceId != -1 && pMessage->GetDeviceNumber() != m_nDeviceId) return;

    const DWORD previous = m_dwLastMsgPos;
    try {
        m_dwLastMsgPos = static_cast<DWORD>(m_logFile.GetLength());
        SetMessageArchive(nullptr);
        pMessage->Serialize(*m_pArchive);
        m_pArchive->Flush();
        SetMessageArchive(m_pArchive.get());
    } catch (const CException& e) {
        const DWORD recordStart = m_dwLastMsgPos;
        m_dwLastMsgPos = previous;
        StopOnWriteError(e, recordStart);
        return;
    }

    if (++m_nMsgsInPage == kMessagesPerPage) {
        ++m_nPages;
        m_logFile.SetNumOfPages(m_nPages);
        m_nMsgsInPage = 0;
    }

    bool isAssert = false;
    if (m_bAddBookmarkInAssert || m_bCutLogInAssert) {
        CString text;
        isAssert = IsAssertMessage(pMessage, text) != 0;
        if (isAssert && m_bAddBookmarkInAssert) AddBookmark(text);
    }

    if (RollOverDue(isAssert)) {
        Pause();
        OpenContFile();
        Resume();
        CString scratch;
        AddFileDescription(m_strDescription, scratch, CString());
    }
}

bool CLogger::RollOverDue(bool isAssert)
{
    if (m_bCutLogInAssert && isAssert) return true;
    const unsigned long long limit = static_cast<unsigned long long>(m_nMaxFileSizeMB) << 20;
    return m_nMaxFileSizeMB > 0 && m_logFile.GetLength() >= limit;
}

// Stops the logger after a failed write: the part of the record that reached the file is
// cut off again, so the file keeps holding whole records only, and nothing more is
// written to it (a full disk would only fail again, record after record).
void CLogger::StopOnWriteError(const CException& error, DWORD recordStart)
{
    IgnoreFailure("a file that cannot be cut back keeps the part; repair cuts it", [&] {
        if (m_logFile.GetLength() > recordStart) {
            m_logFile.SetLength(recordStart);
            m_logFile.SeekToEnd();
        }
    });
    ReleaseMessageArchive(m_pArchive.get());
    m_pArchive->Abort();
    m_pArchive.reset();
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        m_strWriteError = error.GetErrorMessage();
    }
    m_bWriteFailed = true;
    AfxMessageBox(("Error writing log file.\n" + m_strWriteError).c_str(), MB_OK | MB_ICONERROR);
}

CString CLogger::GetWriteError()
{
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_strWriteError;
}

void CLogger::ReleaseArchive()
{
    if (!m_pArchive) return;
    ReleaseMessageArchive(m_pArchive.get());
    try {
        m_pArchive->Close();
    } catch (const CException&) {
        m_pArchive->Abort();
    }
    m_pArchive.reset();
}

void CLogger::Close()
{
    if (m_pClient) {
        m_pClient->Pause();
        m_pClient->WaitUntilEmpty(kCloseDrainMs);
    }
    std::lock_guard lock(m_lock);
    ReleaseArchive();
    if (!m_strFileName.IsEmpty() && m_logFile.IsOpen()) {
        m_logFile.Close();
        WriteTrace(("Close file:\t" + m_strFileName + "\n").c_str());
    }
}

void CLogger::Pause()
{
    ReleaseMessageArchive(m_pArchive.get());
    if (m_pClient) m_pClient->Pause();
}

void CLogger::Resume()
{
    if (m_pClient) m_pClient->Resume();
}

bool CLogger::IsLogging()
{
    return m_pClient && m_pClient->IsActive();
}

void CLogger::Clear()
{
    std::lock_guard lock(m_lock);
    if (!m_logFile.IsOpen()) return;
    ReleaseMessageArchive(m_pArchive.get());
    m_logFile.ClearHeader();
    IgnoreFailure("a file that cannot be cut keeps its records; Clear reports nothing", [&] {
        m_logFile.SetLength(LogFormat::kHeaderPosSize);
        m_logFile.SeekToEnd();
    });
}

unsigned long CLogger::EmptyFIFO()
{
    return m_pClient ? m_pClient->WaitUntilEmpty(INFINITE) : 0;
}

unsigned long CLogger::GetNumMessagesInFIFO()
{
    return m_pClient ? m_pClient->GetNumMessagesInFIFO() : 0;
}

void CLogger::Terminate(int nReason)
{
    if (m_pClient) m_pClient->Terminate(nReason);
}

CAllFilters* CLogger::GetFilters()
{
    return m_pClient ? m_pClient->GetFilters() : nullptr;
}

void CLogger::SetDevice(int nIndex, int nValue)
{
    if (nIndex >= 0 && nIndex < LogFormat::kMaxDevices) m_anDevices[nIndex] = nValue;
}

void CLogger::SetRecordAllDevices(int bAll)
{
    m_bRecordAllDevices = bAll;
}

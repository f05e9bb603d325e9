// CLogger: construction, message intake and writing, pausing, clearing and closing.
#include "framework/Exceptions.h"
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
        RegisterMessageClient(kClientRegistration, bClientFlag, m_pClient, &CLogger::HandleVESKMessage, this);
        m_pClient->SetThreadPriority(-2);
        m_pClient->SetSourceFilter(-1, -1);
    } else {
        m_pClient = nullptr;
    }

    m_nMaxFileSizeMB = nMaxFileSizeMB;
    CString scratch;
    const unsigned long limit = GetMaxFileSizeInMB(GetLogFilesPath(), scratch);
    if (m_nMaxFileSizeMB == 0 || m_nMaxFileSizeMB > limit) m_nMaxFileSizeMB = limit;

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
    if (pOwner && pMessage) static_cast<CLogger*>(pOwner)->HandleMessage(pMessage);
}

void CLogger::HandleMessage(CVESKMessage* pMessage)
{
    if (!pMessage) return;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_pArchive || m_strFileName.IsEmpty() || !m_logFile.IsOpen()) return;
    if (m_nDeviceId != -1 && pMessage->GetDeviceNumber() != m_nDeviceId) return;

    const DWORD previous = m_dwLastMsgPos;
    bool written = false;
    try {
        m_dwLastMsgPos = static_cast<DWORD>(m_logFile.GetLength());
        SetMessageArchive(nullptr);
        pMessage->Serialize(*m_pArchive);
        m_pArchive->Flush();
        SetMessageArchive(m_pArchive.get());
        written = true;
    } catch (const CException&) {
        // The message is lost without a report. A partly written record is cut off
        // again, so the file keeps holding whole records only.
        const DWORD recordStart = m_dwLastMsgPos;
        m_dwLastMsgPos = previous;
        IgnoreFailure("a file that cannot be cut back keeps the part; the next open repairs it", [&] {
            if (m_logFile.GetLength() > recordStart) {
                m_logFile.SetLength(recordStart);
                m_logFile.SeekToEnd();
            }
        });
    }

    if (written && ++m_nMsgsInPage == kMessagesPerPage) {
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

    const unsigned long long limit = static_cast<unsigned long long>(m_nMaxFileSizeMB) << 20;
    if (GetFileSize() >= limit || (m_bCutLogInAssert && isAssert)) {
        Pause();
        OpenContFile();
        Resume();
        CString scratch;
        AddFileDescription(m_strDescription, scratch, CString());
    }
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
    std::lock_guard<std::recursive_mutex> lock(m_lock);
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
    std::lock_guard<std::recursive_mutex> lock(m_lock);
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

#include "logger/LoggerManager.h"

#include <algorithm>

#include "framework/Path.h"
#include "logfile/LogFormat.h"
#include "platform/MessageBus.h"

CLoggerManager* CLoggerManager::m_pThis = nullptr;
CSingletonDestroyer<CLoggerManager> CLoggerManager::m_Destroyer;

CLoggerManager* CLoggerManager::Instance()
{
    if (!m_pThis) {
        m_pThis = new CLoggerManager;
        m_Destroyer.SetDoomed(m_pThis);
    }
    return m_pThis;
}

CLogger* CLoggerManager::FindByFileName(const CString& name) const
{
    for (CLogger* logger : m_loggers)
        if (logger->GetFileName() == name) return logger;
    return nullptr;
}

CLogger* CLoggerManager::AddNewLogger(CString strFileName, bool bNewFile, bool bClientFlag, int nDeviceId,
                                      unsigned long nMaxFileSizeMB, int bAddBookmarkInAssert, int bCutLogInAssert)
{
    CString directory;
    if (!strFileName.IsEmpty()) {
        // The directory is split off at the last separator (backslash, or '/').
        directory = PathFolder(strFileName);
        strFileName = PathFileName(strFileName);
        if (!LogFormat::HasLogExtension(strFileName)) strFileName += LogFormat::kExtension;
        if (CLogger* existing = FindByFileName(strFileName)) return existing;
    } else {
        // A name made here never replaces a file: a taken one moves on to "~2", "~3", ...
        strFileName.Format("LogFile%d.vkl", m_nNextLogIndex++);
        strFileName = CLogger::UniqueLogName(CLogger::GetLogFilesPath(), strFileName);
    }
    auto* logger = new CLogger(strFileName, bNewFile, bClientFlag, directory, nDeviceId, nMaxFileSizeMB,
                               bAddBookmarkInAssert, bCutLogInAssert);
    m_loggers.push_back(logger);
    return logger;
}

CLogger* CLoggerManager::AddScriptLogger(CString strFileName, bool bNewFile, bool bClientFlag, const CString& strPath,
                                         void* pOwner)
{
    if (strFileName.GetLength() < 4 || !LogFormat::HasLogExtension(strFileName)) strFileName += LogFormat::kExtension;
    if (CLogger* existing = FindByFileName(strFileName)) {
        if (!IsScriptLogger(existing)) m_ownerRecords.push_back({pOwner, existing});
        return existing;
    }
    auto* logger = new CLogger(strFileName, bNewFile, bClientFlag, strPath, -1, 0, 0, 0);
    if (!logger->GetClient()) {
        delete logger;
        return nullptr;
    }
    m_loggers.push_back(logger);
    m_ownerRecords.push_back({pOwner, logger});
    return logger;
}

void CLoggerManager::RemoveLogger(CLogger* pLogger)
{
    auto it = std::find(m_loggers.begin(), m_loggers.end(), pLogger);
    if (it != m_loggers.end()) {
        m_loggers.erase(it);
        pLogger->Pause();
        delete pLogger;
    }
    auto rec = std::find_if(m_ownerRecords.begin(), m_ownerRecords.end(),
                            [&](const LoggerOwnerRecord& r) { return r.m_pLogger == pLogger; });
    if (rec != m_ownerRecords.end()) m_ownerRecords.erase(rec);
}

void CLoggerManager::DeleteAll()
{
    while (!m_loggers.empty()) {
        CLogger* logger = m_loggers.front();
        m_loggers.pop_front();
        delete logger;
    }
}

void CLoggerManager::CloseAllScriptLoggers(void* pOwner)
{
    for (auto it = m_ownerRecords.begin(); it != m_ownerRecords.end();) {
        auto next = std::next(it);
        if (it->m_pOwner == pOwner) RemoveLogger(it->m_pLogger);  // removes *it
        it = next;
    }
}

void CLoggerManager::ClearScriptLoggerList(void* pOwner)
{
    m_ownerRecords.remove_if([&](const LoggerOwnerRecord& r) { return r.m_pOwner == pOwner; });
}

int CLoggerManager::IsScriptLogger(CLogger* pLogger) const
{
    return std::any_of(m_ownerRecords.begin(), m_ownerRecords.end(),
                       [&](const LoggerOwnerRecord& r) { return r.m_pLogger == pLogger; })
               ? 1
               : 0;
}

void CLoggerManager::OpenSpecificLogger(long lSource)
{
    const auto* record = reinterpret_cast<const CSourceRecord*>(static_cast<intptr_t>(lSource));
    if (!record) return;
    CLogger* logger = AddNewLogger(record->m_strDisplayName + " Log", /*bNewFile=*/true, /*bClientFlag=*/false,
                                   /*nDeviceId=*/-1, /*nMaxFileSizeMB=*/0, /*bAddBookmarkInAssert=*/0,
                                   /*bCutLogInAssert=*/0);
    CMessageClient* client = logger->GetClient();
    if (!client) return;
    client->SetSourceFilter2(-1, -1);
    client->SetSourceFilter(record->m_nSourceId1, record->m_nSourceId2);
    logger->Resume();
}

extern "C" {
CLoggerManager* Init()
{
    return CLoggerManager::Instance();
}

void Term()
{
    CLoggerManager::Instance()->DeleteAll();
}

void OpenSpecificLogger(long lSource)
{
    CLoggerManager::Instance()->OpenSpecificLogger(lSource);
}
}

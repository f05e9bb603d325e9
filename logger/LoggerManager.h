#pragma once
// CLoggerManager: the one object that creates, finds and deletes every CLogger, ordinary
// loggers and script loggers (made on behalf of an owner, such as a host script).
#include <cstddef>
#include <cstdint>
#include <list>

#include "framework/String.h"
#include "logger/Logger.h"

// The host's description of one source of messages, whose address OpenSpecificLogger
// receives: two identifiers in its second and third 32-bit words and the display name
// in its fifth.
struct CSourceRecord {
    int32_t m_nKind = 0;
    int32_t m_nSourceId1 = -1;
    int32_t m_nSourceId2 = -1;
    int32_t m_nFlags = 0;
    CString m_strDisplayName;
};
static_assert(offsetof(CSourceRecord, m_nSourceId1) == 4 && offsetof(CSourceRecord, m_nSourceId2) == 8 &&
                  offsetof(CSourceRecord, m_strDisplayName) == 16,
              "the host reads the record by its 32-bit words");

struct LoggerOwnerRecord {
    void* m_pOwner = nullptr;
    CLogger* m_pLogger = nullptr;  // not owned
};

// Deletes the manager once, when the module's static objects are destroyed.
template <typename T>
class CSingletonDestroyer {
public:
    ~CSingletonDestroyer()
    {
        if (m_pDoomed && !m_bDestroyed) {
            m_bDestroyed = true;
            delete m_pDoomed;
        }
    }
    void SetDoomed(T* p) { m_pDoomed = p; }

private:
    T* m_pDoomed = nullptr;
    bool m_bDestroyed = false;
};

class CLoggerManager {
public:
    static CLoggerManager* Instance();

    CLogger* AddNewLogger(CString strFileName, bool bNewFile, bool bClientFlag, int nDeviceId, unsigned long nMaxFileSizeMB,
                          int bAddBookmarkInAssert, int bCutLogInAssert);
    CLogger* AddScriptLogger(CString strFileName, bool bNewFile, bool bClientFlag, const CString& strPath, void* pOwner);
    void RemoveLogger(CLogger* pLogger);
    void CloseLogger(CLogger* pLogger) { RemoveLogger(pLogger); }
    void DeleteAll();
    void CloseAllScriptLoggers(void* pOwner);
    void ClearScriptLoggerList(void* pOwner);
    int IsScriptLogger(CLogger* pLogger) const;
    const std::list<CLogger*>* GetLoggerList() const { return &m_loggers; }
    void OpenSpecificLogger(long lSource);

private:
    friend class CSingletonDestroyer<CLoggerManager>;
    CLoggerManager() = default;
    virtual ~CLoggerManager() = default;  // frees the list nodes, not the loggers

    CLogger* FindByFileName(const CString& name) const;

    std::list<CLogger*> m_loggers;  // owned
    std::list<LoggerOwnerRecord> m_ownerRecords;
    int m_nNextLogIndex = 1;

    static CLoggerManager* m_pThis;
    static CSingletonDestroyer<CLoggerManager> m_Destroyer;
};

// The module's plain entry points.
extern "C" {
CLoggerManager* Init();
void Term();
void OpenSpecificLogger(long lSource);
}

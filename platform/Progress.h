#pragma once
// Progress and stopping of long file operations (merges, extractions): a host service.
//
// The operation tells the installed service how far it is (bytes done and in all, and
// the file it reads) at most about ten times a second, and asks it at every record
// boundary whether to stop. Without a service nothing is reported and nothing stops.
#include <chrono>
#include <memory>

#include "framework/String.h"
#include "framework/Types.h"

class IProgressService {
public:
    virtual ~IProgressService() = default;
    virtual void Report(ULONGLONG bytesDone, ULONGLONG bytesTotal, const CString& file) = 0;
    // True asks the operation to stop at the next record boundary.
    virtual bool StopRequested() = 0;
    // The shortest time between two reports.
    virtual std::chrono::milliseconds ReportInterval() const { return std::chrono::milliseconds(100); }
};

// One operation's view of the installed service: asks for a stop at every record and
// reports when the interval has passed (the clock is looked at every few records only).
class CProgressReporter {
public:
    CProgressReporter(ULONGLONG total, CString file);
    bool StopRequested() { return m_service && m_service->StopRequested(); }
    // Called once per record: true when a report is due.
    bool Due()
    {
        if (!m_service || ++m_calls % kCallsPerClockLook != 0) return false;
        return std::chrono::steady_clock::now() >= m_next;
    }
    void Report(ULONGLONG done);

private:
    static constexpr unsigned kCallsPerClockLook = 64;
    std::shared_ptr<IProgressService> m_service;
    ULONGLONG m_total;
    CString m_file;
    unsigned m_calls = 0;
    std::chrono::steady_clock::time_point m_next;
};

// The user interface of the host, for what the library shows while it works: the wait
// cursor. The default shows nothing.
class IUserInterface {
public:
    virtual ~IUserInterface() = default;
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}
};

// Shows the wait cursor of the installed user interface for the life of the object.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    std::shared_ptr<IUserInterface> m_ui;
};

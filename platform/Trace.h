#pragma once
// The host's trace output: lines of text to an installed sink (off by default).
#include <cstdio>
#include <mutex>
#include <vector>

#include "framework/String.h"

class ITraceSink {
public:
    virtual ~ITraceSink() = default;
    virtual void Write(const CString& text) = 0;
};

// Writes to a C stream (stderr, or a file the sink opens and owns).
class CStreamTraceSink : public ITraceSink {
public:
    explicit CStreamTraceSink(FILE* stream) : m_stream(stream) {}
    explicit CStreamTraceSink(const char* path);
    ~CStreamTraceSink() override;
    void Write(const CString& text) override;

private:
    FILE* m_stream = nullptr;
    bool m_bOwned = false;
    std::mutex m_mutex;
};

// Keeps every line (tests).
class CMemoryTraceSink : public ITraceSink {
public:
    void Write(const CString& text) override;
    std::vector<CString> Lines() const;

private:
    mutable std::mutex m_mutex;
    std::vector<CString> m_lines;
};

// Sends one text to the installed sink; nothing when none is installed.
void WriteTrace(const char* text);

// The host's ear for the log files that loggers open for writing (none by default): a
// host that reports what a recording made listens here. Called from whichever thread
// opens the file (a roll-over runs on the logger's message worker).
class ILogFileObserver {
public:
    virtual ~ILogFileObserver() = default;
    virtual void OpenedForWriting(const CString& path) = 0;
};

// Tells the installed observer; nothing when none is installed.
void NotifyLogFileOpened(const CString& path);

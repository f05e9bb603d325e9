#include "platform/Trace.h"

#include "platform/Services.h"

CStreamTraceSink::CStreamTraceSink(const char* path) : m_stream(std::fopen(path, "a")), m_bOwned(true) {}

CStreamTraceSink::~CStreamTraceSink()
{
    if (m_bOwned && m_stream) std::fclose(m_stream);
}

void CStreamTraceSink::Write(const CString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stream) return;
    std::fputs(text.c_str(), m_stream);
    std::fflush(m_stream);
}

void CMemoryTraceSink::Write(const CString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(text);
}

std::vector<CString> CMemoryTraceSink::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

void WriteTrace(const char* text)
{
    if (auto sink = Services::Trace()) sink->Write(text ? text : "");
}

void NotifyLogFileOpened(const CString& path)
{
    if (auto observer = Services::FileObserver()) observer->OpenedForWriting(path);
}

#include "platform/Progress.h"

#include "platform/Services.h"

CProgressReporter::CProgressReporter(ULONGLONG total, CString file)
    : m_service(Services::Progress()), m_total(total), m_file(std::move(file))
{
    if (m_service) m_next = std::chrono::steady_clock::now() + m_service->ReportInterval();
}

void CProgressReporter::Report(ULONGLONG done)
{
    if (!m_service) return;
    m_service->Report(done, m_total, m_file);
    m_next = std::chrono::steady_clock::now() + m_service->ReportInterval();
}

CWaitCursor::CWaitCursor() : m_ui(Services::UserInterface())
{
    if (m_ui) m_ui->BeginWaitCursor();
}

CWaitCursor::~CWaitCursor()
{
    if (m_ui) m_ui->EndWaitCursor();
}

// Import from GKI: every record of a GKI file becomes one message of a new log, numbered
// from 1 in file order and written as it is read.
#include <algorithm>
#include <new>

#include "convert/ConversionOutcome.h"
#include "convert/ConvertTexts.h"
#include "convert/GKISignalRecReader.h"
#include "convert/GkiConversion.h"
#include "convert/LogFileConverter.h"
#include "convert/UseModuleResources.h"
#include "framework/Archive.h"
#include "framework/MessageBox.h"
#include "framework/SeTranslator.h"

namespace {

// The bytes of a log record around its data: kind, device, time stamp, data length,
// message index, further value.
constexpr uint64_t kRecordOverhead = 4 + 4 + 16 + 4 + 8 + 4;

class GkiImport {
public:
    explicit GkiImport(CConverterState& s)
        : m_s(s),
          m_lock(s.m_lock),
          m_length(s.m_gkiInFile.GetLength()),
          m_progress(m_length),
          m_out(&s.m_importLog, CArchive::store, Gki::kWriteBufferSize)
    {
    }
    // Imports up to the end of the file, a stop or the size limit; framework errors (an
    // unknown type code among them), a processor fault and a failed write propagate.
    void Run();

private:
    enum class Turn { next, end };
    Turn ReadOne(CVESKMessage*& message);
    bool Write(CVESKMessage& message);

    CConverterState& m_s;
    Gki::RecordLock m_lock;
    const uint64_t m_length;
    Gki::ProgressSteps m_progress;
    CArchive m_out;
    CGKISignalRecReader m_reader;
    uint64_t m_recordsEnd = CLogFile::kFirstRecord;
};

void GkiImport::Run()
{
    try {
        for (uint64_t at = m_s.m_gkiInFile.GetPosition(); at < m_length; at = m_s.m_gkiInFile.GetPosition()) {
            if (m_s.IsStopRequested()) {
                m_s.m_bImporting = 0;
                break;
            }
            m_lock.BeforeProgress(m_progress, at);
            m_progress.Turn(m_s, at);
            CVESKMessage* message = nullptr;
            if (ReadOne(message) == Turn::end) break;
            if (message && !Write(*message)) break;
        }
        m_lock.Release();
        m_s.m_gkiCounts.notConverted = m_reader.m_nBodiesNotConverted;
        m_out.Close();
    } catch (...) {
        m_lock.Release();
        m_s.m_gkiCounts.notConverted = m_reader.m_nBodiesNotConverted;
        m_out.Abort();
        throw;
    }
}

// Reads the next record into a message, under m_lock; `message` stays null after a read
// error inside the file.
GkiImport::Turn GkiImport::ReadOne(CVESKMessage*& message)
{
    m_lock.Take();
    if (m_s.IsAbandoned()) return Turn::end;
    try {
        ReadThroughFreshArchive(m_s.m_gkiInFile, [this](CArchive& ar) { m_reader.Serialize(ar); });
    } catch (const CArchiveException&) {
        if (!IsReadErrorPosition(m_s.m_gkiInFile.GetPosition(), m_length)) {
            ++m_s.m_gkiCounts.cutShort;  // a last record cut short: dropped
            return Turn::end;
        }
        m_lock.Release();
        Gki::CutBack(m_out, m_s.m_importLog, CLogFile::kFirstRecord);
        m_recordsEnd = CLogFile::kFirstRecord;
        m_s.m_gkiCounts.dropped += m_s.m_gkiCounts.written.exchange(0);
        ++m_s.m_gkiCounts.readErrors;
        if (!m_s.IsAbandoned()) AfxMessageBox(ConvertTexts::kReadError, MB_OK);
        return Turn::next;
    }
    GkiCounts::Add(m_s.m_gkiCounts.read);
    message = m_reader.PeekMessage();  // filled again by the next read
    return Turn::next;
}

// Writes one message behind the others; false, with the size-limit text collected, when
// it would take the log past the largest size a log file can have.
bool GkiImport::Write(CVESKMessage& message)
{
    const uint64_t size = kRecordOverhead + static_cast<uint64_t>(std::max(message.GetDataLength(), 0));
    if (m_recordsEnd + size > m_s.m_nImportRecordsLimit) {
        m_s.m_errors.push_front(ConvertTexts::kImportSizeLimit);
        m_s.m_gkiCounts.sizeLimit = true;
        return false;
    }
    m_lock.BeforeWrite(m_out, size);
    message.Serialize(m_out);
    m_recordsEnd += size;
    GkiCounts::Add(m_s.m_gkiCounts.written);
    return true;
}

}  // namespace

UINT CConverterState::ImportGKIThread(CConverterState& s)
{
    CSeTranslatorScope translator;
    bool failed = false;
    try {
        GkiImport(s).Run();
    } catch (const CException&) {
        failed = true;  // SE_Exception and the reader's CNotSupportedException among them
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    if (failed) Gki::CutBackQuietly(s.m_importLog, CLogFile::kFirstRecord);  // its close deletes it
    CloseQuietly(s.m_gkiInFile);
    CloseQuietly(s.m_importLog);
    s.m_bImporting = 0;
    s.m_bImportOk = failed ? 0 : 1;
    if (failed || s.IsStopRequested()) {
        // A stop shows nothing, and its converter's destructor need not wait.
        s.EndWorker(failed ? CString(ConvertTexts::kConversionFailed) : CString());
        return failed ? 0 : 1;
    }
    s.CloseProgressWindow();
    s.ClearThread();
    s.m_evDone.SetEvent();  // IsConverting is false while the outcome is shown
    ShowConversionOutcome(s.m_errors, ConvertTexts::kGkiErrorsFile);
    return 1;
}

bool CLogFileConverter::ConvertGKILogToVkl(const char* gkiPath, const char* logPath)
{
    if (!m_gkiInFile.Open(gkiPath, CFile::modeRead | CFile::shareDenyWrite)) {
        AfxMessageBox(ConvertTexts::kOpenLogForReading, MB_OK);
        return false;
    }
    if (!m_importLog.Open(logPath, /*bWrite=*/1, /*bNew=*/1, /*bReadOnly=*/0)) {
        AfxMessageBox(ConvertTexts::kOpenLogForWriting, MB_OK);
        CConverterState::CloseQuietly(m_gkiInFile);
        return false;
    }
    m_errors.clear();
    m_state->m_gkiCounts.Reset();
    UseModuleResources resources;
    m_bImporting = 1;
    StartWorker(CString(ConvertTexts::kConverting) + gkiPath, m_gkiInFile.GetLength(),
                &CConverterState::ImportGKIThread);
    return true;
}

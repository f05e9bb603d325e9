// Export to GKI: every signal and logged-signal message of a log becomes one GKI record,
// written in message order as it is made (docs/FORMAT.md, "GKI log").
#include <new>

#include "convert/ConversionOutcome.h"
#include "convert/ConvertTexts.h"
#include "convert/EnumSizeConverter.h"
#include "convert/GKIRec.h"
#include "convert/GkiConversion.h"
#include "convert/LogFileConverter.h"
#include "convert/UseModuleResources.h"
#include "framework/Archive.h"
#include "framework/MessageBox.h"
#include "framework/SeTranslator.h"

namespace {

// One export: the source read message by message, the records written behind one
// another.
class GkiExport {
public:
    explicit GkiExport(CConverterState& s)
        : m_s(s),
          m_lock(s.m_lock),
          m_end(s.m_logFile.GetHeaderPosition()),
          m_progress(m_end),
          m_out(&s.m_gkiOutFile, CArchive::store, Gki::kWriteBufferSize)
    {
    }
    // Converts up to the end of the records or a stop; framework errors, a processor
    // fault and a failed write propagate.
    void Run();

private:
    enum class Turn { next, end };
    Turn ReadOne(CGKIRec*& record);
    void LeaveOut(const CVESKMessage& message);
    void ReadError();

    CConverterState& m_s;
    Gki::RecordLock m_lock;
    const DWORD m_end;
    Gki::ProgressSteps m_progress;
    CArchive m_out;
    CEnumSizeConverter m_converter;
    CGKIRecPool m_records;
    CVESKMessage m_message;
};

void GkiExport::Run()
{
    try {
        for (uint64_t at = m_s.m_logFile.GetPosition(); at < m_end && !m_s.IsStopRequested();
             at = m_s.m_logFile.GetPosition()) {
            m_lock.BeforeProgress(m_progress, at);
            m_progress.Turn(m_s, at);
            CGKIRec* record = nullptr;
            if (ReadOne(record) == Turn::end) break;
            if (!record) continue;
            m_lock.BeforeWrite(m_out, record->StoredSizeAtMost());
            record->Serialize(m_out);
            GkiCounts::Add(m_s.m_gkiCounts.written);
        }
        m_lock.Release();
        m_out.Close();
    } catch (...) {
        m_lock.Release();
        m_out.Abort();
        throw;
    }
}

// Reads the next message and makes its record, under m_lock; `record` stays null for a
// message that is left out or that failed to read inside the records.
GkiExport::Turn GkiExport::ReadOne(CGKIRec*& record)
{
    m_lock.Take();
    if (m_s.IsAbandoned()) return Turn::end;
    try {
        ReadLogRecord(m_s.m_logFile, m_message);
    } catch (const SE_Exception&) {
        throw;
    } catch (const CArchiveException&) {
        if (!IsReadErrorPosition(m_s.m_logFile.GetPosition(), m_end)) return Turn::end;
        m_lock.Release();
        ReadError();
        return Turn::next;
    }
    // A record that read into the header is the header's bytes, not a message.
    if (m_s.m_logFile.GetPosition() > m_end) return Turn::end;
    GkiCounts::Add(m_s.m_gkiCounts.read);
    record = m_records.ForMessage(m_message);
    if (!record) {
        LeaveOut(m_message);
        return Turn::next;
    }
    const BYTE* data = m_message.GetData() + CVESKMessage::kHeaderSize;
    if (!record->FromMessage(data, m_message.GetDataLength() - CVESKMessage::kHeaderSize, m_converter)) {
        m_s.m_errors.push_front(record->GetErrorText());
        ++m_s.m_gkiCounts.notConverted;
        record = nullptr;
    }
    return Turn::next;
}

void GkiExport::LeaveOut(const CVESKMessage& message)
{
    ++(message.GetKind() == 1 ? m_s.m_gkiCounts.otherType : m_s.m_gkiCounts.otherKind);
}

// A read error inside the records: the records written so far are dropped.
void GkiExport::ReadError()
{
    Gki::CutBack(m_out, m_s.m_gkiOutFile, 0);
    m_s.m_gkiCounts.dropped += m_s.m_gkiCounts.written.exchange(0);
    ++m_s.m_gkiCounts.readErrors;
    if (!m_s.IsAbandoned()) AfxMessageBox(ConvertTexts::kReadError, MB_OK);
}

}  // namespace

UINT CConverterState::ExportToGKIThread(CConverterState& s)
{
    CSeTranslatorScope translator;
    bool failed = false;
    try {
        GkiExport(s).Run();
    } catch (const CException&) {
        failed = true;  // SE_Exception among them
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    if (failed) Gki::CutBackQuietly(s.m_gkiOutFile, 0);  // the GKI file stays behind empty
    CloseQuietly(s.m_logFile);
    CloseQuietly(s.m_gkiOutFile);
    if (failed) {
        s.EndWorker(ConvertTexts::kConversionFailed);
        return 0;
    }
    if (s.IsStopRequested()) {
        // The converter is going away: no box; its destructor need not wait.
        s.EndWorker(CString());
        return 1;
    }
    s.CloseProgressWindow();
    ShowConversionOutcome(s.m_errors, ConvertTexts::kGkiErrorsFile);
    s.m_errors.clear();
    s.ClearThread();
    s.m_evDone.SetEvent();
    return 1;
}

void CLogFileConverter::ConvertLogToGKI(const char* logPath, const char* gkiPath)
{
    if (!m_logFile.Open(logPath, 0, 0, 0)) {
        AfxMessageBox(ConvertTexts::kOpenLogForReading, MB_OK);
        return;
    }
    if (!OpenNewOutput(m_gkiOutFile, gkiPath)) {
        AfxMessageBox(ConvertTexts::kOpenLogForWriting, MB_OK);
        CConverterState::CloseQuietly(m_logFile);
        return;
    }
    m_errors.clear();
    m_state->m_gkiCounts.Reset();
    UseModuleResources resources;
    StartWorker(CString(ConvertTexts::kConverting) + logPath, m_logFile.GetLength(),
                &CConverterState::ExportToGKIThread);
}

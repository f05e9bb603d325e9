// The converter's frame: its members, its life, the launch of an asynchronous conversion
// and the end of one.
#include "convert/LogFileConverter.h"

#include <cstring>
#include <new>

#include "convert/ConvertTexts.h"
#include "convert/SelectColumnsDlg.h"
#include "convert/UseModuleResources.h"
#include "framework/MessageBox.h"
#include "framework/SeTranslator.h"
#include "resources/resource.h"

bool OpenNewOutput(CFile& file, const char* path, UINT flags)
{
    return file.Open(path, CFile::modeCreate | CFile::modeCreateNew | CFile::modeNoFollow | CFile::modeWrite |
                               CFile::shareDenyWrite | flags) != FALSE;
}

// ---- the shared state ----

CConverterState::CConverterState(CConverter* pConverter)
    : m_pConverter(pConverter ? pConverter : GetConverterInstance())
{
    m_mapRowValues.rehash(kRowMapBuckets);
}

CConverterState::~CConverterState() = default;

void CConverterState::PostProgress(ULONGLONG position)
{
    m_progressWnd.PostMessage(CLogConvertProgressWnd::WM_CONVERT_PROGRESS, 0, static_cast<LPARAM>(position));
}

void CConverterState::CloseProgressWindow()
{
    // A window that is not there (never made, or gone) refuses the post.
    m_progressWnd.PostMessage(CLogConvertProgressWnd::WM_CONVERT_END, 0, 0);
}

void CConverterState::EndWorker(const CString& outcome)
{
    CloseProgressWindow();
    if (!outcome.IsEmpty() && !IsAbandoned()) AfxMessageBox(outcome);
    ClearThread();
    m_evDone.SetEvent();
}

void CConverterState::ClearThread()
{
    std::unique_ptr<CWinThread> thread;
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        thread = std::move(m_ownThread);
        m_pThread = nullptr;
    }
    // Dropped outside the lock; the thread itself runs on to its end, detached.
}

void CConverterState::CloseQuietly(CFile& file)
{
    if (!file.IsOpen()) return;
    try {
        file.Close();
    } catch (const CException&) {
        file.Abort();
    }
}

CString CConverterState::WriteErrorText(const CFileException& e)
{
    CString text = ConvertTexts::kWriteError;
    text += "\n";
    text += e.m_lOsError ? CString(std::strerror(e.m_lOsError)) : e.GetErrorMessage();
    return text;
}

CString CConverterState::FailureOf(const std::function<void()>& body)
{
    try {
        body();
        return CString();
    } catch (const SE_Exception&) {
        return ConvertTexts::kFailedCorrupt;
    } catch (const CFileException& e) {
        return WriteErrorText(e);
    } catch (const std::bad_alloc&) {
        return ConvertTexts::kFailedCorrupt;
    }
}

UINT CConverterState::RunExportWorker(CConverterState& s, const std::function<CString()>& body)
{
    CSeTranslatorScope translator;
    CString outcome;
    const CString failure = FailureOf([&] { outcome = body(); });
    CloseQuietly(s.m_outFile);
    CloseQuietly(s.m_logFile);
    s.EndWorker(failure.IsEmpty() ? outcome : failure);
    return 1;
}

// ---- the converter ----

CLogFileConverter::CLogFileConverter(CConverter* pConverter)
    : m_state(std::make_shared<CConverterState>(pConverter)),
      m_pThread(m_state->m_pThread),
      m_bImportOk(m_state->m_bImportOk),
      m_bSdImportOk(m_state->m_bSdImportOk),
      m_progressWnd(m_state->m_progressWnd),
      m_pBatchDlg(m_state->m_pBatchDlg),
      m_pConverter(m_state->m_pConverter),
      m_logFile(m_state->m_logFile),
      m_outFile(m_state->m_outFile),
      m_gkiOutFile(m_state->m_gkiOutFile),
      m_importLog(m_state->m_importLog),
      m_gkiInFile(m_state->m_gkiInFile),
      m_bImporting(m_state->m_bImporting),
      m_sdInFile(m_state->m_sdInFile),
      m_bSdImporting(m_state->m_bSdImporting),
      m_evRun(m_state->m_evRun),
      m_evDone(m_state->m_evDone),
      m_lock(m_state->m_lock),
      m_astrColumns(m_state->m_astrColumns),
      m_mapRowValues(m_state->m_mapRowValues),
      m_errors(m_state->m_errors),
      m_bCsv(m_state->m_bCsv),
      m_pFilter(m_state->m_pFilter),
      m_bRawData(m_state->m_bRawData),
      m_wMaxPacketLength(m_state->m_wMaxPacketLength),
      m_nFirstPacketOffset(m_state->m_nFirstPacketOffset),
      m_wMinPacketLength(m_state->m_wMinPacketLength),
      m_packetOffsets(m_state->m_packetOffsets),
      m_nFromIndex(m_state->m_nFromIndex),
      m_nToIndex(m_state->m_nToIndex)
{
    m_state->m_pOwner = this;
}

CLogFileConverter::~CLogFileConverter()
{
    CConverterState& s = *m_state;
    {
        std::lock_guard<std::mutex> owner(s.m_ownerMutex);  // no outcome routine runs past here
        s.m_pOwner = nullptr;
    }
    s.m_evRun.ResetEvent();
    if (IsConverting() && s.m_pThread.load()) {
        // The wait comes before the lock, so that a worker waiting for the lock to read
        // its next record is not taken for one that hangs; the lock then keeps the files
        // from closing under a record being read.
        const bool ended = s.m_evDone.Wait(kStopWaitMs);
        std::lock_guard<CCriticalSection> lock(s.m_lock);
        if (ended) {
            CConverterState::CloseQuietly(s.m_logFile);
            CConverterState::CloseQuietly(s.m_outFile);
        } else {
            // Let go: the worker keeps the state, reads no further record, closes its
            // files itself and ends without a word.
            s.m_bAbandoned = true;
            std::lock_guard<std::mutex> threadLock(s.m_threadMutex);
            s.m_ownThread.reset();
            s.m_pThread = nullptr;
        }
    }
    // The host's thread made the progress window; it goes here, not with the state.
    s.m_progressWnd.DestroyWindow();
    s.m_mapRowValues.clear();
}

bool CLogFileConverter::IsConverting()
{
    return m_state->IsConverting();
}

void CLogFileConverter::SetSelectedColumns(const std::vector<CString>& columns)
{
    m_astrColumns.assign(columns.begin(), columns.end());
}

void CLogFileConverter::ConvertLogToHTML(const char* logPath, const char* outPath, bool bText)
{
    if (!m_logFile.Open(logPath, 0, 0, 0)) {
        AfxMessageBox(ConvertTexts::kOpenLogForReading);
        return;
    }
    if (!OpenNewOutput(m_outFile, outPath, CFile::typeText)) {
        AfxMessageBox(ConvertTexts::kOpenForWriting);
        CConverterState::CloseQuietly(m_logFile);
        return;
    }
    UseModuleResources resources;
    CSelectColumnsDlg dlg(this);
    if (dlg.DoModal() != IDOK || m_astrColumns.empty()) {
        CConverterState::CloseQuietly(m_logFile);
        CConverterState::CloseQuietly(m_outFile);  // stays behind, empty
        return;
    }
    StartWorker(CString(ConvertTexts::kConverting) + logPath, m_logFile.GetLength(),
                bText ? &CConverterState::TextWriterThread : &CConverterState::HtmlWriterThread);
}

void CLogFileConverter::StartWorker(const CString& text, ULONGLONG range, CConverterState::WorkerProcedure worker)
{
    CConverterState& s = *m_state;
    s.m_evDone.ResetEvent();
    if (s.m_progressWnd.IsWindow()) s.m_progressWnd.DestroyWindow();  // a last one nobody ended
    s.m_progressWnd.m_strText = text;
    s.m_progressWnd.SetProgressSize(range);
    if (s.m_progressWnd.Create(IDD_CONVERT_PROGRESS, AfxGetMainWnd())) s.m_progressWnd.ShowWindow(SW_SHOW);

    s.m_evWorkerEnded.ResetEvent();
    std::lock_guard<std::mutex> lock(s.m_threadMutex);
    std::shared_ptr<CConverterState> state = m_state;
    s.m_ownThread = CWinThread::Start(
        [state, worker] {
            std::unique_lock<std::mutex> started(state->m_threadMutex);  // m_pThread is set
            started.unlock();
            const UINT result = worker(*state);
            state->m_evWorkerEnded.SetEvent();
            return result;
        },
        THREAD_PRIORITY_NORMAL);
    s.m_pThread = s.m_ownThread.get();
}

#include "replay/LogFilePlayer.h"

#include "framework/MessageBox.h"
#include "platform/MessageBus.h"
#include "platform/VESKMessage.h"

namespace {
constexpr const char* kReadError = "Error reading log file.";
constexpr const char* kEndQuestion = "End of File Reached. Rewind and Begin Again?";
constexpr DWORD kStopWaitMs = 1000;
constexpr int kReplayPriority = THREAD_PRIORITY_IDLE;
}  // namespace

struct CLogFilePlayer::State {
    CWnd* pWnd = nullptr;
    CLogFile file;
    std::mutex fileLock;             // the thread and the host's calls take turns on the file
    std::mutex stepLock;             // held by the thread from the run test to the counted message
    CEvent evStop{false, true};      // manual reset: the thread ends at its next boundary
    CEvent evRun{true, true};        // manual reset: reset while paused
    CEvent evWake{false, false};     // interrupts the pause between two messages
    std::atomic<unsigned int> speed{10};
    std::atomic<int> looped{0};
    std::atomic<DWORD> counter{0};
    std::atomic<bool> playing{false};
    std::atomic<bool> kill{false};   // end without notification
    std::atomic<CMessageSender*> sender{nullptr};

    bool ShouldEnd() { return kill.load() || evStop.Lock(0); }

    void Rewind()
    {
        std::lock_guard<std::mutex> lock(fileLock);
        if (file.IsOpen()) file.Seek(static_cast<LONG>(CLogFile::kFirstRecord), CFile::begin);
        counter = 0;
    }

    // Reads the record at the position and hands it to the sender.
    void ReplayOne()
    {
        auto message = std::make_unique<CVESKMessage>();
        ReadLogRecord(file, *message);
        if (CMessageSender* s = sender.load()) s->InjectMessage(message.release());
    }
};

CLogFilePlayer::CLogFilePlayer(CWnd* pWnd) : m_state(std::make_shared<State>())
{
    m_state->pWnd = pWnd;
    m_pSender = CreateMessageSender("Logger", "Logger Replayer");
    m_state->sender = m_pSender;
}

CLogFilePlayer::~CLogFilePlayer()
{
    StopThread();
    Terminate();
    std::lock_guard<std::mutex> lock(m_state->fileLock);
    if (m_state->file.IsOpen()) m_state->file.Abort();
}

bool CLogFilePlayer::HasThread() const
{
    return m_pThread && !m_pThread->HasEnded();
}

bool CLogFilePlayer::LoadLogFile(const CString& strPath)
{
    KillThread();
    std::lock_guard<std::mutex> lock(m_state->fileLock);
    if (m_state->file.IsOpen()) m_state->file.Close();
    return m_state->file.Open(strPath.c_str(), 0, 1, 0) != 0;
}

bool CLogFilePlayer::Resume()
{
    {
        std::lock_guard<std::mutex> lock(m_state->fileLock);
        if (!m_state->file.IsOpen()) return false;
    }
    if (!HasThread()) {
        m_pThread.reset();  // an ended thread, if any
        m_state->evStop.ResetEvent();
        m_state->kill = false;
        m_state->evRun.SetEvent();
        m_state->playing = true;
        std::shared_ptr<State> state = m_state;
        m_pThread = CWinThread::Start([state] { return PlayFunc(state.get()); }, kReplayPriority);
    } else {
        m_state->playing = true;
        m_state->evRun.SetEvent();
        m_state->evWake.SetEvent();
    }
    return true;
}

bool CLogFilePlayer::Pause()
{
    {
        std::lock_guard<std::mutex> lock(m_state->fileLock);
        if (!m_state->file.IsOpen()) return false;
    }
    if (!HasThread()) return false;
    if (m_state->playing) {
        m_state->evRun.ResetEvent();
        m_state->evWake.SetEvent();
    }
    m_state->playing = false;
    // A message already on its way is sent and counted before Pause returns; after it,
    // nothing moves until Resume.
    std::lock_guard<std::mutex> step(m_state->stepLock);
    return true;
}

bool CLogFilePlayer::IsPlaying() const
{
    return m_state->playing;
}

void CLogFilePlayer::SetSpeed(unsigned int nMs)
{
    m_state->speed = nMs;
}

void CLogFilePlayer::SetLooped(int bLooped)
{
    m_state->looped = bLooped;
}

DWORD CLogFilePlayer::GetMessageCounter() const
{
    return m_state->counter;
}

UINT CLogFilePlayer::PlayFunc(void* pState)
{
    State& s = *static_cast<State*>(pState);
    DWORD end = 0;
    {
        std::lock_guard<std::mutex> lock(s.fileLock);
        end = s.file.GetHeaderPosition();
    }
    s.Rewind();
    bool more = true;
    while (more && !s.ShouldEnd()) {
        for (;;) {
            if (s.ShouldEnd()) {
                more = false;
                break;
            }
            // Paused: wait here, between two messages.
            while (!s.evRun.Lock(0) && !s.ShouldEnd()) s.evWake.Lock(50);
            if (s.ShouldEnd()) {
                more = false;
                break;
            }
            bool failed = false;
            bool showError = false;
            {
                // A Pause that came after the run test waits for this message to be
                // counted; one that came before it is seen here and nothing is sent.
                std::lock_guard<std::mutex> step(s.stepLock);
                if (!s.evRun.Lock(0)) continue;
                std::lock_guard<std::mutex> lock(s.fileLock);
                if (!s.file.IsOpen() || s.file.GetPosition() >= end) break;
                try {
                    s.ReplayOne();
                    ++s.counter;
                } catch (const CArchiveException&) {
                    failed = true;
                    try {
                        showError = s.file.GetPosition() < end;
                    } catch (const CException&) {
                        showError = true;
                    }
                } catch (const CException&) {
                    failed = true;
                    showError = true;
                }
            }
            if (failed) {
                if (showError) AfxMessageBox(kReadError, MB_OK | MB_ICONEXCLAMATION);
                more = false;
                break;
            }
            const unsigned int pause = s.speed;
            if (pause) s.evWake.Lock(pause);
        }
        if (more && s.looped && !s.ShouldEnd())
            s.Rewind();
        else
            more = false;
    }
    if (s.kill) return 0;
    s.Rewind();
    // Not playing any more by the time the window hears of the end.
    s.playing = false;
    if (s.pWnd) s.pWnd->PostMessage(WM_PLAYER_END, 0, 0);
    return 1;
}

void CLogFilePlayer::Step()
{
    {
        std::lock_guard<std::mutex> lock(m_state->fileLock);
        if (!m_state->file.IsOpen()) return;
    }
    bool atEnd = false;
    {
        std::lock_guard<std::mutex> lock(m_state->fileLock);
        atEnd = m_state->file.GetPosition() >= m_state->file.GetHeaderPosition();
    }
    if (atEnd) {
        if (!m_state->looped && AfxMessageBox(kEndQuestion, MB_YESNO) != IDYES) return;
        RewindFile(true);
    }
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(m_state->fileLock);
        try {
            m_state->ReplayOne();
        } catch (const CException&) {
            failed = true;
        }
    }
    if (failed) AfxMessageBox(kReadError, MB_OK);
    ++m_state->counter;
    if (m_state->pWnd) m_state->pWnd->SendMessage(WM_PLAYER_STEP, 0, 0);
}

void CLogFilePlayer::RewindFile(bool bPause)
{
    {
        std::lock_guard<std::mutex> lock(m_state->fileLock);
        if (!m_state->file.IsOpen()) return;
    }
    if (bPause && m_state->playing) Pause();
    m_state->Rewind();
}

void CLogFilePlayer::KillThread()
{
    if (!m_pThread) return;
    m_state->kill = true;
    m_state->evWake.SetEvent();
    // The thread ends at its next boundary. One that is still showing a read-error box
    // is left to finish on its own: after the box it touches nothing but the shared state.
    m_pThread->WaitForEnd(kStopWaitMs);
    m_pThread.reset();
    m_state->playing = false;
}

void CLogFilePlayer::CloseFile()
{
    KillThread();
    std::lock_guard<std::mutex> lock(m_state->fileLock);
    if (m_state->file.IsOpen()) m_state->file.Close();
}

int CLogFilePlayer::GetFileSize()
{
    std::lock_guard<std::mutex> lock(m_state->fileLock);
    try {
        return m_state->file.IsOpen() ? static_cast<int>(m_state->file.GetLength()) : 0;
    } catch (const CException&) {
        return 0;
    }
}

int CLogFilePlayer::GetFilePosition()
{
    std::lock_guard<std::mutex> lock(m_state->fileLock);
    try {
        return m_state->file.IsOpen() ? static_cast<int>(m_state->file.GetPosition()) : 0;
    } catch (const CException&) {
        return 0;
    }
}

void CLogFilePlayer::Terminate()
{
    KillThread();
    m_state->sender = nullptr;
    if (m_pSender) DestroyMessageSender(&m_pSender);
}

void CLogFilePlayer::StopThread()
{
    if (!m_pThread) return;
    m_state->evStop.SetEvent();
    m_state->evRun.SetEvent();
    m_state->evWake.SetEvent();
    m_pThread->WaitForEnd(kStopWaitMs);
    RewindFile(false);
}

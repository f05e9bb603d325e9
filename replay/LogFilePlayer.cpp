#include "replay/LogFilePlayer.h"

#include <algorithm>
#include <vector>

#include "framework/MessageBox.h"
#include "platform/MessageBus.h"
#include "platform/VESKMessage.h"

namespace {
constexpr const char* kReadError = "Error reading log file.";
constexpr const char* kEndQuestion = "End of File Reached. Rewind and Begin Again?";
constexpr DWORD kStopWaitMs = 1000;
constexpr int kReplayPriority = THREAD_PRIORITY_IDLE;
// Read-ahead at speed 0: up to this many records, or this many data bytes, are read in
// one go and handed to the sender as one run.
constexpr size_t kBlockRecords = 256;
constexpr size_t kBlockBytes = 256 * 1024;
// A block slot whose data storage grew beyond this is freed after its run is sent.
constexpr size_t kLargestKept = 64 * 1024;
}  // namespace

struct CLogFilePlayer::State {
    // How one pass over the records ended.
    enum class PassEnd { endOfRecords, stopped, failed };
    // What one attempt to send a block did.
    enum class BlockResult { sent, paused, endOfRecords, rewound, failed, failedQuietly };

    CWnd* pWnd = nullptr;
    CLogFile file;
    std::mutex fileLock;          // the thread and the host's calls take turns on the file
    std::mutex stepLock;          // held by the thread from the run test to the counted block
    CEvent evStop{false, true};   // manual reset: the thread ends at its next boundary
    CEvent evRun{true, true};     // manual reset: reset while paused
    CEvent evWake{false, false};  // interrupts the pause between two messages
    std::atomic<unsigned int> speed{10};
    std::atomic<int> looped{0};
    std::atomic<DWORD> counter{0};
    std::atomic<bool> playing{false};
    std::atomic<bool> kill{false};  // end without notification
    std::atomic<CMessageSender*> sender{nullptr};
    std::vector<CVESKMessage> block;  // the replay thread's read-ahead, reused from block to block

    bool ShouldEnd() { return kill.load() || evStop.Lock(0); }

    void Rewind()
    {
        std::lock_guard<std::mutex> lock(fileLock);
        RewindHeld();
    }
    void RewindHeld()  // with fileLock held
    {
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

    PassEnd PlayPass(DWORD end);
    BlockResult SendBlock(DWORD end);
    BlockResult ReadBlock(DWORD end, size_t& count);
    // Waits while paused, between two blocks; false when the thread is to end.
    bool WaitWhilePaused();
};

CLogFilePlayer::State::BlockResult CLogFilePlayer::State::ReadBlock(DWORD end, size_t& count)
{
    const size_t most = speed.load() == 0 ? kBlockRecords : 1;
    size_t bytes = 0;
    count = 0;
    try {
        while (count < most && bytes < kBlockBytes && file.GetPosition() < end) {
            if (block.size() == count) block.emplace_back();
            ReadLogRecord(file, block[count]);
            bytes += static_cast<size_t>(std::max(block[count].GetDataLength(), 0));
            ++count;
        }
    } catch (const CArchiveException&) {
        // Reported only when the records were not yet all read.
        try {
            return file.GetPosition() < end ? BlockResult::failed : BlockResult::failedQuietly;
        } catch (const CException&) {
            return BlockResult::failed;
        }
    } catch (const CException&) {
        return BlockResult::failed;
    }
    return count ? BlockResult::sent : BlockResult::endOfRecords;
}

CLogFilePlayer::State::BlockResult CLogFilePlayer::State::SendBlock(DWORD end)
{
    // A Pause that came after the run test waits for this block to be sent and counted;
    // one that came before it is seen here and nothing is sent.
    std::lock_guard<std::mutex> step(stepLock);
    if (!evRun.Lock(0)) return BlockResult::paused;
    size_t count = 0;
    BlockResult result = BlockResult::endOfRecords;
    {
        std::lock_guard<std::mutex> lock(fileLock);
        if (file.IsOpen() && file.GetPosition() < end) result = ReadBlock(end, count);
        // A looped replay starts its next pass here, inside the step lock: a Step between a
        // Pause and a Resume then sends the first record, which the thread does not send again.
        if (result == BlockResult::endOfRecords && looped && !ShouldEnd()) {
            RewindHeld();
            result = BlockResult::rewound;
        }
    }
    // The records read before a failure still go out.
    if (CMessageSender* s = sender.load(); s && count) s->InjectMessages(block.data(), count);
    counter += static_cast<DWORD>(count);
    for (size_t i = 0; i < count; ++i)
        if (block[i].MemoryFootprint() > kLargestKept) block[i] = CVESKMessage();
    return result;
}

bool CLogFilePlayer::State::WaitWhilePaused()
{
    while (!evRun.Lock(0) && !ShouldEnd()) evWake.Lock(50);
    return !ShouldEnd();
}

CLogFilePlayer::State::PassEnd CLogFilePlayer::State::PlayPass(DWORD end)
{
    for (;;) {
        if (!WaitWhilePaused()) return PassEnd::stopped;
        switch (SendBlock(end)) {
            case BlockResult::paused:
            case BlockResult::rewound:
                continue;
            case BlockResult::endOfRecords:
                return PassEnd::endOfRecords;
            case BlockResult::failed:
                AfxMessageBox(kReadError, MB_OK | MB_ICONEXCLAMATION);
                return PassEnd::failed;
            case BlockResult::failedQuietly:
                return PassEnd::failed;
            case BlockResult::sent:
                break;
        }
        if (const unsigned int pause = speed) evWake.Lock(pause);
    }
}

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
    while (s.PlayPass(end) == State::PassEnd::endOfRecords && s.looped && !s.ShouldEnd()) s.Rewind();
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

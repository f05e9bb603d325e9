#pragma once
// CLogFilePlayer: replays a recorded log file on a thread of its own, handing every
// message to a message sender as if the device had sent it again.
//
// A POSIX thread cannot be suspended or killed, so the replay thread pauses and stops
// at message boundaries: before each message it waits while paused, and the pause
// after each message is a wait that a pause, stop or close interrupts. At speed 0 the
// thread reads ahead: a block of records is read in one go and handed to the sender as
// one run, and the boundaries are those between blocks. Pause returns once a message (or
// block) on its way has been sent and counted, so nothing moves after it and the file
// position is that of the next record to send. The thread feels the bus's back-pressure
// like any source: while a receiving queue is full its send waits, and so does a Pause
// that comes meanwhile. A closing player tells the thread to end
// at once, without its end notification, and waits for it. Everything the thread
// touches lives in a state block it shares with the player, so the thread can never
// outlive what it uses.
#include <atomic>
#include <memory>
#include <mutex>

#include "framework/Sync.h"
#include "framework/Types.h"
#include "framework/Window.h"
#include "logfile/LogFile.h"

class CMessageSender;

class CLogFilePlayer {
public:
    static constexpr UINT WM_PLAYER_END = WM_USER + 45;   // 0x42D, posted
    static constexpr UINT WM_PLAYER_STEP = WM_USER + 46;  // 0x42E, sent

    explicit CLogFilePlayer(CWnd* pWnd);
    virtual ~CLogFilePlayer();
    CLogFilePlayer(const CLogFilePlayer&) = delete;
    CLogFilePlayer& operator=(const CLogFilePlayer&) = delete;

    bool LoadLogFile(const CString& strPath);
    bool Play() { return Resume(); }
    bool Resume();
    bool Pause();
    bool IsPlaying() const;
    void SetSpeed(unsigned int nMs);
    void SetLooped(int bLooped);
    void Step();
    void RewindFile(bool bPause);
    void CloseFile();
    int GetFileSize();
    int GetFilePosition();
    DWORD GetMessageCounter() const;

protected:
    static UINT PlayFunc(void* pState);
    void Terminate();
    void StopThread();

private:
    struct State;
    bool HasThread() const;
    // Ends a running thread at once (no end notification) and waits for it.
    void KillThread();

    std::shared_ptr<State> m_state;
    std::unique_ptr<CWinThread> m_pThread;
    CMessageSender* m_pSender = nullptr;
};

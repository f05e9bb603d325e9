#pragma once
// Events, critical sections and worker threads.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "framework/Types.h"

// Waits on `cv` under `lock` until `ready()` holds or `ms` milliseconds have passed
// (INFINITE: no limit). Returns whether it holds.
template <typename Ready>
bool WaitUntilReady(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD ms, Ready ready)
{
    if (ms != INFINITE) return cv.wait_for(lock, std::chrono::milliseconds(ms), ready);
    cv.wait(lock, ready);
    return true;
}

// Win32-style event: manual or auto reset, initially signalled or not.
class CEvent {
public:
    explicit CEvent(bool bInitiallyOwn = false, bool bManualReset = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool SetEvent();
    bool ResetEvent();
    // Waits up to `ms` milliseconds (INFINITE = no limit, 0 = just test). True when
    // signalled; an auto-reset event is reset by a successful wait.
    bool Lock(DWORD ms = INFINITE);
    bool Wait(DWORD ms = INFINITE) { return Lock(ms); }
    bool IsSignalled() { return Lock(0); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    // Written under m_mutex; a manual-reset event is tested without it.
    std::atomic<bool> m_bSignalled;
    const bool m_bManualReset;
};

// Recursive lock, as a Win32 critical section is. The time-out of Lock has no effect.
class CCriticalSection {
public:
    void Lock() { m_mutex.lock(); }
    void Lock(DWORD /*timeoutIgnored*/) { m_mutex.lock(); }
    bool TryLock() { return m_mutex.try_lock(); }
    void Unlock() { m_mutex.unlock(); }
    // For std::lock_guard / std::unique_lock.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    bool try_lock() { return TryLock(); }

private:
    std::recursive_mutex m_mutex;
};

// Thread priorities as the host names them; applied on a best-effort basis.
enum ThreadPriority : int {
    THREAD_PRIORITY_IDLE = -15,
    THREAD_PRIORITY_LOWEST = -2,
    THREAD_PRIORITY_BELOW_NORMAL = -1,
    THREAD_PRIORITY_NORMAL = 0,
    THREAD_PRIORITY_ABOVE_NORMAL = 1,
    THREAD_PRIORITY_HIGHEST = 2,
};

// Applies a host priority to the calling thread as far as an unprivileged process may
// (a nice value; lowering always works, raising usually does not). Returns whether it took.
bool SetCurrentThreadPriority(int priority);
// Marks the calling thread as one that is never cancelled. The C library then skips its
// cancellation bookkeeping around every blocking call (two atomic exchanges per write(),
// a fifth of the cost of writing a small record). The library's threads end through their
// own flags and events, never through cancellation.
void MarkThreadUncancellable();
// Numeric id of the calling thread, stable for its life.
DWORD GetCurrentThreadId();

// A worker thread running procedure(argument). The state is shared with the thread,
// so the thread never outlives what it touches; the object can be dropped while the
// thread runs (the thread then finishes detached).
class CWinThread {
public:
    using Procedure = UINT (*)(void*);

    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    ~CWinThread();

    static std::unique_ptr<CWinThread> Start(Procedure proc, void* arg, int priority = THREAD_PRIORITY_NORMAL);
    static std::unique_ptr<CWinThread> Start(std::function<UINT()> body, int priority = THREAD_PRIORITY_NORMAL);

    // Waits up to `ms` for the procedure to return; true when it has.
    bool WaitForEnd(DWORD ms = INFINITE);
    bool HasEnded() const;
    UINT GetExitCode() const;
    DWORD GetThreadId() const;
    bool IsCurrent() const;

private:
    struct State;
    explicit CWinThread(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

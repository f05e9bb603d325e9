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

// A recursive lock that one thread may keep across a run of calls (a worker writing
// message after message), giving it up as soon as another thread asks for it. Taking and
// leaving it again while kept, and asking whether anyone waits, cost the keeper no atomic
// read-modify-write: right after a write() such an operation stalls, and a lock taken
// and left once a record is a measurable part of writing small records. A thread that
// asks while the lock is held gets it before the keeper takes it again, so the keeper
// cannot starve it.
class CYieldingLock {
public:
    CYieldingLock() = default;
    CYieldingLock(const CYieldingLock&) = delete;
    CYieldingLock& operator=(const CYieldingLock&) = delete;

    // Cost no call when this thread holds the lock already (the keeper, message after
    // message).
    void lock()
    {
        if (m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
            ++m_depth;
            return;
        }
        LockSlow();
    }
    void unlock()
    {
        if (m_depth > 1) {
            --m_depth;
            return;
        }
        UnlockSlow();
    }

    // The keeper's side, on one thread: Keep takes the lock unless this thread keeps it
    // already; YieldIfWanted lets it go when another thread waits for it; Release lets it
    // go in any case. Keep and Release do not nest with lock and unlock: a thread keeping
    // the lock locks and unlocks it in between as often as it likes.
    void Keep();
    void YieldIfWanted()
    {
        if (m_kept && m_wanted.load(std::memory_order_relaxed)) Release();
    }
    void Release();
    bool IsKept() const { return m_kept; }

private:
    void LockSlow();
    void UnlockSlow();

    std::mutex m_mutex;
    std::condition_variable m_free;
    // The owner changes under m_mutex; a thread reads it without the mutex only to learn
    // whether it owns the lock itself, which no other thread can make true or false.
    std::atomic<std::thread::id> m_owner{};
    int m_depth = 0;      // the owner's
    bool m_kept = false;  // the keeper's
    // Under m_mutex: threads take the lock in the order they asked for it, by ticket.
    uint64_t m_nextTicket = 0;
    uint64_t m_serving = 0;
    int m_waiting = 0;
    std::atomic<int> m_wanted{0};  // m_waiting, for the keeper to read without the mutex
};

// Fences for two threads of which one passes its point very often (a worker taking its
// next message) and the other seldom (a host cutting the worker's batch short). Each side
// stores, fences, then loads what the other stores; then at least one of them sees the
// other's store. The frequent side's fence only keeps the compiler from reordering; the
// seldom side's makes every thread of the process pass a full barrier (membarrier). Where
// the kernel cannot do that, both sides change one shared word atomically instead.
// EnableAsymmetricFences, called before any thread uses the fences, sets that up once
// for the process and says whether the frequent side's fence is the cheap one.
bool EnableAsymmetricFences();
namespace SyncDetail {
extern std::atomic<bool> asymmetricFences;
void SharedWordFence();
}  // namespace SyncDetail
inline void LightFence()
{
    if (SyncDetail::asymmetricFences.load(std::memory_order_relaxed))
        std::atomic_signal_fence(std::memory_order_seq_cst);
    else
        SyncDetail::SharedWordFence();
}
void HeavyFence();

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

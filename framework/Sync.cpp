#include "framework/Sync.h"

#include <chrono>
#include <linux/membarrier.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

CEvent::CEvent(bool bInitiallyOwn, bool bManualReset) : m_bSignalled(bInitiallyOwn), m_bManualReset(bManualReset) {}

bool CEvent::SetEvent()
{
    // Notified under the lock: a waiter that wakes may destroy the event at once (a
    // worker's last act is often to set the event its owner waits for before deleting
    // it), so nothing here may touch the event after the unlock.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = true;
    if (m_bManualReset)
        m_cv.notify_all();
    else
        m_cv.notify_one();
    return true;
}

bool CEvent::ResetEvent()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = false;
    return true;
}

bool CEvent::Lock(DWORD ms)
{
    // Testing a manual-reset event changes nothing: no lock needed (a test per record of
    // a conversion is common).
    if (ms == 0 && m_bManualReset) return m_bSignalled.load();
    std::unique_lock<std::mutex> lock(m_mutex);
    auto ready = [this] { return m_bSignalled.load(); };
    if (ms == 0) {
        // A test, not a wait: no trip into the kernel.
        if (!m_bSignalled) return false;
    } else if (ms == INFINITE) {
        m_cv.wait(lock, ready);
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(ms), ready)) {
        return false;
    }
    if (!m_bManualReset) m_bSignalled = false;
    return true;
}

void CYieldingLock::LockSlow()
{
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_mutex);
    const uint64_t ticket = m_nextTicket++;
    auto myTurn = [&] { return m_owner.load(std::memory_order_relaxed) == std::thread::id() && m_serving == ticket; };
    if (!myTurn()) {
        m_wanted.store(++m_waiting, std::memory_order_relaxed);
        m_free.wait(guard, myTurn);
        m_wanted.store(--m_waiting, std::memory_order_relaxed);
    }
    ++m_serving;
    m_owner.store(me, std::memory_order_relaxed);
    m_depth = 1;
}

void CYieldingLock::UnlockSlow()
{
    m_depth = 0;
    std::lock_guard<std::mutex> guard(m_mutex);
    m_owner.store(std::thread::id(), std::memory_order_relaxed);
    // Every waiter looks whether its ticket is served; the keeper, taking the lock again
    // for its next message, queues behind those that asked before it.
    if (m_waiting) m_free.notify_all();
}

void CYieldingLock::Keep()
{
    if (m_kept) return;
    lock();
    m_kept = true;
}

void CYieldingLock::Release()
{
    if (!m_kept) return;
    m_kept = false;
    unlock();
}

namespace {
// Without membarrier both sides change this word: of two read-modify-writes of one word
// one comes first and the other sees what was stored before it.
std::atomic<unsigned> g_fenceWord{0};
}  // namespace

std::atomic<bool> SyncDetail::asymmetricFences{false};

void SyncDetail::SharedWordFence()
{
    g_fenceWord.fetch_add(1, std::memory_order_seq_cst);
}

bool EnableAsymmetricFences()
{
    static const bool enabled = [] {
        const bool ok = ::syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
        SyncDetail::asymmetricFences.store(ok, std::memory_order_relaxed);
        return ok;
    }();
    return enabled;
}

void HeavyFence()
{
    // Once registered, the barrier cannot fail for want of registration; it has no other
    // failure for a process's own threads.
    if (SyncDetail::asymmetricFences.load(std::memory_order_relaxed))
        ::syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
    else
        SyncDetail::SharedWordFence();
}

bool SetCurrentThreadPriority(int priority)
{
    // Host levels -15 (idle) .. 2 (highest) onto nice values 19 .. -5.
    int nice = 0;
    if (priority <= THREAD_PRIORITY_IDLE) nice = 19;
    else if (priority <= THREAD_PRIORITY_LOWEST) nice = 10;
    else if (priority == THREAD_PRIORITY_BELOW_NORMAL) nice = 5;
    else if (priority == THREAD_PRIORITY_NORMAL) nice = 0;
    else nice = -5;
    const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    // Never raise above what the thread already has: that needs privileges.
    if (nice < current) return false;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}

void MarkThreadUncancellable()
{
    // With cancellation disabled the asynchronous type never acts; it only tells the C
    // library that there is nothing to switch around each call.
    int old = 0;
    ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
    ::pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &old);
}

DWORD GetCurrentThreadId()
{
    return static_cast<DWORD>(::syscall(SYS_gettid));
}

struct CWinThread::State {
    std::mutex mutex;
    std::condition_variable cv;
    bool ended = false;
    UINT exitCode = 0;
    DWORD tid = 0;  // published by the thread as its first act
    std::thread::id id;
};

CWinThread::CWinThread(std::shared_ptr<State> state) : m_state(std::move(state)) {}

CWinThread::~CWinThread()
{
    if (!m_thread.joinable()) return;
    if (m_thread.get_id() == std::this_thread::get_id() || !HasEnded())
        m_thread.detach();  // the shared state keeps what the thread touches alive
    else
        m_thread.join();
}

std::unique_ptr<CWinThread> CWinThread::Start(Procedure proc, void* arg, int priority)
{
    return Start([proc, arg] { return proc(arg); }, priority);
}

std::unique_ptr<CWinThread> CWinThread::Start(std::function<UINT()> body, int priority)
{
    auto state = std::make_shared<State>();
    std::unique_ptr<CWinThread> thread(new CWinThread(state));
    thread->m_thread = std::thread([state, body = std::move(body), priority] {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->tid = GetCurrentThreadId();
            state->id = std::this_thread::get_id();
        }
        state->cv.notify_all();
        SetCurrentThreadPriority(priority);
        MarkThreadUncancellable();
        const UINT code = body();
        std::lock_guard<std::mutex> lock(state->mutex);
        state->exitCode = code;
        state->ended = true;
        state->cv.notify_all();
    });
    return thread;
}

bool CWinThread::WaitForEnd(DWORD ms)
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    auto ended = [this] { return m_state->ended; };
    if (ms == INFINITE) {
        m_state->cv.wait(lock, ended);
        return true;
    }
    return m_state->cv.wait_for(lock, std::chrono::milliseconds(ms), ended);
}

bool CWinThread::HasEnded() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->ended;
}

UINT CWinThread::GetExitCode() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->exitCode;
}

DWORD CWinThread::GetThreadId() const
{
    // Right after Start the thread may not have run yet: wait for its id.
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->cv.wait(lock, [this] { return m_state->tid != 0; });
    return m_state->tid;
}

bool CWinThread::IsCurrent() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->id == std::this_thread::get_id();
}

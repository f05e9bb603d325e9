// Events, critical sections, worker threads and the queue window. Every wait that is
// expected to end is ended by a signal; time-outs are only used where the wait must fail.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "framework/Sync.h"
#include "framework/Window.h"
#include "tests/support/TestEnv.h"

namespace {

TEST(EventTest, ManualAndAutoResetWithZeroAndTimedWaits)
{
    CEvent manual(false, true);
    EXPECT_FALSE(manual.Lock(0));
    manual.SetEvent();
    EXPECT_TRUE(manual.Lock(0));
    EXPECT_TRUE(manual.Lock()) << "a manual-reset event stays signalled";
    manual.ResetEvent();
    EXPECT_FALSE(manual.Lock(0));
    CEvent manualOn(true, true);
    EXPECT_TRUE(manualOn.Lock(0) && manualOn.Lock(0));

    CEvent autoOn(true, false);
    EXPECT_TRUE(autoOn.Lock(0));
    EXPECT_FALSE(autoOn.Lock(0)) << "an auto-reset event is consumed by one wait";
    autoOn.SetEvent();
    autoOn.SetEvent();  // not counted: still one waiter released
    EXPECT_TRUE(autoOn.Lock(0));
    EXPECT_FALSE(autoOn.Lock(20)) << "an unsignalled event times out";
    EXPECT_FALSE(CEvent().Lock(0)) << "default: auto reset, not signalled";
}

// Waits until the thread is asleep (in the kernel), so that what follows must wake it
// rather than find it still running. Gives up after a while without failing anything.
void WaitUntilAsleep(DWORD tid)
{
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < giveUp) {
        const std::string stat = ReadText(path);
        const size_t paren = stat.rfind(')');
        if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S') return;
        std::this_thread::yield();
    }
}

// Starts n workers that run `wait`; returns once every one of them is asleep.
std::vector<std::unique_ptr<CWinThread>> StartSleepers(int n, const std::function<void()>& wait)
{
    std::vector<std::unique_ptr<CWinThread>> threads;
    for (int i = 0; i < n; ++i)
        threads.push_back(CWinThread::Start([wait]() -> UINT {
            wait();
            return 0;
        }));
    for (auto& t : threads) WaitUntilAsleep(t->GetThreadId());
    return threads;
}

TEST(EventTest, SetFromAnotherThreadWakesWaiters)
{
    // Manual reset: one set releases every waiter.
    CEvent gate(false, true);
    std::atomic<int> woken{0};
    auto threads = StartSleepers(3, [&] { woken += gate.Lock(); });
    gate.SetEvent();
    for (auto& t : threads) t->WaitForEnd();
    EXPECT_EQ(woken.load(), 3);

    // Auto reset: each set releases exactly one waiter, and the event is reset by it.
    CEvent one(false, false), report(false, false);
    std::atomic<int> through{0};
    threads = StartSleepers(2, [&] {
        one.Lock();
        ++through;
        report.SetEvent();
    });
    one.SetEvent();
    ASSERT_TRUE(report.Lock());
    EXPECT_FALSE(one.Lock(0)) << "the released waiter reset the event";
    EXPECT_EQ(through.load(), 1);
    one.SetEvent();
    for (auto& t : threads) t->WaitForEnd();
    EXPECT_EQ(through.load(), 2);
}

// A worker's last act is often to set what its owner waits for; the owner then deletes
// it at once. The setter must be done with the object by then (checked by the sanitizers).
TEST(EventTest, WaiterMayDestroyWhatWokeIt)
{
    for (int i = 0; i < 200; ++i) {
        auto ev = std::make_unique<CEvent>(false, i % 2 == 0);
        auto wnd = std::make_unique<CQueueWnd>();
        std::thread setter([e = ev.get(), w = wnd.get()] {
            e->SetEvent();
            w->PostMessage(WM_USER + 15);
        });
        ASSERT_TRUE(ev->Lock());
        ev.reset();
        ASSERT_TRUE(wnd->WaitFor(WM_USER + 15));
        wnd.reset();
        setter.join();
    }
}

TEST(CriticalSectionTest, RecursiveForItsOwnerOnly)
{
    CCriticalSection cs;
    cs.Lock();
    cs.Lock(1000);  // recursion; the time-out has no effect
    EXPECT_TRUE(cs.TryLock());
    bool otherGot = true;
    std::thread([&] { otherGot = cs.TryLock(); }).join();
    EXPECT_FALSE(otherGot);
    for (int i = 0; i < 3; ++i) cs.Unlock();
    std::thread([&] { if ((otherGot = cs.TryLock())) cs.Unlock(); }).join();
    EXPECT_TRUE(otherGot);
}

// A keeper that takes the lock once for a long run of calls, locking it again inside
// each, gives way to another thread as soon as it asks, however often it asks; both
// change a plain counter under the lock, so a lapse in exclusion loses increments.
TEST(YieldingLockTest, TheKeeperGivesWayAtOnceAndExcludesTheOthers)
{
    CYieldingLock lock;
    uint64_t counter = 0;
    constexpr int kAsks = 2000;
    std::atomic<bool> othersDone{false};
    uint64_t kept = 0;
    bool endedByTheOthers = false;
    std::thread keeper([&] {
        // Bounded, so a keeper that never yields ends the test instead of hanging it.
        for (uint64_t i = 0; i < 200000000 && !othersDone.load(std::memory_order_relaxed); ++i) {
            lock.Keep();
            {
                std::lock_guard inner(lock);  // the keeper's own nested use
                ++counter;
                ++kept;
            }
            lock.YieldIfWanted();
        }
        endedByTheOthers = othersDone.load();
        lock.Release();
        EXPECT_FALSE(lock.IsKept());
    });
    std::vector<std::thread> others;
    for (int t = 0; t < 2; ++t)
        others.emplace_back([&] {
            for (int i = 0; i < kAsks; ++i) {
                std::lock_guard outer(lock);
                std::lock_guard nested(lock);
                ++counter;
            }
        });
    for (std::thread& t : others) t.join();
    othersDone = true;
    keeper.join();
    EXPECT_TRUE(endedByTheOthers);  // they got in while it still kept on
    EXPECT_EQ(counter, kept + 2 * kAsks);
    // Free again: a thread that never kept it takes it at once.
    std::thread([&] {
        std::lock_guard last(lock);
        ++counter;
    }).join();
    EXPECT_EQ(counter, kept + 2 * kAsks + 1);
}

UINT ReturnArgument(void* arg) { return *static_cast<UINT*>(arg); }

TEST(WinThreadTest, StartWaitExitCodeAndDropWhileRunning)
{
    UINT value = 42;
    auto t = CWinThread::Start(&ReturnArgument, &value);
    EXPECT_TRUE(t->WaitForEnd());
    EXPECT_EQ(t->GetExitCode(), 42u);

    // A thread that runs until told: not ended yet, then ended with its code. Its id is
    // known right after Start, and is the worker's own.
    CEvent go(false, true);
    std::atomic<DWORD> seenId{0};
    auto worker = CWinThread::Start(
        [&]() -> UINT {
            seenId = GetCurrentThreadId();
            go.Lock();
            return 7;
        },
        THREAD_PRIORITY_BELOW_NORMAL);
    const DWORD id = worker->GetThreadId();
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_FALSE(worker->IsCurrent());
    EXPECT_FALSE(worker->WaitForEnd(20));
    EXPECT_FALSE(worker->HasEnded());
    go.SetEvent();
    EXPECT_TRUE(worker->WaitForEnd());
    EXPECT_EQ(std::tuple(worker->GetExitCode(), seenId.load()), std::tuple(7u, id));

    // Dropped while the thread waits: it finishes on its own.
    auto again = std::make_shared<CEvent>(false, true), done = std::make_shared<CEvent>(false, true);
    CWinThread::Start([again, done]() -> UINT {
        again->Lock();
        done->SetEvent();
        return 0;
    }).reset();
    again->SetEvent();
    EXPECT_TRUE(done->Lock());
}

TEST(QueueWndTest, PostedAndSentMessagesArriveInOrder)
{
    std::vector<UINT> handled;
    CQueueWnd wnd([&](const WindowMessage& m) -> LRESULT {
        handled.push_back(m.message);
        return static_cast<LRESULT>(m.wParam * 2);
    });
    EXPECT_TRUE(wnd.PostMessage(WM_USER + 1, 10, -1));
    EXPECT_EQ(wnd.SendMessage(WM_USER + 2, 21, 5), 42);
    EXPECT_EQ(handled, std::vector<UINT>{WM_USER + 2}) << "only sent messages reach the handler";
    wnd.PostMessage(WM_USER + 1, 11);
    EXPECT_EQ(std::tuple(wnd.Size(), wnd.Count(WM_USER + 1)), std::tuple(3u, 2u));

    // WaitFor takes the first message of that value, leaving the others in order.
    EXPECT_TRUE(wnd.WaitFor(WM_USER + 2, 0));
    WindowMessage m;
    ASSERT_TRUE(wnd.GetMessage(m, 0));
    EXPECT_EQ(std::tuple(m.message, m.wParam, m.lParam), std::tuple(UINT{WM_USER + 1}, WPARAM{10}, LPARAM{-1}));
    ASSERT_TRUE(wnd.GetMessage(m, 0));
    EXPECT_EQ(m.wParam, 11u);
    EXPECT_FALSE(wnd.GetMessage(m, 0));
    EXPECT_FALSE(wnd.WaitFor(WM_USER + 9, 20));

    // Without a handler a sent message is answered 0 and queued.
    CQueueWnd bare;
    EXPECT_EQ(bare.SendMessage(WM_USER), 0);
    EXPECT_EQ(bare.Count(WM_USER), 1u);
}

}  // namespace

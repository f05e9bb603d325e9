// Events, critical sections, worker threads and the queue window. Every wait that is
// expected to end is ended by a signal; time-outs are only used where the wait must fail.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <memory>
#include <thread>
#include <vector>

#include "framework/Sync.h"
#include "framework/Window.h"

namespace {

TEST(EventTest, ManualResetStaysSignalledUntilReset)
{
    CEvent ev(false, true);
    EXPECT_FALSE(ev.Lock(0));
    EXPECT_FALSE(ev.Lock(20)) << "an unsignalled event times out";
    ev.SetEvent();
    EXPECT_TRUE(ev.Lock(0));
    EXPECT_TRUE(ev.Lock(0));
    EXPECT_TRUE(ev.Lock());
    ev.ResetEvent();
    EXPECT_FALSE(ev.IsSignalled());

    CEvent on(true, true);
    EXPECT_TRUE(on.Lock(0));
    EXPECT_TRUE(on.Lock(0));
}

TEST(EventTest, AutoResetIsConsumedByOneWait)
{
    CEvent ev(true, false);
    EXPECT_TRUE(ev.Lock(0));
    EXPECT_FALSE(ev.Lock(0));
    ev.SetEvent();
    ev.SetEvent();  // not counted: still one waiter released
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(0));
    CEvent off;  // default: auto reset, not signalled
    EXPECT_FALSE(off.Lock(0));
}

// Waits until the thread is asleep (in the kernel), so that what follows must wake it
// rather than find it still running. Gives up after a while without failing anything.
void WaitUntilAsleep(DWORD tid)
{
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < giveUp) {
        std::ifstream in(path);
        std::string stat;
        std::getline(in, stat);
        const size_t paren = stat.rfind(')');
        if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S') return;
        std::this_thread::yield();
    }
}

// Starts n threads that each report their id and then run `wait`; returns once every one
// of them is asleep.
std::vector<std::thread> StartSleepers(int n, const std::function<void()>& wait)
{
    std::mutex m;
    std::vector<DWORD> ids;
    CEvent allKnown(false, true);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, wait] {
            bool last = false;
            {
                std::lock_guard<std::mutex> lock(m);
                ids.push_back(GetCurrentThreadId());
                last = static_cast<int>(ids.size()) == n;
            }
            // Set last of all: once it is set, the caller may return and drop m and allKnown.
            if (last) allKnown.SetEvent();
            wait();
        });
    allKnown.Lock();
    for (DWORD id : ids) WaitUntilAsleep(id);
    return threads;
}

TEST(EventTest, SetFromAnotherThreadWakesWaiters)
{
    // Manual reset: one set releases every waiter.
    CEvent gate(false, true);
    std::atomic<int> woken{0};
    auto threads = StartSleepers(3, [&] {
        if (gate.Lock()) ++woken;
    });
    gate.SetEvent();
    for (auto& t : threads) t.join();
    EXPECT_EQ(woken.load(), 3);

    // Auto reset: each set releases exactly one waiter, and the event is reset by it.
    CEvent one(false, false);
    CEvent report(false, false);
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
    for (auto& t : threads) t.join();
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

TEST(CriticalSectionTest, RecursiveAndExclusive)
{
    CCriticalSection cs;
    cs.Lock();
    cs.Lock(1000);  // recursion; the time-out has no effect
    EXPECT_TRUE(cs.TryLock());
    bool otherGot = true;
    std::thread([&] { otherGot = cs.TryLock(); }).join();
    EXPECT_FALSE(otherGot);
    cs.Unlock();
    cs.Unlock();
    std::thread([&] { otherGot = cs.TryLock(); }).join();
    EXPECT_FALSE(otherGot) << "still held once";
    cs.Unlock();
    std::thread([&] {
        otherGot = cs.TryLock();
        if (otherGot) cs.Unlock();
    }).join();
    EXPECT_TRUE(otherGot);
}

UINT ReturnArgument(void* arg)
{
    return *static_cast<UINT*>(arg);
}

TEST(WinThreadTest, StartWaitAndExitCode)
{
    UINT value = 42;
    auto t = CWinThread::Start(&ReturnArgument, &value);
    EXPECT_TRUE(t->WaitForEnd());
    EXPECT_TRUE(t->HasEnded());
    EXPECT_EQ(t->GetExitCode(), 42u);

    // A thread that runs until told: not ended yet, then ended with its code.
    auto go = std::make_shared<CEvent>(false, true);
    std::atomic<DWORD> seenId{0};
    std::atomic<bool> wasCurrent{false};
    std::unique_ptr<CWinThread> worker;
    CEvent started(false, true);
    worker = CWinThread::Start(
        [&, go]() -> UINT {
            seenId = GetCurrentThreadId();
            started.Lock();
            wasCurrent = worker->IsCurrent();
            go->Lock();
            return 7;
        },
        THREAD_PRIORITY_BELOW_NORMAL);
    // The id is known right after Start, and is the worker's own.
    const DWORD id = worker->GetThreadId();
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_FALSE(worker->IsCurrent());
    started.SetEvent();
    EXPECT_FALSE(worker->WaitForEnd(0));
    EXPECT_FALSE(worker->WaitForEnd(20));
    EXPECT_FALSE(worker->HasEnded());
    go->SetEvent();
    EXPECT_TRUE(worker->WaitForEnd());
    EXPECT_EQ(worker->GetExitCode(), 7u);
    EXPECT_EQ(seenId.load(), id);
    EXPECT_TRUE(wasCurrent.load());
}

TEST(WinThreadTest, DroppedWhileRunningFinishesOnItsOwn)
{
    auto go = std::make_shared<CEvent>(false, true);
    auto done = std::make_shared<CEvent>(false, true);
    {
        auto t = CWinThread::Start([go, done]() -> UINT {
            go->Lock();
            done->SetEvent();
            return 0;
        });
    }  // dropped while the thread waits
    go->SetEvent();
    EXPECT_TRUE(done->Lock());
}

TEST(QueueWndTest, PostedAndSentMessagesArriveInOrder)
{
    std::vector<WindowMessage> handled;
    CQueueWnd wnd([&](const WindowMessage& m) -> LRESULT {
        handled.push_back(m);
        return static_cast<LRESULT>(m.wParam * 2);
    });
    EXPECT_TRUE(wnd.PostMessage(WM_USER + 1, 10, -1));
    EXPECT_EQ(wnd.SendMessage(WM_USER + 2, 21, 5), 42);
    ASSERT_EQ(handled.size(), 1u) << "only sent messages reach the handler";
    EXPECT_EQ(handled[0].message, WM_USER + 2);
    wnd.PostMessage(WM_USER + 1, 11);
    EXPECT_EQ(wnd.Size(), 3u);
    EXPECT_EQ(wnd.Count(WM_USER + 1), 2u);

    // WaitFor takes the first message of that value, leaving the others in order.
    EXPECT_TRUE(wnd.WaitFor(WM_USER + 2, 0));
    WindowMessage m;
    ASSERT_TRUE(wnd.GetMessage(m, 0));
    EXPECT_EQ(m.message, WM_USER + 1);
    EXPECT_EQ(m.wParam, 10u);
    EXPECT_EQ(m.lParam, -1);
    ASSERT_TRUE(wnd.GetMessage(m, 0));
    EXPECT_EQ(m.wParam, 11u);
    EXPECT_FALSE(wnd.GetMessage(m, 0));
    EXPECT_FALSE(wnd.WaitFor(WM_USER + 9, 20));

    CQueueWnd bare;
    EXPECT_EQ(bare.SendMessage(WM_USER), 0);
    EXPECT_EQ(bare.Count(WM_USER), 1u);
}

}  // namespace

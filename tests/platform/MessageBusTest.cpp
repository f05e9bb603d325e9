#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "framework/Sync.h"
#include "platform/Filters.h"
#include "platform/MessageBus.h"
#include "tests/support/TestEnv.h"

namespace {

CVESKMessage Indexed(uint64_t index, int kind = 2)
{
    const BYTE data[] = {6, 0, 0, 0, 0, 0, 0, 0};
    CVESKMessage m(kind, 0, data, sizeof data, 0);
    m.SetMessageIndex(index);
    return m;
}

struct Collector {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<uint64_t> indexes;
    std::thread::id thread;
    std::function<void(CVESKMessage*)> extra;

    static void Callback(void* owner, CVESKMessage* m)
    {
        auto* self = static_cast<Collector*>(owner);
        if (self->extra) self->extra(m);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->thread = std::this_thread::get_id();
        self->indexes.push_back(m->GetMessageIndex());
        self->cv.notify_all();
    }
    bool WaitFor(size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(30), [&] { return indexes.size() >= n; });
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return indexes.size();
    }
};

class MessageBusTest : public HostFixture {
protected:
    CMessageClient* Client(Collector& c)
    {
        CMessageClient* client = CreateMessageClient(&c, 0, &Collector::Callback, 0);
        RegisterMessageClient(0x0201001C, 0, client, &Collector::Callback, &c);
        clients.push_back(client);
        return client;
    }
    ~MessageBusTest() override
    {
        for (CMessageClient*& c : clients) DestroyMessageClient(&c);
    }
    std::vector<CMessageClient*> clients;
};

}  // namespace

TEST_F(MessageBusTest, DeliversInOrderOnItsOwnThreadOnlyWhileActive)
{
    Collector c;
    CMessageClient* client = Client(c);
    auto bus = Services::Bus();
    EXPECT_FALSE(client->IsActive());
    CVESKMessage before = Indexed(0);
    EXPECT_EQ(bus->Dispatch(before), 0);  // not yet resumed
    client->Resume();
    EXPECT_TRUE(client->IsActive());
    for (uint64_t i = 1; i <= 100; ++i) {
        CVESKMessage m = Indexed(i);
        bus->Dispatch(m);
    }
    client->Pause();
    CVESKMessage during = Indexed(500);
    EXPECT_EQ(bus->Dispatch(during), 0);
    // Paused: what was queued still drains.
    EXPECT_EQ(client->WaitUntilEmpty(10000), 0u);
    ASSERT_EQ(c.Count(), 100u);
    for (uint64_t i = 0; i < 100; ++i) EXPECT_EQ(c.indexes[i], i + 1);
    EXPECT_NE(c.thread, std::this_thread::get_id());
    client->Resume();
    CVESKMessage after = Indexed(101);
    bus->Dispatch(after);
    ASSERT_TRUE(c.WaitFor(101));
    EXPECT_EQ(c.indexes.back(), 101u);
}

TEST_F(MessageBusTest, SourceFiltersAndContentFilters)
{
    Collector any, one;
    CMessageClient* a = Client(any);
    CMessageClient* b = Client(one);
    a->SetSourceFilter(-1, -1);
    b->SetSourceFilter2(-1, -1);
    b->SetSourceFilter(7, 2);
    a->Resume();
    b->Resume();
    auto bus = Services::Bus();
    CVESKMessage m1 = Indexed(1), m2 = Indexed(2), m3 = Indexed(3);
    bus->Dispatch(m1, 7, 2);
    bus->Dispatch(m2, 7, 3);
    bus->Dispatch(m3, 1, 2);
    a->WaitUntilEmpty(INFINITE);
    b->WaitUntilEmpty(INFINITE);
    EXPECT_EQ(any.indexes, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(one.indexes, std::vector<uint64_t>{1});
    ASSERT_NE(a->GetFilters(), nullptr);
}

TEST_F(MessageBusTest, WaitUntilEmptyInsideTheCallbackReturns)
{
    Collector c;
    CMessageClient* client = Client(c);
    std::atomic<unsigned long> seen{99};
    c.extra = [&](CVESKMessage*) {
        client->Pause();  // a roll-over pauses from inside
        seen = client->WaitUntilEmpty(0xFFFFFFFF);
        client->Resume();
    };
    client->Resume();
    CVESKMessage m = Indexed(1);
    Services::Bus()->Dispatch(m);
    ASSERT_TRUE(c.WaitFor(1));
    EXPECT_LT(seen.load(), 99u);
    EXPECT_TRUE(client->IsActive());  // the pause from inside did not stop intake
}

TEST_F(MessageBusTest, BurstFromTwoThreadsIsNotLost)
{
    Collector c;
    CMessageClient* client = Client(c);
    client->Resume();
    constexpr int kEach = 500000;
    auto bus = Services::Bus();
    auto send = [&](uint64_t base) {
        for (int i = 0; i < kEach; ++i) {
            CVESKMessage m = Indexed(base + static_cast<uint64_t>(i));
            bus->Dispatch(m);
        }
    };
    std::thread t1(send, 0), t2(send, 1000000);
    t1.join();
    t2.join();
    client->WaitUntilEmpty(INFINITE);
    EXPECT_EQ(c.Count(), static_cast<size_t>(2 * kEach));
}

TEST_F(MessageBusTest, TerminateDropsTheQueueAndInjectedMessagesArrive)
{
    Collector slow;
    CMessageClient* client = Client(slow);
    CEvent gate(false, true);
    slow.extra = [&](CVESKMessage*) { gate.Lock(); };
    client->Resume();
    for (uint64_t i = 1; i <= 10; ++i) {
        CVESKMessage m = Indexed(i);
        Services::Bus()->Dispatch(m);
    }
    client->Terminate(1);
    EXPECT_EQ(client->GetNumMessagesInFIFO(), 0u);
    gate.SetEvent();
    client->WaitUntilEmpty(INFINITE);
    const size_t delivered = slow.Count();
    EXPECT_LE(delivered, 1u);  // at most the one that was in the callback

    CMessageSender* sender = CreateMessageSender("Logger", "Logger Replayer");
    ASSERT_NE(sender, nullptr);
    EXPECT_TRUE(sender->InjectMessage(new CVESKMessage(Indexed(77))));
    ASSERT_TRUE(slow.WaitFor(delivered + 1));
    EXPECT_EQ(slow.indexes.back(), 77u);
    DestroyMessageSender(&sender);
    EXPECT_EQ(sender, nullptr);
}

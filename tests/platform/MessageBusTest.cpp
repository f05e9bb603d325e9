#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "framework/Sync.h"
#include "platform/Filters.h"
#include "tests/platform/PlatformTest.h"

namespace {
CVESKMessage Indexed(uint64_t index, WORD type = 6)
{
    const BYTE data[] = {static_cast<BYTE>(type), static_cast<BYTE>(type >> 8), 0, 0, 0, 0, 0, 0};
    CVESKMessage m(2, 0, data, sizeof data, 0);
    m.SetMessageIndex(index);
    return m;
}

int Send(uint64_t index, int a = 0, int b = 0, WORD type = 6)
{
    return Services::Bus()->Dispatch(Indexed(index, type), a, b);
}

// A client that records what it delivers; `hold()` in its callback holds the worker
// there (`inside` is set) until `gate` is set.
class MessageBusTest : public HostFixture {
protected:
    void hold()
    {
        inside.SetEvent();
        gate.Lock();
    }
    Collector c;
    CEvent inside{false, true}, gate{false, true};
    ClientPtr client = MakeClient(c);
};

// Waits until `done` holds, for as long as only a hang takes: the condition decides.
template <typename Done>
bool Eventually(Done done)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerous);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::yield();
    }
    return true;
}

class FiltersTest : public SignalsFixture {
protected:
    CVESKMessage Signal(int type, const char* name, int kind = 1)
    {
        return FromBlock(sim.SignalBlock(type, *db->FindSignalByName(name)), kind);
    }
    // Which of the messages pass, as a string of 0 and 1.
    static std::string Passing(const CAllFilters& f, const std::vector<CVESKMessage>& messages)
    {
        std::string out;
        for (const CVESKMessage& m : messages) out += f.PassesFilters(m) ? '1' : '0';
        return out;
    }

    CSimDevice sim{{.seed = 3}, db};
};
}  // namespace

TEST_F(MessageBusTest, DeliversInOrderOnItsOwnThreadAndPauseStopsIntakeWhileTheQueueDrains)
{
    c.before = [&](CVESKMessage* m) {
        if (m->GetMessageIndex() == 1) hold();
    };
    EXPECT_FALSE(client->IsActive());
    EXPECT_EQ(Send(0), 0);  // not resumed yet: not taken
    client->Resume();
    for (uint64_t i = 1; i <= 50; ++i) EXPECT_EQ(Send(i), 1);
    ASSERT_TRUE(inside.Lock(kGenerous));
    client->Pause();
    EXPECT_FALSE(client->IsActive());
    EXPECT_EQ(Send(999), 0);  // paused: not taken
    EXPECT_EQ(client->GetNumMessagesInFIFO(), 49u);
    EXPECT_EQ(client->WaitUntilEmpty(1), 49u);  // the callback is held: the limit runs out
    gate.SetEvent();
    EXPECT_EQ(client->WaitUntilEmpty(kGenerous), 0u);  // still paused, yet drained
    EXPECT_EQ(c.Indexes(), Range(1, 50));
    EXPECT_EQ(std::count(c.threads.begin(), c.threads.end(), c.threads.front()), 50);  // one thread, not this one
    EXPECT_NE(c.threads.front(), std::this_thread::get_id());
    client->Resume();
    EXPECT_EQ(Send(51), 1);
    ASSERT_TRUE(c.WaitFor(51));
    EXPECT_EQ(c.Indexes().back(), 51u);
}

TEST_F(MessageBusTest, APauseFromTheWorkerKeepsIntakeAndAHostPauseStands)
{
    CEvent proceed(false, false);
    std::atomic<unsigned long> queuedInside{99};
    c.before = [&](CVESKMessage* m) {
        if (m->GetMessageIndex() % 10 != 1) return;
        client->Pause();  // a roll-over, from inside the callback
        client->Pause();  // its Close pauses once more
        inside.SetEvent();
        proceed.Lock();
        queuedInside = client->WaitUntilEmpty(INFINITE);  // must not wait for itself
        client->Resume();
    };
    client->Resume();

    // Round 1: the host dispatches while the worker has paused itself.
    Send(1);
    ASSERT_TRUE(inside.Lock(kGenerous));
    inside.ResetEvent();
    EXPECT_EQ(Send(2), 1);
    proceed.SetEvent();
    ASSERT_TRUE(c.WaitFor(2));
    EXPECT_EQ(queuedInside.load(), 1u);  // message 2 was waiting in the queue
    EXPECT_TRUE(client->IsActive());

    // Round 2: the host pauses while the worker is inside; the worker's Resume keeps it paused.
    Send(11);
    ASSERT_TRUE(inside.Lock(kGenerous));
    client->Pause();
    proceed.SetEvent();
    EXPECT_EQ(client->WaitUntilEmpty(INFINITE), 0u);
    EXPECT_FALSE(client->IsActive());
    EXPECT_EQ(Send(12), 0);
    EXPECT_EQ(c.Indexes(), (std::vector<uint64_t>{1, 2, 11}));
}

TEST_F(MessageBusTest, SourceAndContentFiltersDecideBeforeQueueing)
{
    Collector both, second, injected;
    ClientPtr b = MakeClient(both);
    ClientPtr s = MakeClient(second);
    ClientPtr i = MakeClient(injected);
    b->SetSourceFilter(7, -1);
    b->SetSourceFilter2(-1, 2);  // together: source (7, 2) only
    s->SetSourceFilter(-1, -1);
    s->SetSourceFilter2(1, -1);
    ASSERT_NE(client->GetFilters(), nullptr);  // the client: any source, by default
    client->GetFilters()->ExcludeMessageType(7);
    // A sender injects from a source of its own.
    CMessageSender* sender = CreateMessageSender("Logger", "Logger Replayer");
    ASSERT_NE(sender, nullptr);
    i->SetSourceFilter(sender->GetSourceA(), sender->GetSourceB());
    for (CMessageClient* each : {client.get(), b.get(), s.get(), i.get()}) each->Resume();
    EXPECT_EQ(Send(1, 7, 2), 2);
    EXPECT_EQ(Send(2, 7, 3), 1);
    EXPECT_EQ(Send(3, 1, 2), 2);
    EXPECT_EQ(Send(4, -5, 100), 1);
    EXPECT_EQ(Send(5, 0, 0, 7), 0);  // excluded by content, the others by source
    EXPECT_TRUE(sender->InjectMessage(new CVESKMessage(Indexed(77))));
    EXPECT_FALSE(sender->InjectMessage(nullptr));
    DestroyMessageSender(&sender);
    EXPECT_EQ(sender, nullptr);
    for (CMessageClient* each : {client.get(), b.get(), s.get(), i.get()}) each->WaitUntilEmpty(INFINITE);
    EXPECT_EQ(c.Indexes(), (std::vector<uint64_t>{1, 2, 3, 4, 77}));
    EXPECT_EQ(both.Indexes(), std::vector<uint64_t>{1});
    EXPECT_EQ(second.Indexes(), std::vector<uint64_t>{3});
    EXPECT_EQ(injected.Indexes(), std::vector<uint64_t>{77});
}

TEST_F(MessageBusTest, TerminateDropsTheQueueAndStopEndsDelivery)
{
    c.before = [&](CVESKMessage*) { hold(); };
    client->Resume();
    for (uint64_t i = 1; i <= 10; ++i) Send(i);
    ASSERT_TRUE(inside.Lock(kGenerous));
    client->Terminate(3);
    EXPECT_EQ(client->GetNumMessagesInFIFO(), 0u);
    EXPECT_EQ(client->GetTerminateReason(), 3);
    EXPECT_TRUE(client->IsActive());  // Terminate drops, it does not pause
    gate.SetEvent();
    EXPECT_EQ(client->WaitUntilEmpty(INFINITE), 0u);
    EXPECT_EQ(c.Indexes(), std::vector<uint64_t>{1});  // only the one in the callback
    EXPECT_EQ(client->GetNumDropped(), 9u);

    for (uint64_t i = 11; i <= 20; ++i) Send(i);
    client->Stop();
    EXPECT_EQ(client->GetNumMessagesInFIFO(), 0u);
    client->Resume();  // a stopped client stays stopped
    EXPECT_FALSE(client->IsActive());
    EXPECT_EQ(Send(21), 0);
    EXPECT_EQ(client->WaitUntilEmpty(INFINITE), 0u);
    for (uint64_t i : c.Indexes()) EXPECT_LT(i, 21u);
}

// Terminate cuts a batch the worker is delivering at full speed, again and again: every
// message is then either delivered, in order, or counted as dropped, never both or neither.
TEST_F(MessageBusTest, TerminateCuttingARunningBatchDeliversOrCountsEveryMessage)
{
    client->Resume();
    constexpr uint64_t kMessages = 30000;
    std::atomic<bool> sent{false};
    std::thread source([&] {
        std::vector<CVESKMessage> run;
        for (uint64_t i = 1; i <= kMessages; ++i) {
            run.push_back(Indexed(i));
            if (run.size() == 100) {
                Services::Bus()->Dispatch(run.data(), run.size());
                run.clear();
            }
        }
        sent = true;
    });
    uint64_t cuts = 0;
    while (!sent.load()) {
        client->Terminate(1);
        ++cuts;
    }
    source.join();
    EXPECT_EQ(client->WaitUntilEmpty(INFINITE), 0u);
    const std::vector<uint64_t> delivered = c.Indexes();
    EXPECT_TRUE(std::is_sorted(delivered.begin(), delivered.end()));
    EXPECT_EQ(std::adjacent_find(delivered.begin(), delivered.end()), delivered.end());
    EXPECT_EQ(delivered.size() + client->GetNumDropped(), kMessages) << cuts << " cuts";
}

// The idle callback comes each time the worker has delivered all it had, after the last
// of those messages and before WaitUntilEmpty returns, and once more as the worker ends.
TEST_F(MessageBusTest, TheIdleCallbackComesWhenTheQueueRunsDryAndAsTheWorkerEnds)
{
    static std::vector<size_t> delivered;  // at each idle call, how many had been delivered
    delivered.clear();
    client->SetIdleCallback([](void* owner) {
        auto& collector = *static_cast<Collector*>(owner);
        std::lock_guard<std::mutex> lock(collector.mutex);
        delivered.push_back(collector.indexes.size());
    });
    client->Resume();
    std::vector<CVESKMessage> run = {Indexed(1), Indexed(2), Indexed(3)};
    Services::Bus()->Dispatch(run.data(), run.size());
    EXPECT_EQ(client->WaitUntilEmpty(INFINITE), 0u);
    EXPECT_EQ(delivered, std::vector<size_t>{3});
    Send(4);
    EXPECT_EQ(client->WaitUntilEmpty(INFINITE), 0u);
    EXPECT_EQ(delivered, (std::vector<size_t>{3, 4}));
    client.reset();
    EXPECT_EQ(delivered, (std::vector<size_t>{3, 4, 4}));
}

TEST_F(MessageBusTest, DestroyWaitsForACallbackInProgressOnAnotherThread)
{
    std::atomic<bool> callbackDone{false};
    c.before = [&](CVESKMessage*) {
        hold();
        callbackDone = true;
    };
    CMessageClient* raw = client.release();
    raw->Resume();
    for (uint64_t i = 1; i <= 5; ++i) Send(i);
    ASSERT_TRUE(inside.Lock(kGenerous));
    std::atomic<bool> doneWhenDestroyed{false};
    size_t deliveredWhenDestroyed = 0;
    std::thread destroyer([&] {
        DestroyMessageClient(&raw);
        doneWhenDestroyed = callbackDone.load();
        deliveredWhenDestroyed = c.Indexes().size();
    });
    gate.SetEvent();
    destroyer.join();
    EXPECT_EQ(raw, nullptr);
    EXPECT_TRUE(doneWhenDestroyed.load());  // joined after the callback returned
    EXPECT_EQ(Services::Bus()->ClientCount(), 0u);
    // Whatever was delivered before the stop came in order, and nothing after it.
    const std::vector<uint64_t> delivered = c.Indexes();
    EXPECT_EQ(delivered.size(), deliveredWhenDestroyed);
    EXPECT_EQ(delivered, Range(1, delivered.size()));
}

TEST_F(MessageBusTest, DestroyFromItsOwnCallbackDoesNotJoinItself)
{
    struct SelfDestroying {
        CMessageClient* client = nullptr;
        CEvent destroyed{false, true};
        static void Callback(void* owner, CVESKMessage*)
        {
            auto* self = static_cast<SelfDestroying*>(owner);
            DestroyMessageClient(&self->client);
            self->destroyed.SetEvent();
        }
    };
    client.reset();
    // Never destroyed: the detached worker may still be leaving SetEvent when the test ends.
    static SelfDestroying& self = *new SelfDestroying;
    self.destroyed.ResetEvent();
    self.client = MakeClient(&self, &SelfDestroying::Callback).release();
    self.client->Resume();
    Send(1);
    Send(2);
    ASSERT_TRUE(self.destroyed.Lock(kGenerous));
    EXPECT_EQ(self.client, nullptr);
    EXPECT_EQ(Services::Bus()->ClientCount(), 0u);
    EXPECT_EQ(Send(3), 0);
}

TEST_F(MessageBusTest, AFullQueueMakesTheSourceWaitAndLosesOrReordersNothing)
{
    constexpr size_t kBound = 64 * 1024;
    constexpr uint64_t kCount = 20000;  // about 2 MB of messages through a 64 KiB queue
    std::atomic<size_t> most{0};
    client->SetQueueBound(kBound);
    c.before = [&](CVESKMessage* m) {
        if (m->GetMessageIndex() == 1) hold();
        most = std::max(most.load(), client->GetQueuedBytes());  // only the worker writes it
    };
    client->Resume();
    std::atomic<uint64_t> sent{0};
    std::thread source([&] {
        for (uint64_t i = 1; i <= kCount; ++i) {
            Send(i);
            ++sent;
        }
    });
    // The worker is held: the source fills the queue up to the bound, then waits for room.
    EXPECT_TRUE(inside.Lock(kGenerous));
    EXPECT_TRUE(Eventually([&] { return client->GetNumWaits() > 0; }));
    EXPECT_LE(client->GetQueuedBytes(), kBound);
    EXPECT_GE(client->GetQueuedBytes(), kBound / 2);
    EXPECT_EQ(sent.load(), 1 + client->GetNumMessagesInFIFO());
    gate.SetEvent();
    source.join();
    EXPECT_EQ(client->WaitUntilEmpty(INFINITE), 0u);
    EXPECT_EQ(c.Indexes(), Range(1, kCount));
    EXPECT_LE(most.load(), kBound);
    EXPECT_EQ(client->GetNumDropped(), 0u);
}

TEST_F(MessageBusTest, MessagesDroppedByDesignAreCountedAndADispatchFromTheWorkerNeverWaits)
{
    client->SetQueueBound(1);  // one message at a time
    c.before = [&](CVESKMessage* m) {
        if (m->GetMessageIndex() != 1) return;
        hold();
        for (uint64_t i = 4; i <= 50; ++i) EXPECT_EQ(Send(i), 1);  // past the bound, from the worker itself
    };
    EXPECT_EQ(Send(100), 0);  // not resumed yet
    EXPECT_EQ(client->GetNumDropped(), 1u);
    client->Resume();
    Send(1);
    ASSERT_TRUE(inside.Lock(kGenerous));
    std::thread waiting([] { EXPECT_EQ(Send(2), 0); });
    EXPECT_TRUE(Eventually([&] { return client->GetNumWaits() == 1; }));
    client->Pause();  // the dispatch waiting for room gives up
    waiting.join();
    EXPECT_EQ(Send(3), 0);  // paused
    EXPECT_EQ(client->GetNumDropped(), 3u);

    client->Resume();
    gate.SetEvent();
    EXPECT_EQ(client->WaitUntilEmpty(kGenerous), 0u);
    std::vector<uint64_t> expected = Range(3, 50);
    expected.front() = 1;
    EXPECT_EQ(c.Indexes(), expected);
    EXPECT_EQ(client->GetNumWaits(), 1u);  // only the host's dispatch of 2
}

TEST_F(MessageBusTest, TheQueueBoundComesFromTheSettings)
{
    const std::pair<const char*, size_t> cases[] = {{nullptr, 8}, {"1", 1},        {"64", 64}, {"0", 1},
                                                    {"-5", 1},    {"99999", 4096}, {"lots", 8}};
    for (const auto& [value, megabytes] : cases) {
        if (value) settings->WriteString("Logger Settings", "Message Queue MB", value);
        CMessageClient* client = CreateMessageClient(nullptr, 0, nullptr, 0);
        EXPECT_EQ(client->GetQueueBound(), megabytes << 20) << (value ? value : "unset");
        DestroyMessageClient(&client);
    }
}

TEST_F(FiltersTest, IncludeAndExcludeTypesAndSignals)
{
    const std::vector<CVESKMessage> messages = {
        Signal(6, "RRC_STATE_IND"),                      // 0x1001, type 6
        Signal(5, "SIM_STATUS_IND"),                     // 0x1005, type 5
        Signal(7, "RRC_STATE_IND"),                      // 0x1001, type 7
        FromBlock(CSimDevice::TraceBlock(0, 1, 10, 0)),  // a trace
        Signal(6, "RRC_STATE_IND", 2),                   // not a device signal
    };
    CAllFilters f;
    EXPECT_EQ(Passing(f, messages), "11111");  // nothing set: everything passes

    f.ExcludeMessageType(5);
    EXPECT_EQ(Passing(f, messages), "10111");
    f.IncludeMessageType(6);
    EXPECT_EQ(Passing(f, messages), "10001");
    f.IncludeMessageType(5);  // exclusion wins over inclusion
    EXPECT_EQ(Passing(f, messages), "10001");

    f.Clear();
    EXPECT_EQ(Passing(f, messages), "11111");
    f.IncludeSignal(0x1001);  // only that signal, in any of its layouts
    EXPECT_EQ(Passing(f, messages), "10100");
    f.IncludeSignal(0x1005);
    EXPECT_EQ(Passing(f, messages), "11100");

    f.Clear();
    f.ExcludeSignal(0x1001);
    EXPECT_EQ(Passing(f, messages), "01011");
    f.IncludeMessageType(6);
    f.IncludeMessageType(CConverter::kTraceMessageType);
    EXPECT_EQ(Passing(f, messages), "00011");
}

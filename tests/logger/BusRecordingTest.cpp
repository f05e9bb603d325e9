#include <map>
#include <thread>

#include "logger/LoggerManager.h"
#include "platform/MessageBus.h"
#include "tests/logger/LoggerTestSupport.h"

namespace {
class BusRecordingTest : public HostFixture {
protected:
    ~BusRecordingTest() override { Term(); }
};
}  // namespace

TEST_F(BusRecordingTest, MessagesFromSeveralThreadsAreRecordedInOrderPerSource)
{
    CLogger* logger = Init()->AddNewLogger((tmp.path() + "\\bus").c_str(), true, false, -1, 0, 0, 0);
    ASSERT_NE(logger->GetClient(), nullptr);
    EXPECT_FALSE(logger->IsLogging());
    logger->Resume();
    EXPECT_TRUE(logger->IsLogging());
    EXPECT_FALSE(logger->RenameFile((tmp.path() + "\\bus.vkl").c_str(), (tmp.path() + "\\renamed.vkl").c_str()));
    CString result;
    logger->AddFileDescription("x", result, (tmp.path() + "\\bus.vkl").c_str());
    EXPECT_EQ(result, "Error adding description - Logger is in recording mode");

    constexpr int kThreads = 4, kPerThread = 2500;
    std::vector<std::thread> threads;
    auto bus = Services::Bus();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, bus] {
            for (int i = 0; i < kPerThread; ++i) {
                // Device number = source thread; index = thread * 1e6 + sequence.
                CVESKMessage m = MakeMessage(static_cast<uint64_t>(t) * 1000000 + static_cast<uint64_t>(i), t, 20);
                bus->Dispatch(m, t, 0);
            }
        });
    }
    for (auto& th : threads) th.join();
    logger->EmptyFIFO();
    logger->Close();

    const auto records = ReadRecords(Path("bus.vkl"));
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kPerThread));
    std::map<int, uint64_t> next;
    for (const auto& r : records) {
        const int source = r.GetDeviceNumber();
        EXPECT_EQ(r.GetMessageIndex(), static_cast<uint64_t>(source) * 1000000 + next[source]) << "source " << source;
        EXPECT_EQ(r, MakeMessage(r.GetMessageIndex(), source, 20));
        ++next[source];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], static_cast<uint64_t>(kPerThread));
}

TEST_F(BusRecordingTest, PausedLoggerRecordsNothingAndSourceFiltersSelect)
{
    CSourceRecord source;
    source.m_nSourceId1 = 5;
    source.m_nSourceId2 = 1;
    source.m_strDisplayName = "Radio";
    OpenSpecificLogger(static_cast<long>(reinterpret_cast<intptr_t>(&source)));
    CLogger* logger = Init()->GetLoggerList()->front();
    ASSERT_TRUE(logger->IsLogging());
    auto bus = Services::Bus();
    CVESKMessage mine = MakeMessage(1), other = MakeMessage(2);
    bus->Dispatch(other, 4, 1);
    bus->Dispatch(mine, 5, 1);
    logger->EmptyFIFO();
    logger->Pause();
    CVESKMessage late = MakeMessage(3);
    bus->Dispatch(late, 5, 1);
    logger->Close();
    const auto records = ReadRecords(LogDir() + "Radio Log.vkl");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].GetMessageIndex(), 1u);
}

#include <cstdio>
#include <map>

#include "tests/logger/LoggerTestSupport.h"

namespace {
class ManagerTest : public LoggerFixture {
protected:
    CLoggerManager* manager = Init();
    int ownerA = 0, ownerB = 0;
};
}  // namespace

TEST_F(ManagerTest, NamesCountUpTheDirectoryIsSplitOffAndOnlyFileNamesCompare)
{
    // The count lives as long as the process: LogFile1.vkl, then LogFile2.vkl in a fresh one.
    CLogger* first = manager->AddNewLogger("", true, false, -1, 0, 0, 0);
    CLogger* second = manager->AddNewLogger("", true, false, -1, 0, 0, 0);
    int n = 0;
    ASSERT_EQ(std::sscanf(first->GetFileName().c_str(), "LogFile%d.vkl", &n), 1) << first->GetFileName();
    EXPECT_EQ(second->GetFileName(), ("LogFile" + std::to_string(n + 1) + ".vkl").c_str());
    EXPECT_TRUE(FileExists(LogDir() + first->GetFileName().str()));

    std::filesystem::create_directories(tmp.path() + "/logs");
    CLogger* a = manager->AddNewLogger((tmp.path() + "\\logs\\run").c_str(), true, false, -1, 0, 0, 0);
    EXPECT_EQ(a->GetFileName(), "run.vkl");
    EXPECT_EQ(a->GetPathName(), (tmp.path() + "\\logs\\").c_str());
    EXPECT_TRUE(FileExists(tmp.path() + "/logs/run.vkl"));
    EXPECT_EQ(manager->AddNewLogger("D:\\other\\run.vkl", true, false, 3, 0, 0, 0), a);
    EXPECT_EQ(manager->GetLoggerList()->size(), 3u);
    EXPECT_EQ(manager->AddNewLogger("trace.bin", true, false, -1, 0, 0, 0)->GetFileName(), "trace.bin");
    EXPECT_EQ(manager->AddNewLogger("trace.VKL", true, false, -1, 0, 0, 0)->GetFileName(), "trace.VKL.vkl");
}

TEST_F(ManagerTest, ScriptLoggersAreSharedAndClosedPerOwner)
{
    CLogger* ab = manager->AddScriptLogger("ab", true, false, tmp.path().c_str(), &ownerA);
    ASSERT_NE(ab, nullptr);
    EXPECT_EQ(ab->GetFileName(), "ab.vkl");
    EXPECT_EQ(manager->IsScriptLogger(ab), 1);

    CLogger* plain = manager->AddNewLogger((tmp.path() + "\\shared").c_str(), true, false, -1, 0, 0, 0);
    EXPECT_EQ(manager->IsScriptLogger(plain), 0);
    EXPECT_EQ(manager->AddScriptLogger("shared.vkl", true, false, tmp.path().c_str(), &ownerA), plain);
    EXPECT_EQ(manager->IsScriptLogger(plain), 1);
    EXPECT_EQ(manager->AddScriptLogger("shared.vkl", true, false, tmp.path().c_str(), &ownerB), plain);
    for (const char* name : {"b1", "b2", "b3"})
        ASSERT_NE(manager->AddScriptLogger(name, true, false, tmp.path().c_str(), &ownerB), nullptr);
    EXPECT_EQ(manager->GetLoggerList()->size(), 5u);

    manager->CloseAllScriptLoggers(&ownerB);
    const auto* list = manager->GetLoggerList();
    EXPECT_EQ(*list, (std::list<CLogger*>{ab, plain}));

    manager->ClearScriptLoggerList(&ownerA);
    EXPECT_EQ(manager->IsScriptLogger(ab), 0);
    EXPECT_EQ(list->size(), 2u);
    Feed(*ab, 1, 1);  // still records
    manager->RemoveLogger(ab);
    EXPECT_EQ(Inspect(Path("ab.vkl")).records.size(), 1u);

    // A script logger whose file cannot be opened is not kept.
    EXPECT_EQ(manager->AddScriptLogger("x", true, false, (tmp.path() + "/missing").c_str(), &ownerA), nullptr);
    EXPECT_EQ(list->size(), 1u);
    int stranger = 0;
    manager->RemoveLogger(reinterpret_cast<CLogger*>(&stranger));  // not in the list: nothing deleted
    EXPECT_EQ(list->size(), 1u);
}

TEST_F(ManagerTest, MessagesFromSeveralThreadsAreRecordedInOrderPerSource)
{
    CLogger* logger = manager->AddNewLogger((tmp.path() + "\\bus").c_str(), true, false, -1, 0, 0, 0);
    ASSERT_NE(logger->GetClient(), nullptr);
    EXPECT_FALSE(logger->IsLogging());
    logger->Resume();
    EXPECT_TRUE(logger->IsLogging());
    // Recording: the file can be neither moved nor given a description from outside.
    EXPECT_FALSE(logger->RenameFile((tmp.path() + "\\bus.vkl").c_str(), (tmp.path() + "\\renamed.vkl").c_str()));
    CString result;
    logger->AddFileDescription("x", result, (tmp.path() + "\\bus.vkl").c_str());
    EXPECT_EQ(result, "Error adding description - Logger is in recording mode");

    constexpr int kThreads = 4, kPerThread = 2500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, bus = Services::Bus()] {
            for (uint64_t i = 0; i < kPerThread; ++i)
                bus->Dispatch(MakeMessage(static_cast<uint64_t>(t) * 1000000 + i, t, 20), t, 0);
        });
    }
    for (auto& th : threads) th.join();
    logger->EmptyFIFO();
    logger->Close();

    const auto records = Inspect(Path("bus.vkl")).records;
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kPerThread));
    std::map<int, uint64_t> next;
    for (const auto& r : records) {
        const int source = r.GetDeviceNumber();
        EXPECT_EQ(r, MakeMessage(static_cast<uint64_t>(source) * 1000000 + next[source]++, source, 20));
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], static_cast<uint64_t>(kPerThread));
}

TEST_F(ManagerTest, SpecificLoggerIsNamedAfterItsSourceTakesOnlyItAndNothingWhilePaused)
{
    CSourceRecord source;
    source.m_nSourceId1 = 5;
    source.m_nSourceId2 = 1;
    source.m_strDisplayName = "Radio";
    OpenSpecificLogger(static_cast<long>(reinterpret_cast<intptr_t>(&source)));
    const auto* list = manager->GetLoggerList();
    ASSERT_EQ(list->size(), 1u);
    CLogger* logger = list->front();
    EXPECT_EQ(logger->GetFileName(), "Radio Log.vkl");
    ASSERT_TRUE(logger->IsLogging());
    auto bus = Services::Bus();
    bus->Dispatch(MakeMessage(2), 4, 1);
    bus->Dispatch(MakeMessage(1), 5, 1);
    logger->EmptyFIFO();
    logger->Pause();
    bus->Dispatch(MakeMessage(3), 5, 1);
    logger->Close();
    EXPECT_EQ(Inspect(LogDir() + "Radio Log.vkl").records, std::vector<CVESKMessage>{MakeMessage(1)});
    Term();
    EXPECT_TRUE(list->empty());
}

#include <cstdio>
#include <filesystem>

#include "logger/LoggerManager.h"
#include "tests/logger/LoggerTestSupport.h"

namespace {
class ManagerTest : public HostFixture {
protected:
    ~ManagerTest() override { CLoggerManager::Instance()->DeleteAll(); }
    CLoggerManager* manager = Init();
    int ownerA = 0, ownerB = 0;
};
}  // namespace

TEST_F(ManagerTest, GeneratedNamesCountUp)
{
    CLogger* first = manager->AddNewLogger("", true, false, -1, 0, 0, 0);
    CLogger* second = manager->AddNewLogger("", true, false, -1, 0, 0, 0);
    // The count lives as long as the process: LogFile1.vkl, then LogFile2.vkl in a fresh one.
    int n = 0;
    ASSERT_EQ(std::sscanf(first->GetFileName().c_str(), "LogFile%d.vkl", &n), 1) << first->GetFileName();
    CString next;
    next.Format("LogFile%d.vkl", n + 1);
    EXPECT_EQ(second->GetFileName(), next);
    EXPECT_EQ(manager->GetLoggerList()->size(), 2u);
    EXPECT_TRUE(FileExists(LogDir() + first->GetFileName().str()));
}

TEST_F(ManagerTest, DirectoryIsSplitOffAndOnlyFileNamesCompare)
{
    std::filesystem::create_directories(tmp.path() + "/logs");
    const std::string name = tmp.path() + "\\logs\\run";
    CLogger* a = manager->AddNewLogger(name.c_str(), true, false, -1, 0, 0, 0);
    EXPECT_EQ(a->GetFileName(), "run.vkl");
    EXPECT_EQ(a->GetPathName(), (tmp.path() + "\\logs\\").c_str());
    EXPECT_TRUE(FileExists(tmp.path() + "/logs/run.vkl"));
    CLogger* b = manager->AddNewLogger("D:\\other\\run.vkl", true, false, 3, 0, 0, 0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(manager->GetLoggerList()->size(), 1u);

    CLogger* bin = manager->AddNewLogger("trace.bin", true, false, -1, 0, 0, 0);
    EXPECT_EQ(bin->GetFileName(), "trace.bin");
    CLogger* upper = manager->AddNewLogger("trace.VKL", true, false, -1, 0, 0, 0);
    EXPECT_EQ(upper->GetFileName(), "trace.VKL.vkl");
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

    CLogger* b1 = manager->AddScriptLogger("b1", true, false, tmp.path().c_str(), &ownerB);
    CLogger* b2 = manager->AddScriptLogger("b2", true, false, tmp.path().c_str(), &ownerB);
    CLogger* b3 = manager->AddScriptLogger("b3", true, false, tmp.path().c_str(), &ownerB);
    ASSERT_TRUE(b1 && b2 && b3);
    EXPECT_EQ(manager->GetLoggerList()->size(), 5u);

    manager->CloseAllScriptLoggers(&ownerB);
    const auto* list = manager->GetLoggerList();
    EXPECT_EQ(list->size(), 2u);
    EXPECT_EQ(std::count(list->begin(), list->end(), ab), 1);
    EXPECT_EQ(std::count(list->begin(), list->end(), plain), 1);

    manager->ClearScriptLoggerList(&ownerA);
    EXPECT_EQ(manager->IsScriptLogger(ab), 0);
    EXPECT_EQ(list->size(), 2u);
    CVESKMessage m = MakeMessage(1);
    ab->HandleMessage(&m);  // still records
    manager->RemoveLogger(ab);
    EXPECT_EQ(ReadRecords(Path("ab.vkl")).size(), 1u);

    // A script logger whose file cannot be opened is not kept.
    EXPECT_EQ(manager->AddScriptLogger("x", true, false, (tmp.path() + "/missing").c_str(), &ownerA), nullptr);
    EXPECT_EQ(list->size(), 1u);
    int stranger = 0;
    manager->RemoveLogger(reinterpret_cast<CLogger*>(&stranger));  // not in the list: nothing deleted
    EXPECT_EQ(list->size(), 1u);
}

TEST_F(ManagerTest, OpenSpecificLoggerNamesTheLogAfterTheSource)
{
    CSourceRecord source;
    source.m_nSourceId1 = 4;
    source.m_nSourceId2 = 7;
    source.m_strDisplayName = "Modem";
    OpenSpecificLogger(static_cast<long>(reinterpret_cast<intptr_t>(&source)));
    const auto* list = manager->GetLoggerList();
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(list->front()->GetFileName(), "Modem Log.vkl");
    Term();
    EXPECT_TRUE(list->empty());
}

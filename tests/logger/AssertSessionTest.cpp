#include <map>

#include "logger/LoggerManager.h"
#include "platform/MessageBus.h"
#include "sim/SimDevice.h"
#include "tests/logger/LoggerTestSupport.h"

namespace {
class AssertSessionTest : public HostFixture {};

struct FileContent {
    std::vector<CVESKMessage> records;
    std::vector<DWORD> offsets;
    std::vector<CLogBookmark> bookmarks;
    CString description;
    int pages = 0;
};

FileContent Read(const std::string& path)
{
    FileContent c;
    CLogFile f;
    EXPECT_TRUE(f.OpenForInspection(path.c_str()));
    EXPECT_FALSE(f.NeedsRepair()) << path;
    while (f.GetPosition() < f.GetHeaderPosition()) {
        c.offsets.push_back(static_cast<DWORD>(f.GetPosition()));
        CVESKMessage m;
        ReadLogRecord(f, m);
        c.records.push_back(m);
    }
    c.bookmarks.assign(f.GetBookmarks()->begin(), f.GetBookmarks()->end());
    c.description = f.GetFileDescription();
    c.pages = f.GetNumOfPages();
    return c;
}
}  // namespace

TEST_F(AssertSessionTest, CutOnAssertClosesTheFileItWasWrittenTo)
{
    CLogger logger("cut", 1, 0, tmp.path().c_str(), -1, 0, 1, 1);
    CString result;
    logger.AddFileDescription("assert run", result, "");
    CVESKMessage before = MakeMessage(1);
    logger.HandleMessage(&before);
    std::vector<BYTE> block = CSimDevice::TraceBlock(0, 9, 501, 0);
    CVESKMessage assertion(1, 0, block.data(), static_cast<int>(block.size()), 0);
    assertion.SetMessageIndex(2);
    logger.HandleMessage(&assertion);
    const CString next = logger.GetFileName();
    EXPECT_NE(next, "cut.vkl");
    CVESKMessage after = MakeMessage(3);
    logger.HandleMessage(&after);
    logger.Close();

    const FileContent old = Read(Path("cut.vkl"));
    ASSERT_EQ(old.records.size(), 2u);
    ASSERT_EQ(old.bookmarks.size(), 1u);
    EXPECT_EQ(old.bookmarks[0].m_dwFilePos, old.offsets[1]);
    EXPECT_EQ(old.bookmarks[0].m_strDescription, "Assert (Comm Message)- EE_HANDLER__EE__EE_LOG_RESET");
    const FileContent cont = Read(tmp / next.str());
    ASSERT_EQ(cont.records.size(), 1u);
    EXPECT_EQ(cont.records[0].GetMessageIndex(), 3u);
    EXPECT_TRUE(cont.bookmarks.empty());
    EXPECT_EQ(cont.description, "assert run");  // carried into every file of the set
}

TEST_F(AssertSessionTest, LongSessionLosesAndDuplicatesNothingAcrossTheSeams)
{
    settings->WriteInt("Logger Settings", "Message Queue MB", 1);
    CLogger* logger = Init()->AddNewLogger((tmp.path() + "\\session").c_str(), true, false, -1, 1, 1, 1);
    ASSERT_NE(logger->GetClient(), nullptr);
    EXPECT_EQ(logger->GetClient()->GetQueueBound(), 1u << 20);
    // A queue of a few dozen messages: the source outruns the disk and waits for room
    // while the worker rolls over into the next file, which must never deadlock.
    logger->GetClient()->SetQueueBound(8 * 1024);
    logger->Resume();
    CSimDevice sim({.seed = 11, .devices = 5, .assertEvery = 20000});
    sim.Connect(*devices);
    CSimDeviceRunner runner(sim, Services::Bus());
    constexpr uint64_t kMessages = 60000;
    runner.Run(kMessages);
    logger->EmptyFIFO();
    EXPECT_GT(logger->GetClient()->GetNumWaits(), 0u);
    EXPECT_EQ(logger->GetClient()->GetNumDropped(), 0u);
    Term();

    std::map<uint64_t, int> seen;
    size_t files = 0, assertsSeen = 0;
    for (const std::string& name : FilesIn(tmp.path())) {
        ++files;
        const FileContent c = Read(tmp / name);
        ASSERT_FALSE(c.records.empty()) << name;
        // The first page step of a file comes after 2,999 messages, each later one after 3,000.
        const int n = static_cast<int>(c.records.size());
        EXPECT_EQ(c.pages, n < 2999 ? 1 : 2 + (n - 2999) / 3000) << name;
        for (size_t i = 0; i < c.records.size(); ++i) {
            ++seen[c.records[i].GetMessageIndex()];
            if (i) {
                EXPECT_LT(c.records[i - 1].GetMessageIndex(), c.records[i].GetMessageIndex()) << name;
            }
            CString text;
            if (CLogger::IsAssertMessage(const_cast<CVESKMessage*>(&c.records[i]), text)) {
                ++assertsSeen;
                EXPECT_EQ(i, c.records.size() - 1) << "an assert ends its file: " << name;
                ASSERT_EQ(c.bookmarks.size(), 1u) << name;
                EXPECT_EQ(c.bookmarks[0].m_dwFilePos, c.offsets[i]);
                EXPECT_EQ(c.bookmarks[0].m_strDescription, text);
            }
        }
    }
    EXPECT_EQ(seen.size(), kMessages);
    EXPECT_EQ(seen.begin()->first, 1u);
    EXPECT_EQ(seen.rbegin()->first, kMessages);
    for (const auto& [index, count] : seen) ASSERT_EQ(count, 1) << "message " << index;
    EXPECT_EQ(assertsSeen, kMessages / 20000);
    EXPECT_GE(files, assertsSeen + 2);  // the cuts, plus at least one roll-over at 1 MB
}

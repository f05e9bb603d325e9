#include "logger/Logger.h"
#include "tests/logger/LoggerTestSupport.h"

namespace {
class LogSetsTest : public HostFixture {
protected:
    std::unique_ptr<CLogger> MakeLogger(const std::string& name, unsigned long maxMB = 0, int bookmark = 0, int cut = 0)
    {
        return std::make_unique<CLogger>(name.c_str(), 1, 0, tmp.path().c_str(), -1, maxMB, bookmark, cut);
    }
};
}  // namespace

TEST_F(LogSetsTest, ConventionNameAndIndexAdvance)
{
    clock->Set(CSystemTime(2026, 12, 4, 18, 57, 3));
    settings->WriteInt("Viewer Settings", "KOVA Log Name", 0);
    CLogger first("", 1, 0, "", -1, 0, 0, 0);
    EXPECT_EQ(first.GetFileName(), "USOR1_IDLE1_0412_1857_R40817.vkl");
    EXPECT_EQ(first.GetPathName(), (tmp.path() + "\\Bin Logs\\").c_str());
    EXPECT_TRUE(FileExists(LogDir() + "USOR1_IDLE1_0412_1857_R40817.vkl"));
    CLogger second("", 1, 0, "", -1, 0, 0, 0);
    EXPECT_EQ(second.GetFileName(), "USOR1_IDLE2_0412_1857_R40817.vkl");
    EXPECT_EQ(settings->GetInt("Viewer Settings", "Log Name Index", 0), 3);

    settings->WriteString("Viewer Settings", "Import Export Path", tmp.path().c_str());
    settings->WriteInt("Viewer Settings", "Is Current Log Date", 1);
    settings->WriteString("Viewer Settings", "Log Name Location", "DE");
    CLogger third("", 1, 0, "", -1, 0, 0, 0);
    EXPECT_EQ(third.GetFileName(), "DEOR1_IDLE3__R40817.vkl");
    EXPECT_EQ(third.GetPathName(), (tmp.path() + "\\").c_str());

    settings->WriteString("Viewer Settings", "Import Export Path", (tmp.path() + "/").c_str());
    settings->WriteString("Viewer Settings", "Current Log Time", "X");
    CLogger fourth("", 1, 0, "", -1, 0, 0, 0);
    EXPECT_EQ(fourth.GetPathName(), (tmp.path() + "/").c_str());
    EXPECT_EQ(fourth.GetFileName(), "DEOR1_IDLE4_X_R40817.vkl");
}

TEST_F(LogSetsTest, DiskSpaceGuard)
{
    CString msg;
    auto limitFor = [&](FreeSpaceResult r) {
        *freeSpace = CFixedFreeSpace(r);
        msg.Empty();
        return CLogger::GetMaxFileSizeInMB("D:\\logs", msg);
    };
    const char* lowSpace =
        "The Recorder requires at least 250 MB free in order to record properly. \nPlease free some disk space, and try again.";
    EXPECT_EQ(limitFor({FreeSpaceResult::ok, 251ull << 20}), 0u);
    EXPECT_EQ(msg, lowSpace);
    EXPECT_EQ(limitFor({FreeSpaceResult::ok, (252ull << 20) + 5}), 1u);
    EXPECT_TRUE(msg.IsEmpty());
    EXPECT_EQ(limitFor({FreeSpaceResult::ok, 10ull << 30}), 4095u);
    EXPECT_EQ(limitFor({FreeSpaceResult::ok, 1000}), 0u);
    EXPECT_EQ(msg, lowSpace);
    EXPECT_EQ(limitFor({FreeSpaceResult::failed, 0}), 0u);
    EXPECT_EQ(msg, "Couldn't get the disk's free space for directory 'D:\\logs'! \nPlease make sure that he directory name is valid.");
    EXPECT_EQ(limitFor({FreeSpaceResult::queryMissing, 0}), 0u);
    EXPECT_EQ(msg, "Operating System Error! Couldn't get the disk's free space !");

    // The real query on a directory that does not exist.
    CStatvfsFreeSpace real;
    EXPECT_EQ(real.Query((tmp.path() + "/no/such/dir").c_str()).status, FreeSpaceResult::failed);
    EXPECT_EQ(real.Query(tmp.path().c_str()).status, FreeSpaceResult::ok);
}

TEST_F(LogSetsTest, ContinuationNames)
{
    clock->Set(CSystemTime(2026, 12, 4, 19, 0, 31));
    auto logger = MakeLogger("USOR1_IDLE1_0412_1857_R40817");
    EXPECT_EQ(logger->GetContLogFileName(), "USOR1_IDLE1_0412_1857_R40817_04_Dec_26_19;00;31.vkl");
    logger->SetLogFileName("USOR1_IDLE1_0412_1857_R40817_04_Dec_26_19;00;31.vkl", (tmp.path() + "\\").c_str());
    clock->Set(CSystemTime(2026, 12, 4, 19, 7, 2));
    EXPECT_EQ(logger->GetContLogFileName(), "USOR1_IDLE1_0412_1857_R40817_04_Dec_26_19;07;02.vkl");
    logger->SetLogFileName("plain", "");
    EXPECT_EQ(logger->GetContLogFileName(), "plain_04_Dec_26_19;07;02.vkl");
    logger->SetLogFileName("two.dots.vkl", "");
    EXPECT_EQ(logger->GetContLogFileName(), "two_04_Dec_26_19;07;02.vkl");
    logger->SetLogFileName("Log 04-Dec-26 18;57;03.vkl", "");
    EXPECT_EQ(logger->GetContLogFileName(), "Log 04-Dec-26 18;57;03_04_Dec_26_19;07;02.vkl");
    logger->SetLogFileName(".hidden", "");
    EXPECT_EQ(logger->GetContLogFileName(), "_04_Dec_26_19;07;02.vkl");
}

TEST_F(LogSetsTest, SizeLimitRollsOverIntoContinuationFiles)
{
    // 1 MiB limit; records of 10,000 data bytes (10,044 bytes each).
    auto logger = MakeLogger("big", 1);
    ASSERT_EQ(logger->GetMaxFileSize(), 1u);
    const int total = 310;  // about 3 MiB
    std::vector<std::string> seen;
    clock->Set(CSystemTime(2026, 12, 4, 19, 0, 0));
    for (int i = 1; i <= total; ++i) {
        clock->AdvanceSeconds(1);  // a new second for every message
        CVESKMessage m = MakeMessage(static_cast<uint64_t>(i), 0, 10000);
        logger->HandleMessage(&m);
    }
    logger->Close();
    const auto files = FilesIn(tmp.path());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], "big.vkl");
    EXPECT_EQ(files[1].substr(0, 4), "big_");
    EXPECT_EQ(files[1].size(), std::string("big_04_Dec_26_19;01;45.vkl").size());
    uint64_t next = 1;
    for (const auto& name : {files[0], files[1], files[2]}) {
        const auto records = ReadRecords(tmp / name);
        ASSERT_FALSE(records.empty());
        for (const auto& r : records) EXPECT_EQ(r.GetMessageIndex(), next++);
        CLogFile f;
        ASSERT_TRUE(f.OpenForInspection((tmp / name).c_str()));
        EXPECT_EQ(f.GetNumOfPages(), 1);
        if (name != files[2]) {
            // The crossing record is the last one of the old file.
            EXPECT_GE(f.GetHeaderPosition(), 1u << 20);
            EXPECT_LT(f.GetHeaderPosition() - 10044u, 1u << 20);
        }
    }
    EXPECT_EQ(next, static_cast<uint64_t>(total + 1));
}

TEST_F(LogSetsTest, SecondContinuationWithinOneSecondNeverTruncates)
{
    auto logger = MakeLogger("fast", 1);
    for (int i = 1; i <= 430; ++i) {  // about 4.1 MiB at one fixed clock second
        CVESKMessage m = MakeMessage(static_cast<uint64_t>(i), 0, 10000);
        logger->HandleMessage(&m);
    }
    logger->Close();
    const auto files = FilesIn(tmp.path());
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files[1], "fast_03_Mar_11_14;05;09.vkl");
    EXPECT_EQ(files[2], "fast_03_Mar_11_14;05;09~2.vkl");
    EXPECT_EQ(files[3], "fast_03_Mar_11_14;05;09~3.vkl");
    size_t total = 0;
    for (const auto& f : files) total += ReadRecords(tmp / f).size();
    EXPECT_EQ(files[4], "fast_03_Mar_11_14;05;09~4.vkl");
    EXPECT_EQ(total, 430u);
}

TEST_F(LogSetsTest, PageCounting)
{
    auto logger = MakeLogger("pages");
    EXPECT_EQ(logger->GetNumOfPagesInFile(), 1);
    for (int i = 1; i <= 5999; ++i) {
        CVESKMessage m = MakeMessage(static_cast<uint64_t>(i), 0, 8);
        logger->HandleMessage(&m);
        if (i == 2998) {
            EXPECT_EQ(logger->GetNumOfPagesInFile(), 1);
        }
        if (i == 2999) {
            EXPECT_EQ(logger->GetNumOfPagesInFile(), 2);
        }
    }
    EXPECT_EQ(logger->GetNumOfPagesInFile(), 3);
    logger->Close();
    CLogFile f;
    ASSERT_TRUE(f.OpenForInspection(Path("pages.vkl").c_str()));
    EXPECT_EQ(f.GetNumOfPages(), 3);
}

TEST_F(LogSetsTest, NavigationFollowsTheInMemoryLinks)
{
    auto logger = MakeLogger("nav", 1);
    for (int i = 1; i <= 110; ++i) {
        CVESKMessage m = MakeMessage(static_cast<uint64_t>(i), 0, 10000);
        logger->HandleMessage(&m);
    }
    // The open continuation file knows its predecessor.
    const CString second = logger->GetFileName();
    EXPECT_NE(second, "nav.vkl");
    EXPECT_EQ(logger->GetLogFile()->GetPrevLogFileName(), "nav.vkl");
    logger->OpenNextFile();  // no next name: nothing changes
    EXPECT_EQ(logger->GetFileName(), second);
    // The walk goes back to nav.vkl through the open file's link; on disk the current
    // header layout keeps no link names, so it ends there.
    EXPECT_EQ(logger->GetTotalNumOfPages(), 1);
    EXPECT_EQ(logger->GetNumOfFiles(), 1);
    // The walk ends reading the file it started from, at the same position.
    EXPECT_EQ(logger->GetFileName(), second);
    EXPECT_TRUE(logger->GetLogFile()->IsOpen());
    EXPECT_FALSE(logger->GetLogFile()->IsWriteMode());
}

TEST_F(LogSetsTest, BookmarksAndDescriptions)
{
    auto logger = MakeLogger("bm");
    CVESKMessage m1 = MakeMessage(1), m2 = MakeMessage(2);
    logger->HandleMessage(&m1);
    logger->HandleMessage(&m2);
    const DWORD second = logger->GetLastMessagePosition();
    logger->AddBookmark("here");
    CString result;
    logger->AddFileDescription("my session", result, "");
    EXPECT_EQ(result, "Succeeded to add description");
    logger->Close();

    CLogFile f;
    ASSERT_TRUE(f.OpenForInspection(Path("bm.vkl").c_str()));
    ASSERT_EQ(f.GetBookmarks()->size(), 1u);
    EXPECT_EQ(f.GetBookmarks()->front().m_dwFilePos, second);
    EXPECT_EQ(f.GetBookmarks()->front().m_strDescription, "here");
    EXPECT_TRUE(f.GetBookmarks()->front().m_strFileName.IsEmpty());
    EXPECT_EQ(f.GetFileDescription(), "my session");
    f.Close();

    // Another file's description, while not recording.
    {
        auto other = MakeLogger("other");
        CVESKMessage m = MakeMessage(3);
        other->HandleMessage(&m);
        other->Close();
    }
    logger->AddFileDescription("set later", result, (tmp.path() + "/other.vkl").c_str());
    EXPECT_EQ(result, "Succeeded to add description");
    ASSERT_TRUE(f.OpenForInspection(Path("other.vkl").c_str()));
    EXPECT_EQ(f.GetFileDescription(), "set later");
}

#include "tests/logger/LoggerTestSupport.h"

using LoggerTest = LoggerFixture;

TEST_F(LoggerTest, WritesOneRecordPerMessageAndTracesOpenAndClose)
{
    auto logger = MakeLogger("rec");
    ASSERT_NE(logger->GetClient(), nullptr);
    Feed(*logger, 1, 3, 60, [&](uint64_t i) { EXPECT_EQ(logger->GetLastMessagePosition(), 4 + (i - 1) * 100); });
    logger->Close();
    EXPECT_EQ(Inspect(Path("rec.vkl")).records,
              (std::vector<CVESKMessage>{MakeMessage(1), MakeMessage(2), MakeMessage(3)}));
    EXPECT_EQ(trace->Lines(), (std::vector<CString>{("Open file:\twr\t" + tmp.path() + "\\rec.vkl\n").c_str(),
                                                    "Close file:\trec.vkl\n"}));
    // A second Close finds nothing to close and traces nothing; a late message is ignored.
    logger->Close();
    EXPECT_EQ(trace->Lines().size(), 2u);
    Feed(*logger, 9, 9);
    EXPECT_EQ(Inspect(Path("rec.vkl")).records.size(), 3u);
}

TEST_F(LoggerTest, DateNameConventionNameAndDirectories)
{
    const auto expect = [](const std::string& name, const std::string& path) {
        auto logger = std::make_unique<CLogger>("", 1, 0, "", -1, 0, 0, 0);
        EXPECT_EQ(std::pair(logger->GetFileName().str(), logger->GetPathName().str()), std::pair(name, path));
        return logger;
    };
    const auto dated = expect("Log 03-Mar-11 14;05;09.vkl", tmp.path() + "\\Bin Logs\\");
    EXPECT_TRUE(FileExists(LogDir() + "Log 03-Mar-11 14;05;09.vkl"));

    // The naming convention; each logger takes the next index.
    clock->Set(CSystemTime(2026, 12, 4, 18, 57, 3));
    settings->WriteInt("Viewer Settings", "KOVA Log Name", 0);
    expect("USOR1_IDLE1_0412_1857_R40817.vkl", tmp.path() + "\\Bin Logs\\");
    expect("USOR1_IDLE2_0412_1857_R40817.vkl", tmp.path() + "\\Bin Logs\\");
    EXPECT_EQ(settings->GetInt("Viewer Settings", "Log Name Index", 0), 3);
    settings->WriteString("Viewer Settings", "Import Export Path", tmp.path().c_str());
    settings->WriteInt("Viewer Settings", "Is Current Log Date", 1);
    settings->WriteString("Viewer Settings", "Log Name Location", "DE");
    expect("DEOR1_IDLE3__R40817.vkl", tmp.path() + "\\");
    settings->WriteString("Viewer Settings", "Import Export Path", (tmp.path() + "/").c_str());
    settings->WriteString("Viewer Settings", "Current Log Time", "X");
    expect("DEOR1_IDLE4_X_R40817.vkl", tmp.path() + "/");

    settings->WriteInt("Version Directory", "Use Local", 0);
    settings->WriteString("Version Directory", "Directory", "D:\\work");
    EXPECT_EQ(CLogger::GetLogFilesPath(), "D:\\work\\Bin Logs\\");
    settings->WriteInt("Version Directory", "Use Local", 1);
    EXPECT_EQ(CLogger::GetLogFilesPath(), (tmp.path() + "\\Bin Logs\\").c_str());
}

TEST_F(LoggerTest, FirstOpenFailureLeavesLoggerWithoutClient)
{
    CLogger logger("x", 1, 0, (tmp.path() + "/missing/dir").c_str(), -1, 0, 0, 0);
    EXPECT_EQ(logger.GetClient(), nullptr);
    EXPECT_TRUE(logger.GetFileName().IsEmpty());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Can't open log file."});
    Feed(logger, 1, 1);
    EXPECT_FALSE(logger.IsLogging());
    EXPECT_EQ(logger.EmptyFIFO(), 0u);
}

TEST_F(LoggerTest, SizeLimitFromFreeSpace)
{
    const char* lowSpace =
        "The Recorder requires at least 250 MB free in order to record properly. \nPlease free some disk space, and "
        "try again.";
    const std::tuple<FreeSpaceResult, unsigned long, const char*> cases[] = {
        {{FreeSpaceResult::ok, 251ull << 20}, 0, lowSpace},
        {{FreeSpaceResult::ok, (252ull << 20) + 5}, 1, ""},
        {{FreeSpaceResult::ok, 10ull << 30}, 4095, ""},
        {{FreeSpaceResult::ok, 1000}, 0, lowSpace},
        {{FreeSpaceResult::failed, 0},
         0,
         "Couldn't get the disk's free space for directory 'D:\\logs'! \nPlease make sure that he directory name is "
         "valid."},
        {{FreeSpaceResult::queryMissing, 0}, 0, "Operating System Error! Couldn't get the disk's free space !"},
    };
    for (const auto& [free, limit, says] : cases) {
        *freeSpace = CFixedFreeSpace(free);
        CString msg;
        EXPECT_EQ(CLogger::GetMaxFileSizeInMB("D:\\logs", msg), limit) << says;
        EXPECT_EQ(msg, says);
    }
    CStatvfsFreeSpace real;
    EXPECT_EQ(real.Query((tmp.path() + "/no/such/dir").c_str()).status, FreeSpaceResult::failed);
    EXPECT_EQ(real.Query(tmp.path().c_str()).status, FreeSpaceResult::ok);

    // A logger's limit: the free space's unless it asks for less.
    *freeSpace = CFixedFreeSpace({FreeSpaceResult::ok, 300ull << 20});
    EXPECT_EQ(MakeLogger("lim", -1, 0)->GetMaxFileSize(), 49u);
    EXPECT_EQ(MakeLogger("lim2", -1, 1000)->GetMaxFileSize(), 49u);
    EXPECT_EQ(MakeLogger("lim3", -1, 7)->GetMaxFileSize(), 7u);
}

TEST_F(LoggerTest, RenameAndCopyReopenForReadingAtTheSamePosition)
{
    auto logger = MakeLogger("ren");
    Feed(*logger, 1, 1);
    const CString from = (tmp.path() + "\\ren.vkl").c_str(), to = (tmp.path() + "\\moved.vkl").c_str();
    ASSERT_TRUE(logger->RenameFile(from, to));
    EXPECT_EQ(logger->GetFileName(), "moved.vkl");
    EXPECT_EQ(logger->GetPathName(), (tmp.path() + "\\").c_str());
    EXPECT_FALSE(FileExists(Path("ren.vkl")));
    EXPECT_TRUE(logger->GetLogFile()->IsOpen() && !logger->GetLogFile()->IsWriteMode());

    ASSERT_TRUE(logger->CopyLoggerFile(to, (tmp.path() + "\\copy.vkl").c_str()));
    EXPECT_EQ(logger->GetFileName(), "moved.vkl");
    EXPECT_EQ(Inspect(Path("copy.vkl")).records.size(), 1u);

    EXPECT_FALSE(logger->RenameFile((tmp.path() + "\\nothere.vkl").c_str(), (tmp.path() + "\\x.vkl").c_str()));
    EXPECT_EQ(boxes.Texts().back(),
              "Cannot save log file.\nMake sure the file is not in use and that the specified folder exists.");
    logger->Close();
}

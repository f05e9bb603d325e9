#include <fstream>

#include "logger/LoggerManager.h"
#include "platform/MessageBus.h"
#include "tests/logger/LoggerTestSupport.h"

namespace {
class LoggerTest : public HostFixture {
protected:
    // A logger writing `name` in the fixture's directory, recording all devices.
    std::unique_ptr<CLogger> MakeLogger(const std::string& name, int device = -1, unsigned long maxMB = 0)
    {
        return std::make_unique<CLogger>(name.c_str(), 1, 0, tmp.path().c_str(), device, maxMB, 0, 0);
    }
};
}  // namespace

TEST_F(LoggerTest, WritesOneRecordPerMessageAndTracesOpenAndClose)
{
    auto logger = MakeLogger("rec");
    EXPECT_EQ(logger->GetFileName(), "rec.vkl");
    EXPECT_EQ(logger->GetPathName(), (tmp.path() + "\\").c_str());
    ASSERT_NE(logger->GetClient(), nullptr);
    for (uint64_t i = 1; i <= 3; ++i) {
        CVESKMessage m = MakeMessage(i);
        const DWORD before = logger->GetFileSize();
        logger->HandleMessage(&m);
        EXPECT_EQ(logger->GetLastMessagePosition(), before);
    }
    logger->Close();
    const auto records = ReadRecords(Path("rec.vkl"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2], MakeMessage(3));
    const auto lines = trace->Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], ("Open file:\twr\t" + tmp.path() + "\\rec.vkl\n").c_str());
    EXPECT_EQ(lines[1], "Close file:\trec.vkl\n");

    // A second Close finds nothing to close and traces nothing.
    logger->Close();
    EXPECT_EQ(trace->Lines().size(), 2u);
    CVESKMessage late = MakeMessage(9);
    logger->HandleMessage(&late);  // ignored: no archive, no open file
    EXPECT_EQ(ReadRecords(Path("rec.vkl")).size(), 3u);
}

TEST_F(LoggerTest, DeviceFilter)
{
    auto logger = MakeLogger("dev", 3);
    CVESKMessage other = MakeMessage(1, 2), mine = MakeMessage(2, 3);
    logger->HandleMessage(&other);
    logger->HandleMessage(&mine);
    logger->Close();
    const auto records = ReadRecords(Path("dev.vkl"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].GetDeviceNumber(), 3);
}

TEST_F(LoggerTest, ClearLeavesFourBytesAndRecordsAgainFromOffsetFour)
{
    auto logger = MakeLogger("clr");
    CVESKMessage m1 = MakeMessage(1), m2 = MakeMessage(2);
    logger->HandleMessage(&m1);
    logger->AddBookmark("gone");
    logger->Clear();
    EXPECT_EQ(logger->GetFileSize(), 4u);
    EXPECT_EQ(ReadAll(Path("clr.vkl")).size(), 4u);
    logger->HandleMessage(&m2);
    EXPECT_EQ(logger->GetLastMessagePosition(), 4u);
    logger->Close();
    const auto records = ReadRecords(Path("clr.vkl"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].GetMessageIndex(), 2u);
    CLogFile f;
    ASSERT_TRUE(f.OpenForInspection(Path("clr.vkl").c_str()));
    EXPECT_TRUE(f.GetBookmarks()->empty());
}

TEST_F(LoggerTest, DateNameAtFixedTimeAndDefaultDirectory)
{
    CLogger logger("", 1, 0, "", -1, 0, 0, 0);
    EXPECT_EQ(logger.GetFileName(), "Log 03-Mar-11 14;05;09.vkl");
    EXPECT_EQ(logger.GetPathName(), (tmp.path() + "\\Bin Logs\\").c_str());
    EXPECT_TRUE(FileExists(LogDir() + "Log 03-Mar-11 14;05;09.vkl"));
}

TEST_F(LoggerTest, LogFilesPathFromSettings)
{
    EXPECT_EQ(CLogger::GetLogFilesPath(), (tmp.path() + "\\Bin Logs\\").c_str());
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
    CVESKMessage m = MakeMessage(1);
    logger.HandleMessage(&m);
    EXPECT_FALSE(logger.IsLogging());
    EXPECT_EQ(logger.EmptyFIFO(), 0u);
}

TEST_F(LoggerTest, SizeLimitFromFreeSpace)
{
    *freeSpace = CFixedFreeSpace({FreeSpaceResult::ok, 300ull << 20});
    auto logger = MakeLogger("lim", -1, 0);
    EXPECT_EQ(logger->GetMaxFileSize(), 49u);
    auto bigger = MakeLogger("lim2", -1, 1000);
    EXPECT_EQ(bigger->GetMaxFileSize(), 49u);
    auto smaller = MakeLogger("lim3", -1, 7);
    EXPECT_EQ(smaller->GetMaxFileSize(), 7u);
}

TEST_F(LoggerTest, RenameAndCopyReopenForReadingAtTheSamePosition)
{
    auto logger = MakeLogger("ren");
    CVESKMessage m = MakeMessage(1);
    logger->HandleMessage(&m);
    const CString from = (tmp.path() + "\\ren.vkl").c_str();
    const CString to = (tmp.path() + "\\moved.vkl").c_str();
    ASSERT_TRUE(logger->RenameFile(from, to));
    EXPECT_EQ(logger->GetFileName(), "moved.vkl");
    EXPECT_EQ(logger->GetPathName(), (tmp.path() + "\\").c_str());
    EXPECT_FALSE(FileExists(Path("ren.vkl")));
    EXPECT_TRUE(logger->GetLogFile()->IsOpen());
    EXPECT_FALSE(logger->GetLogFile()->IsWriteMode());

    ASSERT_TRUE(logger->CopyLoggerFile(to, (tmp.path() + "\\copy.vkl").c_str()));
    EXPECT_EQ(logger->GetFileName(), "moved.vkl");
    EXPECT_EQ(ReadRecords(Path("copy.vkl")).size(), 1u);

    EXPECT_FALSE(logger->RenameFile((tmp.path() + "\\nothere.vkl").c_str(), (tmp.path() + "\\x.vkl").c_str()));
    EXPECT_EQ(boxes.Texts().back(),
              "Cannot save log file.\nMake sure the file is not in use and that the specified folder exists.");
    logger->Close();
}

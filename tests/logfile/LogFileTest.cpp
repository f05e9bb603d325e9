#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/Archive.h"
#include "logfile/LogFile.h"
#include "platform/VESKMessage.h"
#include "tests/logfile/LogFileBytes.h"
#include "tests/support/TestEnv.h"

namespace {

CVESKMessage SampleMessage(uint64_t index = 7)
{
    const BYTE data[] = {0xAA, 0xBB, 0xCC};
    CVESKMessage m(1, 2, data, 3, 0);
    m.SetPCTimeStamp(CSystemTime(2011, 3, 3, 14, 5, 9, 0));
    m.SetMessageIndex(index);
    return m;
}

void WriteRecord(CLogFile& f, CVESKMessage m)
{
    CArchive ar(&f, CArchive::store);
    m.Serialize(ar);
    ar.Close();
}

std::vector<uint64_t> ReadIndexes(CLogFile& f)
{
    std::vector<uint64_t> out;
    f.Seek(4, CFile::begin);
    while (f.GetPosition() < f.GetHeaderPosition()) {
        CVESKMessage m;
        ReadLogRecord(f, m);
        out.push_back(m.GetMessageIndex());
    }
    return out;
}

class LogFileTest : public HostFixture {};

}  // namespace

TEST_F(LogFileTest, NewFileWithoutRecordsDisappearsOnClose)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("empty.vkl").c_str(), 1, 1, 0));
    EXPECT_EQ(f.GetLength(), 4u);
    f.Close();
    EXPECT_FALSE(FileExists(Path("empty.vkl")));
}

TEST_F(LogFileTest, OneRecordThenHeaderByteForByte)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("one.vkl").c_str(), 1, 1, 0));
    WriteRecord(f, SampleMessage());
    f.Close();

    const Bytes record = SampleRecord();
    ASSERT_EQ(record.size(), 43u);
    Bytes expected;
    Put32(expected, 4 + 43);
    Append(expected, record);
    Append(expected, FreshHeader());
    EXPECT_EQ(ReadAll(Path("one.vkl")), expected);

    CLogFile r;
    ASSERT_TRUE(r.Open(Path("one.vkl").c_str(), 0, 0, 0));
    EXPECT_EQ(r.GetHeaderPosition(), 47u);
    EXPECT_EQ(r.GetPosition(), 4u);
    CVESKMessage m;
    ReadLogRecord(r, m);
    EXPECT_EQ(m, SampleMessage());
    EXPECT_EQ(r.GetPosition(), 47u);
    EXPECT_TRUE(r.GetLogFileHeader()->m_bHasHeaderVersion);
    r.Close();
    EXPECT_EQ(ReadAll(Path("one.vkl")), expected);  // rewritten identically
}

TEST_F(LogFileTest, DescriptionLengthPrefixesInsideHeader)
{
    for (int len : {254, 255}) {
        const std::string desc(static_cast<size_t>(len), 'd');
        const std::string path = Path("desc" + std::to_string(len) + ".vkl");
        CLogFile f;
        ASSERT_TRUE(f.Open(path.c_str(), 1, 1, 0));
        WriteRecord(f, SampleMessage());
        f.SetFileDescription(desc.c_str());
        f.Close();
        const Bytes all = ReadAll(path);
        const size_t at = 47 + 19 + 20 + 1;  // after H, record, two versions, device version
        if (len == 254) {
            EXPECT_EQ(all[at], 254);
            EXPECT_EQ(all[at + 1], 'd');
        } else {
            EXPECT_EQ(Bytes(all.begin() + at, all.begin() + at + 3), (Bytes{0xFF, 0xFF, 0x00}));
            EXPECT_EQ(all[at + 3], 'd');
        }
        CLogFile r;
        ASSERT_TRUE(r.Open(path.c_str(), 0, 0, 0));
        EXPECT_EQ(r.GetFileDescription(), desc.c_str());
        r.Close();
    }
}

namespace {
// A header of the current layout with the given bookmark and device counts.
Bytes HeaderWith(int bookmarks, int devices)
{
    Bytes b;
    PutStr(b, "Header Version 1.0");
    PutStr(b, "KOVA Ver. 0.20.5.83");
    PutStr(b, "UE 1.2");
    PutStr(b, "desc");
    Put32(b, 4);
    PutStr(b, "anchor");
    Put32(b, static_cast<uint32_t>(bookmarks));
    for (int i = 0; i < bookmarks; ++i) {
        Put32(b, static_cast<uint32_t>(4 + i));
        PutStr(b, "bm" + std::to_string(i));
    }
    Put32(b, 3);
    Put32(b, static_cast<uint32_t>(devices));
    for (int i = 0; i < devices; ++i) PutStr(b, "Device#" + std::to_string(i) + "-IMEI:35" + std::to_string(i));
    for (int i = 0; i < devices; ++i) {
        PutStr(b, "Device#" + std::to_string(i) + "-Com OS Type:C");
        PutStr(b, "Device#" + std::to_string(i) + "-App OS Type:A");
    }
    Append(b, FixtureTime());
    return b;
}

void LoadHeaderBytes(const std::string& path, const Bytes& bytes, CLogFileHeader& h)
{
    WriteAll(path, bytes);
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone));
    CArchive ar(&f, CArchive::load);
    h.Serialize(ar);
}
}  // namespace

TEST_F(LogFileTest, HeaderCountLimits)
{
    CLogFileHeader h;
    LoadHeaderBytes(Path("h1000"), HeaderWith(1000, 5), h);
    EXPECT_EQ(h.m_bookmarks.size(), 1000u);
    EXPECT_EQ(h.m_bookmarks.back().m_strDescription, "bm999");
    EXPECT_TRUE(h.m_bookmarks.back().m_strFileName.IsEmpty());
    ASSERT_EQ(h.m_astrDevices.size(), 5u);
    EXPECT_EQ(h.m_astrDeviceOsTypes.size(), 10u);
    EXPECT_EQ(h.m_nNumOfPages, 3);
    EXPECT_EQ(h.GetAnchorPosition(), 4u);

    CString label, com, app;
    EXPECT_TRUE(h.IsIMEIMatch("351", label, com, app));
    EXPECT_EQ(label, "Device#2");
    EXPECT_EQ(com, "C");
    EXPECT_EQ(app, "A");
    EXPECT_FALSE(h.IsIMEIMatch("", label, com, app));

    CLogFileHeader h2;
    EXPECT_THROW(LoadHeaderBytes(Path("h1001"), HeaderWith(1001, 0), h2), CNotSupportedException);
    CLogFileHeader h3;
    EXPECT_THROW(LoadHeaderBytes(Path("h6dev"), HeaderWith(0, 6), h3), CNotSupportedException);
    // A negative device count (found by fuzzing) reads as none.
    Bytes negative = HeaderWith(0, 0);
    const size_t countAt = negative.size() - 16 - 4;
    negative[countAt] = 0xB8;
    negative[countAt + 1] = 0x9C;
    negative[countAt + 2] = 0xB7;
    negative[countAt + 3] = 0xB8;
    CLogFileHeader h4;
    LoadHeaderBytes(Path("hneg"), negative, h4);
    EXPECT_TRUE(h4.m_astrDevices.empty());
    EXPECT_EQ(h4.m_creationTime, CSystemTime(2011, 3, 3, 14, 5, 9, 0));
}

TEST_F(LogFileTest, EarlierLayoutLoadsWithAndWithoutTrailingItems)
{
    Bytes head;
    PutStr(head, "KOVA Ver. 0.19");
    PutStr(head, "UE");
    PutStr(head, "old");
    Put32(head, 0xFFFFFFFF);
    PutStr(head, "");
    Put32(head, 1);
    Put32(head, 4);
    PutStr(head, "mark");

    Bytes full = head;
    PutStr(full, "next.vkl");
    PutStr(full, "prev.vkl");
    Put32(full, 7);
    Append(full, FixtureTime());
    CLogFileHeader h;
    LoadHeaderBytes(Path("old1"), full, h);
    EXPECT_FALSE(h.m_bHasHeaderVersion);
    EXPECT_EQ(h.m_strVESKVersion, "KOVA Ver. 0.19");
    EXPECT_EQ(h.m_strHeaderVersion, "Header Version 1.0");
    EXPECT_EQ(h.m_strNextFileName, "next.vkl");
    EXPECT_EQ(h.m_strPrevFileName, "prev.vkl");
    EXPECT_EQ(h.m_nNumOfPages, 7);
    EXPECT_EQ(h.m_creationTime, CSystemTime(2011, 3, 3, 14, 5, 9, 0));

    // Ends right after its bookmarks: empty names, page count 0, the time still read.
    clock->Set(CSystemTime(2020, 1, 1));
    Bytes shortened = head;
    Append(shortened, FixtureTime());
    CLogFileHeader h2;
    LoadHeaderBytes(Path("old2"), shortened, h2);
    EXPECT_TRUE(h2.m_strNextFileName.IsEmpty());
    EXPECT_EQ(h2.m_nNumOfPages, 0);
    EXPECT_EQ(h2.m_creationTime, CSystemTime(2011, 3, 3, 14, 5, 9, 0));
    ASSERT_EQ(h2.m_bookmarks.size(), 1u);
    EXPECT_EQ(h2.m_bookmarks.front().m_strDescription, "mark");
}

TEST_F(LogFileTest, AChangeWhileReadingRewritesTheHeaderInCurrentLayoutAtSamePlace)
{
    Bytes file;
    Bytes rec = SampleRecord();
    Put32(file, 4 + static_cast<uint32_t>(rec.size()));
    Append(file, rec);
    PutStr(file, "KOVA Ver. 0.19");
    PutStr(file, "");
    PutStr(file, "");
    Put32(file, 0xFFFFFFFF);
    PutStr(file, "");
    Put32(file, 0);
    PutStr(file, "");
    PutStr(file, "");
    Put32(file, 1);
    Append(file, FixtureTime());
    WriteAll(Path("old.vkl"), file);

    CLogFile f;
    ASSERT_TRUE(f.Open(Path("old.vkl").c_str(), 0, 0, 0));
    f.SetFileDescription("x");
    f.Close();
    Bytes expected;
    Put32(expected, 47);
    Append(expected, rec);
    Bytes header;
    PutStr(header, "Header Version 1.0");
    PutStr(header, "KOVA Ver. 0.19");
    PutStr(header, "");
    PutStr(header, "x");
    Put32(header, 0xFFFFFFFF);
    PutStr(header, "");
    Put32(header, 0);
    Put32(header, 1);
    Put32(header, 0);
    Append(header, FixtureTime());
    Append(expected, header);
    EXPECT_EQ(ReadAll(Path("old.vkl")), expected);
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(LogFileTest, DevicesConnectedAtFirstWriteAreRecorded)
{
    devices->Connect(1, "356938035643809", "RTOS", "");
    devices->Connect(3, "490154203237518", "", "");
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("dev.vkl").c_str(), 1, 1, 0));
    WriteRecord(f, SampleMessage());
    f.Close();
    devices->DisconnectAll();
    CLogFile r;
    ASSERT_TRUE(r.Open(Path("dev.vkl").c_str(), 0, 0, 0));
    const CLogFileHeader* h = r.GetLogFileHeader();
    ASSERT_EQ(h->m_astrDevices.size(), 2u);
    EXPECT_EQ(h->m_astrDevices[0], "Device#1-IMEI:356938035643809");
    EXPECT_EQ(h->m_astrDevices[1], "Device#3-IMEI:490154203237518");
    ASSERT_EQ(h->m_astrDeviceOsTypes.size(), 4u);
    EXPECT_EQ(h->m_astrDeviceOsTypes[0], "Device#1-Com OS Type:RTOS");
    EXPECT_EQ(h->m_astrDeviceOsTypes[1], "Device#1-App OS Type:NO APP VERSION");
    EXPECT_EQ(h->m_astrDeviceOsTypes[2], "Device#3-Com OS Type:NO COM OS TYPE");
    EXPECT_EQ(h->m_astrDeviceOsTypes[3], "Device#3-App OS Type:NO APP OS TYPE");
    r.Close();
}

TEST_F(LogFileTest, ZeroHeaderPositionIsRepaired)
{
    Bytes damaged;
    Put32(damaged, 0);
    Append(damaged, SampleRecord(1));
    Append(damaged, SampleRecord(2));
    const std::string path = Path("crashed.vkl");

    // Auto-repair off, answer No: nothing changes.
    WriteAll(path, damaged);
    boxes.Answer(IDNO);
    CLogFile f;
    EXPECT_FALSE(f.Open(path.c_str(), 0, 0, 0));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"File might be corrupt - Do you want to repair it?"});
    EXPECT_EQ(boxes.Shown()[0].type & MB_TYPEMASK, MB_YESNO);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(ReadAll(path), damaged);

    // Answer Yes: repaired.
    boxes.Answer(IDYES);
    ASSERT_TRUE(f.Open(path.c_str(), 0, 0, 0));
    EXPECT_EQ(f.GetHeaderPosition(), damaged.size());
    EXPECT_EQ(ReadIndexes(f), (std::vector<uint64_t>{1, 2}));
    f.Close();

    // Auto-repair on: no question.
    WriteAll(path, damaged);
    settings->WriteInt("Viewer Settings", "Auto Repair Log File", 1);
    ASSERT_TRUE(f.Open(path.c_str(), 0, 0, 0));
    EXPECT_EQ(boxes.Count(), 2u);
    EXPECT_EQ(f.GetPosition(), 4u);
    f.Close();
    Bytes expected;
    Put32(expected, static_cast<uint32_t>(damaged.size()));
    expected.insert(expected.end(), damaged.begin() + 4, damaged.end());
    Append(expected, FreshHeader());
    EXPECT_EQ(ReadAll(path), expected);
}

TEST_F(LogFileTest, UnreadableHeaderIsCutAndRepairedWhenReading)
{
    Bytes file;
    Put32(file, 47);
    Append(file, SampleRecord());
    file.insert(file.end(), {0x12, 'H', 'e'});  // header cut short
    WriteAll(Path("cut.vkl"), file);
    settings->WriteInt("Viewer Settings", "Auto Repair Log File", 1);
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("cut.vkl").c_str(), 0, 0, 0));
    EXPECT_EQ(f.GetHeaderPosition(), 47u);
    EXPECT_EQ(ReadIndexes(f), std::vector<uint64_t>{7});
    f.Close();
    Bytes expected(file.begin(), file.begin() + 47);
    Append(expected, FreshHeader());
    EXPECT_EQ(ReadAll(Path("cut.vkl")), expected);
}

TEST_F(LogFileTest, AppendKeepsRecordsAndWritesOneHeader)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("app.vkl").c_str(), 1, 1, 0));
    WriteRecord(f, SampleMessage(1));
    f.SetFileDescription("kept");
    f.Close();
    ASSERT_TRUE(f.Open(Path("app.vkl").c_str(), 1, 0, 0));
    EXPECT_EQ(f.GetLength(), 47u);  // header cut off while writing
    EXPECT_EQ(f.GetFileDescription(), "kept");
    WriteRecord(f, SampleMessage(2));
    f.Close();

    Bytes expected;
    Put32(expected, 90);
    Append(expected, SampleRecord(1));
    Append(expected, SampleRecord(2));
    Append(expected, FreshHeader("kept"));
    EXPECT_EQ(ReadAll(Path("app.vkl")), expected);
}

TEST_F(LogFileTest, SwitchBetweenWritingAndReading)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("sw.vkl").c_str(), 1, 1, 0));
    EXPECT_FALSE(f.SwitchToWrite());
    WriteRecord(f, SampleMessage(1));
    ASSERT_TRUE(f.SwitchToRead());
    EXPECT_EQ(f.GetHeaderPosition(), 47u);
    EXPECT_EQ(ReadIndexes(f), std::vector<uint64_t>{1});
    ASSERT_TRUE(f.SwitchToWrite());
    EXPECT_EQ(f.GetLength(), 47u);
    WriteRecord(f, SampleMessage(2));
    f.Close();
    ASSERT_TRUE(f.Open(Path("sw.vkl").c_str(), 0, 0, 0));
    EXPECT_EQ(ReadIndexes(f), (std::vector<uint64_t>{1, 2}));
    f.Close();

    // A new file switched to reading with no record is deleted.
    ASSERT_TRUE(f.Open(Path("sw0.vkl").c_str(), 1, 1, 0));
    EXPECT_FALSE(f.SwitchToRead());
    EXPECT_FALSE(FileExists(Path("sw0.vkl")));
}

TEST_F(LogFileTest, SeekBeyondTwoGigabytes)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("big.vkl").c_str(), 1, 1, 0));
    const LONG off = static_cast<LONG>(static_cast<DWORD>(3000000000u));
    ASSERT_LT(off, 0);
    EXPECT_EQ(f.Seek(off, CFile::begin), 3000000000ull);
    const BYTE x = 0x5A;
    f.Write(&x, 1);
    EXPECT_EQ(f.GetLength(), 3000000001ull);
    f.Seek(-1, CFile::current);
    EXPECT_EQ(f.GetPosition(), 3000000000ull);
    f.SetLength(4);
    f.Close();
}

TEST_F(LogFileTest, InspectionNeverChangesTheFile)
{
    Bytes damaged;
    Put32(damaged, 0);
    Append(damaged, SampleRecord(1));
    WriteAll(Path("insp.vkl"), damaged);
    CLogFile f;
    ASSERT_TRUE(f.OpenForInspection(Path("insp.vkl").c_str()));
    EXPECT_TRUE(f.NeedsRepair());
    EXPECT_EQ(f.GetHeaderPosition(), damaged.size());
    EXPECT_EQ(ReadIndexes(f), std::vector<uint64_t>{1});
    f.Close();
    EXPECT_EQ(ReadAll(Path("insp.vkl")), damaged);
    EXPECT_EQ(boxes.Count(), 0u);

    // A sound earlier-layout file is not rewritten either.
    Bytes old;
    Put32(old, 47);
    Append(old, SampleRecord());
    PutStr(old, "KOVA Ver. 0.19");
    PutStr(old, "");
    PutStr(old, "");
    Put32(old, 0xFFFFFFFF);
    PutStr(old, "");
    Put32(old, 0);
    Append(old, FixtureTime());  // no names, no page count
    WriteAll(Path("insp2.vkl"), old);
    ASSERT_TRUE(f.OpenForInspection(Path("insp2.vkl").c_str()));
    EXPECT_FALSE(f.NeedsRepair());
    f.Close();
    EXPECT_EQ(ReadAll(Path("insp2.vkl")), old);
}

TEST_F(LogFileTest, SwitchToWriteAgainstAnotherProcessWriter)
{
    {
        CLogFile f;
        ASSERT_TRUE(f.Open(Path("shared.vkl").c_str(), 1, 1, 0));
        WriteRecord(f, SampleMessage());
        f.Close();
    }
    CLogFile reader;
    ASSERT_TRUE(reader.Open(Path("shared.vkl").c_str(), 0, 0, 1));

    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        CFile writer;
        const bool ok = writer.Open(Path("shared.vkl").c_str(), CFile::modeReadWrite | CFile::shareDenyWrite);
        char c = ok ? 'y' : 'n';
        (void)!write(toParent[1], &c, 1);
        (void)!read(toChild[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_FALSE(reader.SwitchToWrite());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error re-opening file for writing."});
    EXPECT_EQ(boxes.Shown()[0].type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_FALSE(reader.IsOpen());
    c = 'x';
    ASSERT_EQ(write(toChild[1], &c, 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
}

TEST_F(LogFileTest, RecordingKilledWithoutCloseKeepsEveryRecord)
{
    constexpr int kRecords = 500;
    const std::string path = Path("killed.vkl");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        CLogFile f;
        if (!f.Open(path.c_str(), 1, 1, 0)) _exit(1);
        CArchive ar(&f, CArchive::store);
        for (int i = 1; i <= kRecords; ++i) {
            CVESKMessage m = SampleMessage(static_cast<uint64_t>(i));
            m.Serialize(ar);
            ar.Flush();
        }
        const char c = 'k';
        (void)!write(ready[1], &c, 1);
        for (;;) pause();
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    settings->WriteInt("Viewer Settings", "Auto Repair Log File", 1);
    CLogFile f;
    ASSERT_TRUE(f.Open(path.c_str(), 0, 0, 0));
    const std::vector<uint64_t> indexes = ReadIndexes(f);
    ASSERT_EQ(indexes.size(), static_cast<size_t>(kRecords));
    for (int i = 0; i < kRecords; ++i) EXPECT_EQ(indexes[static_cast<size_t>(i)], static_cast<uint64_t>(i + 1));
    f.Close();
}

TEST_F(LogFileTest, ClearAndCopyHeader)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("clr.vkl").c_str(), 1, 1, 0));
    f.SetAnchorPosition(4);
    f.SetAnchorDescription("a");
    f.GetBookmarks()->push_back(CLogBookmark(4, "b", "clr.vkl"));
    f.SetNextLogFileName("n");
    f.SetPrevLogFileName("p");
    f.SetFileDescription("d");
    f.SetNumOfPages(3);
    EXPECT_TRUE(f.IsBookmark(4));
    ASSERT_NE(f.FindBookMarkByFilePos(4), nullptr);

    CLogFileHeader target;
    target.m_nNumOfPages = 9;
    target.m_bookmarks.push_back(CLogBookmark(8, "x"));
    f.CopyHeaderTo(&target);
    EXPECT_EQ(target.m_strFileDescription, "d");
    EXPECT_EQ(target.GetAnchorPosition(), 0xFFFFFFFFu);
    EXPECT_TRUE(target.m_bookmarks.empty());
    EXPECT_EQ(target.m_nNumOfPages, 9);

    f.ClearHeader();
    EXPECT_TRUE(f.GetBookmarks()->empty());
    EXPECT_EQ(f.GetAnchorPosition(), 0xFFFFFFFFu);
    EXPECT_TRUE(f.GetAnchorDescription().IsEmpty());
    EXPECT_TRUE(f.GetNextLogFileName().IsEmpty());
    EXPECT_TRUE(f.GetPrevLogFileName().IsEmpty());
    EXPECT_EQ(f.GetFileDescription(), "d");
    EXPECT_EQ(f.GetNumOfPages(), 3);
    f.Close();
}

TEST_F(LogFileTest, OpenFailures)
{
    CLogFile f;
    EXPECT_FALSE(f.Open("", 0, 0, 0));
    EXPECT_FALSE(f.Open(Path("missing.vkl").c_str(), 0, 0, 0));
    EXPECT_FALSE(f.Open(Path("no/such/dir/x.vkl").c_str(), 1, 1, 0));
    EXPECT_EQ(boxes.Count(), 0u);
}

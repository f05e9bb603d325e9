// Log files against bytes written out by hand: the layouts, the switches between writing
// and reading, and what keeps their data safe.
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/Archive.h"
#include "logfile/LogFile.h"
#include "platform/SettingsKeys.h"
#include "platform/VESKMessage.h"
#include "tests/support/LogFileBytes.h"
#include "tests/support/TestEnv.h"

namespace {

// The message whose record is SampleRecord(index).
CVESKMessage SampleMessage(uint64_t index)
{
    const BYTE data[] = {0xAA, 0xBB, 0xCC};
    CVESKMessage m(1, 2, data, 3, 0);
    m.SetPCTimeStamp(CSystemTime(2011, 3, 3, 14, 5, 9, 0));
    m.SetMessageIndex(index);
    return m;
}

void WriteRecord(CLogFile& f, uint64_t index)
{
    CArchive ar(&f, CArchive::store);
    SampleMessage(index).Serialize(ar);
    ar.Close();
}

// The indexes of the records from offset 4 up to the header.
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

class LogFileTest : public HostFixture {
protected:
    void LoadHeader(const Bytes& bytes, CLogFileHeader& h)
    {
        WriteAll(Path("header"), bytes);
        CFile f(Path("header").c_str(), CFile::modeRead | CFile::shareDenyNone);
        CArchive ar(&f, CArchive::load);
        h.Serialize(ar);
    }
};

// A current-layout header with the given bookmark and device counts.
Bytes HeaderWith(int bookmarks, int devices)
{
    Header h{.device = "UE 1.2", .description = "desc", .anchor = 4, .anchorText = "anchor", .pages = 3};
    for (int i = 0; i < bookmarks; ++i) h.bookmarks.emplace_back(4 + i, "bm" + std::to_string(i));
    for (int i = 0; i < devices; ++i) {
        const std::string d = "Device#" + std::to_string(i);
        h.devices.push_back(d + "-IMEI:35" + std::to_string(i));
        h.osTypes.insert(h.osTypes.end(), {d + "-Com OS Type:C", d + "-App OS Type:A"});
    }
    return h.Current();
}

// Three records of 43 bytes at 4, 47 and 90: the records area ends at 133.
const std::vector<uint64_t> kThree = {1, 2, 3};

class SafetyTest : public HostFixture {
protected:
    SafetyTest() { settings->WriteInt(SettingsKeys::kViewerSettings, SettingsKeys::kAutoRepair, 1); }

    // Opens for reading (repairing on the way), closes, and returns what the repair did.
    CLogFile::RepairReport Repair(const std::string& name)
    {
        CLogFile f;
        EXPECT_TRUE(f.Open(Path(name).c_str(), 0, 0, 0));
        EXPECT_FALSE(f.NeedsRepair());
        const CLogFile::RepairReport r = f.GetRepairReport();
        f.Close();
        return r;
    }
};

}  // namespace

TEST_F(LogFileTest, RecordThenHeaderByteForByteReadBackAndAppendedTo)
{
    // The devices connected at the first write go into the header, with placeholders for
    // the OS types they do not give.
    devices->Connect(1, "356938035643809", "RTOS", "");
    devices->Connect(3, "490154203237518", "", "");
    const std::string desc(255, 'd');  // its length prefix takes three bytes
    const std::string path = Path("one.vkl");
    CLogFile f;
    ASSERT_TRUE(f.Open(path.c_str(), 1, 1, 0));
    WriteRecord(f, 1);
    f.SetFileDescription(desc.c_str());
    f.Close();
    const Header header{.description = desc,
                        .devices = {"Device#1-IMEI:356938035643809", "Device#3-IMEI:490154203237518"},
                        .osTypes = {"Device#1-Com OS Type:RTOS", "Device#1-App OS Type:NO APP VERSION",
                                    "Device#3-Com OS Type:NO COM OS TYPE", "Device#3-App OS Type:NO APP OS TYPE"}};
    const Bytes one = LogBytes(47, {1}, header.Current());
    EXPECT_EQ(ReadAll(path), one);
    ASSERT_TRUE(f.Open(path.c_str(), 0, 0, 0));
    EXPECT_EQ(std::tuple(f.GetHeaderPosition(), f.GetPosition()), std::tuple(47u, 4ull));
    CVESKMessage m;
    ReadLogRecord(f, m);
    EXPECT_EQ(m, SampleMessage(1));
    EXPECT_EQ(f.GetPosition(), 47u);
    EXPECT_TRUE(f.GetLogFileHeader()->m_bHasHeaderVersion);
    EXPECT_EQ(f.GetFileDescription(), desc.c_str());
    f.Close();
    EXPECT_EQ(ReadAll(path), one);  // rewritten identically

    // Appending: the header is cut off while writing; one header ends the file again.
    ASSERT_TRUE(f.Open(path.c_str(), 1, 0, 0));
    EXPECT_EQ(f.GetLength(), 47u);
    WriteRecord(f, 2);
    f.Close();
    EXPECT_EQ(ReadAll(path), LogBytes(90, {1, 2}, header.Current()));
}

TEST_F(LogFileTest, HeaderCountLimits)
{
    CLogFileHeader h;
    LoadHeader(HeaderWith(1000, 5), h);
    EXPECT_EQ(std::tuple(h.m_bookmarks.size(), h.m_astrDevices.size(), h.m_astrDeviceOsTypes.size()),
              std::tuple(1000u, 5u, 10u));
    EXPECT_EQ(h.m_bookmarks.back().m_strDescription + "|" + h.m_bookmarks.back().m_strFileName, "bm999|");
    EXPECT_EQ(std::tuple(h.m_nNumOfPages, h.GetAnchorPosition()), std::tuple(3, 4u));
    CString label, com, app;
    EXPECT_TRUE(h.IsIMEIMatch("351", label, com, app));
    EXPECT_EQ(label + "|" + com + "|" + app, "Device#2|C|A");
    EXPECT_FALSE(h.IsIMEIMatch("", label, com, app));

    EXPECT_THROW(LoadHeader(HeaderWith(1001, 0), h), CNotSupportedException);
    EXPECT_THROW(LoadHeader(HeaderWith(0, 6), h), CNotSupportedException);
    // A negative device count (found by fuzzing) reads as none.
    Bytes negative = HeaderWith(0, 0);
    const Bytes count = {0xB8, 0x9C, 0xB7, 0xB8};
    std::copy(count.begin(), count.end(), negative.end() - 16 - 4);
    LoadHeader(negative, h);
    EXPECT_TRUE(h.m_astrDevices.empty());
    EXPECT_EQ(h.m_creationTime, CSystemTime(2011, 3, 3, 14, 5, 9, 0));
}

TEST_F(LogFileTest, EarlierLayoutIsReadAndOnAChangeRewrittenInTheCurrentOneAtTheSamePlace)
{
    clock->Set(CSystemTime(2020, 1, 1));  // so that only the file can give the creation time
    Header old{.tool = "KOVA Ver. 0.19", .device = "UE", .description = "old", .bookmarks = {{4, "mark"}}, .pages = 7};
    const Bytes linked = LogBytes(47, {7}, old.Earlier("next.vkl", "prev.vkl"));
    WriteAll(Path("old.vkl"), linked);
    const auto mtime = std::filesystem::last_write_time(Path("old.vkl"));
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("old.vkl").c_str(), 0, 0, 0));
    const CLogFileHeader& h = *f.GetLogFileHeader();
    EXPECT_FALSE(h.m_bHasHeaderVersion);
    EXPECT_EQ(h.m_strHeaderVersion + "|" + h.m_strVESKVersion + "|" + h.m_strNextFileName + "|" + h.m_strPrevFileName,
              "Header Version 1.0|KOVA Ver. 0.19|next.vkl|prev.vkl");
    EXPECT_EQ(h.m_nNumOfPages, 7);
    EXPECT_EQ(ReadIndexes(f), std::vector<uint64_t>{7});
    f.Close();
    // Only read, it is not converted.
    EXPECT_EQ(ReadAll(Path("old.vkl")), linked);
    EXPECT_EQ(std::filesystem::last_write_time(Path("old.vkl")), mtime);
    ASSERT_TRUE(f.Open(Path("old.vkl").c_str(), 0, 0, 0));
    f.SetFileDescription("changed");
    f.Close();
    Header changed = old;
    changed.description = "changed";
    EXPECT_EQ(ReadAll(Path("old.vkl")), LogBytes(47, {7}, changed.Current()));  // the link names are gone

    // One that ends right after its bookmarks: no link names, page count 0, and the
    // creation time still read. Inspection leaves it as it is.
    const Bytes shortened = LogBytes(47, {7}, old.Earlier());
    WriteAll(Path("short.vkl"), shortened);
    ASSERT_TRUE(f.OpenForInspection(Path("short.vkl").c_str()));
    EXPECT_FALSE(f.NeedsRepair());
    EXPECT_TRUE(f.GetNextLogFileName().IsEmpty());
    EXPECT_EQ(f.GetNumOfPages(), 0);
    EXPECT_EQ(f.GetCreationTime(), CSystemTime(2011, 3, 3, 14, 5, 9, 0));
    EXPECT_EQ(f.GetBookmarks()->back().m_strDescription, "mark");
    f.Close();
    EXPECT_EQ(ReadAll(Path("short.vkl")), shortened);
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(LogFileTest, KilledRecordingIsInspectedAsItIsAndRepairedOnlyWhenAllowed)
{
    // A recording killed without a close leaves every flushed record, header position 0
    // and no header: neither the archive nor the file does anything more when they go.
    const std::string path = Path("killed.vkl");
    {
        CLogFile f;
        ASSERT_TRUE(f.Open(path.c_str(), 1, 1, 0));
        CArchive ar(&f, CArchive::store | CArchive::bNoFlushOnDelete);
        for (uint64_t i = 1; i <= 500; ++i) {
            SampleMessage(i).Serialize(ar);
            ar.Flush();
        }
    }
    const std::vector<uint64_t> all = Range(1, 500);
    const Bytes damaged = LogBytes(0, all, {});
    ASSERT_EQ(ReadAll(path), damaged);
    CLogFile f;
    ASSERT_TRUE(f.OpenForInspection(path.c_str()));
    EXPECT_TRUE(f.NeedsRepair());
    EXPECT_EQ(f.GetHeaderPosition(), damaged.size());
    EXPECT_EQ(ReadIndexes(f), all);
    f.Close();
    EXPECT_EQ(ReadAll(path), damaged);

    // Auto-repair off, answer No: nothing changes.
    boxes.Answer(IDNO);
    EXPECT_FALSE(f.Open(path.c_str(), 0, 0, 0));
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"File might be corrupt - Do you want to repair it?"});  // none before
    EXPECT_EQ(boxes.Shown()[0].type & MB_TYPEMASK, MB_YESNO);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(ReadAll(path), damaged);
    // Answer Yes: repaired.
    boxes.Answer(IDYES);
    ASSERT_TRUE(f.Open(path.c_str(), 0, 0, 0));
    EXPECT_EQ(f.GetHeaderPosition(), damaged.size());
    EXPECT_EQ(ReadIndexes(f), all);
    f.Close();
    // Auto-repair on: no question.
    WriteAll(path, damaged);
    settings->WriteInt("Viewer Settings", "Auto Repair Log File", 1);
    ASSERT_TRUE(f.Open(path.c_str(), 0, 0, 0));
    EXPECT_EQ(std::tuple(boxes.Count(), f.GetPosition()), std::tuple(2u, 4ull));
    f.Close();
    EXPECT_EQ(ReadAll(path), LogBytes(static_cast<uint32_t>(damaged.size()), all, FreshHeader()));
}

TEST_F(LogFileTest, SwitchBetweenWritingAndReadingAndFilesWithoutRecordsAreDeleted)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("empty.vkl").c_str(), 1, 1, 0));
    EXPECT_EQ(f.GetLength(), 4u);
    f.Close();
    EXPECT_FALSE(FileExists(Path("empty.vkl")));
    ASSERT_TRUE(f.Open(Path("empty.vkl").c_str(), 1, 1, 0));
    EXPECT_FALSE(f.SwitchToRead());
    EXPECT_FALSE(FileExists(Path("empty.vkl")));
    EXPECT_FALSE(f.Open("", 0, 0, 0));
    EXPECT_FALSE(f.Open(Path("missing.vkl").c_str(), 0, 0, 0));
    EXPECT_FALSE(f.Open(Path("no/such/dir/x.vkl").c_str(), 1, 1, 0));

    ASSERT_TRUE(f.Open(Path("sw.vkl").c_str(), 1, 1, 0));
    EXPECT_FALSE(f.SwitchToWrite());
    WriteRecord(f, 1);
    ASSERT_TRUE(f.SwitchToRead());
    EXPECT_EQ(f.GetHeaderPosition(), 47u);
    EXPECT_EQ(ReadIndexes(f), std::vector<uint64_t>{1});
    ASSERT_TRUE(f.SwitchToWrite());
    EXPECT_EQ(f.GetLength(), 47u);
    WriteRecord(f, 2);
    f.Close();
    EXPECT_EQ(ReadAll(Path("sw.vkl")), LogBytes(90, {1, 2}, FreshHeader()));

    // Another writer holds the file: the switch fails with a message and closes it.
    ASSERT_TRUE(f.Open(Path("sw.vkl").c_str(), 0, 0, 1));
    CFile writer(Path("sw.vkl").c_str(), CFile::modeReadWrite | CFile::shareDenyWrite);
    EXPECT_FALSE(f.SwitchToWrite());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error re-opening file for writing."});
    EXPECT_EQ(boxes.Shown()[0].type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_FALSE(f.IsOpen());

    // Seeks past 2 GiB, whose offsets do not fit a signed 32-bit word; cut back to the
    // header position word, the file goes at its close.
    ASSERT_TRUE(f.Open(Path("big.vkl").c_str(), 1, 1, 0));
    const LONG off = static_cast<LONG>(static_cast<DWORD>(3000000000u));
    ASSERT_LT(off, 0);
    EXPECT_EQ(f.Seek(off, CFile::begin), 3000000000ull);
    f.Write("\x5A", 1);
    EXPECT_EQ(f.GetLength(), 3000000001ull);
    EXPECT_EQ(f.Seek(-1, CFile::current), 3000000000ull);
    f.SetLength(4);
    f.Close();
    EXPECT_FALSE(FileExists(Path("big.vkl")));
}

TEST_F(SafetyTest, RepairKeepsTheRecordsInPlaceAndOnlyCuts)
{
    const Bytes header = FreshHeader(), third = SampleRecord(3);
    struct Case {
        const char* name;
        Bytes input;
        uint64_t kept, dropped;
        bool headerKept;
    } cases[] = {
        // Killed between the header and the header position word of a close.
        {"header-left", LogBytes(0, kThree, FreshHeader("kept")), 3, 0, true},
        // A header position past the end, and one flipped into the records.
        {"past-end", LogBytes(0x7FFFFFFF, kThree, FreshHeader("kept")), 3, 0, true},
        {"into-records", LogBytes(4 + 43 + 1, kThree, FreshHeader("kept")), 3, 0, true},
        // Killed while writing the third record: 10 bytes of it reached the disk.
        {"cut-record", LogBytes(0, {1, 2}, Bytes(third.begin(), third.begin() + 10)), 2, 10, false},
        // Cut inside the header: the rest of the header is not records.
        {"cut-header", LogBytes(133, kThree, Bytes(header.begin(), header.begin() + 20)), 3, 20, false},
        // Zeros behind the records are no records.
        {"zeros", LogBytes(0, kThree, Bytes(200, 0)), 3, 200, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteAll(Path(c.name), c.input);
        const CLogFile::RepairReport r = Repair(c.name);
        EXPECT_EQ(std::tuple(r.records, r.droppedBytes, r.headerKept), std::tuple(c.kept, c.dropped, c.headerKept));
        EXPECT_EQ(ReadAll(Path(c.name)), LogBytes(4 + 43 * static_cast<uint32_t>(c.kept), Range(1, c.kept),
                                                  FreshHeader(c.headerKept ? "kept" : "")));
    }
}

TEST_F(SafetyTest, RepairCountsPagesFromTheRecordsAndKeepsUnreadableMessages)
{
    // 2,999 records make a second page, as recording counts them.
    WriteAll(Path("pages.vkl"), LogBytes(0, Range(1, 2999), {}));
    EXPECT_EQ(Repair("pages.vkl").records, 2999u);
    EXPECT_EQ(ReadAll(Path("pages.vkl")), LogBytes(4 + 2999 * 43, Range(1, 2999), Header{.pages = 2}.Current()));

    // A message whose data length is -1 (unreadable) is a record of 40 bytes.
    WriteAll(Path("neg.vkl"), LogBytes(0, {}, UnreadableRecord()));
    EXPECT_EQ(Repair("neg.vkl").records, 1u);
    EXPECT_EQ(ReadAll(Path("neg.vkl")), LogBytes(4 + 40, {}, Cat({UnreadableRecord(), FreshHeader()})));
}

TEST_F(SafetyTest, WhatIsNotALogFileIsNeverRepairedAway)
{
    const std::string text = "minutes of the meeting, not a log\n";
    const Bytes bytes(text.begin(), text.end());
    WriteAll(Path("notes.txt"), bytes);
    CLogFile f;
    ASSERT_TRUE(f.Open(Path("notes.txt").c_str(), 0, 0, 0));  // read as far as it goes: nothing
    EXPECT_TRUE(f.NeedsRepair());
    EXPECT_EQ(f.GetHeaderPosition(), 4u);
    f.Close();
    EXPECT_EQ(ReadAll(Path("notes.txt")), bytes);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error repairing log file"});

    // Too short for a header position: neither read nor appended to.
    WriteAll(Path("two.vkl"), {1, 2});
    EXPECT_FALSE(f.Open(Path("two.vkl").c_str(), 0, 0, 0));
    EXPECT_FALSE(f.Open(Path("two.vkl").c_str(), 1, 0, 0));
    EXPECT_EQ(ReadAll(Path("two.vkl")), (Bytes{1, 2}));
}

TEST_F(SafetyTest, AnAppendHoldsZeroUntilItClosesSoAKillKeepsOldAndNewRecords)
{
    WriteAll(Path("app.vkl"), LogBytes(133, kThree, FreshHeader("old")));
    {
        CLogFile f;
        ASSERT_TRUE(f.Open(Path("app.vkl").c_str(), 1, 0, 0));
        EXPECT_EQ(ReadAll(Path("app.vkl")), LogBytes(0, kThree, {}));  // the old header cut off after the 0 went in
        WriteRecord(f, 4);
        f.Abort();  // killed: no close
    }
    EXPECT_EQ(Repair("app.vkl").records, 4u);
    EXPECT_EQ(ReadAll(Path("app.vkl")), LogBytes(4 + 4 * 43, Range(1, 4), FreshHeader()));
}

TEST_F(SafetyTest, ANewFileNeverReplacesOneAndNoWriterFollowsALink)
{
    const Bytes mine = {'m', 'i', 'n', 'e'};
    WriteAll(Path("mine.txt"), mine);
    WriteAll(Path("taken.vkl"), mine);
    ASSERT_EQ(::symlink(Path("mine.txt").c_str(), Path("link.vkl").c_str()), 0);
    ASSERT_EQ(::mkfifo(Path("pipe.vkl").c_str(), 0600), 0);
    CLogFile f;
    EXPECT_FALSE(f.Open(Path("taken.vkl").c_str(), 1, 1, 0));
    EXPECT_EQ(f.GetOpenError().m_lOsError, EEXIST);
    EXPECT_FALSE(f.Open(Path("link.vkl").c_str(), 1, 1, 0));  // new
    EXPECT_FALSE(f.Open(Path("link.vkl").c_str(), 1, 0, 0));  // appended
    EXPECT_EQ(f.GetOpenError().m_lOsError, ELOOP);
    // A pipe at the name is refused at once instead of blocking the open.
    EXPECT_FALSE(f.Open(Path("pipe.vkl").c_str(), 0, 0, 0));
    EXPECT_FALSE(f.OpenForInspection(Path("pipe.vkl").c_str()));
    EXPECT_EQ(ReadAll(Path("mine.txt")), mine);
    EXPECT_EQ(ReadAll(Path("taken.vkl")), mine);
}

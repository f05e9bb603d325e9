// What keeps a log file's data safe, against bytes written out by hand.
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

// Three records of 43 bytes at 4, 47 and 90: the records area ends at 133.
const std::vector<uint64_t> kThree = {1, 2, 3};

uint32_t Word0(const Bytes& b)
{
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

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
    bool Sound(const std::string& name)
    {
        CLogFile f;
        return f.OpenForInspection(Path(name).c_str()) && !f.NeedsRepair();
    }
};

}  // namespace

TEST_F(SafetyTest, RepairKeepsTheRecordsInPlaceAndOnlyCuts)
{
    const Bytes records = Cat({SampleRecord(1), SampleRecord(2), SampleRecord(3)});
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
        WriteAll(Path(c.name), c.input);
        const CLogFile::RepairReport r = Repair(c.name);
        const Bytes after = ReadAll(Path(c.name));
        EXPECT_EQ(r.records, c.kept) << c.name;
        EXPECT_EQ(r.droppedBytes, c.dropped) << c.name;
        EXPECT_EQ(r.headerKept, c.headerKept) << c.name;
        const uint32_t h = 4 + static_cast<uint32_t>(c.kept) * 43;
        EXPECT_EQ(Word0(after), h) << c.name;
        EXPECT_TRUE(std::equal(after.begin() + 4, after.begin() + h, records.begin())) << c.name;
        EXPECT_EQ(Bytes(after.begin() + h, after.end()), c.headerKept ? FreshHeader("kept") : FreshHeader()) << c.name;
        EXPECT_TRUE(Sound(c.name)) << c.name;
    }
}

TEST_F(SafetyTest, RepairCountsPagesFromTheRecordsAndKeepsUnreadableMessages)
{
    // 2,999 records make a second page, as recording counts them.
    WriteAll(Path("pages.vkl"), LogBytes(0, Range(1, 2999), {}));
    EXPECT_EQ(Repair("pages.vkl").records, 2999u);
    CLogFile f;
    ASSERT_TRUE(f.OpenForInspection(Path("pages.vkl").c_str()));
    EXPECT_EQ(f.GetNumOfPages(), 2);

    // A message whose data length is -1 (unreadable) is a record of 40 bytes.
    ASSERT_EQ(UnreadableRecord().size(), 40u);
    WriteAll(Path("neg.vkl"), LogBytes(0, {}, UnreadableRecord()));
    EXPECT_EQ(Repair("neg.vkl").records, 1u);
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
    const Bytes records = Cat({SampleRecord(1), SampleRecord(2), SampleRecord(3)});
    WriteAll(Path("app.vkl"), LogBytes(133, kThree, FreshHeader("old")));
    {
        CLogFile f;
        ASSERT_TRUE(f.Open(Path("app.vkl").c_str(), 1, 0, 0));
        const Bytes open = ReadAll(Path("app.vkl"));
        EXPECT_EQ(Word0(open), 0u);
        EXPECT_EQ(open.size(), 133u);  // the old header is cut off, after the 0 went in
        CArchive ar(&f, CArchive::store);
        CVESKMessage m;
        m.SetKind(1);
        m.SetMessageIndex(4);
        m.Serialize(ar);
        ar.Close();
        f.Abort();  // killed: no close
    }
    const CLogFile::RepairReport r = Repair("app.vkl");
    EXPECT_EQ(r.records, 4u);
    const Bytes after = ReadAll(Path("app.vkl"));
    EXPECT_TRUE(std::equal(records.begin(), records.end(), after.begin() + 4));
}

TEST_F(SafetyTest, AFileThatWasOnlyReadStaysByteForByte)
{
    // An earlier-layout header with link names: reading it must not convert it.
    const Bytes old = LogBytes(47, {7}, Header{.tool = "KOVA Ver. 0.19"}.Earlier("next.vkl", "prev.vkl"));
    WriteAll(Path("old.vkl"), old);
    const auto mtime = std::filesystem::last_write_time(Path("old.vkl"));
    for (int i = 0; i < 2; ++i) {
        CLogFile f;
        ASSERT_TRUE(f.Open(Path("old.vkl").c_str(), 0, 0, 0));
        EXPECT_EQ(f.GetNextLogFileName(), "next.vkl");
        f.Close();
    }
    EXPECT_EQ(ReadAll(Path("old.vkl")), old);
    EXPECT_EQ(std::filesystem::last_write_time(Path("old.vkl")), mtime);
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

// Counting records without building messages, against bytes written out by hand: the
// skim must agree with the reader on every record it counts and leave the reader every
// record it cannot judge.
#include "framework/Archive.h"
#include "logfile/LogFile.h"
#include "tests/support/LogFileBytes.h"
#include "tests/support/TestEnv.h"

namespace {

// A sample record whose byte at `at` is replaced.
Bytes Changed(size_t at, uint8_t value, uint64_t index = 7)
{
    Bytes r = SampleRecord(index);
    r[at] = value;
    return r;
}

// A record of `length` data bytes, longer than the file's read cache holds at once.
Bytes LongRecord(uint32_t length, uint64_t index)
{
    const Bytes sample = SampleRecord(index);
    Bytes r(sample.begin(), sample.begin() + 24);
    Put32(r, length);
    r.resize(r.size() + length, 0x5A);
    Put64(r, index);
    Put32(r, 0);
    return r;
}

using SkimTest = HostFixture;

}  // namespace

TEST_F(SkimTest, CountsWhatTheReaderWouldAndStopsBeforeWhatItMustJudge)
{
    // 43 + 40 + 43 bytes; the third cut short by one byte is left.
    const Bytes three = Cat({SampleRecord(5), UnreadableRecord(), SampleRecord(9)});
    RecordSkim skim;
    bool ruleBroken = true;
    EXPECT_EQ(SkimLogRecords(three.data(), three.size() - 1, skim, &ruleBroken), 83u);
    EXPECT_FALSE(ruleBroken);  // only cut short
    EXPECT_EQ(skim.records, 2u);
    EXPECT_EQ(skim.firstIndex, 5u);
    EXPECT_EQ(skim.lastIndex, 7u);
    EXPECT_EQ(SkimLogRecords(three.data() + 83, 43, skim), 43u);
    EXPECT_EQ(skim.records, 3u);
    EXPECT_EQ(skim.lastIndex, 9u);
    EXPECT_EQ(skim.lastTime, CSystemTime(2011, 3, 3, 14, 5, 9));

    // Kind 0, device 5, month 13, minute 60: no record, whatever follows.
    for (const auto& [at, value] : {std::pair{0, 0}, {4, 5}, {10, 13}, {18, 60}}) {
        RecordSkim none;
        const Bytes bad = Cat({Changed(static_cast<size_t>(at), static_cast<uint8_t>(value)), SampleRecord()});
        EXPECT_EQ(SkimLogRecords(bad.data(), bad.size(), none, &ruleBroken), 0u) << "byte " << at;
        EXPECT_EQ(none.records, 0u);
        EXPECT_TRUE(ruleBroken) << "byte " << at;
    }

    // Through a file: a record longer than the read cache is read as a message and the
    // skim goes on behind it; a bad record ends the count at its own offset with the
    // reader's reason.
    const Bytes records = Cat({SampleRecord(1), LongRecord(70000, 2), SampleRecord(3), Changed(0, 0), SampleRecord(5)});
    WriteAll(Path("skim.bin"), records);
    CFile file;
    ASSERT_TRUE(file.Open(Path("skim.bin").c_str(), CFile::modeRead));
    RecordSkim counted;
    ULONGLONG offset = 0, lastProgress = 0;
    const ULONGLONG bad = 43 + 70040 + 43;
    try {
        SkimLogFile(file, offset, records.size(), counted, [&](ULONGLONG at) { lastProgress = at; });
        ADD_FAILURE() << "the bad record was counted";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::badIndex);
        EXPECT_EQ(e.m_strDetail, "implausible record: kind out of range");
    }
    EXPECT_EQ(offset, bad);
    EXPECT_EQ(lastProgress, bad);
    EXPECT_EQ(counted.records, 3u);
    EXPECT_EQ(counted.lastIndex, 3u);
}

// Merging and extracting, against record bytes and offsets computed by hand. Records made
// by WriteLog carry 36 data bytes: 76 bytes each, record i (from 0) at offset 4 + 76 i.
#include <chrono>
#include <functional>
#include <map>

#include "framework/Path.h"
#include "framework/WriteFault.h"
#include "platform/Progress.h"
#include "tests/logger/LoggerTestSupport.h"

namespace {
constexpr uint32_t kRec = 76;
constexpr uint32_t At(uint32_t i)
{
    return 4 + i * kRec;
}

// Asks for a stop when asked for the (stopAt+1)-th time; no interval between reports.
struct FakeProgress : IProgressService {
    long stopAt = -1, asked = 0;
    std::function<void(ULONGLONG, ULONGLONG, const CString&)> onReport = [](ULONGLONG, ULONGLONG, const CString&) {};
    void Report(ULONGLONG done, ULONGLONG total, const CString& file) override { onReport(done, total, file); }
    bool StopRequested() override { return stopAt >= 0 && asked++ >= stopAt; }
    std::chrono::milliseconds ReportInterval() const override { return std::chrono::milliseconds(0); }
};

class MergeTest : public HostFixture {
protected:
    ~MergeTest() override
    {
        CLogger::SetWriteEachRecord(false);
        SetWriteFault(std::nullopt);
    }
    // With seams, the target is named with '\\': a bookmark text names the part after the
    // last separator, '\\' or '/'.
    bool Merge(bool seams, int bBookmark, CString& error)
    {
        const CString t = (seams ? tmp.path() + "\\t.vkl" : Path("t.vkl")).c_str(), s = Path("s.vkl").c_str();
        return seams ? CLogger::MergeAndBookmark(t, s, error, bBookmark) : CLogger::MergeFiles(t, s, error);
    }
    static std::unique_ptr<CScopedServices> With(const std::function<void(HostServices&)>& change)
    {
        HostServices s = Services::Current();
        change(s);
        return std::make_unique<CScopedServices>(s);
    }
    // A logger reading `path`, made as vkl makes it: on a scratch file that the open of
    // the input removes again.
    std::unique_ptr<CLogger> Reading(const std::string& path, int device = -1)
    {
        auto logger = std::make_unique<CLogger>("scratch", 1, 0, tmp.path().c_str(), device, 0, 0, 0);
        logger->SetLogFileName(PathFileName(path.c_str()), PathFolder(path.c_str()));
        EXPECT_TRUE(logger->OpenLogFile(PathFileName(path.c_str()), 0));
        return logger;
    }
    // Runs `scenario` writing each record, then in runs: the same files and boxes.
    void BothWays(const std::function<void()>& scenario)
    {
        std::map<std::string, Bytes> files[2];
        std::vector<std::string> texts[2];
        for (int each = 1; each >= 0; --each) {
            for (const std::string& name : FilesIn(tmp.path())) std::filesystem::remove(Path(name));
            CLogger::SetWriteEachRecord(each != 0);
            const size_t shown = boxes.Count();
            scenario();
            for (const std::string& name : FilesIn(tmp.path())) files[each][name] = ReadAll(Path(name));
            texts[each] = boxes.Texts();
            texts[each].erase(texts[each].begin(), texts[each].begin() + static_cast<long>(shown));
        }
        EXPECT_EQ(files[0], files[1]);
        EXPECT_EQ(texts[0], texts[1]);
    }
};

TEST_F(MergeTest, ExtractionRangeRulesAndOutputLayout)
{
    // Indexes 5..30, one above 2^32 (compared in 64 bits, it ends every range), then 12.
    std::vector<uint64_t> indexes = Range(5, 30);
    indexes.push_back((1ull << 32) + 15);
    indexes.push_back(12);
    const struct {
        unsigned first, last;
        uint32_t from, to;  // the source records copied
    } cases[] = {{10, 20, 5, 16}, {0, 0xFFFFFFFF, 0, 26}, {15, 15, 10, 11}};
    BothWays([&] {
        WriteLog(Path("src.vkl"), indexes, {{At(1), "kept out"}});
        const Bytes source = ReadAll(Path("src.vkl"));
        auto logger = Reading(Path("src.vkl"));
        for (const auto& c : cases) {
            const std::string out = Path("out" + std::to_string(c.first) + ".vkl");
            ASSERT_EQ(logger->ExtractLogData(c.first, c.last, out.c_str()), 1);
            Bytes expected;
            Put32(expected, 4 + (c.to - c.from) * kRec);
            expected.insert(expected.end(), source.begin() + At(c.from), source.begin() + At(c.to));
            // Versions, description and creation time copied; no anchor, no bookmarks, page 1.
            const Bytes h = Header{.tool = "KOVA Ver. 9", .device = "UE 7", .description = "source"}.Current();
            expected.insert(expected.end(), h.begin(), h.end() - 16);  // all but the fixture's time
            for (uint32_t w : {2010u, 1u, 6u, 2u, 3u, 4u, 5u, 6u}) Put16(expected, w);
            EXPECT_EQ(ReadAll(out), expected) << c.first;
        }
        EXPECT_EQ(ReadAll(Path("src.vkl")), source);  // only read
    });
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(MergeTest, ExtractionThatWritesNothing)
{
    struct Cursor : IUserInterface {
        int shown = 0, ended = 0;
        void BeginWaitCursor() override { ++shown; }
        void EndWaitCursor() override { ++ended; }
    };
    auto cursor = std::make_shared<Cursor>();
    const auto ui = With([&](HostServices& s) { s.userInterface = cursor; });
    WriteLog(Path("src.vkl"), Range(5, 30));
    auto logger = Reading(Path("src.vkl"));
    const CString out = Path("out.vkl").c_str();
    // Nothing in range and a range upside down say so; a stop and a failed write do not.
    EXPECT_EQ(logger->ExtractLogData(31, 40, out), 0);
    EXPECT_EQ(logger->ExtractLogData(20, 10, out), 0);
    auto progress = std::make_shared<FakeProgress>();
    progress->stopAt = 3;
    {
        auto scoped = With([&](HostServices& s) { s.progress = progress; });
        EXPECT_EQ(logger->ExtractLogData(0, 100, out), 0);
    }
    SetWriteFault(WriteFault{"out.vkl", At(3) + 5});
    EXPECT_EQ(logger->ExtractLogData(0, 100, out), 0);
    EXPECT_FALSE(FileExists(out.str()));
    // An output that exists is never replaced; one in a missing folder cannot be made.
    WriteAll(out.str(), {1, 2, 3});
    EXPECT_EQ(logger->ExtractLogData(0, 100, out), 0);
    EXPECT_EQ(logger->ExtractLogData(0, 100, Path("no/dir/out.vkl").c_str()), 0);
    EXPECT_EQ(ReadAll(out.str()), Bytes({1, 2, 3}));
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 4u);
    for (int i : {0, 1}) {
        EXPECT_EQ(shown[i].text, "No messages within the selected range were found in the log file.");
        EXPECT_EQ(shown[i].caption, "Extract Data");
        EXPECT_EQ(shown[i].type, MB_OK | MB_ICONINFORMATION);
    }
    EXPECT_EQ(cursor->shown, 4);  // from the creation of the output on, and ended on every path
    EXPECT_EQ(cursor->ended, 4);
    EXPECT_EQ(shown[3].text, "Error opening log file for writing");
    EXPECT_EQ(shown[3].type, MB_OK | MB_ICONERROR);
}

TEST_F(MergeTest, SeamsOfOneRecordAndSourcesThatFail)
{
    const std::string missing = "There was problem openning " + Path("s.vkl") + " for reading";
    std::vector<uint64_t> unreadable = Range(101, 110);
    unreadable.insert(unreadable.begin() + 4, kUnreadable);
    const Marks targetSeam = {{At(0), "t.vkl Begin Bookmark"}, {At(99), "t.vkl End Bookmark"}};
    // Both ranges marked; the source's bookmarks move with its records.
    const Marks seam = {{At(100), "s.vkl Begin Bookmark"}, {At(149), "s.vkl End Bookmark"}};
    const Marks both = {{At(7), "own"}, targetSeam[0], targetSeam[1], seam[0], {At(110), "a"}, {At(120), "b"}, seam[1]};
    const struct {
        uint64_t target;
        std::vector<uint64_t> source;  // empty: no source file
        bool ok;
        std::string error;
        Marks marks;
        size_t records;         // in the target afterwards
        Marks before, sources;  // the target's and the source's own bookmarks
    } cases[] = {
        {1, Range(101, 150), true, "", {{At(1), "s.vkl Begin Bookmark"}, {At(50), "s.vkl End Bookmark"}}, 51, {}, {}},
        {100, Range(101, 150), true, "", both, 150, {{At(7), "own"}}, {{At(10), "a"}, {At(20), "b"}}},
        {100, {101}, true, "", targetSeam, 101, {}, {}},
        {100, {}, false, missing, targetSeam, 100, {}, {}},                    // the target's seam is still marked
        {100, unreadable, false, "Error reading log file.", {}, 104, {}, {}},  // the records before it stay
    };
    for (const auto& c : cases)
        BothWays([&] {
            WriteLog(Path("t.vkl"), Range(1, c.target), c.before);
            if (!c.source.empty()) WriteLog(Path("s.vkl"), c.source, c.sources);
            CString error = "untouched";
            EXPECT_EQ(Merge(true, 1, error), c.ok);
            EXPECT_EQ(error, c.ok ? "untouched" : c.error.c_str());
            EXPECT_EQ(Bookmarks(Path("t.vkl")), c.marks);
            EXPECT_EQ(Indexes(Path("t.vkl")).size(), c.records);
        });
    // A file that another writer holds: the target, then the source.
    for (const char* held : {"t.vkl", "s.vkl"}) {
        CLogFile recording;
        ASSERT_TRUE(recording.Open(Path(held).c_str(), 1, 0, 0));
        CString error;
        EXPECT_FALSE(Merge(false, 0, error));
        const char* mode = *held == 't' ? " for writing" : " for reading";
        EXPECT_EQ(error, ("There was problem openning " + Path(held) + mode).c_str());
        recording.Close();
    }
    EXPECT_EQ(boxes.Count(), 0u);  // the static forms never show a box
}

TEST_F(MergeTest, AFailedWriteLosesExactlyItsRecordEitherWay)
{
    // Once, inside the 31st record of the result; and a full disk inside the 301st, in
    // the second run of records of 5,040 bytes (larger than the archive's buffer).
    std::vector<uint64_t> allBut31 = Range(1, 400);
    allBut31.erase(allBut31.begin() + 30);
    const struct {
        int dataBytes;
        WriteFault fault;
        std::vector<uint64_t> kept;
    } cases[] = {{36, {"t.vkl", At(30) + 10, 28, true}, allBut31},
                 {5000, {"t.vkl", 4 + 300 * 5040 + 17, 28, false}, Range(1, 300)}};
    for (const auto& c : cases)
        BothWays([&] {
            WriteLog(Path("t.vkl"), Range(1, 9), {}, c.dataBytes);
            WriteLog(Path("s.vkl"), Range(10, 400), {}, c.dataBytes);
            SetWriteFault(c.fault);
            CString error;
            EXPECT_TRUE(Merge(false, 0, error));
            SetWriteFault(std::nullopt);
            EXPECT_EQ(Indexes(Path("t.vkl")), c.kept);
        });
}

TEST_F(MergeTest, AtEachReportTheTargetHoldsTheRecordsProcessedAndAStopEndsAsAReadError)
{
    WriteLog(Path("s.vkl"), Range(1, 3000));
    auto progress = std::make_shared<FakeProgress>();
    auto scoped = With([&](HostServices& s) { s.progress = progress; });
    for (bool each : {false, true}) {
        CLogger::SetWriteEachRecord(each);
        int reports = 0;
        progress->onReport = [&](ULONGLONG done, ULONGLONG total, const CString& file) {
            ++reports;
            EXPECT_EQ(total, 3000u * kRec);
            EXPECT_EQ(file, Path("s.vkl").c_str());
            CLogFile target;  // still open for writing: a repair would keep the records written
            ASSERT_TRUE(target.OpenForInspection(Path("t.vkl").c_str()));
            EXPECT_EQ(target.GetRepairReport().records * kRec, done);
            EXPECT_EQ(target.GetLength(), 4 + done);
        };
        CString error = "untouched";
        EXPECT_TRUE(Merge(false, 0, error));
        EXPECT_GE(reports, 40);
        std::filesystem::remove(Path("t.vkl"));
        progress->asked = 0;
        progress->stopAt = 10;
        EXPECT_FALSE(Merge(true, 0, error));
        EXPECT_EQ(error, "untouched");
        EXPECT_EQ(Indexes(Path("t.vkl")), Range(1, 10));
        EXPECT_TRUE(Bookmarks(Path("t.vkl")).empty());
        progress->stopAt = -1;
        std::filesystem::remove(Path("t.vkl"));
    }
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(MergeTest, NoRecordEndsPastTheLargestPosition)
{
    const uint32_t h = 0xFFFFFFFFu - 200;  // room for two 76-byte records
    WriteLog(Path("s.vkl"), Range(1, 5));
    for (bool each : {true, false}) {
        CLogger::SetWriteEachRecord(each);
        if (!WriteSparseLog(Path("t.vkl"), h)) GTEST_SKIP() << "no files with holes here";
        CString error;
        EXPECT_TRUE(Merge(false, 0, error));
        CLogFile f;
        ASSERT_TRUE(f.OpenForInspection(Path("t.vkl").c_str()) && !f.NeedsRepair());
        ASSERT_EQ(f.GetHeaderPosition(), h + 2 * kRec);
        std::vector<uint64_t> got;
        f.SeekAbsolute(h);
        for (CVESKMessage m; f.GetPosition() < f.GetHeaderPosition(); got.push_back(m.GetMessageIndex()))
            ReadLogRecord(f, m);
        EXPECT_EQ(got, Range(1, 2));
    }
}

TEST_F(MergeTest, MergeIntoALoggerFiltersDevicesAndCountsPages)
{
    std::vector<uint64_t> indexes = Range(1, 7000);
    indexes.insert(indexes.end(), {kUnreadable, 7001});
    WriteLog(Path("s.vkl"), indexes);
    auto source = Reading(Path("s.vkl"));
    {
        CLogger target("t", 1, 0, tmp.path().c_str(), /*nDeviceId=*/1, 0, 0, 0);
        EXPECT_EQ(target.MergeFiles(source.get()), 1);
    }
    const FileContent t = Inspect(Path("t.vkl"));
    ASSERT_EQ(t.records.size(), 3500u);
    for (size_t i = 0; i < t.records.size(); ++i) ASSERT_EQ(t.records[i], MakeMessage(2 * i + 2, 1, 36));
    EXPECT_EQ(t.pages, 2);  // 3,500 records: the first page step comes after 2,999
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error reading log file."});
}

TEST_F(MergeTest, MergeTheNextFileOfAnEarlierLayoutPair)
{
    // Earlier-layout headers, by hand: the next file's name is part of the header.
    auto earlier = [&](const std::string& name, std::vector<uint64_t> indexes, const std::string& next) {
        const Bytes file =
            LogBytes(static_cast<uint32_t>(4 + 43 * indexes.size()), indexes, Header{}.Earlier(next.c_str(), ""));
        WriteAll(Path(name), file);
        return Bytes(file.begin() + 4, file.begin() + 4 + 43 * static_cast<long>(indexes.size()));
    };
    Bytes all = Cat({earlier("A.vkl", {1, 2, 3}, "B.vkl"), earlier("B.vkl", {4, 5}, "")});
    earlier("C.vkl", {7}, "missing.vkl");
    const Bytes b = ReadAll(Path("B.vkl"));
    auto mergeNext = [&](const char* own) {
        CLogger logger("scratch", 1, 0, (tmp.path() + "/").c_str(), -1, 0, 0, 0);
        logger.SetLogFileName(own, (tmp.path() + "/").c_str());
        EXPECT_EQ(logger.MergeFiles(), 1);
    };
    mergeNext("A.vkl");
    const Bytes a = ReadAll(Path("A.vkl"));
    EXPECT_EQ(Bytes(a.begin() + 4, a.begin() + 4 + static_cast<long>(all.size())), all);
    EXPECT_EQ(ReadAll(Path("B.vkl")), b);  // only read
    mergeNext("B.vkl");                    // names no next file: nothing merged, nothing said
    EXPECT_EQ(Indexes(Path("B.vkl")), std::vector<uint64_t>({4, 5}));
    EXPECT_EQ(boxes.Count(), 0u);
    mergeNext("C.vkl");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error reading log file."});
}

}  // namespace

// The asynchronous export: its launch, the worker's progress and ends, the filter and
// the range, and a worker held past the converter's end (its stop when the converter goes
// away: VklConvertTest.CtrlCStopsAfterWholeLines, where Ctrl-C ends the converter).
#include "platform/Filters.h"
#include "tests/convert/ConvertTest.h"

namespace {

class ConverterLaunchTest : public ConvertFixture {
protected:
    ConverterLaunchTest() { SaveColumns({0, 9}); }  // "Index" and "Data"
    // Runs a whole conversion of `log` into a new out.txt.
    void Convert(const std::string& log, CAllFilters* filter = nullptr)
    {
        std::remove(Path("out.txt").c_str());
        CLogFileConverter conv(&recoder);
        conv.m_pFilter = filter;
        conv.ConvertLogToHTML(log.c_str(), Path("out.txt").c_str(), true);
        RunToEnd(conv);
        EXPECT_EQ(conv.m_pThread.load(), nullptr);
    }
    // The table of Messages(first, last - first + 1).
    static std::string Table(uint64_t first, uint64_t last)
    {
        std::string out = "Index\tData\t\r\n\r\n";
        for (uint64_t i = first; i <= last; ++i) out += std::to_string(i) + "\tAA\t\r\n";
        return out;
    }
};

}  // namespace

TEST_F(ConverterLaunchTest, RowsRangeAndProgress)
{
    Convert(Log("log.vkl", Messages(1, 2500)));
    EXPECT_EQ(boxes.Texts(), Texts{ConvertTexts::kFinished});
    EXPECT_EQ(Output("out.txt"), Table(1, 2500));
    EXPECT_EQ(dialogs->posted, 2 + 1);  // before rows 1000 and 2000, then the end

    // The range, both ends included.
    SaveColumns({0, 9}, "5", "+6x");
    Convert(Path("log.vkl"));
    EXPECT_EQ(Output("out.txt"), Table(5, 6));
}

TEST_F(ConverterLaunchTest, TheFilterSkipsKindOneOnlyAndProgressRepeatsWhileRowsAreSkipped)
{
    std::vector<Bytes> records = Messages(1, 1008, TypedData(6));
    for (uint64_t i = 1000; i <= 1005; ++i) records[i - 1] = RecordBytes(i, TypedData(5), /*kind=*/i < 1005 ? 1 : 2);
    CAllFilters filter;
    filter.ExcludeMessageType(5);
    Convert(Log("log.vkl", records), &filter);
    const std::string out = Output("out.txt");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 999 + 1 + 3);
    EXPECT_EQ(out.find("\n1000\t"), std::string::npos);
    EXPECT_NE(out.find("\n1005\t05 00"), std::string::npos);
    // Before each of the five skipped messages and before 1005, all at 1000 written rows.
    EXPECT_EQ(dialogs->posted, 6 + 1);
}

TEST_F(ConverterLaunchTest, NothingStarts)
{
    const std::string log = Log("log.vkl", Messages(1, 3));
    struct Case {
        const char* what;
        std::string log;
        bool outputExists, save;
        std::vector<int> marks;
        CString from, to;
        Texts texts;
    };
    const Case cases[] = {
        {"cancelled", log, false, false, {0}, "0", "0", {}},
        {"no column saved", log, false, true, {}, "0", "0", {}},
        {"a last index below the first, then cancelled", log, false, true, {0}, "7", "3", {ConvertTexts::kRangeError}},
        {"no log", Path("missing.vkl"), false, true, {0}, "0", "0", {ConvertTexts::kOpenLogForReading}},
        {"an output that exists", log, true, true, {0}, "0", "0", {ConvertTexts::kOpenForWriting}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(Path("out.txt").c_str());
        if (c.outputExists) WriteAll(Path("out.txt"), {'x'});
        dialogs->run = nullptr;
        if (c.save) SaveColumns(c.marks, c.from, c.to);
        const size_t before = boxes.Count();
        CLogFileConverter conv(&recoder);
        conv.ConvertLogToHTML(c.log.c_str(), Path("out.txt").c_str(), true);
        EXPECT_FALSE(conv.IsConverting() || conv.m_progressWnd.IsWindow());
        EXPECT_EQ(conv.m_pThread.load(), nullptr);
        EXPECT_EQ(BoxesSince(before), c.texts);
        if (c.log == log) {
            EXPECT_EQ(Output("out.txt"), c.outputExists ? "x" : "");  // left behind, empty
        }
    }
}

TEST_F(ConverterLaunchTest, EveryEndOfTheWorker)
{
    const Texts readError{ConvertTexts::kReadError, ConvertTexts::kFinished}, corrupt{ConvertTexts::kFailedCorrupt};
    const WorkerEnd cases[] = {
        {"a read error inside the records", {RecordBytes(1, {0xAA}), ClaimingRecord(3)}, 0, 0, readError, Table(1, 1)},
        {"a message the Recoder cannot decode", Messages(1, 3), 2, 0, corrupt, Table(1, 1)},
        {"a processor fault", Messages(1, 3), 0, 3, corrupt, Table(1, 2)},
    };
    for (const WorkerEnd& c : cases) {
        SCOPED_TRACE(c.what);
        recoder.failAt = c.failAt, recoder.faultAt = c.faultAt;
        const size_t before = boxes.Count();
        Convert(Log("log.vkl", c.records));
        EXPECT_EQ(BoxesSince(before), c.texts);
        EXPECT_EQ(Output("out.txt"), c.output);
    }
}

TEST_F(ConverterLaunchTest, AWorkerHeldPastTheWaitIsLetGoAndFinishesOnItsOwn)
{
    CEvent inBox(false, true), release(false, true);
    SetMessageBoxHandler([&](const MessageBoxRequest&) {
        inBox.SetEvent();
        release.Wait();
        return IDOK;
    });
    std::shared_ptr<CConverterState> state;
    {
        CLogFileConverter conv(&recoder);
        conv.ConvertLogToHTML(Log("log.vkl", Messages(1, 5)).c_str(), Path("out.txt").c_str(), true);
        ASSERT_TRUE(inBox.Wait(10000));  // "Conversion Finished." stays open
        state = conv.GetState().shared_from_this();
    }  // waits 2000 ms, then lets go
    EXPECT_TRUE(state->IsAbandoned());
    EXPECT_EQ(state->m_pThread.load(), nullptr);
    release.SetEvent();
    EXPECT_TRUE(state->m_evDone.Wait(10000));
    EXPECT_FALSE(state->m_outFile.IsOpen());
    EXPECT_EQ(Output("out.txt"), Table(1, 5));
    SetMessageBoxHandler(nullptr);
}

// The HTML page of the asynchronous export against pages written out by hand: the
// skeleton, widths and text areas, colours from the settings and the shared Recoder,
// bookmarks, range and filter, and the ways the worker ends (its stop on Ctrl-C:
// VklConvertTest.CtrlCStopsAfterWholeLines).
#include "platform/Filters.h"
#include "platform/SettingsKeys.h"
#include "tests/convert/ConvertTest.h"

namespace {

// The Recoder the converter is given: raw data comes back as its bytes, so a test
// chooses every "Data" text, its length and its characters.
class VerbatimRecoder : public FakeRecoder {
public:
    void FormatRawData(const BYTE* data, int length, CString& text) override
    {
        text = CString(std::string(data, data + length));
    }
};

// The host's shared Recoder: the one that gives the colours.
class ColourRecoder : public CConverter {
public:
    ColourRecoder() : CConverter(nullptr) {}
    DWORD GetMessageColor(const CVESKMessage&) override { return color; }
    DWORD color = 0xFF;  // pure red, 0x00BBGGRR
};

const std::string kHead =
    "<html>\r\n<head>\r\n</head>\r\n<body>\r\n"
    "<p align=\"center\"><b><u><i><font color=\"#000080\" size=\"6\">";
const std::string kTable =
    "</font></i></u></b></p><table border=\"1\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\">\r\n<tr>\r\n";
const std::string kTail = "</table>\r\n</body>\r\n</html>\r\n";

class HtmlExportTest : public ConvertFixtureOn<GkiFixture> {
protected:
    HtmlExportTest() { Install(shared); }

    // The converter's worker on `log`, started as the launch does once the dialog has
    // left these columns; the page is out.html.
    void Convert(const std::string& log, const std::vector<CString>& columns, CAllFilters* filter = nullptr)
    {
        std::remove(Path("out.html").c_str());
        CLogFileConverter conv(&recoder);
        conv.m_bRawData = raw;
        conv.m_pFilter = filter;
        conv.m_nFromIndex = from, conv.m_nToIndex = to;
        conv.SetSelectedColumns(columns);
        ASSERT_TRUE(conv.m_logFile.Open(log.c_str(), 0, 0, 0));
        ASSERT_TRUE(OpenNewOutput(conv.m_outFile, Path("out.html").c_str(), CFile::typeText));
        conv.StartWorker("Converting", conv.m_logFile.GetLength(), &CConverterState::HtmlWriterThread);
        RunToEnd(conv);
        EXPECT_EQ(conv.m_pThread.load(), nullptr);
    }
    static std::string Th(std::initializer_list<const char*> names)
    {
        std::string out;
        for (const char* n : names) out += std::string("<th bgcolor=\"#C0C0C0\">") + n + "</th>\r\n";
        return out + "</tr>\r\n";
    }
    // A row whose cells open with `td` and a font of `color` (red by default).
    static std::string Row(const std::string& td, std::initializer_list<std::string> texts,
                           const std::string& color = "ff0000")
    {
        std::string out = "<tr>\r\n";
        for (const std::string& t : texts) out += td + "<font color=\"#" + color + "\">" + t + "</font></td>\r\n";
        return out + "</tr>\r\n";
    }
    static std::string Page(const std::string& title, const std::string& th, const std::string& rows)
    {
        return kHead + title + kTable + th + rows + kTail;
    }
    static std::string Td(const char* width, const char* background = "ffffff")
    {
        return std::string("<td width=\"") + width + "%\" bgcolor=\"#" + background + "\">";
    }

    VerbatimRecoder recoder;
    std::shared_ptr<ColourRecoder> shared = std::make_shared<ColourRecoder>();
    int raw = 1;
    uint64_t from = 0, to = 0;
};

}  // namespace

TEST_F(HtmlExportTest, TheLaunchWritesThePageOfTheExampleRowAndOfALogWithoutRecords)
{
    SaveColumns({0, 9});  // "Index" and "Data"
    const Header header{.bookmarks = {{4, "first"}}};
    // The example row: the bookmarked message 12 with no "Data" text.
    const std::pair<std::string, std::string> cases[] = {
        {File("ex.vkl", LogBytes({RecordBytes(12, {})}, header.Current())),
         Page("ex.vkl", Th({"Index", "Data"}), Row(Td("33", "b7faff"), {"12", "&nbsp"}))},
        {Log("empty.vkl", {}), Page("empty.vkl", Th({"Index", "Data"}), "")},
    };
    for (const auto& [log, page] : cases) {
        SCOPED_TRACE(log);
        std::remove(Path("out.html").c_str());
        CLogFileConverter conv(&recoder);
        conv.ConvertLogToHTML(log.c_str(), Path("out.html").c_str(), false);
        RunToEnd(conv);
        EXPECT_EQ(Output("out.html"), page);
    }
    EXPECT_EQ(boxes.Texts(), Texts(2, ConvertTexts::kFinished));
}

TEST_F(HtmlExportTest, CellWidthsTextAreasAndEmptyCells)
{
    const std::string x150(150, 'x'), x151(151, 'x');
    const std::string log = Log(
        "w.vkl", {RecordBytes(1, Bytes(x150.begin(), x150.end())), RecordBytes(2, Bytes(x151.begin(), x151.end()))});
    const auto area = [&](const char* cols) {
        return "<textarea rows=\"4\" cols=\"" + std::string(cols) + "%\">" + x151 + "</textarea>";
    };
    const std::string time = "09:05:03.007";
    struct Case {
        std::vector<CString> columns;
        std::string th, rows;
    };
    // An empty name gives an empty header cell; "Index" past the first column is looked
    // up like any name; a long text in another column than "Data" stays plain.
    const Case cases[] = {
        {{"Data"}, Th({"Data"}), Row(Td("50"), {x150}) + Row(Td("50"), {area("100")})},
        {{"Index", "Data"}, Th({"Index", "Data"}), Row(Td("33"), {"1", x150}) + Row(Td("33"), {"2", area("66")})},
        {{"", "PC Time Stamp", "Index", "Data"},
         Th({"", "PC Time Stamp", "Index", "Data"}),
         Row(Td("20"), {"&nbsp", time, "&nbsp", x150}) + Row(Td("20"), {"&nbsp", time, "&nbsp", area("40")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns.size());
        Convert(log, c.columns);
        EXPECT_EQ(Output("out.html"), Page("w.vkl", c.th, c.rows));
    }
}

TEST_F(HtmlExportTest, ColoursFromTheSettingsAndTheSharedRecoderAndNothingEscaped)
{
    const Header header{.bookmarks = {{5, "inside the first record"}, {47, "the second"}}};
    const std::string log = "a<b&c.vkl";
    File(log, LogBytes({RecordBytes(1, {'<', '&', '>'}), RecordBytes(2, {'x'})}, header.Current()));
    struct Case {
        int setting;  // 0: none
        DWORD text;
        const char *background, *color;
    };
    const Case cases[] = {
        {0, 0x00FF00, "b7faff", "00ff00"},  // the converter's own Recoder would give 000000
        {0x123456, 0x00123456, "563412", "563412"},
        {0x7F123456, 0xAB000000, "567f12", "00ab00"},  // beyond 24 bits: still six digits
        {-1, 0xFFFFFFFF, "ffffff", "ffffff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.background);
        if (c.setting) settings->WriteInt(SettingsKeys::kViewerSettings, SettingsKeys::kBookmarkColor, c.setting);
        shared->color = c.text;
        Convert(Path(log), {"Data"});
        const std::string rows = Row(Td("50"), {"<&>"}, c.color) + Row(Td("50", c.background), {"x"}, c.color);
        EXPECT_EQ(Output("out.html"), Page(log, Th({"Data"}), rows));
    }
}

TEST_F(HtmlExportTest, RangeAndFilterAsForText)
{
    const std::vector<Bytes> records = {RecordBytes(1, TypedData(6)), RecordBytes(2, TypedData(6)),
                                        RecordBytes(3, TypedData(5)), RecordBytes(4, TypedData(5), /*kind=*/2)};
    CAllFilters filter;
    filter.ExcludeMessageType(5);  // not applied to kind 2
    from = 2, to = 4;
    Convert(Log("r.vkl", records), {"Index"}, &filter);
    EXPECT_EQ(Output("out.html"), Page("r.vkl", Th({"Index"}), Row(Td("50"), {"2"}) + Row(Td("50"), {"4"})));
}

TEST_F(HtmlExportTest, EveryEndOfTheWorker)
{
    raw = 0;  // decoded, so that the fake Recoder can fail and fault
    const std::string head = kHead + "log.vkl" + kTable + Th({"Index"});
    const std::string rows = Row(Td("50"), {"1"}) + Row(Td("50"), {"2"});
    const std::vector<Bytes> three = Messages(1, 3, {});
    const Texts readError{ConvertTexts::kReadError, ConvertTexts::kFinished}, done{ConvertTexts::kFinished};
    const WorkerEnd cases[] = {
        {"a bad record in mid-file: the page closed",
         {three[0], three[1], ClaimingRecord(3)},
         0,
         0,
         readError,
         head + rows + kTail},
        {"a message that does not decode is written", three, 1, 0, done, head + rows + Row(Td("50"), {"3"}) + kTail},
        {"a processor fault: no closing tags", three, 0, 3, {ConvertTexts::kFailedCorrupt}, head + rows},
    };
    for (const WorkerEnd& c : cases) {
        SCOPED_TRACE(c.what);
        recoder.failAt = c.failAt, recoder.faultAt = c.faultAt;
        const size_t before = boxes.Count();
        Convert(Log("log.vkl", c.records), {"Index"});
        EXPECT_EQ(BoxesSince(before), c.texts);
        EXPECT_EQ(Output("out.html"), c.output);
    }
}

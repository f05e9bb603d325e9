// The HTML page of the asynchronous export against pages written out by hand: the
// skeleton, widths and text areas, colours from the settings and the shared Recoder,
// bookmarks, range and filter, and every way the worker ends.
#include <thread>

#include "convert/ConvertTexts.h"
#include "platform/Filters.h"
#include "platform/SettingsKeys.h"
#include "resources/resource.h"
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

class HtmlExportTest : public ConvertFixture {
protected:
    HtmlExportTest()
    {
        HostServices services = Services::Current();
        services.recoder = shared;
        m_services = std::make_unique<CScopedServices>(services);
    }

    // The converter's worker on `log` with these columns, as the dialog would leave them;
    // the page is out.html.
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
    // The header row's cells.
    static std::string Th(std::initializer_list<const char*> names)
    {
        std::string out;
        for (const char* n : names) out += std::string("<th bgcolor=\"#C0C0C0\">") + n + "</th>\r\n";
        return out + "</tr>\r\n";
    }
    std::string Page(const std::string& title, const std::string& th, const std::string& rows)
    {
        return kHead + title + kTable + th + rows + kTail;
    }

    VerbatimRecoder recoder;
    std::shared_ptr<ColourRecoder> shared = std::make_shared<ColourRecoder>();
    int raw = 1;
    uint64_t from = 0, to = 0;

private:
    std::unique_ptr<CScopedServices> m_services;
};

}  // namespace

TEST_F(HtmlExportTest, TheLaunchWritesThePageOfTheExampleRowAndOfALogWithoutRecords)
{
    dialogs->run = [](CDialog& dlg) {
        dlg.Click(IDC_COLUMNS_UNCHECK_ALL);
        dlg.ToggleItemCheck(IDC_COLUMNS_TREE, 0);  // "Index"
        dlg.ToggleItemCheck(IDC_COLUMNS_TREE, 9);  // "Data"
        dlg.Click(IDOK);
    };
    Header header;
    header.bookmarks = {{4, "first"}};
    WriteAll(Path("ex.vkl"), LogBytes({RecordBytes(12, {})}, header.Current()));
    Log("empty.vkl", {});
    const std::string expected[] = {
        "<html>\r\n<head>\r\n</head>\r\n<body>\r\n<p align=\"center\"><b><u><i><font color=\"#000080\" "
        "size=\"6\">ex.vkl</font></i></u></b></p><table border=\"1\" width=\"100%\" cellpadding=\"0\" "
        "cellspacing=\"0\">\r\n"
        "<tr>\r\n<th bgcolor=\"#C0C0C0\">Index</th>\r\n<th bgcolor=\"#C0C0C0\">Data</th>\r\n</tr>\r\n"
        "<tr>\r\n"
        "<td width=\"33%\" bgcolor=\"#b7faff\"><font color=\"#ff0000\">12</font></td>\r\n"
        "<td width=\"33%\" bgcolor=\"#b7faff\"><font color=\"#ff0000\">&nbsp</font></td>\r\n"
        "</tr>\r\n"
        "</table>\r\n</body>\r\n</html>\r\n",
        "<html>\r\n<head>\r\n</head>\r\n<body>\r\n<p align=\"center\"><b><u><i><font color=\"#000080\" "
        "size=\"6\">empty.vkl</font></i></u></b></p><table border=\"1\" width=\"100%\" cellpadding=\"0\" "
        "cellspacing=\"0\">\r\n"
        "<tr>\r\n<th bgcolor=\"#C0C0C0\">Index</th>\r\n<th bgcolor=\"#C0C0C0\">Data</th>\r\n</tr>\r\n"
        "</table>\r\n</body>\r\n</html>\r\n",
    };
    int i = 0;
    for (const char* name : {"ex.vkl", "empty.vkl"}) {
        SCOPED_TRACE(name);
        std::remove(Path("out.html").c_str());
        CLogFileConverter conv(&recoder);
        conv.m_bRawData = 1;
        conv.ConvertLogToHTML(Path(name).c_str(), Path("out.html").c_str(), false);
        RunToEnd(conv);
        EXPECT_EQ(Output("out.html"), expected[i++]);
    }
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>(2, ConvertTexts::kFinished));
}

TEST_F(HtmlExportTest, CellWidthsTextAreasAndEmptyCells)
{
    const std::string x150(150, 'x'), x151(151, 'x');
    const std::string log = Log(
        "w.vkl", {RecordBytes(1, Bytes(x150.begin(), x150.end())), RecordBytes(2, Bytes(x151.begin(), x151.end()))});
    struct Case {
        std::vector<CString> columns;
        std::string th, rows;
    };
    const std::string w50 = "<td width=\"50%\" bgcolor=\"#ffffff\"><font color=\"#ff0000\">";
    const std::string w33 = "<td width=\"33%\" bgcolor=\"#ffffff\"><font color=\"#ff0000\">";
    const std::string w20 = "<td width=\"20%\" bgcolor=\"#ffffff\"><font color=\"#ff0000\">";
    const std::string end = "</font></td>\r\n";
    const Case cases[] = {
        {{"Data"},
         Th({"Data"}),
         "<tr>\r\n" + w50 + x150 + end + "</tr>\r\n" + "<tr>\r\n" + w50 + "<textarea rows=\"4\" cols=\"100%\">" + x151 +
             "</textarea>" + end + "</tr>\r\n"},
        {{"Index", "Data"},
         Th({"Index", "Data"}),
         "<tr>\r\n" + w33 + "1" + end + w33 + x150 + end + "</tr>\r\n" + "<tr>\r\n" + w33 + "2" + end + w33 +
             "<textarea rows=\"4\" cols=\"66%\">" + x151 + "</textarea>" + end + "</tr>\r\n"},
        // An empty name: an empty header cell. "Index" past the first column is looked up
        // like any name; a long text in another column stays plain.
        {{"", "PC Time Stamp", "Index", "Data"},
         Th({"", "PC Time Stamp", "Index", "Data"}),
         "<tr>\r\n" + w20 + "&nbsp" + end + w20 + "09:05:03.007" + end + w20 + "&nbsp" + end + w20 + x150 + end +
             "</tr>\r\n" + "<tr>\r\n" + w20 + "&nbsp" + end + w20 + "09:05:03.007" + end + w20 + "&nbsp" + end + w20 +
             "<textarea rows=\"4\" cols=\"40%\">" + x151 + "</textarea>" + end + "</tr>\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns.size());
        Convert(log, c.columns);
        EXPECT_EQ(Output("out.html"), Page("w.vkl", c.th, c.rows));
    }
}

TEST_F(HtmlExportTest, ColoursFromTheSettingsAndTheSharedRecoder)
{
    Header header;
    header.bookmarks = {{5, "inside the first record"}, {47, "second"}};
    const std::string log = "a<b&c.vkl";  // the name is written as it is, too
    WriteAll(Path(log), LogBytes({RecordBytes(1, {'<', '&', '>'}), RecordBytes(2, {'x'})}, header.Current()));
    struct Case {
        int setting;  // 0: none
        DWORD text;
        const char *background, *color;
    };
    const Case cases[] = {
        {0, 0x00FF00, "b7faff", "00ff00"},
        {0x123456, 0x00123456, "563412", "563412"},
        {0x7F123456, 0xAB000000, "567f12", "00ab00"},  // beyond 24 bits: still six digits
        {-1, 0xFFFFFFFF, "ffffff", "ffffff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.background);
        if (c.setting) settings->WriteInt(SettingsKeys::kViewerSettings, SettingsKeys::kBookmarkColor, c.setting);
        shared->color = c.text;
        Convert(Path(log), {"Data"});
        const std::string font = std::string("<font color=\"#") + c.color + "\">";
        EXPECT_EQ(Output("out.html"),
                  Page(log, Th({"Data"}),
                       "<tr>\r\n<td width=\"50%\" bgcolor=\"#ffffff\">" + font + "<&></font></td>\r\n</tr>\r\n" +
                           "<tr>\r\n<td width=\"50%\" bgcolor=\"#" + c.background + "\">" + font +
                           "x</font></td>\r\n</tr>\r\n"));
    }
}

TEST_F(HtmlExportTest, RangeAndFilterAsForText)
{
    std::vector<Bytes> records;
    for (uint64_t i = 1; i <= 6; ++i) records.push_back(RecordBytes(i, TypedData(i == 3 || i == 4 ? 5 : 6), 1));
    records.push_back(RecordBytes(7, TypedData(5), /*kind=*/2));  // not a kind the filter applies to
    const std::string log = Log("r.vkl", records);
    CAllFilters filter;
    filter.ExcludeMessageType(5);
    from = 2, to = 7;
    Convert(log, {"Index"}, &filter);
    std::string rows;
    for (const char* i : {"2", "5", "6", "7"})
        rows += std::string("<tr>\r\n<td width=\"50%\" bgcolor=\"#ffffff\"><font color=\"#ff0000\">") + i +
                "</font></td>\r\n</tr>\r\n";
    EXPECT_EQ(Output("out.html"), Page("r.vkl", Th({"Index"}), rows));
}

TEST_F(HtmlExportTest, EveryEndOfTheWorker)
{
    raw = 0;  // decoded, so that the fake Recoder can fail and fault
    Bytes huge = RecordBytes(3, {});
    huge[24] = 0xFF, huge[27] = 0x7F;  // a data length beyond any record's
    const auto row = [](const char* index) {
        return std::string("<tr>\r\n<td width=\"50%\" bgcolor=\"#ffffff\"><font color=\"#ff0000\">") + index +
               "</font></td>\r\n</tr>\r\n";
    };
    const std::string head = kHead + "log.vkl" + kTable + Th({"Index"});
    struct Case {
        const char* what;
        std::vector<Bytes> records;
        uint64_t failAt, faultAt;
        std::vector<std::string> texts;
        std::string page;
    };
    const Case cases[] = {
        {"a bad record in mid-file: two boxes, the page closed",
         {RecordBytes(1, {}), RecordBytes(2, {}), huge, RecordBytes(4, {})},
         0,
         0,
         {ConvertTexts::kReadError, ConvertTexts::kFinished},
         head + row("1") + row("2") + kTail},
        {"a message the Recoder cannot decode is written all the same",
         {RecordBytes(1, {}), RecordBytes(2, {})},
         1,
         0,
         {ConvertTexts::kFinished},
         head + row("1") + row("2") + kTail},
        {"a processor fault: no closing tags",
         {RecordBytes(1, {}), RecordBytes(2, {}), RecordBytes(3, {})},
         0,
         3,
         {ConvertTexts::kFailedCorrupt},
         head + row("1") + row("2")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recoder.failAt = c.failAt, recoder.faultAt = c.faultAt;
        const size_t before = boxes.Count();
        Convert(Log("log.vkl", c.records), {"Index"});
        const std::vector<std::string> texts = boxes.Texts();
        EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<long>(before), texts.end()), c.texts);
        EXPECT_EQ(Output("out.html"), c.page);
    }
}

TEST_F(HtmlExportTest, DestroyedMidRunThePageIsClosed)
{
    raw = 0;
    recoder.holdAt = 40;
    std::vector<Bytes> records;
    for (uint64_t i = 1; i <= 100; ++i) records.push_back(RecordBytes(i, {}));
    std::thread releaser;
    {
        CLogFileConverter conv(&recoder);
        conv.SetSelectedColumns({"Index"});
        ASSERT_TRUE(conv.m_logFile.Open(Log("log.vkl", records).c_str(), 0, 0, 0));
        ASSERT_TRUE(OpenNewOutput(conv.m_outFile, Path("out.html").c_str(), CFile::typeText));
        conv.StartWorker("Converting", conv.m_logFile.GetLength(), &CConverterState::HtmlWriterThread);
        ASSERT_TRUE(recoder.reached.Wait(10000));
        // The worker is inside message 40; it may go on once the converter asks it to stop.
        releaser = std::thread([&state = conv.GetState(), this] {
            while (!state.IsStopRequested()) std::this_thread::yield();
            recoder.gate.SetEvent();
        });
    }
    releaser.join();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{ConvertTexts::kFinished});
    const std::string page = Output("out.html");
    EXPECT_TRUE(page.ends_with(">40</font></td>\r\n</tr>\r\n" + kTail)) << page.substr(page.size() - 200);
}

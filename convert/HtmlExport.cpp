// HTML export: one page with the log's name as its title and a table of one row per
// converted message, every cell in the colour the host's viewer gives the message, the
// cells of a bookmarked message on the bookmark colour (docs/FORMAT.md, "HTML page").
// Values and the title are written as they are, nothing escaped.
#include <string>

#include "convert/ConvertTexts.h"
#include "convert/LogFileConverter.h"
#include "framework/MessageBox.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"

namespace {

constexpr int kDefaultBookmarkColor = 0xFFFAB7;  // the viewer's own: b7faff on the page
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr size_t kLongestPlainData = 150;  // a longer "Data" text is put in a text area

constexpr const char* kPageHead =
    "<html>\n<head>\n</head>\n<body>\n<p align=\"center\"><b><u><i><font color=\"#000080\" size=\"6\">";
constexpr const char* kTitleEnd =
    "</font></i></u></b></p><table border=\"1\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\">\n<tr>\n";
constexpr const char* kHeaderCell = "<th bgcolor=\"#C0C0C0\">";
constexpr const char* kCellEnd = "</font></td>\n";
constexpr const char* kPageTail = "</table>\n</body>\n</html>\n";

// A host colour 0x00BBGGRR as the page's 0xRRGGBB: its lowest and third bytes swapped, in
// 32-bit unsigned arithmetic, so whatever a setting holds gives at most six digits.
uint32_t PageColor(uint32_t c)
{
    return ((c & 0xFF) << 16) | (c >> 16) | (c & 0xFF00);
}

// "%6.6x" of a value below 2^24.
void AppendHex6(std::string& out, uint32_t value)
{
    static const char* hex = "0123456789abcdef";
    for (int shift = 20; shift >= 0; shift -= 4) out += hex[(value >> shift) & 15];
}

void Write(CStdioFile& file, const std::string& text)
{
    file.Write(text.data(), static_cast<UINT>(text.size()));
}

// What the rows of one page share, fixed when the page begins.
class CHtmlPage {
public:
    explicit CHtmlPage(const CConverterState& s)
        : m_s(s),
          m_cellWidth(100 / static_cast<int>(s.m_astrColumns.size() + 1)),
          m_areaWidth(200 / static_cast<int>(s.m_astrColumns.size() + 1)),
          m_bookmark(PageColor(static_cast<uint32_t>(GetSettingInt(
              GetSettingsStore(), SettingsKeys::kViewerSettings, SettingsKeys::kBookmarkColor, kDefaultBookmarkColor))))
    {
    }

    // The page up to its first row: the title paragraph, the table, the header row.
    void AppendHead(std::string& out, const CString& title) const
    {
        out += kPageHead;
        out += title.str();
        out += kTitleEnd;
        for (const CString& name : m_s.m_astrColumns) {
            out += kHeaderCell;
            out += name.str();
            out += "</th>\n";
        }
        out += "</tr>\n";
    }

    // The background of a message whose record starts at `start`.
    uint32_t Background(DWORD start) const { return m_s.m_logFile.IsBookmark(start) ? m_bookmark : kWhite; }

    // One row from m_mapRowValues; `background` and `text` are page colours.
    void AppendRow(std::string& out, uint64_t index, uint32_t background, uint32_t text)
    {
        // Every cell of a row opens alike.
        std::string& open = m_cellOpening;
        open = "<td width=\"";
        AppendDecimal(open, static_cast<uint64_t>(m_cellWidth));
        open += "%\" bgcolor=\"#";
        AppendHex6(open, background);
        open += "\"><font color=\"#";
        AppendHex6(open, text);
        open += "\">";

        out += "<tr>\n";
        const std::vector<CString>& columns = m_s.m_astrColumns;
        size_t first = 0;
        if (!columns.empty() && columns.front() == CConverterState::kColumnIndex) {
            out += open;
            AppendDecimal(out, index);
            out += kCellEnd;
            first = 1;
        }
        for (size_t i = first; i < columns.size(); ++i) {
            out += open;
            AppendValue(out, i);
            out += kCellEnd;
        }
        out += "</tr>\n";
    }

private:
    void AppendValue(std::string& out, size_t column) const
    {
        const CString* text = m_s.RowValue(column);
        if (!text || text->IsEmpty()) {
            out += "&nbsp";
            return;
        }
        const std::string& value = text->str();
        if (m_s.m_astrColumns[column] != CConverterState::kColumnData || value.size() <= kLongestPlainData) {
            out += value;
            return;
        }
        out += "<textarea rows=\"4\" cols=\"";
        AppendDecimal(out, static_cast<uint64_t>(m_areaWidth));
        out += "%\">";
        out += value;
        out += "</textarea>";
    }

    const CConverterState& m_s;
    const int m_cellWidth, m_areaWidth;
    const uint32_t m_bookmark;
    std::string m_cellOpening;
};

}  // namespace

UINT CConverterState::HtmlWriterThread(CConverterState& s)
{
    return RunExportWorker(s, [&s] {
        std::string text;
        CHtmlPage page(s);
        page.AppendHead(text, s.m_logFile.GetFileName());
        Write(s.m_outFile, text);
        const RowsEnd end =
            s.WriteRows(SelectionMap(s.m_astrColumns), /*asynchronous=*/true, [&](CRecordStep& step, DWORD start) {
                // The colour is the shared Recoder's, asked under the lock;
                // whether the message decoded is not looked at.
                const CVESKMessage& message = step.Message();
                CConverter* shared = GetConverterInstance();
                const uint32_t color = shared ? shared->GetMessageColor(message) : 0;
                const uint64_t index = message.GetMessageIndex();
                step.Release();
                text.clear();
                page.AppendRow(text, index, page.Background(start), PageColor(color));
                Write(s.m_outFile, text);
                return true;
            });
        if (end == RowsEnd::readError && !s.IsAbandoned()) AfxMessageBox(ConvertTexts::kReadError);
        Write(s.m_outFile, kPageTail);
        s.m_outFile.Close();
        return CString(ConvertTexts::kFinished);
    });
}

// The converter's dialogs over the module's templates: the column dialog over the host's
// real column table, the two progress windows, and the switch to the module's resources.
#include "convert/ChangePageProgressDlg.h"
#include "convert/SelectColumnsDlg.h"
#include "convert/UseModuleResources.h"
#include "platform/ColumnsRecordset.h"
#include "platform/SettingsKeys.h"
#include "tests/convert/ConvertTest.h"

namespace {

// A main window of 1000 x 800 pixels of client area.
class MainWindow : public CQueueWnd {
public:
    void GetClientRect(CRect& rect) const override { rect = {0, 0, 1000, 800}; }
};

class ConvertDialogsTest : public ConvertFixture {
protected:
    static std::pair<Texts, Texts> Tree(const CDialog& dlg)
    {
        const CDialogControl* tree = dlg.GetDlgItem(IDC_COLUMNS_TREE);
        Texts items, marked;
        for (int i = 0; i < tree->GetCount(); ++i) {
            items.push_back(tree->GetItemText(i).str());
            if (tree->GetItemCheck(i)) marked.push_back(items.back());
        }
        return {items, marked};
    }

    CLogFileConverter conv{&recoder};
};

const Texts kViewerOrder = {"Index",  "PC Time Stamp", "Device", "Kind",    "Message Type",
                            "Signal", "Signal ID",     "Length", "Decoded", "Data"};
const Texts kAlphabetical = {"Index",  "Data",         "Decoded",       "Device", "Kind",
                             "Length", "Message Type", "PC Time Stamp", "Signal", "Signal ID"};

}  // namespace

TEST_F(ConvertDialogsTest, TheColumnTreeInBothOrdersWithItsMarksAndWithoutItsDatabase)
{
    conv.m_astrColumns = {"Index", "Signal", "Data"};
    dialogs->run = [](CDialog& dlg) {
        EXPECT_EQ(Tree(dlg), std::make_pair(kViewerOrder, Texts{"Index", "Signal", "Data"}));  // no "Symbol"
        dlg.ToggleItemCheck(IDC_COLUMNS_TREE, 3);                                              // Kind
        // Another order: the tree again, its marks from the converter (Kind's is lost).
        dlg.SelectItem(IDC_COLUMNS_SORT_ORDER, 1);
        EXPECT_EQ(Tree(dlg), std::make_pair(kAlphabetical, Texts{"Index", "Data", "Signal"}));
        dlg.ToggleItemCheck(IDC_COLUMNS_TREE, 5);  // Length
        dlg.Click(IDOK);
    };
    EXPECT_EQ(CSelectColumnsDlg(&conv).DoModal(), IDOK);
    EXPECT_EQ(conv.m_astrColumns, (std::vector<CString>{"Index", "Data", "Length", "Signal"}));  // in tree order
    EXPECT_EQ(settings->GetInt(SettingsKeys::kLoggerSettings, SettingsKeys::kColumnSelectionOrder, -1), 1);

    // The stored order is the next dialog's; "Index" is marked only when it comes first.
    conv.m_astrColumns = {"Data", "Index"};
    dialogs->run = [](CDialog& dlg) {
        EXPECT_EQ(dlg.GetDlgItem(IDC_COLUMNS_SORT_ORDER)->GetCurSel(), 1);
        EXPECT_EQ(Tree(dlg).second, Texts{"Data"});
        dlg.Click(IDC_COLUMNS_CHECK_ALL);
        EXPECT_EQ(Tree(dlg).second, kAlphabetical);
        dlg.Click(IDC_COLUMNS_UNCHECK_ALL);
        dlg.Click(IDCANCEL);
    };
    EXPECT_EQ(CSelectColumnsDlg(&conv).DoModal(), IDCANCEL);
    EXPECT_EQ(conv.m_astrColumns, (std::vector<CString>{"Data", "Index"}));  // a cancel changes nothing

    // A broken column database: an empty tree, and saving selects nothing.
    WriteAll(CColumnsRecordset::DatabasePath().str(), {'n', 'o', 't', ' ', 'd', 'b'});
    dialogs->run = [](CDialog& dlg) {
        EXPECT_EQ(Tree(dlg).first, Texts{});
        dlg.Click(IDOK);
    };
    EXPECT_EQ(CSelectColumnsDlg(&conv).DoModal(), IDOK);
    EXPECT_EQ(boxes.Texts(), Texts{ConvertTexts::kDatabaseError});
    EXPECT_TRUE(conv.m_astrColumns.empty());
}

TEST_F(ConvertDialogsTest, IndexRangesAsTyped)
{
    struct Case {
        const char *from, *to;
        uint64_t first, last;
        bool saved;
    };
    const Case cases[] = {
        {"5", "5", 5, 5, true},      {" -1", "0", UINT64_MAX, 0, false}, {" -1", " -1", UINT64_MAX, UINT64_MAX, true},
        {"+7x", "abc", 7, 0, false}, {"abc", "+7x", 0, 7, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + "~" + c.to);
        conv.m_astrColumns = {"Data"};
        dialogs->run = [&](CDialog& dlg) {
            dlg.GetDlgItem(IDC_COLUMNS_FROM_INDEX)->SetWindowText(c.from);
            dlg.GetDlgItem(IDC_COLUMNS_TO_INDEX)->SetWindowText(c.to);
            dlg.Click(IDOK);
            EXPECT_EQ(std::pair(conv.m_nFromIndex, conv.m_nToIndex), std::pair(c.first, c.last));  // also when refused
            EXPECT_EQ(dlg.IsEnded(), c.saved);
        };
        const size_t before = boxes.Count();
        EXPECT_EQ(CSelectColumnsDlg(&conv).DoModal(), c.saved ? IDOK : IDCANCEL);
        EXPECT_EQ(BoxesSince(before), c.saved ? Texts{} : Texts{ConvertTexts::kRangeError});
    }
}

// The progress window sits at the main window's corner and follows the posts; the
// processing dialog is centred and cycles.
TEST_F(ConvertDialogsTest, TheTwoProgressWindows)
{
    MainWindow main;
    AfxSetMainWnd(&main);
    CLogConvertProgressWnd& wnd = conv.m_progressWnd;
    wnd.m_strText = "Converting x.vkl";
    wnd.SetProgressSize(3ull << 30);  // beyond an int: scaled down
    ASSERT_TRUE(wnd.Create(IDD_CONVERT_PROGRESS, &main));
    CRect r;
    wnd.GetWindowRect(r);
    EXPECT_EQ(std::make_pair(r.left, r.top), std::make_pair(1000 - 20 - r.Width(), 800 - r.Height()));
    EXPECT_EQ(std::make_pair(r.Width(), r.Height()), std::make_pair(309, 111));  // its 206 x 68 dialog units
    EXPECT_EQ(wnd.GetWindowText(), "Converting x.vkl");
    EXPECT_EQ(wnd.GetDlgItemText(IDC_CONVERT_TEXT), "Converting x.vkl");

    CDialogControl* bar = wnd.GetDlgItem(IDC_CONVERT_BAR);
    int lower = -1, upper = -1;
    bar->GetRange(lower, upper);
    EXPECT_EQ(std::make_pair(lower, upper), std::make_pair(0, static_cast<int>((3ull << 30) >> 1)));
    conv.GetState().PostProgress(1ull << 30);
    while (wnd.PumpMessage(0)) {
    }
    EXPECT_EQ(bar->GetPos(), 1 << 29);
    wnd.PressKey(VK_ESCAPE);  // swallowed
    wnd.PressKey(VK_RETURN);
    EXPECT_TRUE(wnd.IsWindow() && !wnd.IsEnded());
    conv.CloseProgressWindow();
    EXPECT_TRUE(wnd.PumpMessage(0));
    EXPECT_FALSE(wnd.IsWindow());
    EXPECT_FALSE(wnd.PostMessage(CLogConvertProgressWnd::WM_CONVERT_PROGRESS, 0, 5));  // gone: nothing happens

    // The processing dialog: centred, its bar cycling.
    CChangePageProgressDlg dlg("", &main);
    ASSERT_TRUE(CChangePageProgressDlg::CreateMe(&dlg, &main));
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_EQ(dlg.GetWindowText(), dlg.GetTemplate().strCaption);  // "" keeps the template's
    dlg.GetWindowRect(r);
    EXPECT_EQ(std::make_pair(r.left, r.top), std::make_pair((1000 - r.Width()) / 2, (800 - r.Height()) / 2));
    for (int position : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1}) {
        dlg.StepItUp(-5);
        EXPECT_EQ(dlg.GetDlgItem(IDC_PROCESSING_BAR)->GetPos(), position);
    }
    EXPECT_TRUE(dlg.PumpMessage(INFINITE));  // the 100 ms timer steps it too
    EXPECT_EQ(dlg.GetDlgItem(IDC_PROCESSING_BAR)->GetPos(), 2);

    AfxSetMainWnd(nullptr);  // with no main window the progress window goes to 0,0
    ASSERT_TRUE(wnd.Create(IDD_CONVERT_PROGRESS));
    wnd.GetWindowRect(r);
    EXPECT_EQ(std::make_pair(r.left, r.top), std::make_pair(0, 0));

    CChangePageProgressDlg titled("Converting SD Logs", nullptr);
    titled.SetProgressSize(0);  // taken as 1
    ASSERT_TRUE(CChangePageProgressDlg::CreateMe(&titled, nullptr));
    EXPECT_EQ(titled.GetWindowText(), "Converting SD Logs");
    titled.StepItUp(0);
    titled.StepItUp(0);
    EXPECT_EQ(titled.GetDlgItem(IDC_PROCESSING_BAR)->GetPos(), 1);
}

TEST_F(ConvertDialogsTest, UseModuleResourcesSwitchesAndPutsBack)
{
    const HINSTANCE module = GetModuleHandle(ConvertTexts::kModuleName);
    ASSERT_NE(module, nullptr);
    {
        UseModuleResources resources;
        EXPECT_EQ(AfxGetResourceHandle(), module);
    }
    EXPECT_EQ(AfxGetResourceHandle(), nullptr);

    // Out of the chain: told once, with the caller's place, and the caller goes on.
    CModuleOutOfChain hidden(module);
    int line = 0;
    {
        line = __LINE__ + 1;
        UseModuleResources resources;
        EXPECT_FALSE(resources.Found());
    }
    ASSERT_EQ(boxes.Count(), 1u);
    const MessageBoxRequest box = boxes.Shown()[0];
    EXPECT_EQ(box.text,
              "Failed to change resource handle\n(System error: No such file or directory )\nMudule name: "
              "Logger.dll\nSource Files:" __FILE__ ", " +
                  std::to_string(line));
    EXPECT_EQ(box.caption, "Error in - Use Custom Resource");
    EXPECT_EQ(box.type, MB_OK | MB_ICONSTOP);
    CChangePageProgressDlg dlg("", nullptr);
    EXPECT_EQ(CChangePageProgressDlg::CreateMe(&dlg, nullptr), 0);  // no template to be found
    EXPECT_EQ(boxes.Count(), 2u);
}

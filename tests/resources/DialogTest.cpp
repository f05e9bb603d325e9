// The dialog base over the module's own templates: controls, dialog-init items, caption,
// the host seam, the user's actions, data exchange and messages from other threads.
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "framework/Dialog.h"
#include "framework/MessageBox.h"
#include "resources/resource.h"
#include "tests/resources/ResourceTables.h"

namespace {

class ScriptedHost : public IDialogHost {
public:
    std::function<void(CDialog&)> run;  // plays the user of a modal dialog
    int created = 0, destroyed = 0, changes = 0;

    void RunModal(CDialog& dlg) override
    {
        if (run) run(dlg);
    }
    void OnCreated(CDialog&) override { ++created; }
    void OnDestroyed(CDialog&) override { ++destroyed; }
    void OnChanged(CDialog&, int) override { ++changes; }
};

class DialogTest : public ::testing::Test {
protected:
    DialogTest() : m_previous(SetDialogHost(host)) {}
    ~DialogTest() override { SetDialogHost(m_previous); }
    std::shared_ptr<ScriptedHost> host = std::make_shared<ScriptedHost>();

private:
    std::shared_ptr<IDialogHost> m_previous;
};

// The column dialog's fields, as a derived dialog binds them.
class ColumnsDialog : public CDialog {
public:
    ColumnsDialog() : CDialog(IDD_SELECT_COLUMNS) {}
    int m_nSortOrder = 1;
    CString m_strFrom = "0", m_strTo = "0";
    std::vector<UINT> commands;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_CBIndex(pDX, IDC_COLUMNS_SORT_ORDER, m_nSortOrder);
        DDX_Text(pDX, IDC_COLUMNS_FROM_INDEX, m_strFrom);
        DDX_Text(pDX, IDC_COLUMNS_TO_INDEX, m_strTo);
        if (pDX->m_bSaveAndValidate && std::stoll(m_strTo.str()) < std::stoll(m_strFrom.str())) pDX->Fail();
    }
    BOOL OnCommand(UINT nID, UINT nCode) override
    {
        commands.push_back(nID);
        return CDialog::OnCommand(nID, nCode);
    }
};

constexpr UINT WM_PROGRESS = WM_USER + 25;

class ProgressDialog : public CDialog {
public:
    ProgressDialog() : CDialog(IDD_CONVERT_PROGRESS) {}
    ~ProgressDialog() override { DestroyWindow(); }
    std::vector<LPARAM> positions;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != WM_PROGRESS) return CDialog::WindowProc(message, wParam, lParam);
        positions.push_back(lParam);
        return lParam + 1;
    }
};

}  // namespace

// The window's size in pixels, shown-at-once and posting after it is gone are in the
// conversion's progress windows (ConvertDialogsTest.TheTwoProgressWindows).
TEST_F(DialogTest, TheProgressWindowBindsItsControlsHandlesMessagesFromAnotherThreadAndTellsTheHost)
{
    ProgressDialog progress;
    ASSERT_TRUE(progress.Create(IDD_CONVERT_PROGRESS));
    EXPECT_EQ(host->created, 1);
    EXPECT_EQ(std::tuple(progress.IsWindowVisible(), progress.GetWindowText()), std::tuple(false, CString()));
    CDialogControl* bar = nullptr;
    CDataExchange dx(&progress, FALSE);
    DDX_Control(&dx, IDC_CONVERT_BAR, bar);
    ASSERT_EQ(bar->GetKind(), ControlKind::progressBar);  // bound by its identifier
    bar->SetRange32(0, 5000000);
    bar->SetPos(4096);
    EXPECT_EQ(bar->SetPos(6000000), 4096);
    EXPECT_EQ(bar->GetPos(), 5000000);  // clamped to the range
    EXPECT_THROW(DDX_Control(&dx, 4242, bar), CResourceException);
    LRESULT answer = 0;
    std::thread worker([&] {
        for (LPARAM pos : {1000, 2000, 3000}) progress.PostMessage(WM_PROGRESS, 0, pos);
        answer = progress.SendMessage(WM_PROGRESS, 0, 4000);  // waits until it has been handled
    });
    while (progress.positions.size() < 4) ASSERT_TRUE(progress.PumpMessage(10000));
    worker.join();
    EXPECT_EQ(progress.positions, std::vector<LPARAM>({1000, 2000, 3000, 4000}));
    EXPECT_EQ(answer, 4001);
    EXPECT_TRUE(progress.DestroyWindow());
    EXPECT_EQ(host->destroyed, 1);
    EXPECT_FALSE(progress.PumpMessage(INFINITE));  // nothing more comes
}

TEST_F(DialogTest, ActionsFollowTheStyleBits)
{
    CDialog panel(IDD_REPLAY_PANEL);
    ASSERT_TRUE(panel.Create(IDD_REPLAY_PANEL));
    const auto checked = [&](int id) { return panel.GetDlgItem(id)->GetCheck() == BST_CHECKED; };
    EXPECT_TRUE(panel.Click(IDC_REPLAY_CONTINUOUS_MODE));
    EXPECT_TRUE(panel.Click(IDC_REPLAY_DELAY_MODE));
    EXPECT_TRUE(checked(IDC_REPLAY_DELAY_MODE));
    EXPECT_FALSE(checked(IDC_REPLAY_CONTINUOUS_MODE));  // the same group

    EXPECT_FALSE(panel.Click(IDC_REPLAY_PLAY));  // created disabled
    panel.GetDlgItem(IDC_REPLAY_PLAY)->EnableWindow();
    EXPECT_TRUE(panel.Click(IDC_REPLAY_PLAY));
    EXPECT_TRUE(checked(IDC_REPLAY_PLAY));  // a push-like check button stays down
    EXPECT_TRUE(panel.Click(IDC_REPLAY_PLAY));
    EXPECT_FALSE(checked(IDC_REPLAY_PLAY));

    EXPECT_FALSE(panel.EnterText(IDC_REPLAY_DELAY, "1O"));  // digits only
    EXPECT_TRUE(panel.EnterText(IDC_REPLAY_DELAY, "10"));
    EXPECT_EQ(panel.GetDlgItemText(IDC_REPLAY_DELAY), "10");
    EXPECT_FALSE(panel.EnterText(IDC_REPLAY_FILE_NAME, "x.vkl"));  // read-only
    EXPECT_FALSE(panel.Click(IDC_REPLAY_DURATION_LABEL));          // a static
    EXPECT_GT(host->changes, 0);
}

TEST_F(DialogTest, SortListAndDataExchangeThatValidatesBeforeTheDialogEnds)
{
    ColumnsDialog dlg;
    host->run = [](CDialog& d) {
        const CDialogControl* sort = d.GetDlgItem(IDC_COLUMNS_SORT_ORDER);
        ASSERT_NE(sort, nullptr);
        std::vector<std::string> items;
        for (int i = 0; i < sort->GetCount(); ++i) items.push_back(sort->GetItemText(i).str());
        EXPECT_EQ(items, std::vector<std::string>(tables::kSortItems.begin(), tables::kSortItems.end()));
        EXPECT_EQ(sort->GetCurSel(), 1);  // the member went to the control
        EXPECT_EQ(d.GetWindowText(), "Select Columns");
        EXPECT_TRUE(d.SelectItem(IDC_COLUMNS_SORT_ORDER, 0));
        EXPECT_TRUE(d.EnterText(IDC_COLUMNS_FROM_INDEX, "7"));
        EXPECT_TRUE(d.EnterText(IDC_COLUMNS_TO_INDEX, "3"));
        EXPECT_TRUE(d.Click(IDOK));
        EXPECT_FALSE(d.IsEnded());  // refused: the range runs backwards
        EXPECT_TRUE(d.EnterText(IDC_COLUMNS_TO_INDEX, "9"));
        d.PressKey(VK_RETURN);  // the default button: "Save", the OK button
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.commands, std::vector<UINT>({IDC_COLUMNS_SORT_ORDER, IDC_COLUMNS_FROM_INDEX, IDC_COLUMNS_TO_INDEX,
                                               IDOK, IDC_COLUMNS_TO_INDEX, IDOK}));  // Enter: the OK button
    EXPECT_FALSE(dlg.IsWindow());
    EXPECT_EQ(std::tuple(dlg.m_nSortOrder, dlg.m_strFrom, dlg.m_strTo), std::tuple(0, CString("7"), CString("9")));

    host->run = [](CDialog& d) { d.PressKey(VK_ESCAPE); };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    SetDialogHost(nullptr);  // nobody to show it to: as if closed
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);

    CDialog again(IDD_SELECT_COLUMNS);  // a second dialog adds the sort items again, to its own list
    ASSERT_TRUE(again.Create(IDD_SELECT_COLUMNS));
    EXPECT_EQ(again.GetDlgItem(IDC_COLUMNS_SORT_ORDER)->GetCount(), 2);
}

TEST_F(DialogTest, TemplatesComeFromTheCurrentResourceHandleFirst)
{
    CDialog missing(4242);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_NE(missing.GetCreateError().Find("4242"), -1);

    // A module of its own with a dialog 5022 of one control and no dialog-init items.
    CResourceTable table;
    table.Add({RT_DIALOG, IDD_SELECT_COLUMNS, 0x409, 0, {0,    0, 0xC0, 0x80, 0,    0,    0,    0, 1,   0, 0, 0, 0, 0,
                                                         10,   0, 10,   0,    0,    0,    0,    0, 'X', 0, 0, 0, 0, 0,
                                                         0x03, 0, 0x21, 0x50, 0,    0,    0,    0, 0,   0, 0, 0, 5, 0,
                                                         5,    0, 0xCA, 0x13, 0xFF, 0xFF, 0x85, 0, 0,   0, 0, 0}});
    const ModuleInfo other{"Other.dll", &table};
    const HINSTANCE previous = AfxGetResourceHandle();
    AfxSetResourceHandle(&other);
    CDialog dlg(IDD_SELECT_COLUMNS);
    const BOOL created = dlg.Create(IDD_SELECT_COLUMNS);
    AfxSetResourceHandle(previous);
    ASSERT_TRUE(created) << dlg.GetCreateError();
    EXPECT_EQ(std::tuple(dlg.GetResourceModule(), dlg.GetWindowText()), std::tuple(&other, CString("X")));
    ASSERT_EQ(dlg.GetControls().size(), 1u);
    EXPECT_EQ(dlg.GetDlgItem(IDC_COLUMNS_SORT_ORDER)->GetCount(), 0);
}

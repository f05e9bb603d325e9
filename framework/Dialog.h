#pragma once
// CDialog: a dialog made from a dialog template in the module resources, with no window
// system behind it. A host shows it through a view of its own (IDialogHost, installed
// with SetDialogHost): a terminal, a test script, a real toolkit.
//
// Making a dialog
//   The template is found by identifier through AfxFindResourceHandle (the current
//   resource handle, then the resource chain). DoModal and Create read it and make one
//   CDialogControl per template item, in template order, with its identifier, kind, text
//   and style flags (framework/ResourceTemplates.h); the caption comes from the template,
//   the size is its size in dialog units mapped to pixels. Then OnInitDialog runs.
//
// A derived dialog (the pattern the module's own dialogs follow)
//   class CMyDlg : public CDialog {
//   public:
//       CMyDlg() : CDialog(IDD_MY_DIALOG) {}
//   protected:
//       BOOL OnInitDialog() override;        // call CDialog::OnInitDialog() first: it applies
//                                            // the dialog-init items, then UpdateData(FALSE)
//       void DoDataExchange(CDataExchange* pDX) override;   // DDX_Text, DDX_CBIndex, ...
//       BOOL OnCommand(UINT nID, UINT nCode) override;      // buttons, selection changes
//       void OnOK() override;                // default: UpdateData(TRUE), EndDialog(IDOK)
//       LRESULT WindowProc(UINT, WPARAM, LPARAM) override;  // own window messages
//       BOOL PreTranslateMessage(const WindowMessage&) override;  // TRUE swallows a key
//   };
//   Modal: `CMyDlg dlg; if (dlg.DoModal() == IDOK) ...`. Modeless: `dlg.Create(IDD_...)`,
//   later DestroyWindow (or the destructor). DoModal returns -1 and Create FALSE when the
//   template is missing or malformed (GetCreateError says why).
//
// Threads
//   A dialog belongs to the thread that made it: its controls, caption and geometry are
//   read and changed there only. Any thread may PostMessage or SendMessage to it; posted
//   messages wait in its queue until its thread pumps them (PumpMessage, or the host's
//   runner), a sent message from another thread waits until it has been handled. Timers
//   (SetTimer) post WM_TIMER the same way, one waiting tick per timer at most; a derived
//   dialog that sets timers calls DestroyWindow (or KillTimer) in its own destructor.
//   A window that is gone refuses posted messages.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/ResourceTemplates.h"
#include "framework/Window.h"

class CDialog;
class CDataExchange;

constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
// Notification codes that come with OnCommand.
constexpr UINT BN_CLICKED = 0;
constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT EN_CHANGE = 0x0300;
constexpr UINT TVN_ITEMCHECKED = 0xFE00;  // a tree item's check box was clicked
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr int CB_ERR = -1;
constexpr int LB_ERR = -1;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;

// One control of a dialog. Calls from code change its state and tell the host's view;
// the view reads the state to show it. Which calls apply depends on the kind:
//   all        GetWindowText / SetWindowText, EnableWindow, ShowWindow, ModifyStyle
//   buttons    GetCheck / SetCheck (check boxes, radio buttons)
//   list box, combo box, tree view (root items only): AddString (list and combo boxes;
//              sorted ones insert in order), InsertItem (appends; tree views), GetCount,
//              GetItemText, ResetContent / DeleteAllItems, GetCurSel / SetCurSel,
//              GetItemCheck / SetItemCheck (the check boxes of a tree's items)
//   progress   SetRange32 / SetRange, GetRange, SetPos (clamped to the range), GetPos
class CDialogControl {
public:
    CDialogControl(CDialog& dialog, const DialogItemTemplate& item);

    int GetDlgCtrlID() const { return m_nID; }
    ControlKind GetKind() const { return m_kind; }
    DWORD GetStyle() const { return m_dwStyle; }
    DWORD GetFlags() const { return GetControlFlags(m_kind, m_dwStyle); }
    bool HasFlag(DWORD flag) const { return (GetFlags() & flag) != 0; }
    CRect GetDialogUnitRect() const { return m_rect; }         // place in the dialog, in dialog units
    const CResourceName& GetTitle() const { return m_title; }  // as in the template (text or ordinal)

    CString GetWindowText() const { return m_strText; }
    void SetWindowText(const CString& text);
    bool IsWindowEnabled() const { return !HasFlag(ControlFlag::disabled); }
    void EnableWindow(bool enable = true);
    bool IsWindowVisible() const { return HasFlag(ControlFlag::visible); }
    void ShowWindow(int nCmdShow);
    void ModifyStyle(DWORD remove, DWORD add);

    int GetCheck() const { return m_nCheck; }
    void SetCheck(int nCheck);

    int AddString(const CString& text);
    int InsertItem(const CString& text);
    int GetCount() const { return static_cast<int>(m_items.size()); }
    CString GetItemText(int index) const;
    void ResetContent();
    void DeleteAllItems() { ResetContent(); }
    int GetCurSel() const { return m_nCurSel; }
    int SetCurSel(int index);  // -1 clears; an index out of range clears and returns CB_ERR
    bool GetItemCheck(int index) const;
    bool SetItemCheck(int index, bool checked);

    void SetRange32(int lower, int upper);
    void SetRange(short lower, short upper) { SetRange32(lower, upper); }
    void GetRange(int& lower, int& upper) const;
    int SetPos(int pos);  // returns the previous position
    int GetPos() const { return m_nPos; }

private:
    struct Item {
        CString text;
        bool checked = false;
    };
    void Changed();

    CDialog& m_dialog;
    int m_nID;
    ControlKind m_kind;
    DWORD m_dwStyle;
    CRect m_rect;
    CResourceName m_windowClass;
    CResourceName m_title;
    CString m_strText;
    int m_nCheck = BST_UNCHECKED;
    std::vector<Item> m_items;
    int m_nCurSel = -1;
    int m_nLower = 0, m_nUpper = 100, m_nPos = 0;
};

// What a host installs to show dialogs. Every call comes on the dialog's thread except
// OnPosted, which comes on the posting thread.
class IDialogHost {
public:
    virtual ~IDialogHost() = default;
    // Shows a modal dialog and returns once it has ended (dlg.IsEnded()). Meanwhile it
    // hands the user's actions to the dialog (Click, SelectItem, ToggleItemCheck,
    // EnterText, PressKey) and pumps its messages (PumpMessage).
    virtual void RunModal(CDialog& dlg) = 0;
    // A modeless dialog has been made (after OnInitDialog); one is going away.
    virtual void OnCreated(CDialog& /*dlg*/) {}
    virtual void OnDestroyed(CDialog& /*dlg*/) {}
    // Something shown has changed: a control (its identifier) or, for 0, the dialog itself
    // (caption, visibility, place).
    virtual void OnChanged(CDialog& /*dlg*/, int /*nID*/) {}
    // A message waits in the dialog's queue.
    virtual void OnPosted(CDialog& /*dlg*/) {}
};
// Installs a host and returns the previous one. With none, a modal dialog ends at once
// with IDCANCEL, as if its user had closed it, and modeless dialogs are shown to nobody.
std::shared_ptr<IDialogHost> SetDialogHost(std::shared_ptr<IDialogHost> host);
std::shared_ptr<IDialogHost> GetDialogHost();

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    virtual INT_PTR DoModal();
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    void EndDialog(int nResult);
    BOOL DestroyWindow();
    bool IsWindow() const { return m_bCreated; }
    bool IsEnded() const { return m_bEnded; }
    int GetResult() const { return m_nResult; }
    CString GetCreateError() const { return m_strCreateError; }

    UINT GetTemplateID() const { return m_nIDTemplate; }
    const DialogTemplate& GetTemplate() const { return m_template; }
    HINSTANCE GetResourceModule() const { return m_hResourceModule; }  // where the template was found
    CWnd* GetParent() const { return m_pParentWnd; }

    // Controls in template order; GetDlgItem gives the first with that identifier, or null.
    const std::vector<std::unique_ptr<CDialogControl>>& GetControls() const { return m_controls; }
    CDialogControl* GetDlgItem(int nID) const;
    void SetDlgItemText(int nID, const CString& text);
    CString GetDlgItemText(int nID) const;

    CString GetWindowText() const { return m_strCaption; }
    void SetWindowText(const CString& text);
    bool IsWindowVisible() const { return m_bVisible; }
    void ShowWindow(int nCmdShow);

    // Pixels: dialog units map with the base units of the 8-point dialog font at 96 dots
    // per inch, 6 across and 13 down. The client area is the whole window.
    static void MapDialogRect(CRect& rect);
    void GetWindowRect(CRect& rect) const { rect = m_rectWindow; }
    void GetClientRect(CRect& rect) const override { rect = {0, 0, m_rectWindow.Width(), m_rectWindow.Height()}; }
    void MoveWindow(int x, int y, int nWidth, int nHeight);

    // TRUE: controls to members (validating); FALSE: members to controls.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) override;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) override;
    // On the dialog's thread: handles one waiting message, waiting up to `ms` for one;
    // false when none came (at once when the window is gone).
    bool PumpMessage(DWORD ms = 0);
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    BOOL KillTimer(UINT_PTR nIDEvent);

    // The user's actions, as a host's view delivers them. Each returns false when the
    // control refuses it (missing, disabled, wrong kind, read-only, not a number).
    bool Click(int nID);                           // auto check and radio buttons check themselves
    bool SelectItem(int nID, int index);           // list and combo boxes
    bool ToggleItemCheck(int nID, int index);      // tree views with check boxes
    bool EnterText(int nID, const CString& text);  // edits
    void PressKey(WPARAM vk);                      // Enter: the default button (IDOK if none); Escape: IDCANCEL

    void ControlChanged(int nID);  // for CDialogControl: tells the host

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    virtual void OnOK();
    virtual void OnCancel();
    virtual BOOL OnCommand(UINT nID, UINT nCode);  // IDOK: OnOK; IDCANCEL: OnCancel
    virtual void OnTimer(UINT_PTR /*nIDEvent*/) {}
    // Window messages: WM_COMMAND and WM_TIMER go to OnCommand and OnTimer; others give 0.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Sees key presses first; TRUE swallows one.
    virtual BOOL PreTranslateMessage(const WindowMessage& /*msg*/) { return FALSE; }
    virtual void PostNcDestroy() {}
    // Applies the dialog-init items of this identifier from the template's module:
    // strings added to list and combo boxes. FALSE when they cannot be read or name a
    // control that is not there or not of that kind.
    BOOL ExecuteDlgInit(UINT nIDResource);

private:
    struct Pending;
    struct Timers;
    bool Build(UINT nIDTemplate);
    void Dispatch(Pending& p);
    void RunTimers(Timers& timers);
    void StopTimers();
    void Notify(int nID);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    HINSTANCE m_hResourceModule = nullptr;
    DialogTemplate m_template;
    std::vector<std::unique_ptr<CDialogControl>> m_controls;
    CString m_strCaption;
    CString m_strCreateError;
    CRect m_rectWindow;
    bool m_bVisible = false;
    bool m_bCreated = false;
    bool m_bEnded = false;
    int m_nResult = 0;
    std::thread::id m_owner;

    std::mutex m_mutex;  // the queue, m_bAccepting, m_owner
    std::condition_variable m_cv;
    std::deque<std::shared_ptr<Pending>> m_queue;
    bool m_bAccepting = false;
    std::unique_ptr<Timers> m_timers;
};

// Dialog data exchange: DoDataExchange calls DDX_... once per field; each moves the
// value one way, by m_bSaveAndValidate. A field that does not validate calls Fail.
class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, BOOL bSaveAndValidate) : m_pDlgWnd(pDlgWnd), m_bSaveAndValidate(bSaveAndValidate) {}
    // The control; a missing one throws CResourceException.
    CDialogControl& PrepareCtrl(int nIDC);
    [[noreturn]] void Fail();

    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
void DDX_LBIndex(CDataExchange* pDX, int nIDC, int& index);
// Binds a member to the control (both directions give the same control).
void DDX_Control(CDataExchange* pDX, int nIDC, CDialogControl*& pControl);

#include "framework/Dialog.h"

#include <algorithm>
#include <chrono>

#include "framework/Exceptions.h"
#include "framework/MessageBox.h"
#include "framework/Sync.h"

namespace {

std::mutex g_hostMutex;
std::shared_ptr<IDialogHost>& Host()
{
    static std::shared_ptr<IDialogHost> host;
    return host;
}

// a * b / c rounded to the nearest, halves away from zero.
LONG MulDiv(LONG a, LONG b, LONG c)
{
    const int64_t p = static_cast<int64_t>(a) * b;
    return static_cast<LONG>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

constexpr LONG kBaseUnitX = 6;
constexpr LONG kBaseUnitY = 13;

}  // namespace

std::shared_ptr<IDialogHost> SetDialogHost(std::shared_ptr<IDialogHost> host)
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    std::swap(Host(), host);
    return host;
}

std::shared_ptr<IDialogHost> GetDialogHost()
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    return Host();
}

// ---- controls ----

CDialogControl::CDialogControl(CDialog& dialog, const DialogItemTemplate& item)
    : m_dialog(dialog),
      m_nID(item.nID),
      m_kind(GetControlKind(item)),
      m_dwStyle(item.dwStyle),
      m_rect{item.x, item.y, item.x + item.cx, item.y + item.cy},
      m_windowClass(item.windowClass),
      m_title(item.title),
      m_strText(item.title.IsOrdinal() ? CString() : item.title.GetName())
{
}

void CDialogControl::Changed()
{
    m_dialog.ControlChanged(m_nID);
}

void CDialogControl::SetWindowText(const CString& text)
{
    m_strText = text;
    Changed();
}

void CDialogControl::EnableWindow(bool enable)
{
    ModifyStyle(enable ? WS_DISABLED : 0, enable ? 0 : WS_DISABLED);
}

void CDialogControl::ShowWindow(int nCmdShow)
{
    ModifyStyle(nCmdShow == SW_HIDE ? WS_VISIBLE : 0, nCmdShow == SW_HIDE ? 0 : WS_VISIBLE);
}

void CDialogControl::ModifyStyle(DWORD remove, DWORD add)
{
    m_dwStyle = (m_dwStyle & ~remove) | add;
    m_kind = GetControlKind(m_windowClass, m_dwStyle);
    Changed();
}

void CDialogControl::SetCheck(int nCheck)
{
    m_nCheck = nCheck;
    Changed();
}

int CDialogControl::AddString(const CString& text)
{
    size_t pos = m_items.size();
    if (HasFlag(ControlFlag::sorted)) {
        pos = 0;
        while (pos < m_items.size() && m_items[pos].text.CompareNoCase(text) <= 0) ++pos;
    }
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(pos), Item{text, false});
    if (m_nCurSel >= static_cast<int>(pos)) ++m_nCurSel;
    Changed();
    return static_cast<int>(pos);
}

int CDialogControl::InsertItem(const CString& text)
{
    m_items.push_back(Item{text, false});
    Changed();
    return GetCount() - 1;
}

CString CDialogControl::GetItemText(int index) const
{
    return index >= 0 && index < GetCount() ? m_items[static_cast<size_t>(index)].text : CString();
}

void CDialogControl::ResetContent()
{
    m_items.clear();
    m_nCurSel = -1;
    Changed();
}

int CDialogControl::SetCurSel(int index)
{
    const bool valid = index >= 0 && index < GetCount();
    m_nCurSel = valid ? index : -1;
    Changed();
    return valid ? index : CB_ERR;
}

bool CDialogControl::GetItemCheck(int index) const
{
    return index >= 0 && index < GetCount() && m_items[static_cast<size_t>(index)].checked;
}

bool CDialogControl::SetItemCheck(int index, bool checked)
{
    if (index < 0 || index >= GetCount()) return false;
    m_items[static_cast<size_t>(index)].checked = checked;
    Changed();
    return true;
}

void CDialogControl::SetRange32(int lower, int upper)
{
    m_nLower = lower;
    m_nUpper = upper;
    m_nPos = std::clamp(m_nPos, lower, std::max(lower, upper));
    Changed();
}

void CDialogControl::GetRange(int& lower, int& upper) const
{
    lower = m_nLower;
    upper = m_nUpper;
}

int CDialogControl::SetPos(int pos)
{
    const int previous = m_nPos;
    m_nPos = std::clamp(pos, m_nLower, std::max(m_nLower, m_nUpper));
    Changed();
    return previous;
}

// ---- the dialog: making, ending, destroying ----

struct CDialog::Pending {
    WindowMessage msg;
    bool sent = false;
    bool done = false;
    LRESULT result = 0;
};

struct CDialog::Timers {
    using Clock = std::chrono::steady_clock;
    struct Timer {
        std::chrono::milliseconds period;
        Clock::time_point due;
    };
    std::mutex mutex;
    std::condition_variable cv;
    std::map<UINT_PTR, Timer> timers;
    bool stop = false;
    std::thread thread;
};

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog()
{
    if (m_bCreated) DestroyWindow();
    StopTimers();
}

bool CDialog::Build(UINT nIDTemplate)
{
    m_nIDTemplate = nIDTemplate;
    m_hResourceModule = AfxFindResourceHandle(MAKEINTRESOURCE(nIDTemplate), RT_DIALOG);
    const HRSRC res = FindResource(m_hResourceModule, MAKEINTRESOURCE(nIDTemplate), RT_DIALOG);
    if (!res) {
        m_strCreateError.Format("dialog template %u is not in the module resources", nIDTemplate);
        return false;
    }
    try {
        m_template = ReadDialogTemplate(LockResource(LoadResource(m_hResourceModule, res)),
                                        SizeofResource(m_hResourceModule, res));
    } catch (const CResourceException& e) {
        m_strCreateError = e.GetErrorMessage();
        return false;
    }
    m_controls.clear();
    for (const DialogItemTemplate& item : m_template.items)
        m_controls.push_back(std::make_unique<CDialogControl>(*this, item));
    m_strCaption = m_template.strCaption;
    m_rectWindow = {m_template.x, m_template.y, m_template.x + m_template.cx, m_template.y + m_template.cy};
    MapDialogRect(m_rectWindow);
    m_bVisible = (m_template.dwStyle & WS_VISIBLE) != 0;
    m_bEnded = false;
    m_nResult = 0;
    m_strCreateError.Empty();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_owner = std::this_thread::get_id();
        m_bAccepting = true;
    }
    m_bCreated = true;
    return true;
}

INT_PTR CDialog::DoModal()
{
    if (!Build(m_nIDTemplate)) return -1;
    OnInitDialog();
    if (m_bCreated && !m_bEnded) {
        if (const auto host = GetDialogHost()) {
            m_bVisible = true;
            host->RunModal(*this);
        }
        if (!m_bEnded) EndDialog(IDCANCEL);
    }
    const int result = m_nResult;
    if (m_bCreated) DestroyWindow();
    return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    if (m_bCreated) return FALSE;
    m_pParentWnd = pParentWnd;
    if (!Build(nIDTemplate)) return FALSE;
    OnInitDialog();
    if (!m_bCreated) return FALSE;
    if (const auto host = GetDialogHost()) host->OnCreated(*this);
    return TRUE;
}

void CDialog::EndDialog(int nResult)
{
    m_nResult = nResult;
    m_bEnded = true;
    m_bVisible = false;
    Notify(0);
}

BOOL CDialog::DestroyWindow()
{
    if (!m_bCreated) return FALSE;
    StopTimers();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bAccepting = false;
        for (auto& p : m_queue) p->done = true;  // a waiting sender gets 0
        m_queue.clear();
        m_cv.notify_all();
    }
    m_bVisible = false;
    if (const auto host = GetDialogHost()) host->OnDestroyed(*this);
    m_bCreated = false;
    PostNcDestroy();
    return TRUE;
}

void CDialog::Notify(int nID)
{
    if (!m_bCreated) return;
    if (const auto host = GetDialogHost()) host->OnChanged(*this, nID);
}

void CDialog::ControlChanged(int nID)
{
    Notify(nID);
}

CDialogControl* CDialog::GetDlgItem(int nID) const
{
    for (const auto& c : m_controls)
        if (c->GetDlgCtrlID() == nID) return c.get();
    return nullptr;
}

void CDialog::SetDlgItemText(int nID, const CString& text)
{
    if (CDialogControl* c = GetDlgItem(nID)) c->SetWindowText(text);
}

CString CDialog::GetDlgItemText(int nID) const
{
    const CDialogControl* c = GetDlgItem(nID);
    return c ? c->GetWindowText() : CString();
}

void CDialog::SetWindowText(const CString& text)
{
    m_strCaption = text;
    Notify(0);
}

void CDialog::ShowWindow(int nCmdShow)
{
    m_bVisible = nCmdShow != SW_HIDE;
    Notify(0);
}

void CDialog::MapDialogRect(CRect& r)
{
    r = {MulDiv(r.left, kBaseUnitX, 4), MulDiv(r.top, kBaseUnitY, 8), MulDiv(r.right, kBaseUnitX, 4),
         MulDiv(r.bottom, kBaseUnitY, 8)};
}

void CDialog::MoveWindow(int x, int y, int nWidth, int nHeight)
{
    m_rectWindow = {x, y, x + nWidth, y + nHeight};
    Notify(0);
}

// ---- initialisation and data exchange ----

BOOL CDialog::OnInitDialog()
{
    if (!ExecuteDlgInit(m_nIDTemplate)) {
        EndDialog(-1);
        return FALSE;
    }
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::ExecuteDlgInit(UINT nIDResource)
{
    const HRSRC res = FindResource(m_hResourceModule, MAKEINTRESOURCE(nIDResource), RT_DLGINIT);
    if (!res) return TRUE;
    std::vector<DialogInitItem> items;
    try {
        items =
            ReadDialogInit(LockResource(LoadResource(m_hResourceModule, res)), SizeofResource(m_hResourceModule, res));
    } catch (const CResourceException&) {
        return FALSE;
    }
    for (const DialogInitItem& item : items) {
        CDialogControl* c = GetDlgItem(item.nControlId);
        if (!c) return FALSE;
        const ControlKind kind = c->GetKind();
        if (item.nMessage == kDlgInitComboBoxAddString || item.nMessage == kDlgInitListBoxAddString) {
            const bool combo = item.nMessage == kDlgInitComboBoxAddString;
            if (kind != (combo ? ControlKind::comboBox : ControlKind::listBox)) return FALSE;
            c->AddString(item.Text());
        }
    }
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const CUserException&) {
        return FALSE;
    }
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCommand(UINT nID, UINT nCode)
{
    if (nCode != BN_CLICKED) return FALSE;
    if (nID == static_cast<UINT>(IDOK)) {
        OnOK();
        return TRUE;
    }
    if (nID == static_cast<UINT>(IDCANCEL)) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    if (message == WM_COMMAND)
        return OnCommand(static_cast<UINT>(wParam & 0xFFFF), static_cast<UINT>(wParam >> 16 & 0xFFFF));
    if (message == WM_TIMER) OnTimer(wParam);
    return 0;
}

CDialogControl& CDataExchange::PrepareCtrl(int nIDC)
{
    if (CDialogControl* c = m_pDlgWnd->GetDlgItem(nIDC)) return *c;
    CString text;
    text.Format("dialog %u has no control %d", m_pDlgWnd->GetTemplateID(), nIDC);
    throw CResourceException(text);
}

void CDataExchange::Fail()
{
    throw CUserException();
}

namespace {
// Moves a value between a member and a control, the way the exchange runs.
template <typename T, typename Get, typename Set>
void Exchange(CDataExchange* pDX, int nIDC, T& value, Get get, Set set)
{
    CDialogControl& c = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = (c.*get)();
    else
        (c.*set)(value);
}
}  // namespace

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    Exchange(pDX, nIDC, value, &CDialogControl::GetWindowText, &CDialogControl::SetWindowText);
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    Exchange(pDX, nIDC, value, &CDialogControl::GetCheck, &CDialogControl::SetCheck);
}

void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    Exchange(pDX, nIDC, index, &CDialogControl::GetCurSel, &CDialogControl::SetCurSel);
}

void DDX_LBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    DDX_CBIndex(pDX, nIDC, index);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CDialogControl*& pControl)
{
    pControl = &pDX->PrepareCtrl(nIDC);
}

// ---- the user's actions ----

bool CDialog::Click(int nID)
{
    CDialogControl* c = GetDlgItem(nID);
    if (!c || !c->IsWindowEnabled()) return false;
    const ControlKind kind = c->GetKind();
    const bool autoCheck = c->HasFlag(ControlFlag::autoCheck);
    if (kind == ControlKind::checkBox) {
        if (autoCheck) c->SetCheck(c->GetCheck() == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    } else if (kind == ControlKind::radioButton) {
        if (autoCheck) {
            // The group: from the control that starts it up to the next one that starts one.
            const auto self =
                std::find_if(m_controls.begin(), m_controls.end(), [c](const auto& p) { return p.get() == c; });
            auto first = self;
            while (first != m_controls.begin() && !(*first)->HasFlag(ControlFlag::group)) --first;
            auto last = self + 1;
            while (last != m_controls.end() && !(*last)->HasFlag(ControlFlag::group)) ++last;
            for (auto it = first; it != last; ++it)
                if ((*it)->GetKind() == ControlKind::radioButton && it != self) (*it)->SetCheck(BST_UNCHECKED);
            c->SetCheck(BST_CHECKED);
        }
    } else if (kind != ControlKind::pushButton) {
        return false;
    }
    OnCommand(static_cast<UINT>(nID), BN_CLICKED);
    return true;
}

bool CDialog::SelectItem(int nID, int index)
{
    CDialogControl* c = GetDlgItem(nID);
    if (!c || !c->IsWindowEnabled() || index < 0 || index >= c->GetCount()) return false;
    if (c->GetKind() != ControlKind::listBox && c->GetKind() != ControlKind::comboBox) return false;
    c->SetCurSel(index);
    OnCommand(static_cast<UINT>(nID), c->GetKind() == ControlKind::listBox ? LBN_SELCHANGE : CBN_SELCHANGE);
    return true;
}

bool CDialog::ToggleItemCheck(int nID, int index)
{
    CDialogControl* c = GetDlgItem(nID);
    if (!c || !c->IsWindowEnabled() || !c->HasFlag(ControlFlag::checkBoxes)) return false;
    if (!c->SetItemCheck(index, !c->GetItemCheck(index))) return false;
    OnCommand(static_cast<UINT>(nID), TVN_ITEMCHECKED);
    return true;
}

bool CDialog::EnterText(int nID, const CString& text)
{
    CDialogControl* c = GetDlgItem(nID);
    if (!c || c->GetKind() != ControlKind::edit || !c->IsWindowEnabled() || c->HasFlag(ControlFlag::readOnly))
        return false;
    if (c->HasFlag(ControlFlag::numeric) &&
        !std::all_of(text.str().begin(), text.str().end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return false;
    c->SetWindowText(text);
    OnCommand(static_cast<UINT>(nID), EN_CHANGE);
    return true;
}

void CDialog::PressKey(WPARAM vk)
{
    if (PreTranslateMessage(WindowMessage{WM_KEYDOWN, vk, 0})) return;
    if (vk == VK_ESCAPE) {
        OnCommand(static_cast<UINT>(IDCANCEL), BN_CLICKED);
    } else if (vk == VK_RETURN) {
        int id = IDOK;
        for (const auto& c : m_controls)
            if (c->HasFlag(ControlFlag::defaultButton)) {
                id = c->GetDlgCtrlID();
                break;
            }
        const CDialogControl* button = GetDlgItem(id);
        if (!button || button->IsWindowEnabled()) OnCommand(static_cast<UINT>(id), BN_CLICKED);
    }
}

// ---- messages and timers ----

bool CDialog::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bAccepting) return false;
        if (message == WM_TIMER) {  // one tick of a timer waits at a time
            for (const auto& p : m_queue)
                if (p->msg.message == WM_TIMER && p->msg.wParam == wParam) return true;
        }
        auto p = std::make_shared<Pending>();
        p->msg = {message, wParam, lParam};
        m_queue.push_back(std::move(p));
        m_cv.notify_all();
    }
    if (const auto host = GetDialogHost()) host->OnPosted(*this);
    return true;
}

LRESULT CDialog::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    auto p = std::make_shared<Pending>();
    p->msg = {message, wParam, lParam};
    p->sent = true;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool own = std::this_thread::get_id() == m_owner || m_owner == std::thread::id();
        if (own) {
            lock.unlock();
            return WindowProc(message, wParam, lParam);
        }
        if (!m_bAccepting) return 0;
        m_queue.push_back(p);
        m_cv.notify_all();
    }
    if (const auto host = GetDialogHost()) host->OnPosted(*this);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [&] { return p->done; });
    return p->result;
}

bool CDialog::PumpMessage(DWORD ms)
{
    std::shared_ptr<Pending> p;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A window that is gone has nothing more to come: no waiting for it.
        WaitUntilReady(m_cv, lock, ms, [this] { return !m_queue.empty() || !m_bAccepting; });
        if (m_queue.empty()) return false;
        p = m_queue.front();
        m_queue.pop_front();
    }
    Dispatch(*p);
    return true;
}

void CDialog::Dispatch(Pending& p)
{
    const LRESULT result = WindowProc(p.msg.message, p.msg.wParam, p.msg.lParam);
    if (!p.sent) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    p.result = result;
    p.done = true;
    m_cv.notify_all();
}

UINT_PTR CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapse)
{
    if (!m_bCreated || nIDEvent == 0) return 0;
    if (!m_timers) {
        m_timers = std::make_unique<Timers>();
        m_timers->thread = std::thread([this, t = m_timers.get()] { RunTimers(*t); });
    }
    std::lock_guard<std::mutex> lock(m_timers->mutex);
    const auto period = std::chrono::milliseconds(std::max<UINT>(nElapse, 1));
    m_timers->timers[nIDEvent] = {period, Timers::Clock::now() + period};
    m_timers->cv.notify_all();
    return nIDEvent;
}

void CDialog::RunTimers(Timers& t)
{
    std::unique_lock<std::mutex> lock(t.mutex);
    while (!t.stop) {
        if (t.timers.empty()) {
            t.cv.wait(lock);
            continue;
        }
        const auto next = std::min_element(t.timers.begin(), t.timers.end(),
                                           [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
        const auto due = next->second.due;  // a copy: KillTimer may remove the timer while this waits
        if (t.cv.wait_until(lock, due) == std::cv_status::no_timeout) continue;
        std::vector<UINT_PTR> fired;
        const auto now = Timers::Clock::now();
        for (auto& [id, timer] : t.timers)
            if (timer.due <= now) {
                fired.push_back(id);
                timer.due = now + timer.period;
            }
        lock.unlock();
        for (UINT_PTR id : fired) CDialog::PostMessage(WM_TIMER, id, 0);  // not virtual: may run during destruction
        lock.lock();
    }
}

BOOL CDialog::KillTimer(UINT_PTR nIDEvent)
{
    if (!m_timers) return FALSE;
    std::lock_guard<std::mutex> lock(m_timers->mutex);
    const bool found = m_timers->timers.erase(nIDEvent) != 0;
    m_timers->cv.notify_all();
    return found;
}

void CDialog::StopTimers()
{
    if (!m_timers) return;
    {
        std::lock_guard<std::mutex> lock(m_timers->mutex);
        m_timers->stop = true;
        m_timers->cv.notify_all();
    }
    m_timers->thread.join();
    m_timers.reset();
}

#include "convert/LogConvertProgressWnd.h"

#include <algorithm>
#include <climits>

#include "resources/resource.h"

namespace {
// The window's right edge stays this far inside the main window's client width.
constexpr LONG kRightMargin = 20;
}  // namespace

CLogConvertProgressWnd::CLogConvertProgressWnd() : CDialog(IDD_CONVERT_PROGRESS) {}

void CLogConvertProgressWnd::SetProgressSize(ULONGLONG nSize)
{
    m_nShift = 0;
    while ((nSize >> m_nShift) > static_cast<ULONGLONG>(INT_MAX)) ++m_nShift;
    m_nRange = static_cast<int>(nSize >> m_nShift);
}

void CLogConvertProgressWnd::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_CONVERT_BAR, m_pBar);
    DDX_Text(pDX, IDC_CONVERT_TEXT, m_strText);
}

BOOL CLogConvertProgressWnd::OnInitDialog()
{
    if (!CDialog::OnInitDialog()) return FALSE;
    m_pBar->SetRange32(0, m_nRange);
    PlaceAtMainWindowCorner();
    SetWindowText(m_strText);
    return TRUE;
}

// Right edge 20 pixels inside the main window's client width, bottom on its client
// height (the client size taken as coordinates, the main window's place not added), at
// the window's own client size. With no main window the window goes to 0,0.
void CLogConvertProgressWnd::PlaceAtMainWindowCorner()
{
    CRect own;
    GetClientRect(own);
    const CWnd* main = AfxGetMainWnd();
    if (!main) {
        MoveWindow(0, 0, own.Width(), own.Height());
        return;
    }
    CRect client;
    main->GetClientRect(client);
    MoveWindow(client.Width() - kRightMargin - own.Width(), client.Height() - own.Height(), own.Width(), own.Height());
}

LRESULT CLogConvertProgressWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CONVERT_PROGRESS) {
        const ULONGLONG position = lParam > 0 ? static_cast<ULONGLONG>(lParam) : 0;
        if (m_pBar) m_pBar->SetPos(static_cast<int>(std::min<ULONGLONG>(position >> m_nShift, INT_MAX)));
        return 0;
    }
    if (message == WM_CONVERT_END) {
        DestroyWindow();
        return 0;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

BOOL CLogConvertProgressWnd::PreTranslateMessage(const WindowMessage& msg)
{
    return msg.message == WM_KEYDOWN;
}

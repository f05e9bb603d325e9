#include "convert/ChangePageProgressDlg.h"

#include <algorithm>
#include <cstdint>

#include "convert/UseModuleResources.h"
#include "resources/resource.h"

CChangePageProgressDlg::CChangePageProgressDlg(const CString& strTitle, CWnd* pParent)
    : CDialog(IDD_PROCESSING, pParent), m_strTitle(strTitle)
{
}

CChangePageProgressDlg::~CChangePageProgressDlg()
{
    KillTimer(kStepTimer);
    EndDialog(0);
    DestroyWindow();
}

int CChangePageProgressDlg::CreateMe(CChangePageProgressDlg* pDlg, CWnd* pParent)
{
    UseModuleResources resources;
    return pDlg->Create(IDD_PROCESSING, pParent);
}

void CChangePageProgressDlg::SetProgressSize(int nSize)
{
    m_nRange = std::max(nSize, 1);
}

void CChangePageProgressDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_PROCESSING_BAR, m_pBar);
}

BOOL CChangePageProgressDlg::OnInitDialog()
{
    UseModuleResources resources;
    if (!CDialog::OnInitDialog()) return FALSE;
    // The bar takes a 16-bit range.
    m_pBar->SetRange(0, static_cast<short>(std::min(m_nRange, static_cast<int>(INT16_MAX))));
    SetTimer(kStepTimer, kStepPeriodMs);
    if (!m_strTitle.IsEmpty()) SetWindowText(m_strTitle);
    CentreOnMainWindow();
    return TRUE;
}

// Centred on the main window's client size, the window's size unchanged; with no main
// window it stays where it is.
void CChangePageProgressDlg::CentreOnMainWindow()
{
    const CWnd* main = AfxGetMainWnd();
    if (!main) return;
    CRect client, own;
    main->GetClientRect(client);
    GetWindowRect(own);
    MoveWindow((client.Width() - own.Width()) / 2, (client.Height() - own.Height()) / 2, own.Width(), own.Height());
}

void CChangePageProgressDlg::StepItUp(int /*nUnused*/)
{
    if (!m_pBar) return;
    m_pBar->SetPos(m_pBar->GetPos() % m_nRange + 1);
}

void CChangePageProgressDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kStepTimer) StepItUp(0);
    CDialog::OnTimer(nIDEvent);
}

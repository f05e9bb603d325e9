#pragma once
// CChangePageProgressDlg (exported): the cycling "busy" dialog IDD_PROCESSING, for work
// whose length is not known (a batch of SD-card imports, the host's page changes). Its
// bar runs through 1..m_nRange over and over: one step every 100 ms on its own timer,
// and one more with every StepItUp. The dialog is visible in its template, so it shows
// as soon as CreateMe has made it; deleting the object ends it.
#include "framework/Dialog.h"

class CChangePageProgressDlg : public CDialog {
public:
    static constexpr UINT_PTR kStepTimer = 1;
    static constexpr UINT kStepPeriodMs = 100;

    // An empty caption keeps the template's.
    explicit CChangePageProgressDlg(const CString& strTitle, CWnd* pParent = nullptr);
    ~CChangePageProgressDlg() override;

    // Makes the modeless dialog from this module's resources; non-zero when it was made.
    static int CreateMe(CChangePageProgressDlg* pDlg, CWnd* pParent);
    // One step of the cycle (the argument is not used).
    void StepItUp(int nUnused);
    // Steps of one cycle; below 1 taken as 1 (the step divides by it).
    void SetProgressSize(int nSize);

    CString m_strTitle;
    int m_nRange = 10;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnTimer(UINT_PTR nIDEvent) override;

private:
    void CentreOnMainWindow();
    CDialogControl* m_pBar = nullptr;
};

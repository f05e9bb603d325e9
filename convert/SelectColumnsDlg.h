#pragma once
// CSelectColumnsDlg: the column dialog IDD_SELECT_COLUMNS of an asynchronous readable
// export. It edits a converter's column selection and index range:
//   - the sort combo orders the tree by the viewer's order or alphabetically (the
//     setting "Logger Settings" / "Column Selection Order" remembers which);
//   - the check-box tree offers "Index" first, then every column of the host's column
//     table except "Symbol", marked when the converter's selection holds it;
//   - the two index edits give the first and last message index ("0" and "0": all);
//   - Check All / Uncheck All mark every item; Save stores the range at once, refuses a
//     last index below the first, and otherwise replaces the selection with the marked
//     items in tree order and ends with IDOK.
// Its controls, caption and texts come from the template alone; DoModal shows it through
// the installed dialog host (framework/Dialog.h).
#include <cstdint>

#include "framework/Dialog.h"

class CLogFileConverter;

class CSelectColumnsDlg : public CDialog {
public:
    explicit CSelectColumnsDlg(CLogFileConverter* pConverter, CWnd* pParent = nullptr);

    // A typed index: signed 64-bit decimal, leading blanks and a sign allowed, read up to
    // the first other character; no digits give 0.
    static int64_t ParseIndex(const CString& text);

    int m_nSortOrder;  // 0: as the viewer orders them, 1: alphabetically
    CString m_strFromIndex = "0";
    CString m_strToIndex = "0";
    CLogFileConverter* m_pConverter;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnCommand(UINT nID, UINT nCode) override;
    void OnOK() override;

private:
    void FillTree();
    void CheckAll(bool checked);
    CDialogControl* m_pTree = nullptr;
};

#include "convert/SelectColumnsDlg.h"

#include <algorithm>
#include <cstdlib>

#include "convert/ConvertTexts.h"
#include "convert/LogFileConverter.h"
#include "framework/MessageBox.h"
#include "framework/ResourceTemplates.h"
#include "platform/ColumnsRecordset.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"
#include "resources/resource.h"

namespace {
constexpr const char* kSortByIndex = "ColumnIndex";
constexpr const char* kSortByName = "ColumnName";
constexpr const char* kNeverOffered = "Symbol";
}  // namespace

CSelectColumnsDlg::CSelectColumnsDlg(CLogFileConverter* pConverter, CWnd* pParent)
    : CDialog(IDD_SELECT_COLUMNS, pParent),
      m_nSortOrder(
          GetSettingInt(GetSettingsStore(), SettingsKeys::kLoggerSettings, SettingsKeys::kColumnSelectionOrder, 0)),
      m_pConverter(pConverter)
{
}

int64_t CSelectColumnsDlg::ParseIndex(const CString& text)
{
    return std::strtoll(text.c_str(), nullptr, 10);
}

void CSelectColumnsDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_COLUMNS_TREE, m_pTree);
    DDX_CBIndex(pDX, IDC_COLUMNS_SORT_ORDER, m_nSortOrder);
    DDX_Text(pDX, IDC_COLUMNS_FROM_INDEX, m_strFromIndex);
    DDX_Text(pDX, IDC_COLUMNS_TO_INDEX, m_strToIndex);
}

BOOL CSelectColumnsDlg::OnInitDialog()
{
    if (!CDialog::OnInitDialog()) return FALSE;
    // The check boxes show once the style is switched off and on again.
    m_pTree->ModifyStyle(TVS_CHECKBOXES, 0);
    m_pTree->ModifyStyle(0, TVS_CHECKBOXES);
    FillTree();
    return TRUE;
}

// The tree from the host's column table, in the chosen order, marked from the
// converter's selection.
void CSelectColumnsDlg::FillTree()
{
    m_pTree->DeleteAllItems();
    CColumnsRecordset columns;
    try {
        columns.Open(m_nSortOrder == 1 ? kSortByName : kSortByIndex);
    } catch (const CException&) {
        AfxMessageBox(ConvertTexts::kDatabaseError);
        return;
    }
    const std::vector<CString>& selected = m_pConverter->m_astrColumns;
    const bool indexFirst = !selected.empty() && selected.front() == CConverterState::kColumnIndex;
    m_pTree->SetItemCheck(m_pTree->InsertItem(CConverterState::kColumnIndex), indexFirst);
    for (; !columns.IsEOF(); columns.MoveNext()) {
        const CString& name = columns.m_strColumnName;
        if (name == kNeverOffered || name == CConverterState::kColumnIndex) continue;
        const bool marked = std::find(selected.begin(), selected.end(), name) != selected.end();
        m_pTree->SetItemCheck(m_pTree->InsertItem(name), marked);
    }
}

void CSelectColumnsDlg::CheckAll(bool checked)
{
    for (int i = 0; i < m_pTree->GetCount(); ++i) m_pTree->SetItemCheck(i, checked);
}

BOOL CSelectColumnsDlg::OnCommand(UINT nID, UINT nCode)
{
    switch (nID) {
        case IDC_COLUMNS_SORT_ORDER:
            if (nCode != CBN_SELCHANGE) return FALSE;
            // The marks come from the converter's selection again: marks changed here are lost.
            UpdateData(TRUE);
            FillTree();
            return TRUE;
        case IDC_COLUMNS_CHECK_ALL:
        case IDC_COLUMNS_UNCHECK_ALL:
            if (nCode != BN_CLICKED) return FALSE;
            CheckAll(nID == IDC_COLUMNS_CHECK_ALL);
            return TRUE;
        default:
            return CDialog::OnCommand(nID, nCode);
    }
}

// Save.
void CSelectColumnsDlg::OnOK()
{
    if (!UpdateData(TRUE)) return;
    CLogFileConverter& conv = *m_pConverter;
    conv.m_nFromIndex = static_cast<uint64_t>(ParseIndex(m_strFromIndex));
    conv.m_nToIndex = static_cast<uint64_t>(ParseIndex(m_strToIndex));
    if (conv.m_nToIndex < conv.m_nFromIndex) {
        AfxMessageBox(ConvertTexts::kRangeError);
        return;
    }
    conv.m_astrColumns.clear();
    for (int i = 0; i < m_pTree->GetCount(); ++i)
        if (m_pTree->GetItemCheck(i)) conv.m_astrColumns.push_back(m_pTree->GetItemText(i));
    WriteSettingInt(GetSettingsStore(), SettingsKeys::kLoggerSettings, SettingsKeys::kColumnSelectionOrder,
                    m_nSortOrder);
    EndDialog(IDOK);
}

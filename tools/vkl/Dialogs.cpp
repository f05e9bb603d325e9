#include "tools/vkl/Dialogs.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "framework/MessageBox.h"
#include "resources/resource.h"

namespace vkl {
namespace {

// Controls whose tops lie within this many dialog units share a row.
constexpr LONG kRowSlack = 6;

std::string ControlText(const CDialogControl& c)
{
    switch (c.GetKind()) {
        case ControlKind::staticText:
            return c.GetWindowText().str();
        case ControlKind::comboBox:
            return "<" + c.GetItemText(c.GetCurSel()).str() + ">";
        case ControlKind::edit:
        case ControlKind::pushButton:
            return "[" + c.GetWindowText().str() + "]";
        case ControlKind::treeView: {
            std::string items;
            for (int i = 0; i < c.GetCount(); ++i)
                items +=
                    "\n  " + std::to_string(i + 1) + (c.GetItemCheck(i) ? " [x] " : " [ ] ") + c.GetItemText(i).str();
            return items.empty() ? items : items + "\n";
        }
        default:
            return c.GetWindowText().str();
    }
}

CDialogControl* FirstOfKind(const CDialog& dlg, ControlKind kind)
{
    for (const auto& c : dlg.GetControls())
        if (c->GetKind() == kind) return c.get();
    return nullptr;
}

std::vector<std::string> Items(const CDialogControl* c)
{
    std::vector<std::string> items;
    for (int i = 0; c && i < c->GetCount(); ++i) items.push_back(c->GetItemText(i).str());
    return items;
}

}  // namespace

std::string RenderDialog(const CDialog& dlg)
{
    std::vector<const CDialogControl*> controls;
    for (const auto& c : dlg.GetControls()) controls.push_back(c.get());
    std::stable_sort(controls.begin(), controls.end(), [](const CDialogControl* a, const CDialogControl* b) {
        return a->GetDialogUnitRect().top < b->GetDialogUnitRect().top;
    });
    std::ostringstream out;
    out << dlg.GetWindowText() << "\n";
    for (size_t first = 0; first < controls.size();) {
        const LONG top = controls[first]->GetDialogUnitRect().top;
        size_t end = first;
        while (end < controls.size() && controls[end]->GetDialogUnitRect().top - top <= kRowSlack) ++end;
        std::vector<const CDialogControl*> row(controls.begin() + static_cast<std::ptrdiff_t>(first),
                                               controls.begin() + static_cast<std::ptrdiff_t>(end));
        std::sort(row.begin(), row.end(), [](const CDialogControl* a, const CDialogControl* b) {
            return a->GetDialogUnitRect().left < b->GetDialogUnitRect().left;
        });
        std::string line;
        for (const CDialogControl* c : row) {
            const std::string text = ControlText(*c);
            if (text.empty()) continue;
            if (!line.empty() && line.back() != '\n') line += ' ';
            line += text;
        }
        if (!line.empty()) out << line << (line.back() == '\n' ? "" : "\n");
        first = end;
    }
    return out.str();
}

void DialogRunner::RunModal(CDialog& dlg)
{
    m_ending = Ending::cancelled;
    if (dlg.GetTemplateID() == IDD_SELECT_COLUMNS) AnswerColumns(dlg);
    m_tree = Items(FirstOfKind(dlg, ControlKind::treeView));
    if (!dlg.IsEnded()) {
        if (m_ending == Ending::saved) m_ending = Ending::refused;  // Save did not end it
        dlg.Click(IDCANCEL);
    }
}

// The column dialog from the flags: sort order, marks, index edits, then Save.
void DialogRunner::AnswerColumns(CDialog& dlg)
{
    if (m_answers.sortOrder) dlg.SelectItem(IDC_COLUMNS_SORT_ORDER, *m_answers.sortOrder);
    if (m_listOnly) return;
    if (m_answers.columns) {
        if (!MarkColumns(dlg, *m_answers.columns)) return;
    } else if (m_answers.prompt) {
        Prompt(dlg);
        return;
    } else {
        dlg.Click(IDC_COLUMNS_CHECK_ALL);
    }
    // Typed into the edits as they are, as a paste would put them there.
    if (m_answers.from) dlg.GetDlgItem(IDC_COLUMNS_FROM_INDEX)->SetWindowText(m_answers.from->c_str());
    if (m_answers.to) dlg.GetDlgItem(IDC_COLUMNS_TO_INDEX)->SetWindowText(m_answers.to->c_str());
    m_ending = Ending::saved;
    dlg.Click(IDOK);
}

bool DialogRunner::MarkColumns(CDialog& dlg, const std::vector<std::string>& names)
{
    dlg.Click(IDC_COLUMNS_UNCHECK_ALL);
    const std::vector<std::string> offered = Items(dlg.GetDlgItem(IDC_COLUMNS_TREE));
    for (const std::string& name : names) {
        const auto it = std::find(offered.begin(), offered.end(), name);
        if (it == offered.end()) {
            m_ending = Ending::unknownColumn;
            m_unknownColumn = name;
            return false;
        }
        const int index = static_cast<int>(it - offered.begin());
        if (!dlg.GetDlgItem(IDC_COLUMNS_TREE)->GetItemCheck(index)) dlg.ToggleItemCheck(IDC_COLUMNS_TREE, index);
    }
    return true;
}

// The column dialog on the terminal: drawn from its template, answered line by line.
void DialogRunner::Prompt(CDialog& dlg)
{
    auto text = [&](int id) { return dlg.GetDlgItemText(id).str(); };
    const CDialogControl* sort = dlg.GetDlgItem(IDC_COLUMNS_SORT_ORDER);
    const std::string help = "item numbers toggle marks; a: " + text(IDC_COLUMNS_CHECK_ALL) +
                             ", u: " + text(IDC_COLUMNS_UNCHECK_ALL) +
                             ", o: next order, f N / t N: index edits, Enter: " + text(IDOK) + ", c: " + text(IDCANCEL);
    std::string line;
    while (!dlg.IsEnded()) {
        std::fprintf(stderr, "%s%s\n> ", RenderDialog(dlg).c_str(), help.c_str());
        std::fflush(stderr);
        if (!std::getline(std::cin, line) || line == "c") {
            dlg.Click(IDCANCEL);
            return;
        }
        std::istringstream words(line);
        std::string word;
        if (!(words >> word)) {
            m_ending = Ending::saved;
            dlg.Click(IDOK);
            if (!dlg.IsEnded()) m_ending = Ending::cancelled;  // the box said why; ask again
            continue;
        }
        std::string value;
        if (word == "a") dlg.Click(IDC_COLUMNS_CHECK_ALL);
        if (word == "u") dlg.Click(IDC_COLUMNS_UNCHECK_ALL);
        if (word == "o" && sort) dlg.SelectItem(IDC_COLUMNS_SORT_ORDER, (sort->GetCurSel() + 1) % sort->GetCount());
        if ((word == "f" || word == "t") && words >> value)
            dlg.GetDlgItem(word == "f" ? IDC_COLUMNS_FROM_INDEX : IDC_COLUMNS_TO_INDEX)->SetWindowText(value.c_str());
        for (std::istringstream numbers(line); numbers >> word;)
            if (word.find_first_not_of("0123456789") == std::string::npos)
                dlg.ToggleItemCheck(IDC_COLUMNS_TREE, std::atoi(word.c_str()) - 1);
    }
}

void DialogRunner::OnCreated(CDialog& dlg)
{
    m_windows.push_back(&dlg);
    for (const auto& c : dlg.GetControls())
        if (c->GetKind() == ControlKind::progressBar) {
            int lower = 0, upper = 0;
            c->GetRange(lower, upper);
            m_progress =
                std::make_unique<Progress>(dlg.GetWindowText().str(), static_cast<uint64_t>(std::max(upper, 0)));
        }
}

void DialogRunner::OnDestroyed(CDialog& dlg)
{
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), &dlg), m_windows.end());
    if (m_progress) m_progress->Finish();
    m_progress.reset();
}

void DialogRunner::OnChanged(CDialog& dlg, int nID)
{
    const CDialogControl* c = nID ? dlg.GetDlgItem(nID) : nullptr;
    if (m_progress && c && c->GetKind() == ControlKind::progressBar)
        m_progress->Update(static_cast<uint64_t>(c->GetPos()));
}

void DialogRunner::OnPosted(CDialog& /*dlg*/)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_posted = true;
    m_cv.notify_all();
}

void DialogRunner::Pump(DWORD ms)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_posted; });
        m_posted = false;
    }
    const std::vector<CDialog*> windows = m_windows;  // a message may destroy its window
    for (CDialog* w : windows)
        while (std::find(m_windows.begin(), m_windows.end(), w) != m_windows.end() && w->PumpMessage(0)) {
        }
}

ScopedDialogRunner::ScopedDialogRunner(DialogAnswers answers)
    : m_runner(std::make_shared<DialogRunner>(std::move(answers))), m_previous(SetDialogHost(m_runner))
{
}

ScopedDialogRunner::~ScopedDialogRunner()
{
    SetDialogHost(m_previous);
}

}  // namespace vkl

#pragma once
// vkl's dialog host: the library's dialogs on the command line.
//
// The column dialog is answered from the flags (--columns marks exactly those items,
// --sort picks the order, --from and --to go into the index edits as typed), or with
// Check All; on a terminal, with no --columns, the dialog is drawn from its template
// (caption, labels, numbered tree items, buttons) and the user answers at a prompt.
// Modeless windows with a progress bar (the conversion's progress window) are drawn as a
// progress bar on stderr when it is a terminal; their posted messages are handled by
// Pump on the main thread.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "tools/vkl/Host.h"

namespace vkl {

struct DialogAnswers {
    std::optional<std::vector<std::string>> columns;  // exactly these marked
    std::optional<int> sortOrder;                     // index in the sort combo
    std::optional<std::string> from, to;              // the index edits, as typed
    bool prompt = false;                              // ask on the terminal (no --columns)
};

class DialogRunner : public IDialogHost {
public:
    enum class Ending { saved, cancelled, unknownColumn, refused };

    explicit DialogRunner(DialogAnswers answers) : m_answers(std::move(answers)) {}

    void RunModal(CDialog& dlg) override;
    void OnCreated(CDialog& dlg) override;
    void OnDestroyed(CDialog& dlg) override;
    void OnChanged(CDialog& dlg, int nID) override;
    void OnPosted(CDialog& dlg) override;

    // Handles the messages waiting for the modeless windows, waiting up to `ms` for one.
    void Pump(DWORD ms);

    // How the last modal dialog ended, and the column that was not offered.
    Ending GetEnding() const { return m_ending; }
    const std::string& UnknownColumn() const { return m_unknownColumn; }
    // The column dialog's tree items, as they were when it ended.
    const std::vector<std::string>& TreeItems() const { return m_tree; }
    // Cancel the column dialog after reading its tree (vkl columns).
    void SetListOnly() { m_listOnly = true; }

private:
    void AnswerColumns(CDialog& dlg);
    bool MarkColumns(CDialog& dlg, const std::vector<std::string>& names);
    void Prompt(CDialog& dlg);

    DialogAnswers m_answers;
    Ending m_ending = Ending::cancelled;
    std::string m_unknownColumn;
    std::vector<std::string> m_tree;
    bool m_listOnly = false;

    std::mutex m_mutex;  // m_posted
    std::condition_variable m_cv;
    bool m_posted = false;
    std::vector<CDialog*> m_windows;  // modeless, on the main thread only
    std::unique_ptr<Progress> m_progress;
};

// Installs a runner as the dialog host for the life of the object.
class ScopedDialogRunner {
public:
    explicit ScopedDialogRunner(DialogAnswers answers);
    ~ScopedDialogRunner();
    ScopedDialogRunner(const ScopedDialogRunner&) = delete;
    ScopedDialogRunner& operator=(const ScopedDialogRunner&) = delete;
    DialogRunner& operator*() { return *m_runner; }
    DialogRunner* operator->() { return m_runner.get(); }

private:
    std::shared_ptr<DialogRunner> m_runner;
    std::shared_ptr<IDialogHost> m_previous;
};

// The dialog as text, from its template: the caption, then its controls row by row as
// they lie in it (statics as they read, edits and the combo's choice in brackets, buttons
// as [text], a tree's items numbered with their marks).
std::string RenderDialog(const CDialog& dlg);

}  // namespace vkl

#pragma once
// vkl plays the part of the desktop host: it installs the services the library reaches
// (settings file, home directory, trace output, devices, message bus) and answers the
// library's message boxes, on the terminal or from the --yes / --no flags.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/String.h"
#include "platform/SystemTime.h"

class CDeviceTable;

namespace vkl {

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kInterrupted = 130 };

struct GlobalOptions {
    bool yes = false;
    bool no = false;
    bool quiet = false;
    bool trace = false;
    std::string settingsFile;
    std::string homeDir;
    std::string clock;  // "YYYY-MM-DD hh:mm:ss": the local time stands still there (reproducible runs)
    std::string signalsFile;  // empty: the bundled signal database
};

// "YYYY-MM-DD hh:mm:ss" as a local time, when it is one.
std::optional<CSystemTime> ParseClock(const std::string& text);

// Installs the host services and the message-box handler for this run; false (after an
// error line) when the signal database given cannot be loaded.
bool InstallHost(const GlobalOptions& options);
const GlobalOptions& Options();
std::shared_ptr<CDeviceTable> Devices();

// One line on stderr: "vkl: <text>".
void Error(const std::string& text);
// One line on stdout unless --quiet.
void Say(const std::string& text);
// Message boxes shown so far (the last one's text, for error reports), and how many.
std::string LastMessageBox();
// How many boxes have been shown, and the texts of those after the first `since` that
// were statements rather than questions (each as its one stderr line has it).
size_t MessageBoxCount();
std::vector<std::string> StatementsSince(size_t since);
// With neither --yes nor --no and no terminal, questions are answered No (commands that
// only read their inputs: no script repairs an input by surprise).
void AnswerNoWithoutTerminal();

// Ctrl-C: the first one asks the running command to stop cleanly.
void InstallInterruptHandler();
bool Interrupted();

// A progress bar on stderr, drawn only when stderr is a terminal and not --quiet.
class Progress {
public:
    Progress(std::string label, uint64_t total);
    ~Progress();
    void Update(uint64_t done);
    void SetLabel(std::string label) { m_label = std::move(label); }
    void Finish();

private:
    std::string m_label;
    uint64_t m_total;
    bool m_enabled;
    int m_lastPermille = -1;
};

}  // namespace vkl

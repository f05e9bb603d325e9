// vkl export-gki, vkl import-gki.
#include "tools/vkl/GkiConvert.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

#include "convert/ConversionOutcome.h"
#include "convert/ConvertTexts.h"
#include "convert/LogFileConverter.h"
#include "framework/Launcher.h"
#include "framework/MessageBox.h"
#include "tools/vkl/Dialogs.h"
#include "tools/vkl/Files.h"
#include "tools/vkl/Host.h"

extern char** environ;

namespace vkl {
namespace {

constexpr int kCompletedWithErrors = 3;

struct GkiOptions {
    std::string input, output;
    bool force = false;
    bool openErrors = false;
};

// Runs the user's editor on the error file and waits for it: $VISUAL, else $EDITOR,
// split at blanks into argv (no shell).
bool RunEditor(const std::string& path)
{
    const char* editor = std::getenv("VISUAL");
    if (!editor || !*editor) editor = std::getenv("EDITOR");
    if (!editor || !*editor) {
        Error("--open-errors: neither VISUAL nor EDITOR is set");
        return false;
    }
    std::vector<std::string> words;
    std::istringstream split(editor);
    for (std::string w; split >> w;) words.push_back(w);
    words.push_back(path);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        Error(std::string("--open-errors: cannot start ") + argv[0]);
        return false;
    }
    ::waitpid(pid, nullptr, 0);
    return true;
}

// The launcher vkl installs while a conversion runs: the library asks for Notepad on the
// error file; vkl prints the file's path and lines, or opens it in the user's editor.
ProgramLauncher ErrorFileLauncher(bool openErrors)
{
    return [openErrors](const std::vector<std::string>& argv) {
        if (argv.size() < 2) return false;
        const std::string path = CFile::OsPath(argv[1].c_str());
        if (openErrors) return RunEditor(path);
        std::printf("errors: %s\n", path.c_str());
        std::ifstream file(path);
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::printf("  %s\n", line.c_str());
        }
        return true;
    };
}

// The exit status from the boxes shown since `mark`.
int StatusFrom(size_t mark)
{
    if (Interrupted()) return kInterrupted;
    const std::vector<std::string> said = StatementsSince(mark);
    if (said == std::vector<std::string>{ConvertTexts::kSucceeded}) return kOk;
    if (said.empty() && MessageBoxCount() > mark) return kCompletedWithErrors;  // the question alone
    return kFailed;
}

std::string Plural(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void Summarise(bool toGki, const GkiCounts& c)
{
    std::string line;
    if (toGki) {
        line = Plural(c.read, "message", "messages") + " read, " + Plural(c.written, "record", "records") +
               " written; left out: " + std::to_string(c.otherKind) + " of other kinds, " +
               std::to_string(c.otherType) + " of other types, " + std::to_string(c.notConverted) +
               " not converted";
    } else {
        line = Plural(c.read, "record", "records") + " read, " + Plural(c.written, "message", "messages") +
               " written; " + Plural(c.notConverted, "body", "bodies") + " would not convert (header only)";
        if (c.cutShort) line += "; a last record cut short was dropped";
        if (c.sizeLimit) line += "; stopped at the log size limit";
    }
    if (c.dropped) line += "; " + std::to_string(c.dropped) + " dropped by read errors";
    Say(line);
}

}  // namespace

GkiRun RunGkiConversion(bool toGki, const std::string& in, const std::string& out, bool summary)
{
    GkiRun run;
    const size_t mark = MessageBoxCount();
    ScopedDialogRunner runner(DialogAnswers{});
    CLogFileConverter conv(nullptr);
    CConverterState& s = conv.GetState();
    bool started = true;
    if (toGki) conv.ConvertLogToGKI(in.c_str(), out.c_str());
    else started = conv.ConvertGKILogToVkl(in.c_str(), out.c_str());
    // The launch says why it started nothing in a box (the worker never shows these).
    const std::vector<std::string> said = StatementsSince(mark);
    for (const char* refusal : {ConvertTexts::kOpenLogForReading, ConvertTexts::kOpenLogForWriting})
        if (!said.empty() && said.front() == refusal) started = false;
    if (!started) {
        if (const std::string why = OpenErrorText(toGki ? conv.m_logFile : conv.m_importLog); !why.empty())
            Error((toGki ? in : out) + ": " + why);
        run.status = kFailed;
        return run;
    }
    while (conv.IsConverting() && !Interrupted()) runner->Pump(100);
    // An import shows its outcome after it has ended; wait for that too.
    while (!Interrupted() && !s.m_evWorkerEnded.Wait(100)) runner->Pump(0);
    run.read = s.m_gkiCounts.read;
    run.written = s.m_gkiCounts.written;
    if (summary && !Interrupted()) Summarise(toGki, s.m_gkiCounts);
    run.status = StatusFrom(mark);
    return run;  // Ctrl-C: the converter stops its worker after the record it is on
}

namespace {

// The records of a GKI file, each as its bytes (a record cut short ends the list).
std::vector<std::string> GkiRecords(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string gki((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> records;
    for (size_t at = 0; at + 4 <= gki.size();) {
        const bool logged = gki[at] == '2';
        const size_t lengthAt = at + (logged ? 22 : 14);
        if (lengthAt + 2 > gki.size()) break;
        const size_t size = (logged ? 28 : 20) + (static_cast<uint8_t>(gki[lengthAt]) |
                                                  static_cast<uint8_t>(gki[lengthAt + 1]) << 8);
        if (at + size > gki.size()) break;
        records.push_back(gki.substr(at, size));
        at += size;
    }
    return records;
}

}  // namespace

std::string GkiRoundTrip(const std::string& log, const std::string& dir, std::string& error)
{
    const std::string gki = dir + "/demo.gki", back = dir + "/demo-gki.vkl", again = dir + "/demo-gki.gki";
    // The demo's own boxes are kept off the terminal: each run must say "Conversion Succeeded!" alone.
    std::vector<std::string> said;
    const MessageBoxHandler previous = SetMessageBoxHandler([&said](const MessageBoxRequest& r) {
        said.push_back(r.text.str());
        return (r.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    });
    auto run = [&said](bool toGki, const std::string& from, const std::string& to) {
        said.clear();
        GkiRun r = RunGkiConversion(toGki, from, to, /*summary=*/false);
        r.status = said == std::vector<std::string>{ConvertTexts::kSucceeded} ? kOk : kFailed;
        return r;
    };
    const GkiRun out = run(/*toGki=*/true, log, gki);
    const GkiRun in = out.status == kOk ? run(/*toGki=*/false, gki, back) : GkiRun{kFailed};
    const GkiRun twice = in.status == kOk ? run(/*toGki=*/true, back, again) : GkiRun{kFailed};
    SetMessageBoxHandler(previous);
    if (out.status != kOk || in.status != kOk || twice.status != kOk) {
        error = "the GKI round trip did not complete";
        return {};
    }
    const std::vector<std::string> first = GkiRecords(gki), second = GkiRecords(again);
    size_t logged = 0, same = 0;
    for (size_t i = 0; i < first.size() && i < second.size(); ++i)
        if (first[i][0] == '2') {
            ++logged;
            same += first[i] == second[i];
        }
    if (first.size() != out.written || in.written != out.written || second.size() != first.size() || same != logged)
        error = "the GKI round trip changed records";
    return "GKI: " + std::to_string(out.read) + " messages exported to " + gki + " as " + std::to_string(out.written) +
           " records, imported back into " + back + " as " + std::to_string(in.written) + " messages, exported again: " +
           std::to_string(same) + " of " + std::to_string(logged) + " logged-signal records identical";
}

namespace {

int CmdGkiConvert(bool toGki, GkiOptions o)
{
    if (const std::string why = CheckInputFile(o.input); !why.empty()) {
        Error(why);
        return kFailed;
    }
    if (o.output.empty())
        o.output = std::filesystem::path(o.input).replace_extension(toGki ? ".gki" : ".vkl").string();
    if (Exists(o.output) && SameFile(o.output, o.input)) {
        Error(o.output + ": is the file being converted; choose another -o");
        return kUsage;
    }
    if (const std::string refusal = PrepareOutput(o.output, o.force); !refusal.empty()) {
        Error(refusal);
        return kFailed;
    }
    InstallInterruptHandler();
    const ProgramLauncher previous = SetProgramLauncher(ErrorFileLauncher(o.openErrors));
    const int status = RunGkiConversion(toGki, o.input, o.output).status;
    SetProgramLauncher(previous);
    return status;
}

void AddOne(CLI::App& app, CommandList& out, bool toGki)
{
    auto o = std::make_shared<GkiOptions>();
    auto* c = toGki ? app.add_subcommand("export-gki", "Export the signals of a log file to a GKI log")
                    : app.add_subcommand("import-gki", "Import a GKI log into a new log file");
    c->add_option(toGki ? "LOG" : "GKI", o->input, toGki ? "Log file" : "GKI log")->required();
    c->add_option("-o,--output", o->output, toGki ? "GKI file (default: LOG as .gki)" : "Log file (default: GKI as .vkl)");
    c->add_flag("--force", o->force, "Replace an existing output file");
    c->add_flag("--open-errors", o->openErrors, "On Yes to \"View Errors?\", open the error file in $VISUAL or $EDITOR");
    out.push_back({c, [o, toGki] { return CmdGkiConvert(toGki, *o); }});
}

}  // namespace

void AddGkiConvertCommands(CLI::App& app, CommandList& out)
{
    AddOne(app, out, /*toGki=*/true);
    AddOne(app, out, /*toGki=*/false);
}

}  // namespace vkl

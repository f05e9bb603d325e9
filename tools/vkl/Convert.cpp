// vkl convert, vkl columns: log files to tab-separated text, CSV or an HTML page through
// the library's converter, with its column dialog answered from the command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/ConvertTexts.h"
#include "convert/LogFileConverter.h"
#include "convert/SelectColumnsDlg.h"
#include "convert/UseModuleResources.h"
#include "framework/MessageBox.h"
#include "platform/Filters.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Convert.h"
#include "tools/vkl/Dialogs.h"
#include "tools/vkl/Files.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/StdoutRelay.h"

namespace vkl {
namespace {

struct ConvertOptions {
    std::vector<std::string> files;
    std::string format;  // "text", "csv" or "html"; empty: from OUT's extension
    std::string output;  // "-": standard output
    std::optional<std::string> columns;
    bool allColumns = false;
    std::string sort;  // "viewer" or "alpha"
    std::optional<std::string> from, to;
    bool raw = false, keepCommas = false, sync = false, force = false;
    std::vector<std::string> includeTypes, excludeTypes, includeSignals, excludeSignals;
};

// One file to convert.
struct Job {
    std::string file, out;  // out "-": standard output
    bool csv = false;
    bool html = false;
};

constexpr uint64_t kSignalIdMax = 0xFFFFFFFFull;

std::vector<std::string> SplitList(const std::string& list)
{
    std::vector<std::string> names;
    if (list.empty()) return names;
    for (size_t start = 0;;) {
        const size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return names;
        start = comma + 1;
    }
}

std::optional<int> SortOrder(const std::string& sort)
{
    if (sort.empty()) return std::nullopt;
    return sort == "alpha" ? 1 : 0;
}

bool HasExtension(const std::string& path, const char* ext)
{
    return std::filesystem::path(path).extension() == ext;
}

bool IsHtmlName(const std::string& path)
{
    return path != "-" && (HasExtension(path, ".html") || HasExtension(path, ".htm"));
}

// Whether the page is HTML: by --format, else by OUT's extension.
bool IsHtml(const ConvertOptions& o)
{
    return o.format == "html" || (o.format.empty() && IsHtmlName(o.output));
}

// OUT and the format of a file: OUT's extension decides the format unless --format does;
// OUT defaults to FILE with .txt, .csv or .html.
Job MakeJob(const ConvertOptions& o, const std::string& file)
{
    Job job{file, o.output, o.format == "csv", IsHtml(o)};
    if (o.format.empty()) job.csv = !o.output.empty() && o.output != "-" && HasExtension(o.output, ".csv");
    const char* ext = job.html ? ".html" : job.csv ? ".csv" : ".txt";
    if (job.out.empty()) job.out = std::filesystem::path(file).replace_extension(ext).string();
    return job;
}

// The column dialog's tree, as the dialog offers it, for a run that lists rather than edits.
bool ListColumns(std::optional<int> sortOrder, std::vector<std::string>& items)
{
    const size_t mark = MessageBoxCount();
    DialogAnswers answers;
    answers.sortOrder = sortOrder;
    ScopedDialogRunner runner(answers);
    runner->SetListOnly();
    CLogFileConverter conv(nullptr);
    {
        UseModuleResources resources;
        CSelectColumnsDlg(&conv).DoModal();
    }
    items = runner->TreeItems();
    return StatementsSince(mark).empty();
}

void ApplyFilter(const ConvertOptions& o, CAllFilters& filter, bool& any)
{
    auto number = [](const std::string& s) { return std::stoull(s, nullptr, 0); };
    for (const auto& t : o.includeTypes) filter.IncludeMessageType(static_cast<int>(number(t)));
    for (const auto& t : o.excludeTypes) filter.ExcludeMessageType(static_cast<int>(number(t)));
    for (const auto& s : o.includeSignals) filter.IncludeSignal(static_cast<uint32_t>(number(s)));
    for (const auto& s : o.excludeSignals) filter.ExcludeSignal(static_cast<uint32_t>(number(s)));
    any = !(o.includeTypes.empty() && o.excludeTypes.empty() && o.includeSignals.empty() && o.excludeSignals.empty());
}

void Configure(CLogFileConverter& conv, const ConvertOptions& o, const Job& job, CAllFilters* filter)
{
    conv.m_bCsv = job.csv ? (o.keepCommas ? 2 : 1) : 0;
    conv.m_bRawData = o.raw ? 1 : 0;
    conv.m_pFilter = filter;
}

// The exit status from what the library said: 0 after "Conversion Finished." alone.
int StatusFrom(const std::vector<std::string>& said)
{
    if (Interrupted()) return kInterrupted;
    return said == std::vector<std::string>{ConvertTexts::kFinished} ? kOk : kFailed;
}

int RunDialogConversion(const ConvertOptions& o, const Job& job, const std::string& out, CAllFilters* filter)
{
    const size_t mark = MessageBoxCount();
    DialogAnswers answers;
    if (o.columns) answers.columns = SplitList(*o.columns);
    answers.sortOrder = SortOrder(o.sort);
    answers.from = o.from;
    answers.to = o.to;
    answers.prompt = !o.columns && !o.allColumns && ::isatty(STDIN_FILENO) && !Options().yes && !Options().no;
    ScopedDialogRunner runner(answers);
    {
        CLogFileConverter conv(nullptr);
        Configure(conv, o, job, filter);
        conv.ConvertLogToHTML(job.file.c_str(), out.c_str(), /*bText=*/!job.html);
        if (const std::string why = OpenErrorText(conv.m_logFile); !why.empty() && !conv.m_logFile.IsOpen())
            Error(job.file + ": " + why);
        while (conv.IsConverting() && !Interrupted()) runner->Pump(100);
    }  // Ctrl-C: the converter stops its worker after the line it is writing
    if (runner->GetEnding() == DialogRunner::Ending::unknownColumn) {
        Error("column '" + runner->UnknownColumn() + "' is not offered (vkl columns lists them)");
        return kUsage;
    }
    const std::vector<std::string> said = StatementsSince(mark);
    if (said.empty() && runner->GetEnding() != DialogRunner::Ending::saved)
        Error(job.file + ": not converted (cancelled)");
    return StatusFrom(said);
}

int RunSyncConversion(const ConvertOptions& o, const Job& job, const std::string& out, CAllFilters* filter)
{
    std::vector<std::string> names;
    if (o.columns) {
        names = SplitList(*o.columns);
    } else if (!ListColumns(SortOrder(o.sort), names)) {
        return kFailed;
    }
    std::vector<CString> columns(names.begin(), names.end());
    CLogFileConverter conv(nullptr);
    Configure(conv, o, job, filter);
    CString result;
    const int written = conv.ConvertLogToText(columns, job.file.c_str(), out.c_str(), result);
    if (const std::string why = OpenErrorText(conv.m_logFile); !why.empty() && !conv.m_logFile.IsOpen())
        Error(job.file + ": " + why);
    Error(result.str());
    return written && result == ConvertTexts::kFinished ? kOk : kFailed;
}

// Checks a job's OUT before the library creates it; kOk to go on.
int PrepareJob(const ConvertOptions& o, const Job& job)
{
    if (job.out == "-") return kOk;
    if (Exists(job.out) && Exists(job.file) && SameFile(job.out, job.file)) {
        Error(job.out + ": is the file being converted; choose another -o");
        return kUsage;
    }
    if (const std::string refusal = PrepareOutput(job.out, o.force); !refusal.empty()) {
        Error(refusal);
        return kFailed;
    }
    return kOk;
}

int ConvertOne(const ConvertOptions& o, const Job& job, CAllFilters* filter)
{
    if (const int status = PrepareJob(o, job); status != kOk) return status;
    std::unique_ptr<StdoutRelay> relay;
    std::string out = job.out;
    if (out == "-") {
        relay = std::make_unique<StdoutRelay>();
        if (relay->Path().empty()) {
            Error(relay->Error());
            return kFailed;
        }
        out = relay->Path();
    }
    int status = o.sync ? RunSyncConversion(o, job, out, filter) : RunDialogConversion(o, job, out, filter);
    if (relay && !relay->Finish()) {
        Error("standard output: a write failed");
        status = std::max<int>(status, kFailed);
    }
    // An output the library made but never wrote to (a cancelled or refused dialog):
    // a converted table is never empty, so an empty one is this run's own.
    struct stat st {};
    if (!relay && ::stat(out.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) ::unlink(out.c_str());
    return status;
}

// Usage errors that the parser cannot see; empty when there is none.
std::string UsageError(const ConvertOptions& o)
{
    if (o.sync && (o.from || o.to)) return "--sync converts every message: --from and --to need the dialog";
    if (o.columns && SplitList(*o.columns).empty()) return "--columns names no column";
    if (!o.output.empty() && o.output != "-" && o.files.size() > 1) return "-o names one output: give one FILE";
    if (o.keepCommas && (o.format == "text" || IsHtml(o))) return "--keep-commas is for CSV";
    if (o.sync && IsHtml(o)) return "--sync writes text or CSV: an HTML page is written by the converter's worker";
    return {};
}

int CmdConvert(const ConvertOptions& o)
{
    if (const std::string usage = UsageError(o); !usage.empty()) {
        Error(usage);
        return kUsage;
    }
    InstallInterruptHandler();
    CAllFilters filter;
    bool filtered = false;
    ApplyFilter(o, filter, filtered);
    int worst = kOk;
    for (const std::string& file : o.files) {
        const int status = ConvertOne(o, MakeJob(o, file), filtered ? &filter : nullptr);
        if (status == kInterrupted) return status;
        worst = std::max(worst, status);
    }
    return worst;
}

int CmdColumns(const std::string& sort)
{
    std::vector<std::string> items;
    if (!ListColumns(SortOrder(sort), items)) return kFailed;
    for (const std::string& item : items) std::printf("%s\n", item.c_str());
    return kOk;
}

void AddFilterOptions(CLI::App* c, ConvertOptions& o)
{
    const CLI::Validator numbers(
        [](std::string& t) {
            for (const std::string& n : SplitList(t)) {
                char* end = nullptr;
                errno = 0;
                const unsigned long long v = std::strtoull(n.c_str(), &end, 0);
                if (n.empty() || *end || errno || v > kSignalIdMax || n[0] == '-') return "'" + n + "' is not a number";
            }
            return std::string();
        },
        "", "");
    auto* it = c->add_option("--include-types", o.includeTypes, "Convert only these message types (kind 1)")
                   ->delimiter(',')
                   ->check(numbers);
    c->add_option("--exclude-types", o.excludeTypes, "Leave out these message types (kind 1)")
        ->delimiter(',')
        ->check(numbers)
        ->excludes(it);
    auto* is = c->add_option("--include-signals", o.includeSignals, "Convert only these signal identifiers")
                   ->delimiter(',')
                   ->check(numbers);
    c->add_option("--exclude-signals", o.excludeSignals, "Leave out these signal identifiers")
        ->delimiter(',')
        ->check(numbers)
        ->excludes(is);
}

}  // namespace

std::string WriteHtmlPage(const std::string& log, const std::string& out, const std::vector<std::string>& columns,
                          uint64_t& rows)
{
    rows = 0;
    // The library's boxes are the caller's to report: taken down here, not shown.
    std::mutex mutex;
    std::string said;
    MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& box) {
        std::lock_guard<std::mutex> lock(mutex);
        said += (said.empty() ? "" : "; ") + box.text.str();
        return DefaultMessageBoxAnswer(box.type);
    });
    DialogAnswers answers;
    answers.columns = columns;
    {
        ScopedDialogRunner runner(answers);
        CLogFileConverter conv(nullptr);
        conv.ConvertLogToHTML(log.c_str(), out.c_str(), /*bText=*/false);
        while (conv.IsConverting()) runner->Pump(100);
    }
    SetMessageBoxHandler(std::move(previous));
    if (said != ConvertTexts::kFinished) return said.empty() ? "not converted" : said;
    // A row opens with a line of its own; the first is the header row's.
    std::ifstream page(out);
    for (std::string line; std::getline(page, line);) rows += line == "<tr>\r";
    if (rows) --rows;
    return {};
}

void AddConvertCommands(CLI::App& app, CommandList& out)
{
    auto o = std::make_shared<ConvertOptions>();
    auto* c = app.add_subcommand("convert", "Convert log files to tab-separated text, CSV or an HTML page");
    c->add_option("FILE", o->files, "Log files")->required();
    c->add_option("--format", o->format, "text, csv or html (default: from OUT's extension, else text)")
        ->check(CLI::IsMember({"text", "csv", "html"}));
    c->add_option("-o,--output", o->output,
                  "Output file, or - for standard output (default: FILE as .txt, .csv or .html)");
    auto* cols = c->add_option("--columns", o->columns, "Comma-separated columns (vkl columns lists them)");
    c->add_flag("--all-columns", o->allColumns, "Every column the dialog offers")->excludes(cols);
    c->add_option("--sort", o->sort, "Order of the dialog's columns: viewer or alpha")
        ->check(CLI::IsMember({"viewer", "alpha"}));
    c->add_option("--from", o->from, "First message index, as typed into the dialog");
    c->add_option("--to", o->to, "Last message index, as typed into the dialog");
    c->add_flag("--raw", o->raw, "Raw data: only PC Time Stamp, Data and Index are filled");
    c->add_flag("--keep-commas", o->keepCommas, "CSV: keep commas inside values (default: they become ;)");
    AddFilterOptions(c, *o);
    c->add_flag("--sync", o->sync, "Convert on this thread with the columns in the order given (no dialog, no range)");
    c->add_flag("--force", o->force, "Replace an existing output file");
    out.push_back({c, [o] { return CmdConvert(*o); }});

    auto sort = std::make_shared<std::string>();
    auto* l = app.add_subcommand("columns", "List the columns the conversion dialog offers");
    l->add_option("--sort", *sort, "viewer or alpha (default: the stored order)")
        ->check(CLI::IsMember({"viewer", "alpha"}));
    out.push_back({l, [sort] { return CmdColumns(*sort); }});
}

}  // namespace vkl

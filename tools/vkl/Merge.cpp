// vkl merge, vkl extract: log files joined one after another, and a range of messages
// copied into a new file. Every path goes to the library as typed; inputs are opened only
// the way the library opens them, and vkl itself only reads headers (and, with
// --check-first, records) before it decides.
#include "tools/vkl/Merge.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <tuple>

#include "framework/Endian.h"
#include "framework/Path.h"
#include "logfile/LogFile.h"
#include "logger/Logger.h"
#include "platform/Progress.h"
#include "platform/Services.h"
#include "platform/VESKMessage.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Files.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Options.h"
#include "tools/vkl/Record.h"

namespace vkl {
namespace {

enum class Seams { none, sources, all };
constexpr size_t kMaxBookmarks = LogFormat::kMaxBookmarks;
constexpr uint64_t kHeaderAllowance = 64 * 1024;  // room for the result's header below 4 GiB
constexpr uint32_t kSmallestRecord = 40;          // a record with no data bytes

// One line on stderr, and the exit status that goes with it.
int Refused(const std::string& text, int status)
{
    Error(text);
    return status;
}

uint64_t FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// What vkl reads of a header before anything is changed.
struct HeaderFacts {
    bool sound = false;
    uint64_t size = 0;
    uint32_t recordsEnd = CLogFile::kFirstRecord;
    uint64_t bookmarks = 0;
    CSystemTime created;
    CString nextName;
};

HeaderFacts ReadHeaderFacts(const std::string& path)
{
    HeaderFacts f;
    f.size = FileSize(path);
    CLogFile file;
    if (!file.OpenForInspection(path.c_str())) return f;
    f.sound = !file.NeedsRepair();
    if (f.sound) {
        f.recordsEnd = file.GetHeaderPosition();
        f.bookmarks = file.GetBookmarks()->size();
        f.created = file.GetCreationTime();
        f.nextName = file.GetNextLogFileName();
    }
    file.Close();
    return f;
}

// The output's header position word (4 when there is no output).
uint32_t RecordsEnd(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    BYTE word[4] = {0, 0, 0, 0};
    if (!in.read(reinterpret_cast<char*>(word), 4)) return CLogFile::kFirstRecord;
    return LoadLittleEndian<DWORD>(word);
}

// The records of a file between two offsets, read without changing it.
uint64_t CountRecords(const std::string& path, uint32_t from, uint32_t to)
{
    CLogFile f;
    uint64_t n = 0;
    if (from >= to || !f.OpenForInspection(path.c_str())) return 0;
    IgnoreFailure("a record that cannot be read ends the count", [&] {
        f.SeekAbsolute(from);
        for (CVESKMessage m; f.GetPosition() < to; ++n) ReadLogRecord(f, m);
    });
    return n;
}

// One progress bar over the bytes of all inputs, naming the current one; Ctrl-C asks the
// library to stop at the next record.
class MergeProgress : public IProgressService {
public:
    explicit MergeProgress(uint64_t total) : m_bar("merging", total) {}
    void StartInput(const std::string& path, uint64_t before)
    {
        m_current = path;
        m_before = before;
        m_bar.SetLabel("merging " + path);
    }
    void Report(ULONGLONG done, ULONGLONG, const CString& file) override
    {
        if (file == m_current.c_str()) m_bar.Update(m_before + done);
    }
    bool StopRequested() override { return Interrupted(); }
    void Finish() { m_bar.Finish(); }

private:
    Progress m_bar;
    std::string m_current;
    uint64_t m_before = 0;
};

// Installs a progress service and a file observer for the life of the object.
class Watching {
public:
    explicit Watching(std::shared_ptr<IProgressService> progress, std::shared_ptr<OpenedFiles> opened = nullptr)
    {
        HostServices s = Services::Current();
        s.progress = std::move(progress);
        if (opened) s.fileObserver = std::move(opened);
        m_scoped = std::make_unique<CScopedServices>(s);
    }

private:
    std::unique_ptr<CScopedServices> m_scoped;
};

// A directory of our own for the scratch files of reading loggers, removed at the end.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string t = (std::filesystem::temp_directory_path() / "vkl.XXXXXX").string();
        if (::mkdtemp(t.data())) m_path = t;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A logger that reads `path`: made on a scratch file, which the open of the input
// removes again; the input is opened for reading only. Null (after the library's box)
// when the input cannot be opened.
std::unique_ptr<CLogger> ReadingLogger(const std::string& path, const ScratchDir& scratch)
{
    auto logger = std::make_unique<CLogger>("scratch", 1, 0, scratch.Path().c_str(), -1, 0, 0, 0);
    if (!logger->GetClient()) return nullptr;
    logger->Pause();
    const CString name = PathFileName(path.c_str());
    logger->SetLogFileName(name, PathFolder(path.c_str()));
    if (!logger->OpenLogFile(name, 0)) return nullptr;
    return logger;
}

std::string CannotOpen(const std::string& path, const CLogFile& file)
{
    const std::string why = OpenErrorText(file);
    return path + ": cannot be opened" + (why.empty() ? std::string() : ": " + why);
}

bool SamePath(const std::string& a, const std::string& b)
{
    return a == b || SameFile(a, b);
}

// The library opens a logger's file under a log-file name; it would add ".vkl" to others.
std::string NeedLogName(const std::string& path)
{
    if (LogFormat::HasLogExtension(path.c_str())) return {};
    return path + ": the name must end in .vkl or .bin (the library would add .vkl to it)";
}

std::vector<std::string> ReadList(const std::string& from, std::string& error)
{
    std::vector<std::string> out;
    std::ifstream file;
    if (from != "-") {
        file.open(from);
        if (!file) error = from + ": cannot read the list of inputs";
    }
    std::istream& in = from == "-" ? std::cin : file;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

// The inputs as the merge takes them: every bad one named, or "".
std::string CheckInputs(const std::vector<std::string>& inputs)
{
    std::string bad;
    for (const std::string& path : inputs) {
        std::string why = CheckInputFile(path);
        CLogFile f;
        if (why.empty() && !f.OpenForInspection(path.c_str())) why = CannotOpen(path, f);
        if (why.empty() && f.NeedsRepair()) why = DamageText(path, f.IsBeingRecorded());
        uint64_t at = CLogFile::kFirstRecord;
        try {
            CVESKMessage m;
            while (why.empty() && (at = f.GetPosition()) < f.GetHeaderPosition()) {
                ReadCheckedLogRecord(f, m, f.GetHeaderPosition());
                if (m.GetDataLength() < 0)
                    why = path + ": record at offset " + std::to_string(at) +
                          " is marked unreadable (negative data length)";
            }
        } catch (const CException& e) {
            why = path + ": record at offset " + std::to_string(at) + " cannot be read: " + e.GetErrorMessage().str();
        }
        if (!why.empty()) bad += (bad.empty() ? "" : "\n  ") + why;
    }
    return bad;
}

// The refusals that need the headers: too many bookmarks for the library to load the
// result again, or a result of 4 GiB or more. Empty when the merge may start.
std::string CheckResult(const MergeOptions& o, Seams seams, const HeaderFacts& out, const std::vector<HeaderFacts>& in)
{
    const bool outExists = out.size > 0;
    uint64_t end = outExists ? std::max<uint64_t>(out.recordsEnd, CLogFile::kFirstRecord) : CLogFile::kFirstRecord;
    uint64_t bookmarks = outExists ? out.bookmarks : 0;
    // A file holds two records or more (and gets seam bookmarks) only when its records
    // take room for two of the smallest.
    auto seamsOf = [](uint64_t recordBytes) { return recordBytes >= 2 * kSmallestRecord ? 2u : 0u; };
    if (seams == Seams::all && outExists) bookmarks += seamsOf(end - CLogFile::kFirstRecord);
    for (const HeaderFacts& f : in) {
        const uint64_t bytes = f.sound ? f.recordsEnd - CLogFile::kFirstRecord : f.size;
        end += bytes;
        if (seams != Seams::none) bookmarks += seamsOf(bytes) + f.bookmarks;
    }
    if (bookmarks > kMaxBookmarks)
        return o.output + ": the result would carry up to " + std::to_string(bookmarks) +
               " bookmarks; a log file holds at most 1000 (more could not be opened again): merge fewer inputs or use "
               "--seams none";
    if (end + kHeaderAllowance > LogFormat::kMaxPosition)
        return o.output + ": the result would reach 4 GiB (" + std::to_string(end) +
               " bytes of records); a log file stays below 4 GiB";
    return {};
}

bool EarlierCreation(const HeaderFacts& a, const HeaderFacts& b)
{
    if (a.sound != b.sound) return a.sound;  // unreadable headers last
    auto key = [](const CSystemTime& t) {
        return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    };
    return key(a.created) < key(b.created);
}

int OutputAmongInputs(const MergeOptions& o)
{
    for (const std::string& in : o.inputs)
        if (SamePath(in, o.output)) return Refused(o.output + ": the output is one of the inputs", kUsage);
    return kOk;
}

// Everything that is refused before the first library call, with its exit status.
int Refuse(MergeOptions& o, Seams seams, MergeResult& r)
{
    if (o.inputs.empty()) return Refused("merge: no inputs", kUsage);
    if (const int status = OutputAmongInputs(o); status != kOk) return status;
    r.outputExisted = Exists(o.output);
    if (r.outputExisted && !o.append) return Refused(o.output + ": exists; not changed (--append adds to it)", kFailed);
    const std::string folder = CFile::OsPath(PathFolder(o.output.c_str()));
    if (!folder.empty() && !std::filesystem::is_directory(folder))
        return Refused(o.output + ": the folder " + folder + " does not exist", kFailed);
    if (o.checkFirst)
        if (const std::string bad = CheckInputs(o.inputs); !bad.empty()) {
            Error("merge refused, nothing changed; bad inputs:\n  " + bad);
            return kFailed;
        }
    std::vector<HeaderFacts> facts;
    for (const std::string& in : o.inputs) facts.push_back(ReadHeaderFacts(in));
    if (const std::string refusal = CheckResult(o, seams, ReadHeaderFacts(o.output), facts); !refusal.empty()) {
        Error(refusal + "; nothing changed");
        return kFailed;
    }
    std::vector<size_t> order(o.inputs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (o.sortByCreation)
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return EarlierCreation(facts[a], facts[b]); });
    for (const size_t i : order) {
        MergedInput m;
        m.path = o.inputs[i];
        if (seams == Seams::none) m.bookmarksDropped = facts[i].bookmarks;
        r.inputs.push_back(m);
    }
    return kOk;
}

void MergeOne(const MergeOptions& o, Seams seams, bool first, const MergeResult& r, MergedInput& in)
{
    const uint32_t before = RecordsEnd(o.output);
    CString error;
    const int bBookmark = seams == Seams::all && first && r.outputExisted ? 1 : 0;
    const bool ok = seams == Seams::none
                        ? CLogger::MergeFiles(o.output.c_str(), in.path.c_str(), error)
                        : CLogger::MergeAndBookmark(o.output.c_str(), in.path.c_str(), error, bBookmark);
    const uint32_t after = RecordsEnd(o.output);
    in.bytesAdded = after > before ? after - before : 0;
    if (ok) {
        in.status = "merged";
        return;
    }
    in.status = Interrupted() ? "stopped" : "failed";
    in.error = !error.IsEmpty() ? error.str()
               : Interrupted()  ? "stopped by Ctrl-C"
                                : "a record runs past the end of the records";
    in.recordsAdded = CountRecords(o.output, before, after);
}

}  // namespace

int MergeInputs(const MergeOptions& options, MergeResult& r)
{
    MergeOptions o = options;
    const Seams seams = o.seams == "all" ? Seams::all : o.seams == "sources" ? Seams::sources : Seams::none;
    if (const int status = Refuse(o, seams, r); status != kOk) return status;
    InstallInterruptHandler();
    AnswerNoWithoutTerminal();
    uint64_t total = 0;
    for (const MergedInput& in : r.inputs) total += FileSize(in.path);
    auto progress = std::make_shared<MergeProgress>(total);
    int status = kOk;
    {
        Watching watching(progress);
        CLogger::SetWriteEachRecord(o.eachRecord);
        uint64_t done = 0;
        for (size_t i = 0; i < r.inputs.size() && !Interrupted(); ++i) {
            MergedInput& in = r.inputs[i];
            progress->StartInput(in.path, done);
            MergeOne(o, seams, i == 0, r, in);
            done += FileSize(in.path);
            if (in.status == "failed") {
                // An output that cannot be opened fails every input alike: no use going on.
                const bool outputFailed = in.error.find(o.output + " for writing") != std::string::npos;
                const bool stop = o.stopOnError || outputFailed;
                Error(in.path + ": " + in.error + " (" + std::to_string(*in.recordsAdded) + " of its records got in)" +
                      (outputFailed    ? "; stopped"
                       : o.stopOnError ? "; stopped (--stop-on-error)"
                                       : "; going on"));
                status = kFailed;
                if (stop) break;
            }
        }
        progress->Finish();
    }
    r.interrupted = Interrupted();
    const HeaderFacts out = ReadHeaderFacts(o.output);
    r.outputExists = out.size > 0;
    r.outputSound = out.sound;
    r.recordsEnd = r.outputExists ? out.recordsEnd : 0;
    r.bookmarks = out.bookmarks;
    return r.interrupted ? kInterrupted : status;
}

namespace {

nlohmann::json MergeJson(const MergeOptions& o, const MergeResult& r)
{
    nlohmann::json inputs = nlohmann::json::array();
    for (const MergedInput& in : r.inputs)
        inputs.push_back(
            {{"path", AnsiToUtf8(in.path)},
             {"status", in.status},
             {"error", in.error.empty() ? nlohmann::json(nullptr) : nlohmann::json(in.error)},
             {"bytes_added", in.bytesAdded},
             {"records_added", in.recordsAdded ? nlohmann::json(*in.recordsAdded) : nlohmann::json(nullptr)},
             {"bookmarks_dropped", in.bookmarksDropped}});
    return {{"output", AnsiToUtf8(o.output)},    {"seams", o.seams},
            {"output_existed", r.outputExisted}, {"output_exists", r.outputExists},
            {"records_end", r.recordsEnd},       {"bookmarks", r.bookmarks},
            {"interrupted", r.interrupted},      {"inputs", inputs}};
}

void PrintMerge(const MergeOptions& o, const MergeResult& r)
{
    size_t merged = 0, failed = 0;
    uint64_t bytes = 0;
    for (const MergedInput& in : r.inputs) {
        merged += in.status == "merged";
        failed += in.status == "failed";
        bytes += in.bytesAdded;
        if (in.bookmarksDropped)
            Say(in.path + ": " +
                (in.bookmarksDropped == 1 ? "its bookmark was"
                                          : "its " + std::to_string(in.bookmarksDropped) + " bookmarks were") +
                " not carried over (--seams none drops them; --seams sources keeps them)");
    }
    Say("merged " + std::to_string(merged) + " of " + std::to_string(r.inputs.size()) + " inputs into " + o.output +
        " (--seams " + o.seams + "): " + std::to_string(bytes) + " bytes of records added" +
        (failed ? ", " + std::to_string(failed) + " failed" : ""));
    for (const MergedInput& in : r.inputs)
        if (in.status == "stopped")
            Say("stopped by Ctrl-C in " + in.path + " after " + std::to_string(in.recordsAdded.value_or(0)) +
                " of its records; the inputs after it were not merged; " + o.output + " is closed with its header");
    if (r.outputExists && !r.outputSound)
        Say(DamageText(o.output, false));
    else if (r.outputExists)
        Say(o.output + ": records end at " + std::to_string(r.recordsEnd) + ", " + std::to_string(r.bookmarks) +
            " bookmarks");
    else
        Say(o.output + ": no record was merged, so there is no output file (a log file with no record is removed)");
}

// Through a logger on the output, which records again: device filter, pages, asserts,
// roll-over.
int MergeViaLogger(const MergeOptions& o)
{
    if (const int status = OutputAmongInputs(o); status != kOk) return status;
    for (const std::string& p : o.inputs)
        if (const std::string bad = NeedLogName(p); !bad.empty()) return Refused(bad, kUsage);
    if (const std::string bad = NeedLogName(o.output); !bad.empty()) return Refused(bad, kUsage);
    if (Exists(o.output) && !o.append)
        return Refused(o.output + ": exists; not changed (--append adds to it)", kFailed);
    InstallInterruptHandler();
    AnswerNoWithoutTerminal();
    ScratchDir scratch;
    auto opened = std::make_shared<OpenedFiles>();
    uint64_t total = 0;
    for (const std::string& path : o.inputs) total += FileSize(path);
    auto progress = std::make_shared<MergeProgress>(total);
    int status = kOk;
    uint64_t done = 0;
    {
        Watching watching(progress, opened);
        const CString folder = PathFolder(o.output.c_str());
        CLogger target(PathFileName(o.output.c_str()), /*bNewFile=*/!o.append, /*bClientFlag=*/0,
                       folder.IsEmpty() ? CString(".") : folder, o.device, o.maxSizeMB, o.bookmarkAsserts,
                       o.cutAsserts);
        if (!target.GetClient()) return Refused(CannotOpen(o.output, *target.GetLogFile()), kFailed);
        for (const std::string& path : o.inputs) {
            if (Interrupted() || target.HasWriteFailed()) break;
            const uint64_t boxes = MessageBoxCount();
            progress->StartInput(path, done);
            done += FileSize(path);
            auto source = ReadingLogger(path, scratch);
            if (source) target.MergeFiles(source.get());
            if (MessageBoxCount() != boxes || !source) {
                Error(path + ": not merged whole (the library's text above)" +
                      (o.stopOnError ? "; stopped (--stop-on-error)" : "; going on"));
                status = kFailed;
                if (o.stopOnError) break;
            }
        }
        if (target.HasWriteFailed()) status = kFailed;
    }
    progress->Finish();
    const SetReport r = Report(opened->Paths());
    if (r.files.empty()) {
        Say("merged through a logger: no message got in, so there is no output file");
    } else {
        Say("merged through a logger into " + std::to_string(r.files.size()) +
            (r.files.size() == 1 ? " file:" : " files:"));
        if (!Options().quiet) std::fputs(Describe(r).c_str(), stdout);
    }
    return Interrupted() ? kInterrupted : status;
}

// The next file of an earlier-layout set, into the file that names it.
int MergeNext(const MergeOptions& o)
{
    const std::string& file = o.next;
    if (const std::string bad = NeedLogName(file); !bad.empty()) return Refused(bad, kUsage);
    if (const std::string bad = CheckInputFile(file); !bad.empty()) return Refused(bad, kFailed);
    const HeaderFacts facts = ReadHeaderFacts(file);
    if (!facts.sound) return Refused(DamageText(file, false), kFailed);
    if (facts.nextName.IsEmpty())
        return Error(file +
                     ": names no next file; only the earlier header layout carries the link to the next file "
                     "of a set (files written today do not); nothing merged"),
               kFailed;
    InstallInterruptHandler();
    AnswerNoWithoutTerminal();
    ScratchDir scratch;
    const uint64_t boxes = MessageBoxCount();
    {
        const std::string next = std::string(PathFolder(file.c_str())) + facts.nextName.str();
        auto progress = std::make_shared<MergeProgress>(FileSize(next));
        progress->StartInput(next, 0);
        Watching watching(progress);
        CLogger logger("scratch", 1, 0, scratch.Path().c_str(), -1, 0, 0, 0);
        logger.SetLogFileName(PathFileName(file.c_str()), PathFolder(file.c_str()));
        logger.MergeFiles();
        progress->Finish();
    }
    const uint32_t after = RecordsEnd(file);
    Say("merged " + std::string(PathFolder(file.c_str())) + facts.nextName.str() + " into " + file + ": " +
        std::to_string(CountRecords(file, facts.recordsEnd, after)) + " records added (the next file is unchanged)");
    if (Interrupted()) return kInterrupted;
    return MessageBoxCount() == boxes ? kOk : kFailed;
}

}  // namespace

int CmdMerge(MergeOptions o)
{
    if (!o.inputsFrom.empty()) {
        std::string error;
        const std::vector<std::string> listed = ReadList(o.inputsFrom, error);
        if (!error.empty()) return Refused(error, kUsage);
        o.inputs.insert(o.inputs.end(), listed.begin(), listed.end());
    }
    if (!o.next.empty()) return MergeNext(o);
    if (o.output.empty()) return Refused("merge: -o OUT is required", kUsage);
    if (o.viaLogger) return MergeViaLogger(o);
    MergeResult r;
    const int status = MergeInputs(o, r);
    if (r.inputs.empty()) return status;  // refused before anything was changed
    if (o.json)
        std::printf("%s\n", MergeJson(o, r).dump(2).c_str());
    else
        PrintMerge(o, r);
    return status;
}

int ExtractRange(const ExtractOptions& o, FileSummary& s)
{
    if (SamePath(o.file, o.output))
        return Refused(o.output + ": the output is the input (creating it would cut the input)", kUsage);
    if (const std::string bad = NeedLogName(o.file); !bad.empty()) return Refused(bad, kUsage);
    if (const std::string bad = CheckInputFile(o.file); !bad.empty()) return Refused(bad, kFailed);
    if (const std::string refusal = PrepareOutput(o.output, o.force); !refusal.empty())
        return Refused(refusal, kFailed);
    InstallInterruptHandler();
    AnswerNoWithoutTerminal();
    ScratchDir scratch;
    int result = 0;
    const uint64_t boxes = MessageBoxCount();
    {
        auto source = ReadingLogger(o.file, scratch);
        if (!source) return Refused(o.file + ": not read", kFailed);
        auto progress = std::make_shared<MergeProgress>(FileSize(o.file));
        progress->StartInput(o.file, 0);
        Watching watching(progress);
        result = source->ExtractLogData(static_cast<unsigned>(o.from), static_cast<unsigned>(o.to), o.output.c_str());
        progress->Finish();
    }
    std::string error;
    if (result && Summarise(o.output, s, error, false)) return kOk;
    if (Interrupted()) return Refused("stopped by Ctrl-C; " + o.output + " removed", kInterrupted);
    if (MessageBoxCount() == boxes)
        Error(o.file + ": a record could not be read, or " + o.output + " could not be written; " + o.output +
              " removed");
    return kFailed;
}

namespace {
int CmdExtract(const ExtractOptions& o)
{
    FileSummary s;
    const int status = ExtractRange(o, s);
    if (status == kUsage) return status;
    if (o.json) {
        nlohmann::json j{{"input", AnsiToUtf8(o.file)},
                         {"output", AnsiToUtf8(o.output)},
                         {"from", o.from},
                         {"to", o.to},
                         {"extracted", status == kOk},
                         {"interrupted", status == kInterrupted},
                         {"messages", s.records}};
        j["first_index"] = s.firstIndex ? nlohmann::json(*s.firstIndex) : nlohmann::json(nullptr);
        j["last_index"] = s.lastIndex ? nlohmann::json(*s.lastIndex) : nlohmann::json(nullptr);
        std::printf("%s\n", j.dump(2).c_str());
    } else if (status == kOk) {
        Say("extracted " + std::to_string(s.records) + " messages (index " + std::to_string(*s.firstIndex) + " .. " +
            std::to_string(*s.lastIndex) + ") from " + o.file + " into " + o.output);
    }
    return status;
}
}  // namespace

void AddMergeCommands(CLI::App& app, CommandList& out)
{
    auto m = std::make_shared<MergeOptions>();
    auto* c = app.add_subcommand("merge", "Append the records of log files to one log file");
    c->add_option("INPUT", m->inputs, "Log files, merged in this order");
    c->add_option("-o,--output", m->output, "The log file the records go into");
    c->add_flag("--append", m->append, "Add to an existing OUT (else an existing OUT is refused)");
    c->add_option("--seams", m->seams, "Bookmarks at the seams: none, sources, all")
        ->check(CLI::IsMember({"none", "sources", "all"}));
    c->add_flag("--stop-on-error", m->stopOnError, "Stop at the first input that fails (else go on with the next)");
    c->add_flag("--check-first", m->checkFirst, "Read every input first; refuse to start when one is bad");
    c->add_flag("--sort-by-creation", m->sortByCreation, "Merge in the order of the headers' creation times");
    c->add_option("--inputs-from", m->inputsFrom, "Read the inputs from a list file, one per line (- for stdin)");
    c->add_flag("--json", m->json, "The summary as one JSON document");
    c->add_flag("--each-record", m->eachRecord, "Write each record with its own call (slower; the same bytes)");
    auto* via = c->add_flag("--via-logger", m->viaLogger, "Merge through a logger on OUT, which records again");
    c->add_option("--device", m->device, "With --via-logger: only this device number")
        ->check(CLI::Range(-1, 4))
        ->needs(via);
    c->add_option("--max-size", m->maxSizeMB, "With --via-logger: largest file in MB before a continuation file")
        ->check(WholeNumber(0, 4095))
        ->needs(via);
    c->add_flag("--bookmark-asserts", m->bookmarkAsserts, "With --via-logger: bookmark assert messages")->needs(via);
    c->add_flag("--cut-asserts", m->cutAsserts, "With --via-logger: a continuation file after every assert")
        ->needs(via);
    c->add_option("--next", m->next, "Merge the next file that this earlier-layout log names into it")
        ->excludes(c->get_option("-o"))
        ->excludes(via);
    out.push_back({c, [m] { return CmdMerge(*m); }});

    auto x = std::make_shared<ExtractOptions>();
    auto* e = app.add_subcommand("extract", "Copy the messages of an index range into a new log file");
    e->add_option("FILE", x->file, "Log file")->required();
    e->add_option("-o,--output", x->output, "The new log file")->required();
    e->add_option("--from", x->from, "First message index (default 0)")->check(WholeNumber(0, 4294967295ull));
    e->add_option("--to", x->to, "Last message index (default 4294967295)")->check(WholeNumber(0, 4294967295ull));
    e->add_flag("--force", x->force, "Replace an existing OUT");
    e->add_flag("--json", x->json, "The result as one JSON document");
    out.push_back({e, [x] { return CmdExtract(*x); }});
}

}  // namespace vkl

// vkl record, vkl demo: the simulated device recorded through the logger manager.
#include <CLI/CLI.hpp>
#include <chrono>
#include <fstream>
#include <functional>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "convert/ConvertTexts.h"
#include "convert/LogFileConverter.h"
#include "framework/File.h"
#include "framework/Path.h"
#include "framework/Window.h"
#include "logfile/LogFile.h"
#include "logfile/LogFormat.h"
#include "logger/LoggerManager.h"
#include "platform/DeviceLink.h"
#include "platform/MessageBus.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"
#include "platform/Trace.h"
#include "replay/LogFilePlayer.h"
#include "sim/SdDump.h"
#include "sim/SimDevice.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Convert.h"
#include "tools/vkl/Files.h"
#include "tools/vkl/Options.h"
#include "tools/vkl/GkiConvert.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Inspect.h"
#include "tools/vkl/Merge.h"
#include "tools/vkl/Record.h"
#include "tools/vkl/SdImport.h"

namespace vkl {
namespace {

std::string Plural(uint64_t n, const char* word)
{
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

std::string DroppedText(uint64_t dropped)
{
    return "dropped " + Plural(dropped, "message") + " on the bus (the logger was paused or its queue dropped)";
}

namespace {

// Records `count` messages (or for `seconds`) from the simulated device into `logger`;
// `afterRun` runs after each run of messages.
uint64_t Feed(CSimDevice& sim, uint64_t count, double seconds, const std::function<bool()>& stop = Interrupted,
              const std::function<void()>& afterRun = {})
{
    CSimDeviceRunner runner(sim, Services::Bus());
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    Progress progress("recording", seconds > 0 ? static_cast<uint64_t>(seconds * 1000) : count);
    uint64_t sent = 0;
    while (!stop()) {
        if (seconds > 0 ? elapsed() >= seconds : sent >= count) break;
        const uint64_t chunk = seconds > 0 ? 200 : std::min<uint64_t>(1024, count - sent);
        sent += runner.Run(chunk);
        if (afterRun) afterRun();
        progress.Update(seconds > 0 ? static_cast<uint64_t>(elapsed() * 1000) : sent);
    }
    progress.Finish();
    return sent;
}

}  // namespace

SetReport Report(const std::vector<std::string>& paths, const RecordCounter* counted)
{
    SetReport r;
    for (const std::string& p : paths) {
        if (!std::filesystem::exists(p)) continue;  // a file closed with no record is gone
        FileSummary s;
        std::string error;
        if (!Summarise(p, s, error, false, counted)) {
            Error(error);
            continue;
        }
        r.records += s.records;
        r.bookmarks += s.bookmarks.size();
        r.pages += s.pages;
        r.files.push_back(s);
    }
    return r;
}

std::string Describe(const SetReport& r)
{
    std::ostringstream o;
    for (const FileSummary& s : r.files) {
        o << "  " << s.path << "  " << Plural(s.records, "message") << ", " << Plural(static_cast<uint64_t>(s.pages), "page")
          << ", " << s.size << " bytes";
        if (!s.bookmarks.empty()) o << ", bookmark: " << s.bookmarks.front().second;
        o << "\n";
    }
    return o.str();
}

namespace {

std::string EnsureDirectory(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::absolute(dir).lexically_normal().string();
}

// The record bytes of a log file, from offset 4 to its header position.
bool RecordBytes(const std::string& path, std::vector<BYTE>& out)
{
    CLogFile f;
    if (!f.OpenForInspection(path.c_str()) || f.NeedsRepair()) return false;
    out.resize(f.GetHeaderPosition() - CLogFile::kFirstRecord);
    f.Seek(static_cast<LONG>(CLogFile::kFirstRecord), CFile::begin);
    return f.Read(out.data(), static_cast<UINT>(out.size())) == out.size();
}

}  // namespace

namespace {

// The file an -o name records into.
std::string NamedOutput(const RecordOptions& o, const CString& dir)
{
    CString name = o.name.c_str();
    if (!LogFormat::HasLogExtension(name)) name += LogFormat::kExtension;
    return CFile::OsPath(dir + "\\" + name);
}

// Where a recording goes, checked before anything is created: a plain name, room on the
// disk, and no existing file replaced unless --force says so. Empty on success.
std::string PrepareRecording(const RecordOptions& o, CString& dir, HostServices& services, int& status)
{
    status = kUsage;
    if (!o.name.empty() && !IsPlainName(o.name)) return "-o takes a file name, not a path: '" + o.name + "' (use --dir)";
    status = kFailed;
    dir = o.dir.empty() ? CLogger::GetLogFilesPath() : CString(EnsureDirectory(o.dir).c_str());
    const bool convention = o.name.empty() && GetSettingInt(services.settings.get(), SettingsKeys::kViewerSettings,
                                                            SettingsKeys::kKovaLogName, 1) == 0;
    if (convention && !o.dir.empty()) {
        // The naming convention puts its files in "Import Export Path": --dir stands for it.
        auto overlay = std::make_shared<SettingsOverlay>(services.settings);
        overlay->SetString(SettingsKeys::kViewerSettings, SettingsKeys::kImportExportPath, WithTrailingSeparator(dir));
        services.settings = overlay;
    }
    CString message;
    if (CLogger::GetMaxFileSizeInMB(dir, message) == 0) return CFile::OsPath(dir) + ": " + message.str();
    if (!o.name.empty()) {
        const std::string path = NamedOutput(o, dir);
        if (o.append && !Exists(path)) return path + ": does not exist; --append adds to an existing log";
        if (std::string refusal = o.append ? "" : PrepareOutput(path, o.force); !refusal.empty()) return refusal;
    }
    status = kOk;
    return {};
}

}  // namespace

int CmdRecord(const RecordOptions& o)
{
    InstallInterruptHandler();
    auto opened = std::make_shared<OpenedFiles>();
    HostServices services = Services::Current();
    services.fileObserver = opened;
    CString dir;
    int status = kOk;
    if (const std::string refusal = PrepareRecording(o, dir, services, status); !refusal.empty()) {
        Error(refusal);
        return status;
    }
    CScopedServices scoped(services);
    uint64_t before = 0;  // records already in the file appended to
    if (o.append) {
        FileSummary s;
        std::string error;
        if (Summarise(NamedOutput(o, dir), s, error, false)) before = s.records;
    }

    CSimDevice sim({.seed = o.seed, .devices = 3, .assertEvery = o.assertEvery});
    sim.Connect(*Devices());  // before the first file opens, so its header names the device
    std::unique_ptr<CLogger> own;
    CLogger* logger = nullptr;
    if (!o.name.empty()) {
        logger = Init()->AddNewLogger((dir + "\\" + o.name.c_str()).c_str(), /*bNewFile=*/!o.append, /*bClientFlag=*/false,
                                      o.device, o.maxSizeMB, o.bookmarkAsserts, o.cutAsserts);
    } else {
        // No name: the logger names the file itself, by date or by the naming convention.
        own = std::make_unique<CLogger>("", /*bNewFile=*/1, /*bClientFlag=*/0, o.dir.empty() ? CString() : dir,
                                        o.device, o.maxSizeMB, o.bookmarkAsserts, o.cutAsserts);
        logger = own.get();
    }
    if (!logger->GetClient()) {
        const std::string why = OpenErrorText(*logger->GetLogFile());
        Error("cannot create the log file in " + CFile::OsPath(dir) + (why.empty() ? std::string() : ": " + why));
        own.reset();
        Term();
        CSimDevice::Disconnect(*Devices());
        return kFailed;
    }
    if (!o.description.empty()) {
        CString result;
        logger->AddFileDescription(o.description.c_str(), result, "");
    }
    logger->Resume();
    const uint64_t count = o.messages ? o.messages : (o.seconds > 0 ? 0 : 10000);
    // The records are counted while they are written, in the time the source waits for
    // the disk; the check after the recording reads only the rest.
    RecordCounter counter;
    const uint64_t sent = Feed(
        sim, count, o.seconds, [logger] { return Interrupted() || logger->HasWriteFailed(); },
        [&] {
            const std::vector<std::string> paths = opened->Paths();
            if (!paths.empty()) counter.Step(paths.back());
        });
    logger->EmptyFIFO();
    logger->Close();
    const unsigned long limit = logger->GetMaxFileSize();
    const bool writeFailed = logger->HasWriteFailed();
    const std::string writeError = logger->GetWriteError().str();
    const uint64_t dropped = logger->GetClient()->GetNumDropped();
    own.reset();
    Term();
    CSimDevice::Disconnect(*Devices());

    // A failed write is cut back from the file: what was counted meanwhile may be gone.
    const SetReport r = Report(opened->Paths(), writeFailed ? nullptr : &counter);
    if (writeFailed) {
        Error("recording stopped: " + writeError + "; " + std::to_string(r.records) + " of " + std::to_string(sent) +
              " messages reached the files");
        if (!Options().quiet) std::fputs(Describe(r).c_str(), stdout);
        return kFailed;
    }
    Say("recorded " + Plural(sent, "message") + (Interrupted() ? " (stopped by Ctrl-C)" : "") + " into " +
        Plural(r.files.size(), "file") + " (limit " + std::to_string(limit) + " MB per file)");
    if (!Options().quiet) std::fputs(Describe(r).c_str(), stdout);
    if (dropped) Say(DroppedText(dropped));
    if (r.records != before + sent && o.device < 0) {
        Error("only " + std::to_string(r.records - std::min(before, r.records)) + " of " + std::to_string(sent) +
              " messages reached the files");
        return kFailed;
    }
    return Interrupted() ? kInterrupted : kOk;
}

namespace {

// What the demo's steps share: where they write, what they made, and the report.
struct DemoRun {
    std::string dir;
    std::shared_ptr<OpenedFiles> opened = std::make_shared<OpenedFiles>();
    CLoggerManager* manager = nullptr;
    uint64_t sent = 0;
    SetReport recorded;
    std::string replayed;
    std::string merged, page;
    bool replaySame = false;
    size_t replayBytes = 0;
    std::ostringstream report;
};

// 1. A session of three devices with asserts, limited to 1 MB per file.
bool DemoRecordSession(DemoRun& run)
{
    CSimDevice sim({.seed = 2026, .devices = 3, .assertEvery = 15000});
    sim.Connect(*Devices());
    CLogger* session = run.manager->AddNewLogger((run.dir + "\\session").c_str(), /*bNewFile=*/true,
                                                 /*bClientFlag=*/false, /*nDeviceId=*/-1, /*nMaxFileSizeMB=*/1,
                                                 /*bAddBookmarkInAssert=*/1, /*bCutLogInAssert=*/1);
    if (!session->GetClient()) {
        Error("cannot create " + run.dir + "/session.vkl");
        return false;
    }
    CString result;
    session->AddFileDescription("vkl demo: three simulated devices", result, "");
    session->Resume();
    run.sent = Feed(sim, 45000, 0);
    session->EmptyFIFO();
    run.manager->RemoveLogger(session);
    CSimDevice::Disconnect(*Devices());
    run.recorded = Report(run.opened->Paths());
    if (run.recorded.files.empty()) {
        Error("the session produced no file");
        return false;
    }
    run.report << "Recorded " << Plural(run.sent, "message") << " from 3 simulated devices into "
               << Plural(run.recorded.files.size(), "file") << " (1 MB limit, asserts bookmarked and cut):\n"
               << Describe(run.recorded) << "  in all: " << Plural(run.recorded.records, "message") << ", "
               << Plural(static_cast<uint64_t>(run.recorded.pages), "page") << ", "
               << Plural(run.recorded.bookmarks, "assert bookmark") << "\n";
    if (run.recorded.records != run.sent) {
        Error("only " + std::to_string(run.recorded.records) + " of " + std::to_string(run.sent) +
              " messages reached the files");
        return false;
    }
    return true;
}

// 2. The first file replayed through the bus into a second logger.
bool DemoReplay(DemoRun& run)
{
    const FileSummary& first = run.recorded.files.front();
    CLogger* copy = run.manager->AddNewLogger((run.dir + "\\replayed").c_str(), /*bNewFile=*/true,
                                              /*bClientFlag=*/false, /*nDeviceId=*/-1, /*nMaxFileSizeMB=*/0,
                                              /*bAddBookmarkInAssert=*/0, /*bCutLogInAssert=*/0);
    copy->Resume();
    bool loaded = false;
    {
        CQueueWnd wnd;
        CLogFilePlayer player(&wnd);
        loaded = player.LoadLogFile(first.path.c_str()) != 0;
        if (loaded) {
            player.SetSpeed(0);
            player.Play();
            Progress progress("replaying", first.headerPosition);
            while (!wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 100)) {
                if (Interrupted()) player.CloseFile();
                progress.Update(static_cast<uint64_t>(player.GetFilePosition()));
            }
        }
    }
    copy->EmptyFIFO();
    run.manager->RemoveLogger(copy);
    if (!loaded) {
        Error(first.path + ": cannot be opened for replay");
        return false;
    }
    run.replayed = run.dir + "/replayed.vkl";
    std::vector<BYTE> a, b;
    run.replaySame = RecordBytes(first.path, a) && RecordBytes(run.replayed, b) && a == b;
    run.report << "Replayed " << first.path << " (" << Plural(first.records, "message") << ") through the bus into "
               << run.replayed << ":\n  "
               << (run.replaySame ? "records byte-identical to the original" : "RECORDS DIFFER from the original")
               << " (" << a.size() << " bytes)\n";
    if (!run.replaySame) Error("the replayed records differ from the original");
    return run.replaySame;
}

// 3. The files of the set merged into one, with a bookmark at each seam.
bool DemoMerge(DemoRun& run)
{
    MergeOptions m;
    m.output = run.dir + "/merged.vkl";
    m.seams = "sources";
    for (const FileSummary& f : run.recorded.files) m.inputs.push_back(f.path);
    MergeResult r;
    FileSummary s;
    std::string error;
    if (MergeInputs(m, r) != kOk || !Summarise(m.output, s, error, false) || s.records != run.recorded.records) {
        Error("the merge of the set into " + m.output + " failed " + error);
        return false;
    }
    run.merged = m.output;
    run.report << "Merged the " << Plural(m.inputs.size(), "file") << " of the set into " << m.output
               << " (vkl merge --seams sources):\n  " << Plural(s.records, "message") << ", "
               << Plural(s.bookmarks.size(), "bookmark") << " (Begin and End of each file, the assert bookmarks moved along)\n";
    return true;
}

// 4. One page of messages copied out of the merged file.
bool DemoExtract(DemoRun& run)
{
    const uint64_t first = LogFormat::kMessagesPerPage + 1, last = 2 * LogFormat::kMessagesPerPage;
    ExtractOptions x{.file = run.merged, .output = run.dir + "/page.vkl", .from = first, .to = last};
    FileSummary s;
    if (ExtractRange(x, s) != kOk) return false;
    run.page = x.output;
    run.report << "Extracted one page, messages " << first << " to " << last << ", into " << x.output
               << " (vkl extract --from " << first << " --to " << last << "):\n  " << Plural(s.records, "message") << ", "
               << s.size << " bytes\n";
    return s.records == last - first + 1;
}

// 5. The first file converted to a text table, to CSV and to an HTML page.
bool DemoConvert(DemoRun& run)
{
    const std::string& log = run.recorded.files.front().path;
    const std::vector<CString> columns = {"Index", "PC Time Stamp", "Device", "Message Type", "Signal", "Decoded"};
    run.report << "Converted " << log << " (" << columns.size() << " columns):\n";
    for (const int csv : {0, 1}) {
        const std::string out = run.dir + (csv ? "/converted.csv" : "/converted.txt");
        CLogFileConverter conv(nullptr);
        conv.m_bCsv = csv;
        CString result;
        if (!conv.ConvertLogToText(columns, log.c_str(), out.c_str(), result) || result != ConvertTexts::kFinished) {
            Error(out + ": " + result.str());
            return false;
        }
        run.report << "  " << out << "  " << std::filesystem::file_size(out) << " bytes\n";
    }
    const std::string page = run.dir + "/converted.html";
    uint64_t rows = 0;
    const std::string said = WriteHtmlPage(log, page, std::vector<std::string>(columns.begin(), columns.end()), rows);
    if (!said.empty()) {
        Error(page + ": " + said);
        return false;
    }
    run.report << "  " << page << "  " << std::filesystem::file_size(page) << " bytes, " << Plural(rows, "row") << "\n";
    return true;
}

// 6. The first file exported to GKI, imported back and exported again.
bool DemoGki(DemoRun& run)
{
    std::string error;
    const std::string line = GkiRoundTrip(run.recorded.files.front().path, run.dir, error);
    if (!error.empty()) {
        Error(error);
        return false;
    }
    run.report << line << "\n";
    return true;
}

// 7. A simulated SD-card dump with two damaged stretches imported into a log.
bool DemoImportSd(DemoRun& run)
{
    SdDumpReport made;
    const std::vector<uint8_t> dump = MakeSdDump({.seed = 2026, .packets = 5000, .damagedStretches = 2}, &made);
    const std::string card = run.dir + "/card.bin";
    std::ofstream(card, std::ios::binary).write(reinterpret_cast<const char*>(dump.data()),
                                                static_cast<std::streamsize>(dump.size()));
    std::string summary;
    const int status = ImportSdLog(card, run.dir + "/card.vkl", summary, /*showBoxes=*/false);
    run.report << "Imported a simulated SD-card dump of " << Plural(made.packets, "packet") << " with "
               << made.damaged.size() << " damaged stretches (vkl import-sd):\n" << summary;
    return status == kOk || status == 3;
}

}  // namespace

// The demo writes into a folder of its own, marked as such: a later demo empties only a
// marked folder, so no log of the user's is ever removed.
std::string ClaimDemoFolder(const std::string& dir)
{
    namespace fs = std::filesystem;
    const fs::path marker = fs::path(dir) / ".vkl-demo";
    std::error_code ec;
    if (!fs::exists(marker, ec)) {
        if (!fs::is_empty(dir, ec)) return dir + ": not empty and not a demo folder; the demo needs an empty --dir";
        std::ofstream(marker) << "made by vkl demo; its logs are replaced by the next demo\n";
        return {};
    }
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file() && e.path() != marker) fs::remove(e.path(), ec);
    return {};
}

int CmdDemo(const DemoOptions& o)
{
    InstallInterruptHandler();
    DemoRun run;
    run.dir = EnsureDirectory(o.dir);
    if (const std::string refusal = ClaimDemoFolder(run.dir); !refusal.empty()) {
        Error(refusal);
        return kFailed;
    }

    HostServices services = Services::Current();
    services.fileObserver = run.opened;
    CScopedServices scoped(services);
    run.manager = Init();
    bool ok = true;
    for (auto step : {DemoRecordSession, DemoReplay, DemoMerge, DemoExtract, DemoConvert, DemoGki, DemoImportSd}) {
        ok = step(run);
        if (!ok) break;
    }
    Term();
    if (!run.recorded.files.empty())
        run.report << "Look inside with: vkl info " << run.recorded.files.front().path << "   or   vkl messages "
                   << (run.replayed.empty() ? run.recorded.files.front().path : run.replayed) << " --to 20\n";
    if (!Options().quiet) std::fputs(run.report.str().c_str(), stdout);
    return ok ? kOk : kFailed;
}

void AddRecordCommands(CLI::App& app, CommandList& out)
{
    auto demo = std::make_shared<DemoOptions>();
    auto* cDemo = app.add_subcommand("demo", "Record a simulated session, replay it into a second log, convert it to "
                                             "text, CSV and HTML, and summarise");
    cDemo->add_option("--dir", demo->dir, "Directory for the demo's logs")->capture_default_str();
    out.push_back({cDemo, [demo] { return CmdDemo(*demo); }});

    auto rec = std::make_shared<RecordOptions>();
    auto* c = app.add_subcommand("record", "Record the simulated device into a log-file set");
    c->add_option("-o,--output", rec->name, "Log file name (default: a date name or the naming convention)");
    c->add_option("--dir", rec->dir, "Directory of the log files (default: the home directory's \"Bin Logs\")");
    c->add_option("--device", rec->device, "Record only this device number (default: all)")->check(CLI::Range(-1, 4));
    c->add_option("--max-size", rec->maxSizeMB, "Largest file in MB before a continuation file starts (0: from free space)")
        ->check(WholeNumber(0, 4095));
    c->add_flag("--bookmark-asserts", rec->bookmarkAsserts, "Bookmark assert messages");
    c->add_flag("--cut-asserts", rec->cutAsserts, "Start a continuation file after every assert message");
    auto* oMessages = c->add_option("--messages", rec->messages, "Number of messages to record")
                          ->check(WholeNumber(1, 1000000000000ull));
    c->add_option("--seconds", rec->seconds, "Record for this many seconds")
        ->check(CLI::Range(0.001, 31.0e6))
        ->excludes(oMessages);
    c->add_option("--assert-every", rec->assertEvery, "One assert every N messages (0: none)")
        ->check(WholeNumber(0, UINT64_MAX));
    c->add_option("--description", rec->description, "Description written into every file of the set");
    c->add_option("--seed", rec->seed, "Seed of the simulated device")->check(WholeNumber(0, UINT64_MAX));
    auto* oForce = c->add_flag("--force", rec->force, "Replace an existing file of the -o name");
    c->add_flag("--append", rec->append, "Add to the existing log of the -o name")->excludes(oForce)->needs(c->get_option("-o"));
    out.push_back({c, [rec] { return CmdRecord(*rec); }});
}

}  // namespace vkl

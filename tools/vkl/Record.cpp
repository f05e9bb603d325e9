// vkl record, vkl demo: the simulated device recorded through the logger manager.
#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "framework/File.h"
#include "framework/Window.h"
#include "logfile/LogFile.h"
#include "logger/LoggerManager.h"
#include "platform/DeviceLink.h"
#include "platform/MessageBus.h"
#include "platform/Services.h"
#include "platform/Trace.h"
#include "replay/LogFilePlayer.h"
#include "sim/SimDevice.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Inspect.h"
#include "tools/vkl/Record.h"

namespace vkl {
namespace {

// Notes every file a logger opens for writing.
class OpenedFiles : public ILogFileObserver {
public:
    void OpenedForWriting(const CString& path) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths.push_back(CFile::OsPath(path.c_str()));
    }
    std::vector<std::string> Paths()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_paths;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_paths;
};

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

// Records `count` messages (or for `seconds`) from the simulated device into `logger`.
uint64_t Feed(CSimDevice& sim, uint64_t count, double seconds)
{
    CSimDeviceRunner runner(sim, Services::Bus());
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    Progress progress("recording", seconds > 0 ? static_cast<uint64_t>(seconds * 1000) : count);
    uint64_t sent = 0;
    while (!Interrupted()) {
        if (seconds > 0 ? elapsed() >= seconds : sent >= count) break;
        const uint64_t chunk = seconds > 0 ? 200 : std::min<uint64_t>(1024, count - sent);
        sent += runner.Run(chunk);
        progress.Update(seconds > 0 ? static_cast<uint64_t>(elapsed() * 1000) : sent);
    }
    progress.Finish();
    return sent;
}

struct SetReport {
    std::vector<FileSummary> files;
    uint64_t records = 0, bookmarks = 0;
    int pages = 0;
};

SetReport Report(const std::vector<std::string>& paths)
{
    SetReport r;
    for (const std::string& p : paths) {
        if (!std::filesystem::exists(p)) continue;  // a file closed with no record is gone
        FileSummary s;
        std::string error;
        if (!Summarise(p, s, error, false)) {
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

int CmdRecord(const RecordOptions& o)
{
    InstallInterruptHandler();
    auto opened = std::make_shared<OpenedFiles>();
    HostServices services = Services::Current();
    services.fileObserver = opened;
    CScopedServices scoped(services);

    CSimDevice sim({.seed = o.seed, .devices = 3, .assertEvery = o.assertEvery});
    sim.Connect(*Devices());  // before the first file opens, so its header names the device
    CString dir = o.dir.empty() ? CLogger::GetLogFilesPath() : CString(EnsureDirectory(o.dir).c_str());
    std::unique_ptr<CLogger> own;
    CLogger* logger = nullptr;
    if (!o.name.empty()) {
        logger = Init()->AddNewLogger((dir + "\\" + o.name.c_str()).c_str(), true, false, o.device, o.maxSizeMB,
                                      o.bookmarkAsserts, o.cutAsserts);
    } else {
        // No name: the logger names the file itself, by date or by the naming convention.
        own = std::make_unique<CLogger>("", 1, 0, o.dir.empty() ? CString() : dir, o.device, o.maxSizeMB,
                                        o.bookmarkAsserts, o.cutAsserts);
        logger = own.get();
    }
    if (!logger->GetClient()) {
        Error("cannot create the log file in " + std::string(CFile::OsPath(dir)));
        Term();
        return kFailed;
    }
    if (!o.description.empty()) {
        CString result;
        logger->AddFileDescription(o.description.c_str(), result, "");
    }
    logger->Resume();
    const uint64_t count = o.messages ? o.messages : (o.seconds > 0 ? 0 : 10000);
    const uint64_t sent = Feed(sim, count, o.seconds);
    logger->EmptyFIFO();
    logger->Close();
    const unsigned long limit = logger->GetMaxFileSize();
    const uint64_t dropped = logger->GetClient()->GetNumDropped();
    own.reset();
    Term();
    CSimDevice::Disconnect(*Devices());

    const SetReport r = Report(opened->Paths());
    Say("recorded " + Plural(sent, "message") + (Interrupted() ? " (stopped by Ctrl-C)" : "") + " into " +
        Plural(r.files.size(), "file") + " (limit " + std::to_string(limit) + " MB per file)");
    if (!Options().quiet) std::fputs(Describe(r).c_str(), stdout);
    if (dropped) Say(DroppedText(dropped));
    if (r.records != sent && o.device < 0) {
        Error("only " + std::to_string(r.records) + " of " + std::to_string(sent) + " messages reached the files");
        return kFailed;
    }
    return kOk;
}

int CmdDemo(const DemoOptions& o)
{
    InstallInterruptHandler();
    const std::string dir = EnsureDirectory(o.dir);
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".vkl") std::filesystem::remove(e.path());

    auto opened = std::make_shared<OpenedFiles>();
    HostServices services = Services::Current();
    services.fileObserver = opened;
    CScopedServices scoped(services);

    // 1. A session of three devices with asserts, limited to 1 MB per file.
    CSimDevice sim({.seed = 2026, .devices = 3, .assertEvery = 15000});
    sim.Connect(*Devices());
    CLoggerManager* manager = Init();
    CLogger* session = manager->AddNewLogger((dir + "\\session").c_str(), true, false, -1, 1, 1, 1);
    if (!session->GetClient()) {
        Error("cannot create " + dir + "/session.vkl");
        Term();
        return kFailed;
    }
    CString result;
    session->AddFileDescription("vkl demo: three simulated devices", result, "");
    session->Resume();
    const uint64_t sent = Feed(sim, 45000, 0);
    session->EmptyFIFO();
    manager->RemoveLogger(session);
    CSimDevice::Disconnect(*Devices());
    const std::vector<std::string> sessionFiles = opened->Paths();
    const SetReport recorded = Report(sessionFiles);
    if (recorded.files.empty()) {
        Error("the session produced no file");
        Term();
        return kFailed;
    }

    // 2. The first file replayed through the bus into a second logger.
    const std::string source = recorded.files.front().path;
    CLogger* copy = manager->AddNewLogger((dir + "\\replayed").c_str(), true, false, -1, 0, 0, 0);
    copy->Resume();
    {
        CQueueWnd wnd;
        CLogFilePlayer player(&wnd);
        if (!player.LoadLogFile(source.c_str())) {
            Error(source + ": cannot be opened for replay");
            Term();
            return kFailed;
        }
        player.SetSpeed(0);
        player.Play();
        Progress progress("replaying", recorded.files.front().headerPosition);
        while (!wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 100)) {
            if (Interrupted()) player.CloseFile();
            progress.Update(static_cast<uint64_t>(player.GetFilePosition()));
        }
    }
    copy->EmptyFIFO();
    manager->RemoveLogger(copy);
    Term();
    const std::string replayed = dir + "/replayed.vkl";
    std::vector<BYTE> a, b;
    const bool same = RecordBytes(source, a) && RecordBytes(replayed, b) && a == b;
    const FileSummary& first = recorded.files.front();

    // 3. What it made.
    std::ostringstream o2;
    o2 << "Recorded " << Plural(sent, "message") << " from 3 simulated devices into " << Plural(recorded.files.size(), "file")
       << " (1 MB limit, asserts bookmarked and cut):\n"
       << Describe(recorded) << "  in all: " << Plural(recorded.records, "message") << ", "
       << Plural(static_cast<uint64_t>(recorded.pages), "page") << ", " << Plural(recorded.bookmarks, "assert bookmark")
       << "\n"
       << "Replayed " << first.path << " (" << Plural(first.records, "message") << ") through the bus into " << replayed
       << ":\n  " << (same ? "records byte-identical to the original" : "RECORDS DIFFER from the original") << " ("
       << a.size() << " bytes)\n"
       << "Look inside with: vkl info " << first.path << "   or   vkl messages " << replayed << " --to 20\n";
    if (!Options().quiet) std::fputs(o2.str().c_str(), stdout);
    if (recorded.records != sent) {
        Error("only " + std::to_string(recorded.records) + " of " + std::to_string(sent) + " messages reached the files");
        return kFailed;
    }
    if (!same) {
        Error("the replayed records differ from the original");
        return kFailed;
    }
    return kOk;
}

void AddRecordCommands(CLI::App& app, CommandList& out)
{
    auto demo = std::make_shared<DemoOptions>();
    auto* cDemo = app.add_subcommand("demo", "Record a simulated session, replay it into a second log, and summarise");
    cDemo->add_option("--dir", demo->dir, "Directory for the demo's logs")->capture_default_str();
    out.push_back({cDemo, [demo] { return CmdDemo(*demo); }});

    auto rec = std::make_shared<RecordOptions>();
    auto* c = app.add_subcommand("record", "Record the simulated device into a log-file set");
    c->add_option("-o,--output", rec->name, "Log file name (default: a date name or the naming convention)");
    c->add_option("--dir", rec->dir, "Directory of the log files (default: the home directory's \"Bin Logs\")");
    c->add_option("--device", rec->device, "Record only this device number (default: all)")->check(CLI::Range(-1, 4));
    c->add_option("--max-size", rec->maxSizeMB, "Largest file in MB before a continuation file starts (0: from free space)");
    c->add_flag("--bookmark-asserts", rec->bookmarkAsserts, "Bookmark assert messages");
    c->add_flag("--cut-asserts", rec->cutAsserts, "Start a continuation file after every assert message");
    auto* oMessages = c->add_option("--messages", rec->messages, "Number of messages to record")->check(CLI::PositiveNumber);
    c->add_option("--seconds", rec->seconds, "Record for this many seconds")->check(CLI::PositiveNumber)->excludes(oMessages);
    c->add_option("--assert-every", rec->assertEvery, "One assert every N messages (0: none)");
    c->add_option("--description", rec->description, "Description written into every file of the set");
    c->add_option("--seed", rec->seed, "Seed of the simulated device");
    out.push_back({c, [rec] { return CmdRecord(*rec); }});
}

}  // namespace vkl

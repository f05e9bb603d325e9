// vkl replay: a log file through the message bus, optionally into a second log.
#include <CLI/CLI.hpp>
#include <memory>

#include "framework/Sync.h"
#include "framework/Window.h"
#include "logfile/LogFile.h"
#include "logger/LoggerManager.h"
#include "platform/MessageBus.h"
#include "replay/LogFilePlayer.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Inspect.h"
#include "tools/vkl/Record.h"

namespace vkl {

namespace {

// Whether the file can be replayed, from its header alone; the end of its records in
// `headerPosition`. Reports why not.
bool CheckReplayable(const std::string& path, uint32_t& headerPosition)
{
    {
        CLogFile probe;
        if (probe.OpenForInspection(path.c_str()) && probe.GetLength() >= CLogFile::kFirstRecord &&
            !probe.NeedsRepair()) {
            headerPosition = probe.GetHeaderPosition();
            probe.Close();
            return true;
        }
    }
    // The summary words the reason.
    FileSummary summary;
    std::string error;
    if (!Summarise(path, summary, error, false))
        Error(error);
    else
        Error(path + ": needs repair; 'vkl repair " + path + "' repairs it");
    return false;
}

}  // namespace

int CmdReplay(const ReplayOptions& o)
{
    uint32_t headerPosition = 0;
    if (!CheckReplayable(o.file, headerPosition)) return kFailed;
    InstallInterruptHandler();
    CLoggerManager* manager = Init();
    CLogger* logger = nullptr;
    if (!o.into.empty()) {
        logger = manager->AddNewLogger(o.into.c_str(), true, false, -1, 0, 0, 0);
        if (!logger->GetClient()) {
            Error(o.into + ": cannot be created");
            Term();
            return kFailed;
        }
        logger->Resume();
    }
    CQueueWnd wnd;
    int status = kOk;
    FileSummary summary;
    {
        CLogFilePlayer player(&wnd);
        if (!player.LoadLogFile(o.file.c_str())) {
            Error(o.file + ": cannot be opened for replay");
            Term();
            return kFailed;
        }
        player.SetSpeed(o.speedMs);
        player.SetLooped(o.loop ? 1 : 0);
        player.Play();
        // The records are counted for the last line while the replay runs, at the replay
        // thread's priority, so that the counting never holds up the logger.
        std::string error;
        const auto counting =
            CWinThread::Start([&] { return Summarise(o.file, summary, error, false) ? 1u : 0u; }, THREAD_PRIORITY_IDLE);
        Progress progress("replaying " + o.file, headerPosition);
        while (!Interrupted()) {
            if (wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 100)) break;
            progress.Update(static_cast<uint64_t>(player.GetFilePosition()));
        }
        progress.Finish();
        if (Interrupted()) player.CloseFile();
        counting->WaitForEnd(INFINITE);
    }
    std::string into;
    uint64_t dropped = 0;
    if (logger) {
        logger->EmptyFIFO();
        into = std::string(logger->GetPathName().c_str()) + logger->GetFileName().c_str();
        logger->Close();
        dropped = logger->GetClient()->GetNumDropped();
    }
    Term();
    Say("replayed " + o.file + " (" + std::to_string(summary.records) + " records" + (o.loop ? ", looped" : "") + ")" +
        (into.empty() ? std::string() : " into " + into));
    if (dropped) Say(DroppedText(dropped));
    if (!LastMessageBox().empty() && LastMessageBox() == "Error reading log file.") status = kFailed;
    return status;
}

void AddReplayCommand(CLI::App& app, CommandList& out)
{
    auto rep = std::make_shared<ReplayOptions>();
    auto* c = app.add_subcommand("replay", "Replay a log file through the message bus");
    c->add_option("FILE", rep->file, "Log file")->required();
    c->add_option("--speed", rep->speedMs, "Pause after each message in ms")->capture_default_str();
    c->add_flag("--loop", rep->loop, "Start again at the end (until Ctrl-C)");
    c->add_option("--into", rep->into, "Record the replay into this log file");
    out.push_back({c, [rep] { return CmdReplay(*rep); }});
}

}  // namespace vkl

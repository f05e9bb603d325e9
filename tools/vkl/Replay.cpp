// vkl replay: a log file through the message bus, optionally into a second log.
#include <CLI/CLI.hpp>
#include <memory>

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

int CmdReplay(const ReplayOptions& o)
{
    FileSummary summary;
    std::string error;
    if (!Summarise(o.file, summary, error, false)) {
        Error(error);
        return kFailed;
    }
    if (summary.needsRepair) {
        Error(o.file + ": needs repair; 'vkl repair " + o.file + "' repairs it");
        return kFailed;
    }
    InstallInterruptHandler();
    CLoggerManager* manager = Init();
    CLogger* logger = nullptr;
    if (!o.into.empty()) {
        logger = manager->AddNewLogger(o.into.c_str(), /*bNewFile=*/true, /*bClientFlag=*/false, /*nDeviceId=*/-1,
                                       /*nMaxFileSizeMB=*/0, /*bAddBookmarkInAssert=*/0, /*bCutLogInAssert=*/0);
        if (!logger->GetClient()) {
            Error(o.into + ": cannot be created");
            Term();
            return kFailed;
        }
        logger->Resume();
    }
    CQueueWnd wnd;
    int status = kOk;
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
        Progress progress("replaying " + o.file, summary.headerPosition);
        while (!Interrupted()) {
            if (wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 100)) break;
            progress.Update(static_cast<uint64_t>(player.GetFilePosition()));
        }
        progress.Finish();
        if (Interrupted()) player.CloseFile();
    }
    std::string into;
    if (logger) {
        logger->EmptyFIFO();
        into = std::string(logger->GetPathName().c_str()) + logger->GetFileName().c_str();
        logger->Close();
    }
    Term();
    Say("replayed " + o.file + " (" + std::to_string(summary.records) + " records" + (o.loop ? ", looped" : "") + ")" +
        (into.empty() ? std::string() : " into " + into));
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

// vkl replay: a log file through the message bus, optionally into a second log.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "framework/Sync.h"
#include "framework/Window.h"
#include "logfile/LogFile.h"
#include "logger/LoggerManager.h"
#include "platform/MessageBus.h"
#include "replay/LogFilePlayer.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Files.h"
#include "tools/vkl/Options.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Inspect.h"
#include "tools/vkl/Record.h"

namespace vkl {
namespace {

// Single keys from the terminal while a replay runs (no line buffering, no echo); the
// terminal's settings come back when the object goes.
class TerminalKeys {
public:
    TerminalKeys() : m_active(!Options().quiet && ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &m_saved) == 0)
    {
        if (!m_active) return;
        termios raw = m_saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        std::fprintf(stderr, "keys: space pause/resume, n step, r rewind, q quit\n");
    }
    ~TerminalKeys()
    {
        if (m_active) ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    TerminalKeys(const TerminalKeys&) = delete;
    TerminalKeys& operator=(const TerminalKeys&) = delete;
    bool Active() const { return m_active; }
    // The next key, waiting up to `ms`; 0 when none came.
    char Next(int ms) const
    {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        char c = 0;
        if (!m_active || ::poll(&p, 1, ms) <= 0 || ::read(STDIN_FILENO, &c, 1) != 1) return 0;
        return c;
    }

private:
    termios m_saved{};
    bool m_active;
};

// Plays until the end, Ctrl-C or q; the keys drive the player's pause, step and rewind.
// Returns the message counter when the user stopped the replay, else nothing.
std::optional<DWORD> Drive(CLogFilePlayer& player, CQueueWnd& wnd, const std::string& file, DWORD end)
{
    TerminalKeys keys;
    Progress progress("replaying " + file, end);
    bool paused = false;
    while (!Interrupted()) {
        if (wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, keys.Active() ? 0 : 100)) break;
        switch (keys.Next(100)) {
        case ' ':
            paused ? player.Resume() : player.Pause();
            paused = !paused;
            break;
        case 'n':
            if (!paused) player.Pause();
            paused = true;
            player.Step();
            break;
        case 'r':
            player.RewindFile(paused);
            break;
        case 'q': {
            const DWORD counter = player.GetMessageCounter();
            player.CloseFile();
            if (keys.Active()) std::fprintf(stderr, "\n");
            return counter;
        }
        default:
            break;
        }
        if (keys.Active())
            std::fprintf(stderr, "\r%s: %u messages%s\033[K", file.c_str(), player.GetMessageCounter(),
                         paused ? " (paused)" : "");
        else
            progress.Update(static_cast<uint64_t>(player.GetFilePosition()));
    }
    if (keys.Active()) std::fprintf(stderr, "\n");
    if (!Interrupted()) return std::nullopt;
    const DWORD counter = player.GetMessageCounter();
    player.CloseFile();
    return counter;
}

}  // namespace

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
        Error(DamageText(path, summary.beingRecorded));
    return false;
}

// Refuses an --into that is the replayed file or that would replace a file unasked.
int CheckInto(const ReplayOptions& o)
{
    if (o.into.empty()) return kOk;
    if (Exists(o.into) && SameFile(o.into, o.file)) {
        Error(o.into + ": is the file being replayed; choose another --into");
        return kUsage;
    }
    if (const std::string refusal = PrepareOutput(o.into, o.force); !refusal.empty()) {
        Error(refusal);
        return kFailed;
    }
    return kOk;
}

// The logger that writes the replay into --into, resumed; null when there is none or it
// cannot be created (said so).
CLogger* OpenInto(CLoggerManager* manager, const ReplayOptions& o, bool& failed)
{
    failed = false;
    if (o.into.empty()) return nullptr;
    CLogger* logger = manager->AddNewLogger(o.into.c_str(), /*bNewFile=*/true, /*bClientFlag=*/false,
                                            /*nDeviceId=*/-1, /*nMaxFileSizeMB=*/0, /*bAddBookmarkInAssert=*/0,
                                            /*bCutLogInAssert=*/0);
    if (!logger->GetClient()) {
        const std::string why = OpenErrorText(*logger->GetLogFile());
        Error(o.into + ": cannot be created" + (why.empty() ? std::string() : ": " + why));
        failed = true;
        return nullptr;
    }
    logger->Resume();
    return logger;
}

}  // namespace

int CmdReplay(const ReplayOptions& o)
{
    uint32_t headerPosition = 0;
    if (!CheckReplayable(o.file, headerPosition)) return kFailed;
    if (const int refused = CheckInto(o); refused != kOk) return refused;
    InstallInterruptHandler();
    CLoggerManager* manager = Init();
    bool failed = false;
    CLogger* logger = OpenInto(manager, o, failed);
    if (failed) {
        Term();
        return kFailed;
    }
    CQueueWnd wnd;
    bool loaded = false;
    std::optional<DWORD> stoppedAt;
    FileSummary summary;
    {
        CLogFilePlayer player(&wnd);
        loaded = player.LoadLogFile(o.file.c_str());
        if (loaded) {
            player.SetSpeed(o.speedMs);
            player.SetLooped(o.loop ? 1 : 0);
            player.Play();
            // The records are counted for the last line while the replay runs, at the
            // replay thread's priority, so that the counting never holds up the logger.
            std::string error;
            const auto counting = CWinThread::Start(
                [&] { return Summarise(o.file, summary, error, false) ? 1u : 0u; }, THREAD_PRIORITY_IDLE);
            stoppedAt = Drive(player, wnd, o.file, headerPosition);
            counting->WaitForEnd(INFINITE);
        }
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
    if (!loaded) {
        Error(o.file + ": cannot be opened for replay");
        return kFailed;
    }
    const std::string what = stoppedAt ? "stopped after " + std::to_string(*stoppedAt) + " of " +
                                             std::to_string(summary.records) + " records"
                                       : std::to_string(summary.records) + " records" + (o.loop ? ", looped" : "");
    Say("replayed " + o.file + " (" + what + ")" + (into.empty() ? std::string() : " into " + into));
    if (dropped) Say(DroppedText(dropped));
    if (!summary.readError.empty()) {
        Error(o.file + ": record at offset " + std::to_string(summary.readEnd) +
              " cannot be read: " + summary.readError + "; the replay stopped there");
        return kFailed;
    }
    if (LastMessageBox() == "Error reading log file.") return kFailed;
    return Interrupted() ? kInterrupted : kOk;
}

void AddReplayCommand(CLI::App& app, CommandList& out)
{
    auto rep = std::make_shared<ReplayOptions>();
    auto* c = app.add_subcommand("replay", "Replay a log file through the message bus");
    c->add_option("FILE", rep->file, "Log file")->required();
    c->add_option("--speed", rep->speedMs, "Pause after each message in ms")->capture_default_str()->check(WholeNumber(0, 3600000));
    c->add_flag("--loop", rep->loop, "Start again at the end (until Ctrl-C)");
    c->add_option("--into", rep->into, "Record the replay into this new log file");
    c->add_flag("--force", rep->force, "Replace an existing --into file");
    out.push_back({c, [rep] { return CmdReplay(*rep); }});
}

}  // namespace vkl

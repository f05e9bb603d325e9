#include "tools/vkl/Host.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <unistd.h>

#include "framework/MessageBox.h"
#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/Recoder.h"
#include "platform/Services.h"
#include "platform/SignalDb.h"
#include "platform/TomlSettings.h"
#include "platform/Trace.h"

namespace vkl {
namespace {
GlobalOptions g_options;
std::shared_ptr<CDeviceTable> g_devices;
std::mutex g_boxMutex;
std::string g_lastBox;
struct ShownBox {
    std::string text;
    bool question;
};
std::vector<ShownBox> g_boxes;
bool g_noWithoutTerminal = false;
volatile std::sig_atomic_t g_interrupted = 0;

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

int AnswerBox(const MessageBoxRequest& request)
{
    const std::string text = OneLine(request.text.str());
    const UINT buttons = request.type & MB_TYPEMASK;
    const bool question = buttons == MB_YESNO || buttons == MB_YESNOCANCEL || buttons == MB_OKCANCEL;
    {
        std::lock_guard<std::mutex> lock(g_boxMutex);
        g_lastBox = text;
        g_boxes.push_back({text, question});
    }
    if (!question) {
        std::fprintf(stderr, "vkl: %s\n", text.c_str());
        return IDOK;
    }
    const int yes = buttons == MB_OKCANCEL ? IDOK : IDYES;
    const int no = buttons == MB_OKCANCEL ? IDCANCEL : IDNO;
    if (g_options.yes || g_options.no) {
        const int answer = g_options.yes ? yes : no;
        std::fprintf(stderr, "vkl: %s %s\n", text.c_str(), g_options.yes ? "(yes: --yes)" : "(no: --no)");
        return answer;
    }
    if (::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "vkl: %s [y/n] ", text.c_str());
        std::fflush(stderr);
        std::string line;
        if (std::getline(std::cin, line) && !line.empty()) return (line[0] == 'y' || line[0] == 'Y') ? yes : no;
        return no;
    }
    const int answer = g_noWithoutTerminal ? no : DefaultMessageBoxAnswer(request.type);
    std::fprintf(stderr, "vkl: %s (%s: no terminal to ask; pass --yes or --no)\n", text.c_str(),
                 answer == yes ? "yes" : "no");
    return answer;
}

void OnInterrupt(int)
{
    if (g_interrupted) std::_Exit(130);  // a second Ctrl-C does not wait
    g_interrupted = 1;
}
}  // namespace

std::optional<CSystemTime> ParseClock(const std::string& text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return std::nullopt;
    if (y < 1601 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return std::nullopt;
    return CSystemTime(y, mo, d, h, mi, s, 0);
}

bool InstallHost(const GlobalOptions& options)
{
    g_options = options;
    HostServices s;
    if (!options.signalsFile.empty()) {
        try {
            s.signalDb = CSvmDb::LoadFromFile(options.signalsFile.c_str());
        } catch (const CException& e) {
            Error(std::string("signal database ") + e.GetErrorMessage().c_str());
            return false;
        } catch (const std::exception& e) {
            Error("signal database " + options.signalsFile + ": " + e.what());
            return false;
        }
        s.recoder = std::make_shared<CConverter>(s.signalDb);
    }
    if (!options.homeDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(options.homeDir) / "Bin Logs", ec);
        s.homeDirectory = std::filesystem::absolute(options.homeDir).lexically_normal().string().c_str();
        while (s.homeDirectory.GetLength() > 1 && s.homeDirectory.Right(1) == "/")
            s.homeDirectory = s.homeDirectory.Left(s.homeDirectory.GetLength() - 1);
    } else {
        s.homeDirectory = Services::DefaultHomeDirectory();
    }
    const CString settingsPath = options.settingsFile.empty() ? CTomlSettingsStore::DefaultPath(s.homeDirectory)
                                                              : CString(options.settingsFile.c_str());
    s.settings = std::make_shared<CTomlSettingsStore>(settingsPath);
    if (options.trace) s.trace = std::make_shared<CStreamTraceSink>(stderr);
    if (const auto fixed = ParseClock(options.clock)) s.clock = std::make_shared<CFixedClock>(*fixed);
    g_devices = std::make_shared<CDeviceTable>();
    s.deviceLink = g_devices;
    Services::Install(s);
    SetMessageBoxHandler(&AnswerBox);
    return true;
}

const GlobalOptions& Options()
{
    return g_options;
}

std::shared_ptr<CDeviceTable> Devices()
{
    return g_devices;
}

void Error(const std::string& text)
{
    std::fprintf(stderr, "vkl: %s\n", OneLine(text).c_str());
}

void Say(const std::string& text)
{
    if (!g_options.quiet) std::printf("%s\n", text.c_str());
}

std::string LastMessageBox()
{
    std::lock_guard<std::mutex> lock(g_boxMutex);
    return g_lastBox;
}

size_t MessageBoxCount()
{
    std::lock_guard<std::mutex> lock(g_boxMutex);
    return g_boxes.size();
}

std::vector<std::string> StatementsSince(size_t since)
{
    std::lock_guard<std::mutex> lock(g_boxMutex);
    std::vector<std::string> texts;
    for (size_t i = since; i < g_boxes.size(); ++i)
        if (!g_boxes[i].question) texts.push_back(g_boxes[i].text);
    return texts;
}

void AnswerNoWithoutTerminal()
{
    g_noWithoutTerminal = true;
}

void InstallInterruptHandler()
{
    struct sigaction sa {};
    sa.sa_handler = &OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool Interrupted()
{
    return g_interrupted != 0;
}

Progress::Progress(std::string label, uint64_t total)
    : m_label(std::move(label)), m_total(total), m_enabled(!g_options.quiet && ::isatty(STDERR_FILENO) && total > 0)
{
}

Progress::~Progress()
{
    Finish();
}

void Progress::Update(uint64_t done)
{
    if (!m_enabled) return;
    const int permille = static_cast<int>(std::min<uint64_t>(1000, done * 1000 / m_total));
    if (permille == m_lastPermille) return;
    m_lastPermille = permille;
    constexpr int kWidth = 30;
    const int filled = permille * kWidth / 1000;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", m_label.c_str(), filled, "##############################", kWidth - filled,
                 "", permille / 10);
    std::fflush(stderr);
}

void Progress::Finish()
{
    if (!m_enabled || m_lastPermille < 0) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_lastPermille = -1;
}

}  // namespace vkl

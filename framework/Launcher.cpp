#include "framework/Launcher.h"

#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <spawn.h>

extern char** environ;

namespace {
std::mutex g_mutex;
ProgramLauncher& Current()
{
    static ProgramLauncher launcher;
    return launcher;
}
}  // namespace

bool SpawnProgram(const std::vector<std::string>& argv)
{
    if (argv.empty() || argv[0].empty()) return false;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
    // Nobody waits for the program; a detached thread reaps it when it ends.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

ProgramLauncher SetProgramLauncher(ProgramLauncher launcher)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ProgramLauncher previous = std::move(Current());
    Current() = std::move(launcher);
    return previous;
}

bool LaunchProgram(const std::vector<std::string>& argv)
{
    ProgramLauncher launcher;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        launcher = Current();
    }
    return launcher ? launcher(argv) : SpawnProgram(argv);
}

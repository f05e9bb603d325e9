#include "tests/support/Process.h"

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/support/TestEnv.h"

extern char** environ;

ProcessResult RunProcess(const std::vector<std::string>& args, const std::string& scratchDir,
                         const std::vector<std::pair<std::string, std::string>>& env)
{
    std::vector<std::string> argStore(args);
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The test's environment, with the given variables set over it.
    std::map<std::string, std::string> vars;  // name: "name=value"
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    for (const auto& [name, value] : env) vars[name] = name + "=" + value;
    std::vector<char*> envp;
    for (auto& [name, entry] : vars) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string out = scratchDir + "/.stdout", err = scratchDir + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ProcessResult r;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
}

std::vector<std::pair<std::string, std::string>> WithShim(std::vector<std::pair<std::string, std::string>> settings)
{
    settings.push_back({"LD_PRELOAD", VKL_SYSCALL_SHIM});
    // Under AddressSanitizer the shim stands before the sanitizer's runtime, which then
    // only has to let it (the shim passes every call on).
    const char* asan = std::getenv("ASAN_OPTIONS");
    settings.push_back({"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"});
    return settings;
}

const std::string& VklProgram()
{
    static const std::string path = std::string(VKL_BINARY_DIR) + "/tools/vkl/vkl";
    return path;
}

#pragma once
// Runs a program as a separate process, as a user runs it: no terminal on stdin, stdout
// and stderr caught, extra environment variables on top of the test's own.
#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out, err;
};

ProcessResult RunProcess(const std::vector<std::string>& args, const std::string& scratchDir,
                         const std::vector<std::pair<std::string, std::string>>& env = {});

// The built vkl program.
const std::string& VklProgram();
// The environment that preloads the syscall shim (SyscallShim.c), with its settings.
std::vector<std::pair<std::string, std::string>> WithShim(std::vector<std::pair<std::string, std::string>> settings);

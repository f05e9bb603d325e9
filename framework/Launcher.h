#pragma once
// Starting a program with arguments (the host opens an error file in a text editor this
// way). Never goes through a shell; the launcher can be replaced by a host or a test.
#include <functional>
#include <string>
#include <vector>

using ProgramLauncher = std::function<bool(const std::vector<std::string>& argv)>;

// argv[0] is the program, looked up in PATH. Returns whether it was started.
bool LaunchProgram(const std::vector<std::string>& argv);
ProgramLauncher SetProgramLauncher(ProgramLauncher launcher);
// The default: posix_spawnp, not waited for.
bool SpawnProgram(const std::vector<std::string>& argv);

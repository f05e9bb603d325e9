#pragma once
// The subcommands. Each command file adds its own subcommands and their options to the
// parser and says how to run each once the line is parsed; main() runs the one given.
#include <functional>
#include <vector>

namespace CLI {
class App;
}

namespace vkl {

struct Command {
    CLI::App* sub = nullptr;
    std::function<int()> run;
};
using CommandList = std::vector<Command>;

void AddRecordCommands(CLI::App& app, CommandList& out);   // demo, record
void AddInspectCommands(CLI::App& app, CommandList& out);  // info, messages
void AddFileCommands(CLI::App& app, CommandList& out);     // repair, describe
void AddReplayCommand(CLI::App& app, CommandList& out);    // replay
void AddGkiCommands(CLI::App& app, CommandList& out);      // gki-records
void AddResourcesCommands(CLI::App& app, CommandList& out); // resources
void AddMergeCommands(CLI::App& app, CommandList& out);    // merge, extract
void AddConvertCommands(CLI::App& app, CommandList& out);   // convert, columns
void AddSdCommands(CLI::App& app, CommandList& out);        // import-sd, sd-info

}  // namespace vkl


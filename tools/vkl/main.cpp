// vkl: the command line of the logging library.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/vkl/Commands.h"
#include "tools/vkl/Host.h"

namespace {

void AddGlobalOptions(CLI::App& app, vkl::GlobalOptions& g)
{
    auto* yes = app.add_flag("--yes", g.yes, "Answer Yes to the library's questions");
    app.add_flag("--no", g.no, "Answer No to the library's questions")->excludes(yes);
    app.add_flag("-q,--quiet", g.quiet, "Print no progress and no summaries, only errors");
    app.add_flag("--trace", g.trace, "Show the library's trace lines on stderr");
    app.add_option("--settings", g.settingsFile, "Settings file (TOML); default: settings.toml in the home directory");
    app.add_option("--home", g.homeDir, "Tool directory; logs go to its \"Bin Logs\" folder by default");
    app.add_option("--clock", g.clock, "Let the local time stand still at \"YYYY-MM-DD hh:mm:ss\" (reproducible runs)")
        ->check(CLI::Validator(
            [](std::string& t) { return vkl::ParseClock(t) ? std::string() : "expected \"YYYY-MM-DD hh:mm:ss\""; }, "", ""));
    app.add_option("--signals", g.signalsFile, "Signal database description (JSON); default: the bundled one");
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vkl - record, inspect, repair and replay .vkl device logs"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("vkl ") + VKL_VERSION);
    vkl::GlobalOptions g;
    AddGlobalOptions(app, g);
    app.fallthrough();

    vkl::CommandList commands;
    vkl::AddRecordCommands(app, commands);
    vkl::AddInspectCommands(app, commands);
    vkl::AddFileCommands(app, commands);
    vkl::AddReplayCommand(app, commands);
    vkl::AddGkiCommands(app, commands);
    vkl::AddResourcesCommands(app, commands);
    vkl::AddMergeCommands(app, commands);
    vkl::AddConvertCommands(app, commands);
    vkl::AddSdCommands(app, commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        // With no command, CLI11 says only that one is required; name what was typed.
        if (app.get_subcommands().empty() && !app.remaining().empty())
            what = "unknown command '" + app.remaining().front() + "' (vkl --help lists them)";
        std::fprintf(stderr, "vkl: %s\n", what.c_str());
        return vkl::kUsage;
    }

    if (!vkl::InstallHost(g)) return vkl::kFailed;
    for (const vkl::Command& c : commands)
        if (*c.sub) return c.run();
    return vkl::kUsage;
}

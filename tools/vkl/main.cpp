// vkl: the command line of the logging library.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>

#include "tools/vkl/FileCommands.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Inspect.h"
#include "tools/vkl/Record.h"

int main(int argc, char** argv)
{
    CLI::App app{"vkl - record, inspect, repair and replay .vkl device logs"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("vkl ") + VKL_VERSION);
    vkl::GlobalOptions g;
    auto* yes = app.add_flag("--yes", g.yes, "Answer Yes to the library's questions");
    app.add_flag("--no", g.no, "Answer No to the library's questions")->excludes(yes);
    app.add_flag("-q,--quiet", g.quiet, "Print no progress and no summaries, only errors");
    app.add_flag("--trace", g.trace, "Show the library's trace lines on stderr");
    app.add_option("--settings", g.settingsFile, "Settings file (TOML); default: settings.toml in the home directory");
    app.add_option("--home", g.homeDir, "Tool directory; logs go to its \"Bin Logs\" folder by default");
    app.fallthrough();

    // demo
    vkl::DemoOptions demo;
    auto* cDemo = app.add_subcommand("demo", "Record a simulated session, replay it into a second log, and summarise");
    cDemo->add_option("--dir", demo.dir, "Directory for the demo's logs")->capture_default_str();

    // record
    vkl::RecordOptions rec;
    auto* cRecord = app.add_subcommand("record", "Record the simulated device into a log-file set");
    cRecord->add_option("-o,--output", rec.name, "Log file name (default: a date name or the naming convention)");
    cRecord->add_option("--dir", rec.dir, "Directory of the log files (default: the home directory's \"Bin Logs\")");
    cRecord->add_option("--device", rec.device, "Record only this device number (default: all)")->check(CLI::Range(-1, 4));
    cRecord->add_option("--max-size", rec.maxSizeMB, "Largest file in MB before a continuation file starts (0: from free space)");
    cRecord->add_flag("--bookmark-asserts", rec.bookmarkAsserts, "Bookmark assert messages");
    cRecord->add_flag("--cut-asserts", rec.cutAsserts, "Start a continuation file after every assert message");
    auto* oMessages = cRecord->add_option("--messages", rec.messages, "Number of messages to record")->check(CLI::PositiveNumber);
    cRecord->add_option("--seconds", rec.seconds, "Record for this many seconds")->check(CLI::PositiveNumber)->excludes(oMessages);
    cRecord->add_option("--assert-every", rec.assertEvery, "One assert every N messages (0: none)");
    cRecord->add_option("--description", rec.description, "Description written into every file of the set");
    cRecord->add_option("--seed", rec.seed, "Seed of the simulated device");

    // info
    std::vector<std::string> infoFiles;
    bool infoJson = false;
    auto* cInfo = app.add_subcommand("info", "Summarise log files (never changes them)");
    cInfo->add_option("FILE", infoFiles, "Log files")->required();
    cInfo->add_flag("--json", infoJson, "One JSON document");

    // messages
    std::string msgFile;
    std::optional<uint64_t> msgFrom, msgTo;
    bool msgJson = false;
    auto* cMessages = app.add_subcommand("messages", "List the records of a log file (never changes it)");
    cMessages->add_option("FILE", msgFile, "Log file")->required();
    cMessages->add_option("--from", msgFrom, "First message index");
    cMessages->add_option("--to", msgTo, "Last message index");
    cMessages->add_flag("--json", msgJson, "One JSON document");

    // repair
    std::string repairFile;
    auto* cRepair = app.add_subcommand("repair", "Repair a damaged log file");
    cRepair->add_option("FILE", repairFile, "Log file")->required();

    // replay
    vkl::ReplayOptions rep;
    auto* cReplay = app.add_subcommand("replay", "Replay a log file through the message bus");
    cReplay->add_option("FILE", rep.file, "Log file")->required();
    cReplay->add_option("--speed", rep.speedMs, "Pause after each message in ms")->capture_default_str();
    cReplay->add_flag("--loop", rep.loop, "Start again at the end (until Ctrl-C)");
    cReplay->add_option("--into", rep.into, "Record the replay into this log file");

    // describe
    std::string descFile, descText;
    auto* cDescribe = app.add_subcommand("describe", "Set a log file's description");
    cDescribe->add_option("FILE", descFile, "Log file")->required();
    cDescribe->add_option("TEXT", descText, "Description")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "vkl: %s\n", e.what());
        return vkl::kUsage;
    }

    vkl::InstallHost(g);
    if (*cDemo) return vkl::CmdDemo(demo);
    if (*cRecord) return vkl::CmdRecord(rec);
    if (*cInfo) return vkl::CmdInfo(infoFiles, infoJson);
    if (*cMessages) return vkl::CmdMessages(msgFile, msgFrom, msgTo, msgJson);
    if (*cRepair) return vkl::CmdRepair(repairFile);
    if (*cReplay) return vkl::CmdReplay(rep);
    if (*cDescribe) return vkl::CmdDescribe(descFile, descText);
    return vkl::kUsage;
}

// vkl repair, vkl describe: the commands that change a file on the user's request.
#include "tools/vkl/FileCommands.h"

#include <CLI/CLI.hpp>
#include <memory>

#include "framework/MessageBox.h"
#include "logfile/LogFile.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"
#include "platform/VESKMessage.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Files.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Inspect.h"

namespace vkl {

int CmdRepair(const std::string& path)
{
    FileSummary before;
    std::string error;
    if (!Summarise(path, before, error, false)) {
        Error(error);
        return kFailed;
    }
    if (before.beingRecorded) {
        Error(DamageText(path, true) + "; not repaired");
        return kFailed;
    }
    if (!before.needsRepair) {
        if (!before.readError.empty()) {
            // A sound header over a damaged record: repair cuts only damaged files.
            Error(path + ": record at offset " + std::to_string(before.readEnd) + " cannot be read (" +
                  before.readError + "), but the header is sound; nothing was changed");
            return kFailed;
        }
        Say(path + ": sound, nothing to repair (" + std::to_string(before.records) + " records)");
        return kOk;
    }
    // The user asked for the repair by running the command: no question.
    HostServices services = Services::Current();
    auto settings = std::make_shared<SettingsOverlay>(services.settings);
    settings->SetInt(SettingsKeys::kViewerSettings, SettingsKeys::kAutoRepair, 1);
    services.settings = settings;
    CScopedServices scoped(services);
    CLogFile file;
    if (!file.Open(path.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0) || file.NeedsRepair()) {
        const std::string why = OpenErrorText(file), box = LastMessageBox();
        Error(path + ": cannot be repaired" + (!why.empty() ? ": " + why : !box.empty() ? " (" + box + ")" : ""));
        file.Close();
        return kFailed;
    }
    const CLogFile::RepairReport report = file.GetRepairReport();
    file.Close();
    Say(path + ": repaired: " + std::to_string(report.records) + " records kept, " +
        (report.headerKept ? "the header left by an interrupted close kept"
                           : "header written at offset " + std::to_string(report.recordsEnd)) +
        ", " + std::to_string(report.droppedBytes) + " bytes cut off");
    return kOk;
}

int CmdDescribe(const std::string& path, const std::string& text)
{
    FileSummary before;
    std::string error;
    if (!Summarise(path, before, error, false)) {
        Error(error);
        return kFailed;
    }
    if (before.needsRepair) {
        // Every writer refuses a damaged file: the description would go into a header
        // that a repair has to rebuild.
        Error(DamageText(path, before.beingRecorded) + "; the description was not set");
        return kFailed;
    }
    CLogFile file;
    if (!file.Open(path.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0)) {
        const std::string why = OpenErrorText(file);
        Error(path + ": not changed" + (why.empty() ? std::string() : ": " + why));
        return kFailed;
    }
    file.SetFileDescription(text.c_str());
    file.Close();
    Say(path + ": description set");
    return kOk;
}

void AddFileCommands(CLI::App& app, CommandList& out)
{
    auto repairFile = std::make_shared<std::string>();
    auto* cRepair = app.add_subcommand("repair", "Repair a damaged log file");
    cRepair->add_option("FILE", *repairFile, "Log file")->required();
    out.push_back({cRepair, [repairFile] { return CmdRepair(*repairFile); }});

    auto desc = std::make_shared<std::pair<std::string, std::string>>();
    auto* c = app.add_subcommand("describe", "Set a log file's description");
    c->add_option("FILE", desc->first, "Log file")->required();
    c->add_option("TEXT", desc->second, "Description")->required();
    out.push_back({c, [desc] { return CmdDescribe(desc->first, desc->second); }});
}

}  // namespace vkl

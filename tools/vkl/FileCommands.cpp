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
#include "tools/vkl/Host.h"
#include "tools/vkl/Inspect.h"

namespace vkl {
namespace {

// Settings as stored, except that damaged files are repaired without asking: the user
// asked for the repair by running the command.
class AutoRepairSettings : public ISettingsStore {
public:
    explicit AutoRepairSettings(std::shared_ptr<ISettingsStore> inner) : m_inner(std::move(inner)) {}
    int GetInt(const CString& section, const CString& key, int def) override
    {
        if (section == SettingsKeys::kViewerSettings && key == SettingsKeys::kAutoRepair) return 1;
        return m_inner->GetInt(section, key, def);
    }
    CString GetString(const CString& section, const CString& key, const CString& def) override
    {
        return m_inner->GetString(section, key, def);
    }
    void WriteInt(const CString& section, const CString& key, int value) override { m_inner->WriteInt(section, key, value); }
    void WriteString(const CString& section, const CString& key, const CString& value) override
    {
        m_inner->WriteString(section, key, value);
    }

private:
    std::shared_ptr<ISettingsStore> m_inner;
};

}  // namespace

int CmdRepair(const std::string& path)
{
    FileSummary before;
    std::string error;
    if (!Summarise(path, before, error, false)) {
        Error(error);
        return kFailed;
    }
    if (!before.needsRepair && before.readError.empty()) {
        Say(path + ": sound, nothing to repair (" + std::to_string(before.records) + " records)");
        return kOk;
    }
    HostServices services = Services::Current();
    services.settings = std::make_shared<AutoRepairSettings>(services.settings);
    CScopedServices scoped(services);
    CLogFile file;
    if (!file.Open(path.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0)) {
        const std::string box = LastMessageBox();
        Error(path + ": cannot be repaired" + (box.empty() ? std::string() : " (" + box + ")"));
        return kFailed;
    }
    file.Close();  // writes the header in place
    FileSummary after;
    if (!Summarise(path, after, error, false)) {
        Error(error);
        return kFailed;
    }
    Say(path + ": repaired: " + std::to_string(after.records) + " records kept, header written at offset " +
        std::to_string(after.headerPosition));
    if (!after.readError.empty()) {
        Error(path + ": the record at offset " + std::to_string(after.readEnd) + " is still unreadable: " + after.readError);
        return kFailed;
    }
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
    CLogFile file;
    if (!file.Open(path.c_str(), /*bWrite=*/0, /*bNew=*/0, /*bReadOnly=*/0)) {
        Error(path + ": not changed" + (before.needsRepair ? " (the file needs repair first)" : ""));
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

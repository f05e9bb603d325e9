// vkl resources: what a host loads from the module's resources, read through the same
// chain and readers as the library's own dialogs.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "framework/Exceptions.h"
#include "framework/ResourceTemplates.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Host.h"

namespace vkl {
namespace {

using json = nlohmann::ordered_json;
constexpr const char* kModuleName = "Logger.dll";

json NameJson(const CResourceName& n)
{
    return n.IsOrdinal() ? json(n.GetOrdinal()) : json(n.GetName().str());
}

json OptionalName(const CResourceName& n)
{
    return n.IsEmpty() ? json(nullptr) : NameJson(n);
}

json ControlJson(const DialogItemTemplate& item)
{
    json flags = json::array();
    for (const char* name : ControlFlagNames(GetControlFlags(item))) flags.push_back(name);
    const bool picture = item.title.IsOrdinal();
    return {{"id", item.nID},
            {"kind", ControlKindName(GetControlKind(item))},
            {"class", NameJson(item.windowClass)},
            {"text", picture ? std::string() : item.title.GetName().str()},
            {"picture", picture ? json(item.title.GetOrdinal()) : json(nullptr)},
            {"flags", flags},
            {"x", item.x},
            {"y", item.y},
            {"width", item.cx},
            {"height", item.cy},
            {"style", item.dwStyle},
            {"ex_style", item.dwExStyle},
            {"creation_bytes", item.creationData.size()}};
}

json DialogJson(const ResourceEntry& e, const CResourceTable& table)
{
    const DialogTemplate t = ReadDialogTemplate(e.data.data(), e.data.size());
    json j = {{"id", NameJson(e.name)},
              {"language", e.wLanguage},
              {"form", t.bExtended ? "extended" : "plain"},
              {"caption", t.strCaption.IsEmpty() ? json(nullptr) : json(t.strCaption.str())},
              {"x", t.x},
              {"y", t.y},
              {"width", t.cx},
              {"height", t.cy},
              {"style", t.dwStyle},
              {"ex_style", t.dwExStyle},
              {"child", (t.dwStyle & WS_CHILD) != 0},
              {"visible", (t.dwStyle & WS_VISIBLE) != 0},
              {"menu", OptionalName(t.menu)},
              {"class", OptionalName(t.windowClass)},
              {"font", t.bHasFont ? json{{"name", t.strFaceName.str()}, {"points", t.nPointSize}} : json(nullptr)},
              {"controls", json::array()},
              {"init", json::array()}};
    for (const DialogItemTemplate& item : t.items) j["controls"].push_back(ControlJson(item));
    if (const ResourceEntry* init = table.Find(RT_DLGINIT, e.name, e.wLanguage))
        for (const DialogInitItem& item : ReadDialogInit(init->data.data(), init->data.size()))
            j["init"].push_back(
                {{"control", item.nControlId}, {"message", item.nMessage}, {"text", item.Text().str()}});
    return j;
}

json MenuItemsJson(const std::vector<MenuItemTemplate>& items)
{
    json list = json::array();
    for (const MenuItemTemplate& item : items) {
        if (item.IsPopup())
            list.push_back({{"text", item.strText.str()}, {"popup", true}, {"items", MenuItemsJson(item.items)}});
        else if (item.IsSeparator())
            list.push_back({{"separator", true}});
        else
            list.push_back({{"text", item.strText.str()}, {"command", item.nID}});
    }
    return list;
}

json VersionJson(const ResourceEntry& e)
{
    const VersionInfo v = ReadVersionInfo(e.data.data(), e.data.size());
    json strings = json::object();
    for (const auto& table : v.stringTables) {
        json& t = strings[table.strKey.str()] = json::object();
        for (const auto& [key, value] : table.strings) t[key.str()] = value.str();
    }
    json translations = json::array();
    for (const auto& [language, codePage] : v.translations)
        translations.push_back({{"language", language}, {"code_page", codePage}});
    const json type = v.dwFileType == VFT_DLL   ? json("dll")
                      : v.dwFileType == VFT_APP ? json("application")
                                                : json(v.dwFileType);
    return {{"id", NameJson(e.name)},
            {"language", e.wLanguage},
            {"file_version", v.FileVersion().str()},
            {"product_version", v.ProductVersion().str()},
            {"file_type", type},
            {"file_os", v.dwFileOS},
            {"strings", strings},
            {"translations", translations}};
}

json PictureJson(const ResourceEntry& e)
{
    json j = {{"type", nullptr}, {"id", NameJson(e.name)}, {"language", e.wLanguage}, {"bytes", e.data.size()}};
    if (e.type == CResourceName(RT_GROUP_ICON)) {
        j["type"] = "icon group";
        j["icons"] = json::array();
        for (const IconGroupEntry& icon : ReadIconGroup(e.data.data(), e.data.size()))
            j["icons"].push_back({{"icon", icon.nIconId},
                                  {"width", icon.nWidth},
                                  {"height", icon.nHeight},
                                  {"bits", icon.nBitCount},
                                  {"bytes", icon.dwBytes}});
        return j;
    }
    const bool icon = e.type == CResourceName(RT_ICON);
    const BitmapHeader h = ReadBitmapHeader(e.data.data(), e.data.size());
    j["type"] = icon ? "icon" : "bitmap";
    j["width"] = h.nWidth;
    j["height"] = icon ? h.nHeight / 2 : h.nHeight;  // an icon's image states its mask's rows too
    j["bits"] = h.nBitCount;
    return j;
}

// Reads every resource (or those with the identifier); what cannot be read goes to `errors`.
json Listing(const CResourceTable& table, std::optional<int> id, std::vector<std::string>& errors)
{
    json doc = {{"module", kModuleName}, {"dialogs", json::array()},  {"menus", json::array()},
                {"version", nullptr},    {"pictures", json::array()}, {"other", json::array()}};
    for (const ResourceEntry& e : table.Entries()) {
        if (id && !(e.name.IsOrdinal() && e.name.GetOrdinal() == *id)) continue;
        const WORD type = e.type.IsOrdinal() ? e.type.GetOrdinal() : 0;
        try {
            if (type == RT_DIALOG) {
                doc["dialogs"].push_back(DialogJson(e, table));
            } else if (type == RT_DLGINIT && table.Find(RT_DIALOG, e.name, e.wLanguage)) {
                continue;  // shown with its dialog
            } else if (type == RT_MENU) {
                doc["menus"].push_back({{"id", NameJson(e.name)},
                                        {"language", e.wLanguage},
                                        {"items", MenuItemsJson(ReadMenuTemplate(e.data.data(), e.data.size()))}});
            } else if (type == RT_VERSION && doc["version"].is_null()) {
                doc["version"] = VersionJson(e);
            } else if (type == RT_BITMAP || type == RT_ICON || type == RT_GROUP_ICON) {
                doc["pictures"].push_back(PictureJson(e));
            } else {
                doc["other"].push_back({{"type", NameJson(e.type)},
                                        {"id", NameJson(e.name)},
                                        {"language", e.wLanguage},
                                        {"bytes", e.data.size()}});
            }
        } catch (const CException& ex) {
            errors.push_back(std::string(kModuleName) + ": resource " + e.name.ToString().str() + " of type " +
                             e.type.ToString().str() + ": " + ex.GetErrorMessage().str());
        }
    }
    return doc;
}

std::string Quoted(const json& text)
{
    return text.is_null() ? "(none)" : "\"" + text.get<std::string>() + "\"";
}

std::string Id(const json& id)
{
    return id.is_string() ? id.get<std::string>() : std::to_string(id.get<long long>());
}

void PrintMenuItems(std::ostringstream& o, const json& items, int depth)
{
    const std::string indent(static_cast<size_t>(2 * depth), ' ');
    for (const json& item : items) {
        if (item.contains("popup")) {
            o << indent << Quoted(item["text"]) << "\n";
            PrintMenuItems(o, item["items"], depth + 1);
        } else if (item.contains("separator")) {
            o << indent << "-----\n";
        } else {
            o << indent << item["command"].get<int>() << "  " << Quoted(item["text"]) << "\n";
        }
    }
}

void PrintDialog(std::ostringstream& o, const json& d)
{
    o << "dialog " << Id(d["id"]) << "  " << Quoted(d["caption"]) << "  " << d["width"].get<int>() << " x "
      << d["height"].get<int>() << " dialog units";
    if (!d["font"].is_null())
        o << ", " << d["font"]["name"].get<std::string>() << " " << d["font"]["points"].get<int>();
    o << ", " << d["form"].get<std::string>() << (d["child"].get<bool>() ? ", child" : "")
      << (d["visible"].get<bool>() ? ", visible" : "") << "\n";
    for (const json& c : d["controls"]) {
        char line[160];
        std::snprintf(line, sizeof line, "  %6d  %-13s %-36s", c["id"].get<int>(), c["kind"].get<std::string>().c_str(),
                      Quoted(c["text"]).c_str());
        o << line;
        for (const json& f : c["flags"]) o << " " << f.get<std::string>();
        o << "\n";
    }
    for (const json& i : d["init"])
        o << "  init  " << i["control"].get<int>() << "  message 0x" << std::hex << i["message"].get<int>() << std::dec
          << "  " << Quoted(i["text"]) << "\n";
}

std::string ListingText(const json& doc)
{
    std::ostringstream o;
    o << doc["module"].get<std::string>() << "\n";
    for (const json& d : doc["dialogs"]) PrintDialog(o, d);
    for (const json& m : doc["menus"]) {
        o << "menu " << Id(m["id"]) << "\n";
        PrintMenuItems(o, m["items"], 1);
    }
    if (const json& v = doc["version"]; !v.is_null()) {
        o << "version " << Id(v["id"]) << "  file " << v["file_version"].get<std::string>() << ", product "
          << v["product_version"].get<std::string>() << ", type "
          << (v["file_type"].is_string() ? v["file_type"].get<std::string>() : v["file_type"].dump()) << ", language 0x"
          << std::hex << v["language"].get<int>() << std::dec << "\n";
        for (const auto& [table, strings] : v["strings"].items())
            for (const auto& [key, value] : strings.items())
                o << "  " << table << "  " << key << "  " << Quoted(value) << "\n";
        for (const json& t : v["translations"])
            o << "  translation  language " << t["language"].get<int>() << ", code page " << t["code_page"].get<int>()
              << "\n";
    }
    for (const json& p : doc["pictures"]) {
        o << p["type"].get<std::string>() << " " << Id(p["id"]);
        if (p.contains("icons"))
            for (const json& i : p["icons"])
                o << "  icon " << i["icon"].get<int>() << " " << i["width"].get<int>() << " x "
                  << i["height"].get<int>() << ", " << i["bits"].get<int>() << " bits";
        else
            o << "  " << p["width"].get<int>() << " x " << p["height"].get<int>() << ", " << p["bits"].get<int>()
              << " bits";
        o << ", " << p["bytes"].get<size_t>() << " bytes\n";
    }
    for (const json& r : doc["other"])
        o << "type " << Id(r["type"]) << " " << Id(r["id"]) << ", " << r["bytes"].get<size_t>() << " bytes\n";
    return o.str();
}

int CmdResources(std::optional<int> id, bool asJson)
{
    const HINSTANCE module = GetModuleHandle(kModuleName);
    if (!module || !module->pResources) {
        Error(std::string(kModuleName) + ": the module's resources are not registered");
        return kFailed;
    }
    std::vector<std::string> errors;
    const json doc = Listing(*module->pResources, id, errors);
    const bool empty = doc["dialogs"].empty() && doc["menus"].empty() && doc["version"].is_null() &&
                       doc["pictures"].empty() && doc["other"].empty();
    if (id && empty && errors.empty()) {
        Error(std::string(kModuleName) + ": no resource " + std::to_string(*id));
        return kFailed;
    }
    const std::string text = asJson ? doc.dump(2) + "\n" : ListingText(doc);
    std::fputs(text.c_str(), stdout);
    for (const std::string& e : errors) Error(e);
    return errors.empty() ? kOk : kFailed;
}

}  // namespace

void AddResourcesCommands(CLI::App& app, CommandList& out)
{
    struct Options {
        std::optional<int> id;
        bool json = false;
    };
    auto o = std::make_shared<Options>();
    auto* c = app.add_subcommand("resources", "List the dialogs, menus, pictures and version block the module carries");
    c->add_option("ID", o->id, "Only the resources with this identifier");
    c->add_flag("--json", o->json, "One JSON document");
    out.push_back({c, [o] { return CmdResources(o->id, o->json); }});
}

}  // namespace vkl

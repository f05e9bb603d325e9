// The compiled resources against the tables, read twice: through the module's
// registration and the framework's readers, and from windres's decompiled script.
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "framework/Module.h"
#include "tests/resources/ResourceTables.h"

namespace {

using namespace tables;

// ---- the first reading: the module's table and the framework's readers ----

Seen ReadThroughModule(const CResourceTable& table)
{
    Seen seen;
    for (const ResourceEntry& e : table.Entries()) {
        const int id = e.name.GetOrdinal();
        if (e.type == CResourceName(RT_DIALOG)) {
            const DialogTemplate t = ReadDialogTemplate(e.data.data(), e.data.size());
            SeenDialog& d = seen.dialogs[id];
            d = {t.strCaption.str(), t.strFaceName.str(), t.cx, t.cy, t.nPointSize, t.dwStyle, e.wLanguage, {}};
            for (const DialogItemTemplate& item : t.items)
                d.controls.push_back(
                    ControlAsSeen(item.nID, item.windowClass, item.dwStyle, item.title.GetName().str()));
        } else if (e.type == CResourceName(RT_MENU)) {
            const std::vector<MenuItemTemplate> menu = ReadMenuTemplate(e.data.data(), e.data.size());
            SeenMenu& m = seen.menus[id];
            m.language = e.wLanguage;
            m.popup = menu.size() == 1 ? menu[0].strText.str() : "(not one popup)";
            for (const MenuItemTemplate& item : menu.front().items)
                m.items.emplace_back(item.IsSeparator() ? "" : item.strText.str(), item.nID);
        } else if (e.type == CResourceName(RT_DLGINIT)) {
            for (const DialogInitItem& item : ReadDialogInit(e.data.data(), e.data.size()))
                seen.sortItems.push_back(SortItem(id, item.nControlId, item.nMessage, item.Text().str()));
        } else if (e.type == CResourceName(RT_VERSION)) {
            const VersionInfo v = ReadVersionInfo(e.data.data(), e.data.size());
            seen.fileVersion = v.FileVersion().str();
            seen.originalFilename = v.GetString("OriginalFilename").str();
        }
    }
    return seen;
}

// ---- the second reading: the script windres writes when it decompiles Logger.res ----

// Splits at blanks and commas outside quotes; a quoted token keeps its quotes.
std::vector<std::string> Tokens(const std::string& line)
{
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (quoted && ch == '\\' && i + 1 < line.size()) {
            cur += ch;
            cur += line[++i];
        } else if (ch == '"') {
            quoted = !quoted;
            cur += ch;
        } else if (!quoted && (ch == ' ' || ch == ',' || ch == '\t')) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::string Unquote(const std::string& token)
{
    std::string s;
    for (size_t i = 1; i + 1 < token.size(); ++i) {
        if (token[i] != '\\') {
            s += token[i];
        } else if (isdigit(static_cast<unsigned char>(token[i + 1]))) {  // octal
            s += static_cast<char>(std::stoi(token.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            s += token[++i];
        }
    }
    return s;
}

long long Number(const std::string& token)
{
    return std::stoll(token, nullptr, 0);
}

// A control statement: keyword, [text,] id, then for CONTROL class, style, rectangle;
// for the others rectangle, style.
SeenControl DecompiledControl(const std::vector<std::string>& t)
{
    static const std::map<std::string, const char*> kClassOf = {{"LTEXT", "Static"},      {"RTEXT", "Static"},
                                                                {"CTEXT", "Static"},      {"EDITTEXT", "Edit"},
                                                                {"COMBOBOX", "ComboBox"}, {"LISTBOX", "ListBox"}};
    const std::string& keyword = t[0];
    const bool hasText = keyword != "EDITTEXT" && keyword != "COMBOBOX" && keyword != "LISTBOX";
    size_t i = 1;
    const std::string text = hasText && t[i][0] == '"' ? Unquote(t[i]) : "";
    i += hasText ? 1 : 0;
    int id = static_cast<int>(Number(t[i++]));
    if (id == 0xFFFF) id = -1;  // a plain template's 16-bit -1
    std::string windowClass = kClassOf.count(keyword) ? kClassOf.at(keyword) : "Button";
    DWORD style = 0;
    if (keyword == "CONTROL") {
        windowClass = Unquote(t[i]);
        style = static_cast<DWORD>(Number(t[i + 1]));
    } else {
        style = static_cast<DWORD>(Number(t[i + 4]));
    }
    return ControlAsSeen(id, CResourceName(windowClass.c_str()), style, text);
}

// Dialog-init data as windres writes it: numbers (L: 32 bits, else 16) and strings.
void DecompiledInit(int dialog, const std::vector<std::string>& tokens, Seen& seen)
{
    std::vector<BYTE> bytes;
    for (const std::string& t : tokens) {
        if (t[0] == '"') {
            for (char ch : Unquote(t)) bytes.push_back(static_cast<BYTE>(ch));
            continue;
        }
        const auto v = static_cast<uint64_t>(Number(t));
        for (int b = 0; b < (t.back() == 'L' ? 4 : 2); ++b) bytes.push_back(static_cast<BYTE>(v >> (8 * b)));
    }
    auto word = [&](size_t at) { return at + 1 < bytes.size() ? bytes[at] | bytes[at + 1] << 8 : 0; };
    for (size_t at = 0; word(at) != 0 && at + 8 <= bytes.size();) {
        const size_t length = static_cast<size_t>(word(at + 4) | word(at + 6) << 16);
        const std::string data(bytes.begin() + static_cast<long>(at + 8),
                               bytes.begin() + static_cast<long>(std::min(bytes.size(), at + 8 + length)));
        seen.sortItems.push_back(SortItem(dialog, word(at), word(at + 2), data.substr(0, data.find('\0'))));
        at += 8 + length;
    }
}

void DecompiledLine(const std::vector<std::string>& t, const std::string& kind, int id, int depth, Seen& seen)
{
    if (kind == "DIALOG" || kind == "DIALOGEX") {
        SeenDialog& d = seen.dialogs[id];
        if (t[0] == "STYLE") {
            d.style = static_cast<DWORD>(Number(t[1]));
        } else if (t[0] == "CAPTION") {
            d.caption = Unquote(t[1]);
        } else if (t[0] == "FONT") {
            d.points = static_cast<int>(Number(t[1]));
            d.font = Unquote(t[2]);
        } else if (depth == 1) {
            d.controls.push_back(DecompiledControl(t));
        }
    } else if (kind == "MENU") {
        SeenMenu& m = seen.menus[id];
        if (t[0] == "POPUP")
            m.popup = Unquote(t[1]);
        else if (t[0] == "MENUITEM" && t[1] == "SEPARATOR")
            m.items.emplace_back("", 0);
        else if (t[0] == "MENUITEM")
            m.items.emplace_back(Unquote(t[1]), static_cast<int>(Number(t[2])));
    } else if (t[0] == "FILEVERSION") {
        seen.fileVersion = t[1] + "." + t[2] + "." + t[3] + "." + t[4];
    } else if (t[0] == "VALUE" && t[1] == "\"OriginalFilename\"") {
        seen.originalFilename = Unquote(t[2]);
    }
}

Seen ReadDecompiled(const std::string& script)
{
    Seen seen;
    std::istringstream in(script);
    std::string line, kind;
    int id = 0, depth = 0;
    WORD language = 0;
    std::vector<std::string> init;
    while (std::getline(in, line)) {
        const std::vector<std::string> t = Tokens(line);
        if (t.empty() || t[0].rfind("/*", 0) == 0) continue;
        if (t[0] == "BEGIN") {
            ++depth;
        } else if (t[0] == "END") {
            if (--depth == 0 && kind == "240") DecompiledInit(id, init, seen);
        } else if (t[0] == "LANGUAGE") {
            language = MAKELANGID(static_cast<WORD>(Number(t[1])), static_cast<WORD>(Number(t[2])));
        } else if (depth == 0 && t.size() > 1 && isdigit(static_cast<unsigned char>(t[0][0]))) {
            id = static_cast<int>(Number(t[0]));
            kind = t[1];
            init.clear();
            if (kind == "DIALOG" || kind == "DIALOGEX")
                seen.dialogs[id] = {
                    "",       "", static_cast<int>(Number(t[t.size() - 2])), static_cast<int>(Number(t.back())), 0, 0,
                    language, {}};
            else if (kind == "MENU")
                seen.menus[id].language = language;
        } else if (kind == "240") {
            init.insert(init.end(), t.begin(), t.end());
        } else {
            DecompiledLine(t, kind, id, depth, seen);
        }
    }
    return seen;
}

const CResourceTable& ModuleTable()
{
    const HINSTANCE module = GetModuleHandle("Logger.dll");
    if (!module || !module->pResources) throw std::runtime_error("Logger.dll is not registered with its resources");
    return *module->pResources;
}

}  // namespace

TEST(ModuleResources, TheModuleCarriesTheTablesUnderItsName)
{
    const CResourceTable& table = ModuleTable();
    ExpectMatchesTables(ReadThroughModule(table));

    const ResourceEntry* version = table.Find(RT_VERSION, 1);
    ASSERT_NE(version, nullptr);
    const VersionInfo v = ReadVersionInfo(version->data.data(), version->data.size());
    EXPECT_EQ(v.dwFileType, VFT_DLL);
    EXPECT_EQ(v.ProductVersion(), tables::kFileVersion);
    EXPECT_EQ(v.GetString("FileVersion"), tables::kFileVersion);
    EXPECT_NE(v.GetString("FileDescription").Find("ogger library"), -1);
    EXPECT_EQ(v.GetString("CompanyName") + v.GetString("ProductName") + v.GetString("LegalCopyright"), "");
    EXPECT_EQ(v.translations, (std::vector<std::pair<WORD, WORD>>{{tables::kLanguage, 1200}}));

    // The pictures: the icon group names images that are there; the bitmaps are glyphs.
    const ResourceEntry* group = table.Find(RT_GROUP_ICON, tables::kIconGroup);
    ASSERT_NE(group, nullptr);
    for (const IconGroupEntry& icon : ReadIconGroup(group->data.data(), group->data.size())) {
        const ResourceEntry* image = table.Find(RT_ICON, icon.nIconId);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->data.size(), icon.dwBytes);
    }
    for (int id : tables::kBitmaps) {
        const ResourceEntry* bitmap = table.Find(RT_BITMAP, id, tables::kLanguage);
        ASSERT_NE(bitmap, nullptr) << id;
        const BitmapHeader h = ReadBitmapHeader(bitmap->data.data(), bitmap->data.size());
        EXPECT_EQ(h.nWidth, 16);
        EXPECT_EQ(h.nHeight, 16);
    }
}

TEST(ModuleResources, WindresDecompilesToTheSameTables)
{
    const std::string command =
        std::string(VKL_WINDRES) + " -i '" + VKL_BINARY_DIR + "/resources/Logger.res' -O rc 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string script;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) script.append(buf, n);
    ASSERT_EQ(pclose(pipe), 0) << script;
    ExpectMatchesTables(ReadDecompiled(script));
}

// The compiled resources against the tables, read through the module's registration and
// the framework's readers.
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "framework/Module.h"
#include "tests/resources/ResourceTables.h"

namespace {

using namespace tables;

size_t CountOfType(const CResourceTable& table, const CResourceName& type)
{
    size_t n = 0;
    for (const ResourceEntry& e : table.Entries()) n += e.type == type;
    return n;
}

void ExpectDialog(const CResourceTable& table, const Dialog& want)
{
    SCOPED_TRACE("dialog " + std::to_string(want.id));
    const ResourceEntry* e = table.Find(RT_DIALOG, want.id, kLanguage);
    ASSERT_NE(e, nullptr);
    const DialogTemplate d = ReadDialogTemplate(e->data.data(), e->data.size());
    EXPECT_EQ(
        std::tuple(d.strCaption.str(), d.cx, d.cy, d.strFaceName.str(), d.nPointSize),
        std::tuple(std::string(want.caption ? want.caption : ""), want.cx, want.cy, std::string(kFont), kFontPoints));
    EXPECT_EQ(std::tuple((d.dwStyle & WS_CHILD) != 0, (d.dwStyle & WS_VISIBLE) != 0),
              std::tuple(want.child, want.visible));
    ASSERT_EQ(d.items.size(), want.count);
    for (const Control& w : want.controls) {
        const DialogItemTemplate& c = d.items.at(w.index);
        const ControlKind kind = GetControlKind(c);
        EXPECT_EQ(std::tuple(c.nID, std::string(ControlKindName(kind)), c.title.GetName().str(),
                             CheckedFlags(kind, GetControlFlags(c))),
                  std::tuple(w.id, std::string(ControlKindName(w.kind)), std::string(w.text), w.flags))
            << "control " << w.index;
    }
}

}  // namespace

TEST(ModuleResources, TheModuleCarriesTheTablesUnderItsName)
{
    const HINSTANCE module = GetModuleHandle("Logger.dll");
    ASSERT_TRUE(module && module->pResources);
    const CResourceTable& table = *module->pResources;
    EXPECT_EQ(CountOfType(table, RT_DIALOG), Dialogs().size());
    for (const Dialog& want : Dialogs()) ExpectDialog(table, want);
    EXPECT_EQ(CountOfType(table, RT_MENU), Menus().size());
    for (const Menu& want : Menus()) {
        const ResourceEntry* e = table.Find(RT_MENU, want.id, kLanguage);
        ASSERT_NE(e, nullptr) << want.id;
        const std::vector<MenuItemTemplate> menu = ReadMenuTemplate(e->data.data(), e->data.size());
        ASSERT_EQ(menu.size(), 1u);
        EXPECT_EQ(menu[0].strText, want.popup);
        std::vector<std::pair<std::string, int>> items, wanted;
        for (const MenuItemTemplate& item : menu[0].items)
            items.emplace_back(item.IsSeparator() ? "" : item.strText.str(), item.nID);
        for (const MenuItem& i : want.items) wanted.emplace_back(i.text ? i.text : "", i.command);
        EXPECT_EQ(items, wanted);
    }
    // The only dialog-init items are the sort list's.
    ASSERT_EQ(CountOfType(table, RT_DLGINIT), 1u);
    const ResourceEntry* init = table.Find(RT_DLGINIT, kSortDialog, kLanguage);
    ASSERT_NE(init, nullptr);
    std::vector<std::string> sortItems;
    for (const DialogInitItem& item : ReadDialogInit(init->data.data(), init->data.size())) {
        EXPECT_EQ(std::tuple(item.nControlId, item.nMessage), std::tuple(kSortList, 0x0403));
        sortItems.push_back(item.Text().str());
    }
    EXPECT_EQ(sortItems, std::vector<std::string>(kSortItems.begin(), kSortItems.end()));

    const ResourceEntry* version = table.Find(RT_VERSION, 1);
    ASSERT_NE(version, nullptr);
    const VersionInfo v = ReadVersionInfo(version->data.data(), version->data.size());
    EXPECT_EQ(v.dwFileType, VFT_DLL);
    EXPECT_EQ(std::tuple(v.FileVersion(), v.ProductVersion(), v.GetString("FileVersion")),
              std::tuple(CString(kFileVersion), CString(kFileVersion), CString(kFileVersion)));
    EXPECT_EQ(v.GetString("OriginalFilename"), kOriginalFilename);
    EXPECT_NE(v.GetString("FileDescription").Find("ogger library"), -1);
    EXPECT_EQ(v.GetString("CompanyName") + v.GetString("ProductName") + v.GetString("LegalCopyright"), "");
    EXPECT_EQ(v.translations, (std::vector<std::pair<WORD, WORD>>{{kLanguage, 1200}}));

    // The pictures: the icon group names images that are there; the bitmaps are glyphs.
    const ResourceEntry* group = table.Find(RT_GROUP_ICON, kIconGroup);
    ASSERT_NE(group, nullptr);
    for (const IconGroupEntry& icon : ReadIconGroup(group->data.data(), group->data.size())) {
        const ResourceEntry* image = table.Find(RT_ICON, icon.nIconId);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->data.size(), icon.dwBytes);
    }
    for (int id : kBitmaps) {
        const ResourceEntry* bitmap = table.Find(RT_BITMAP, id, kLanguage);
        ASSERT_NE(bitmap, nullptr) << id;
        const BitmapHeader h = ReadBitmapHeader(bitmap->data.data(), bitmap->data.size());
        EXPECT_EQ(std::tuple(h.nWidth, h.nHeight), std::tuple(16, 16));
    }
}

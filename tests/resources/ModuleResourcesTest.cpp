// The compiled resources against the tables, read through the module's registration and
// the framework's readers.
#include <string>

#include <gtest/gtest.h>

#include "framework/Module.h"
#include "tests/resources/ResourceTables.h"

namespace {

using namespace tables;

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

// The template readers against bytes laid out by hand, field by field.
#include <functional>

#include <gtest/gtest.h>

#include "framework/Exceptions.h"
#include "framework/ResourceTemplates.h"

namespace {

// Little-endian fields, UTF-16 texts with their terminator, ordinals, padding.
struct Bytes {
    std::vector<BYTE> v;
    Bytes& b(BYTE x)
    {
        v.push_back(x);
        return *this;
    }
    Bytes& w(WORD x) { return b(x & 0xFF).b(x >> 8); }
    Bytes& d(DWORD x) { return w(x & 0xFFFF).w(x >> 16); }
    Bytes& s(const char* text)
    {
        for (; *text; ++text) w(static_cast<BYTE>(*text));
        return w(0);
    }
    Bytes& ord(WORD x) { return w(0xFFFF).w(x); }
    Bytes& pad()
    {
        while (v.size() % 4) b(0);
        return *this;
    }
    Bytes& rect(int16_t x, int16_t y, int16_t cx, int16_t cy)
    {
        return w(static_cast<WORD>(x)).w(static_cast<WORD>(y)).w(static_cast<WORD>(cx)).w(static_cast<WORD>(cy));
    }
};

// Every shorter cut of the bytes is refused with the framework's exception.
template <typename Reader>
void ExpectEveryCutRefused(const std::vector<BYTE>& bytes, Reader read)
{
    for (size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<BYTE> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        EXPECT_THROW(read(cut.data(), cut.size()), CResourceException) << "cut at " << n;
    }
}

// Plain form: an atom class, a named class with an ordinal title and creation data, and
// odd-length texts that leave the next item to be aligned.
std::vector<BYTE> PlainDialog()
{
    Bytes t;
    t.d(0x80C00040).d(0).w(3).rect(10, 20, 100, 50);  // DS_SETFONT | WS_POPUP | WS_CAPTION; 3 items
    t.w(0).w(0).s("Odd").w(8).s("Abc");               // no menu, no class, caption, font
    t.pad().d(0x50010001).d(0).rect(1, 2, 30, 14).w(1).ord(0x80).s("OK").w(0);
    t.pad().d(0x50000000).d(0x200).rect(3, 4, 40, 20).w(0xFFFF).s("SysTreeView32").ord(11060).w(2).b(0xAB).b(0xCD);
    t.pad().d(0x50000012).d(0).rect(5, 6, 7, 8).w(42).ord(0x82).s("x").w(0);
    return t.v;
}

// Extended form: help identifiers, a 32-bit control identifier, a menu by ordinal, a
// named dialog class, the full font, odd creation data.
std::vector<BYTE> ExtendedDialog()
{
    Bytes t;
    t.w(1).w(0xFFFF).d(7).d(0x10).d(0x40000040).w(2).rect(0, 0, 157, 242);
    t.ord(0x1234).s("MyClass").s("").w(9).w(700).b(1).b(2).s("Tahoma");
    t.pad().d(99).d(0x200).d(0x50210003).rect(1, 1, 50, 60).d(70000).ord(0x85).s("").w(3).b(1).b(2).b(3);
    t.pad().d(0).d(0).d(0x50812080).rect(2, 2, 20, 10).d(0xFFFFFFFF).ord(0x81).s("Edit text").w(0);
    return t.v;
}

// File, with an item, a separator and a nested popup, then a second top-level popup.
std::vector<BYTE> Menu()
{
    Bytes m;
    m.w(0).w(0);
    m.w(MF_POPUP).s("&File");
    m.w(0).w(100).s("Open");
    m.w(0).w(0).s("");
    m.w(MF_POPUP).s("Recent").w(MF_END).w(101).s("a");
    m.w(MF_END | MF_GRAYED).w(102).s("Exit");
    m.w(MF_POPUP | MF_END).s("Help").w(MF_END).w(103).s("About");
    return m.v;
}

// Two items with odd lengths, so neither the second record nor the end is aligned.
std::vector<BYTE> DialogInit()
{
    Bytes i;
    i.w(5066).w(0x0403).d(3).b('a').b('b').b(0);
    i.w(17).w(0x0401).d(2).b('c').b(0);
    i.w(0);
    return i.v;
}

// Root (fixed part), one string table with one string, the translation. Block lengths
// counted by hand: string 16, table 40, string file info 76, var 36, var file info 68,
// root 236.
std::vector<BYTE> Version()
{
    Bytes v;
    v.w(236).w(52).w(0).s("VS_VERSION_INFO").pad();
    v.d(0xFEEF04BD).d(0x10000).d(0x00020009).d(0x00000002).d(0x00020009).d(0x00000003);
    v.d(0x3F).d(0).d(4).d(2).d(0).d(0).d(0);
    v.w(76).w(0).w(1).s("StringFileInfo").pad();
    v.w(40).w(0).w(1).s("040904b0").pad();
    v.w(16).w(2).w(1).s("A").pad().s("b");
    v.pad().w(68).w(0).w(1).s("VarFileInfo").pad();
    v.w(36).w(4).w(0).s("Translation").pad().w(0x409).w(1200);
    return v.v;
}

}  // namespace

TEST(Readers, PlainDialogTemplate)
{
    const auto bytes = PlainDialog();
    const DialogTemplate t = ReadDialogTemplate(bytes.data(), bytes.size());
    EXPECT_FALSE(t.bExtended);
    EXPECT_EQ(t.dwStyle, 0x80C00040u);
    EXPECT_EQ(std::vector<int>({t.x, t.y, t.cx, t.cy}), std::vector<int>({10, 20, 100, 50}));
    EXPECT_TRUE(t.menu.IsEmpty() && t.windowClass.IsEmpty());
    EXPECT_EQ(t.strCaption, "Odd");
    EXPECT_TRUE(t.bHasFont);
    EXPECT_EQ(t.nPointSize, 8);
    EXPECT_EQ(t.strFaceName, "Abc");
    ASSERT_EQ(t.items.size(), 3u);

    EXPECT_EQ(t.items[0].nID, 1);
    EXPECT_EQ(t.items[0].windowClass, CResourceName(0x80));
    EXPECT_EQ(t.items[0].title, CResourceName("OK"));
    EXPECT_EQ(GetControlKind(t.items[0]), ControlKind::pushButton);
    EXPECT_TRUE(GetControlFlags(t.items[0]) & ControlFlag::defaultButton);

    EXPECT_EQ(t.items[1].nID, -1);  // 0xFFFF in the plain form
    EXPECT_EQ(t.items[1].dwExStyle, 0x200u);
    EXPECT_EQ(t.items[1].windowClass, CResourceName("systreeview32"));  // names compare without case
    EXPECT_EQ(t.items[1].title, CResourceName(11060));
    EXPECT_EQ(t.items[1].creationData, std::vector<BYTE>({0xAB, 0xCD}));
    EXPECT_EQ(GetControlKind(t.items[1]), ControlKind::treeView);

    EXPECT_EQ(t.items[2].nID, 42);
    EXPECT_EQ(std::vector<int>({t.items[2].x, t.items[2].y, t.items[2].cx, t.items[2].cy}),
              std::vector<int>({5, 6, 7, 8}));
    EXPECT_EQ(GetControlKind(t.items[2]), ControlKind::etchedFrame);
    ExpectEveryCutRefused(bytes, ReadDialogTemplate);
}

TEST(Readers, ExtendedDialogTemplate)
{
    const auto bytes = ExtendedDialog();
    const DialogTemplate t = ReadDialogTemplate(bytes.data(), bytes.size());
    EXPECT_TRUE(t.bExtended);
    EXPECT_EQ(t.dwHelpId, 7u);
    EXPECT_EQ(t.dwExStyle, 0x10u);
    EXPECT_EQ(t.dwStyle, 0x40000040u);
    EXPECT_EQ(t.menu, CResourceName(0x1234));
    EXPECT_EQ(t.windowClass, CResourceName("MyClass"));
    EXPECT_EQ(t.strCaption, "");
    EXPECT_EQ(std::vector<int>({t.nPointSize, t.nWeight, t.bItalic, t.nCharSet}), std::vector<int>({9, 700, 1, 2}));
    EXPECT_EQ(t.strFaceName, "Tahoma");
    ASSERT_EQ(t.items.size(), 2u);
    EXPECT_EQ(t.items[0].dwHelpId, 99u);
    EXPECT_EQ(t.items[0].dwExStyle, 0x200u);
    EXPECT_EQ(t.items[0].nID, 70000);
    EXPECT_EQ(t.items[0].creationData, std::vector<BYTE>({1, 2, 3}));
    EXPECT_EQ(GetControlKind(t.items[0]), ControlKind::comboBox);
    EXPECT_TRUE(GetControlFlags(t.items[0]) & ControlFlag::dropDownList);
    EXPECT_EQ(t.items[1].nID, -1);
    EXPECT_EQ(t.items[1].title, CResourceName("Edit text"));
    EXPECT_EQ(GetControlFlags(t.items[1]) & (ControlFlag::numeric | ControlFlag::readOnly),
              DWORD(ControlFlag::numeric));
    ExpectEveryCutRefused(bytes, ReadDialogTemplate);
}

TEST(Readers, MenuWithANestedPopupAndASeparator)
{
    const auto bytes = Menu();
    const std::vector<MenuItemTemplate> menu = ReadMenuTemplate(bytes.data(), bytes.size());
    ASSERT_EQ(menu.size(), 2u);
    const MenuItemTemplate& file = menu[0];
    EXPECT_TRUE(file.IsPopup());
    EXPECT_EQ(file.strText, "&File");
    ASSERT_EQ(file.items.size(), 4u);
    EXPECT_EQ(file.items[0].nID, 100);
    EXPECT_TRUE(file.items[1].IsSeparator());
    ASSERT_EQ(file.items[2].items.size(), 1u);
    EXPECT_EQ(file.items[2].items[0].strText, "a");
    EXPECT_EQ(file.items[2].items[0].nID, 101);
    EXPECT_EQ(file.items[3].nFlags, MF_END | MF_GRAYED);
    EXPECT_EQ(file.items[3].nID, 102);
    EXPECT_EQ(menu[1].strText, "Help");
    EXPECT_EQ(menu[1].items.at(0).nID, 103);
    ExpectEveryCutRefused(bytes, ReadMenuTemplate);

    auto extended = bytes;
    extended[0] = 1;
    EXPECT_THROW(ReadMenuTemplate(extended.data(), extended.size()), CResourceException);
    Bytes deep;  // levels of lone popups, up to the limit and one past it
    deep.w(0).w(0);
    for (int i = 1; i < kMaxMenuDepth; ++i) deep.w(MF_POPUP | MF_END).s("p");  // items on every level
    deep.w(MF_END).w(1).s("x");
    EXPECT_NO_THROW(ReadMenuTemplate(deep.v.data(), deep.v.size()));
    deep.v.resize(deep.v.size() - 8);  // one level more
    deep.w(MF_POPUP | MF_END).s("p").w(MF_END).w(1).s("x");
    EXPECT_THROW(ReadMenuTemplate(deep.v.data(), deep.v.size()), CResourceException);
}

TEST(Readers, DialogInitData)
{
    const auto bytes = DialogInit();
    const std::vector<DialogInitItem> items = ReadDialogInit(bytes.data(), bytes.size());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].nControlId, 5066);
    EXPECT_EQ(items[0].nMessage, kDlgInitComboBoxAddString);
    EXPECT_EQ(items[0].Text(), "ab");
    EXPECT_EQ(items[1].nControlId, 17);
    EXPECT_EQ(items[1].nMessage, kDlgInitListBoxAddString);
    EXPECT_EQ(items[1].Text(), "c");
    ExpectEveryCutRefused(bytes, ReadDialogInit);
}

TEST(Readers, VersionInformation)
{
    const auto bytes = Version();
    ASSERT_EQ(bytes.size(), 236u);
    const VersionInfo v = ReadVersionInfo(bytes.data(), bytes.size());
    EXPECT_EQ(v.FileVersion(), "2.9.0.2");
    EXPECT_EQ(v.ProductVersion(), "2.9.0.3");
    EXPECT_EQ(v.dwFileType, VFT_DLL);
    ASSERT_EQ(v.stringTables.size(), 1u);
    EXPECT_EQ(v.stringTables[0].strKey, "040904b0");
    EXPECT_EQ(v.GetString("A"), "b");
    EXPECT_EQ(v.translations, (std::vector<std::pair<WORD, WORD>>{{0x409, 1200}}));
    ExpectEveryCutRefused(bytes, ReadVersionInfo);

    auto wrongSignature = bytes;
    wrongSignature[40] ^= 1;
    EXPECT_THROW(ReadVersionInfo(wrongSignature.data(), wrongSignature.size()), CResourceException);
}

TEST(Readers, ResourceFile)
{
    Bytes r;
    r.d(0).d(32).ord(0).ord(0).d(0).w(0).w(0).d(0).d(0);                       // the empty first entry
    r.d(3).d(32).ord(RT_DLGINIT).ord(5022).d(0).w(0x1030).w(0x409).d(0).d(0);  // 3 bytes of data, padded
    r.b(1).b(2).b(3).pad();
    r.d(2).d(44).s("PNG").s("LOGO").pad().d(0).w(0).w(0).d(0).d(0).b(9).b(8).pad();  // names, neutral language
    const CResourceTable table = CResourceTable::FromResFile(r.v.data(), r.v.size());
    ASSERT_EQ(table.Entries().size(), 2u);
    const ResourceEntry* init = table.Find(RT_DLGINIT, 5022);
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(init->wLanguage, 0x409);
    EXPECT_EQ(init->data, std::vector<BYTE>({1, 2, 3}));
    EXPECT_EQ(table.Find(RT_DLGINIT, 5022, 0x407), nullptr);
    const ResourceEntry* logo = table.Find("png", "logo");
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->data, std::vector<BYTE>({9, 8}));

    ASSERT_EQ(r.v.size(), 116u);
    for (size_t cut : {4u, 40u, 65u, 72u, 100u, 113u}) {  // inside a header or inside data
        EXPECT_THROW(CResourceTable::FromResFile(r.v.data(), cut), CResourceException) << cut;
    }
    auto twice = r.v;
    twice.insert(twice.end(), r.v.begin() + 32, r.v.begin() + 68);  // the dialog-init entry again
    EXPECT_THROW(CResourceTable::FromResFile(twice.data(), twice.size()), CResourceException);
}

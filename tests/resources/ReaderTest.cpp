// The template readers against bytes laid out by hand, field by field.
#include <tuple>

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

template <typename Reader>
void ExpectEveryCutRefused(const std::vector<BYTE>& bytes, Reader read)
{
    for (size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<BYTE> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        EXPECT_THROW(read(cut.data(), cut.size()), CResourceException) << "cut at " << n;
    }
}

}  // namespace

TEST(Readers, PlainDialogTemplate)
{
    // Plain form: an atom class, a named class with an ordinal title and creation data, and
    // odd-length texts that leave the next item to be aligned.
    Bytes in;
    in.d(0x80C00040).d(0).w(3).rect(10, 20, 100, 50);  // DS_SETFONT | WS_POPUP | WS_CAPTION; 3 items
    in.w(0).w(0).s("Odd").w(8).s("Abc");               // no menu, no class, caption, font
    in.pad().d(0x50010001).d(0).rect(1, 2, 30, 14).w(1).ord(0x80).s("OK").w(0);
    in.pad().d(0x50000000).d(0x200).rect(3, 4, 40, 20).w(0xFFFF).s("SysTreeView32").ord(11060).w(2).b(0xAB).b(0xCD);
    in.pad().d(0x50000012).d(0).rect(5, 6, 7, 8).w(42).ord(0x82).s("x").w(0);
    const DialogTemplate t = ReadDialogTemplate(in.v.data(), in.v.size());
    EXPECT_EQ(std::tuple(t.bExtended, t.dwStyle, t.x, t.y, t.cx, t.cy), std::tuple(false, 0x80C00040u, 10, 20, 100, 50));
    EXPECT_TRUE(t.menu.IsEmpty() && t.windowClass.IsEmpty());
    EXPECT_EQ(std::tuple(t.strCaption, t.bHasFont, t.nPointSize, t.strFaceName), std::tuple(CString("Odd"), true, 8, CString("Abc")));
    ASSERT_EQ(t.items.size(), 3u);
    const DialogItemTemplate &ok = t.items[0], &tree = t.items[1], &frame = t.items[2];
    EXPECT_EQ(std::tuple(ok.nID, ok.windowClass, ok.title, GetControlKind(ok)),
              std::tuple(1, CResourceName(0x80), CResourceName("OK"), ControlKind::pushButton));
    // 0xFFFF in the plain form is -1; class names compare without case.
    EXPECT_EQ(std::tuple(tree.nID, tree.dwExStyle, tree.windowClass, tree.title, GetControlKind(tree)),
              std::tuple(-1, 0x200u, CResourceName("systreeview32"), CResourceName(11060), ControlKind::treeView));
    EXPECT_EQ(tree.creationData, std::vector<BYTE>({0xAB, 0xCD}));
    EXPECT_EQ(std::tuple(frame.nID, frame.x, frame.y, frame.cx, frame.cy, GetControlKind(frame)),
              std::tuple(42, 5, 6, 7, 8, ControlKind::etchedFrame));
    ExpectEveryCutRefused(in.v, ReadDialogTemplate);
}

TEST(Readers, ExtendedDialogTemplate)
{
    // Extended form: help identifiers, a 32-bit control identifier, a menu by ordinal, a
    // named dialog class, the full font, odd creation data.
    Bytes in;
    in.w(1).w(0xFFFF).d(7).d(0x10).d(0x40000040).w(2).rect(0, 0, 157, 242);
    in.ord(0x1234).s("MyClass").s("").w(9).w(700).b(1).b(2).s("Tahoma");
    in.pad().d(99).d(0x200).d(0x50210003).rect(1, 1, 50, 60).d(70000).ord(0x85).s("").w(3).b(1).b(2).b(3);
    in.pad().d(0).d(0).d(0x50812080).rect(2, 2, 20, 10).d(0xFFFFFFFF).ord(0x81).s("Edit text").w(0);
    const DialogTemplate t = ReadDialogTemplate(in.v.data(), in.v.size());
    EXPECT_EQ(std::tuple(t.bExtended, t.dwHelpId, t.dwExStyle, t.dwStyle, t.menu, t.windowClass, t.strCaption),
              std::tuple(true, 7u, 0x10u, 0x40000040u, CResourceName(0x1234), CResourceName("MyClass"), CString()));
    EXPECT_EQ(std::tuple(t.nPointSize, t.nWeight, t.bItalic, t.nCharSet, t.strFaceName), std::tuple(9, 700, 1, 2, CString("Tahoma")));
    ASSERT_EQ(t.items.size(), 2u);
    const DialogItemTemplate& combo = t.items[0];
    EXPECT_EQ(std::tuple(combo.dwHelpId, combo.dwExStyle, combo.nID, GetControlKind(combo)), std::tuple(99u, 0x200u, 70000, ControlKind::comboBox));
    EXPECT_EQ(combo.creationData, std::vector<BYTE>({1, 2, 3}));
    EXPECT_EQ(std::tuple(t.items[1].nID, t.items[1].title), std::tuple(-1, CResourceName("Edit text")));
    ExpectEveryCutRefused(in.v, ReadDialogTemplate);
}

TEST(Readers, MenuWithANestedPopupAndASeparator)
{
    // File, with an item, a separator and a nested popup, then a second top-level popup.
    Bytes in;
    in.w(0).w(0);
    in.w(MF_POPUP).s("&File");
    in.w(0).w(100).s("Open");
    in.w(0).w(0).s("");
    in.w(MF_POPUP).s("Recent").w(MF_END).w(101).s("a");
    in.w(MF_END | MF_GRAYED).w(102).s("Exit");
    in.w(MF_POPUP | MF_END).s("Help").w(MF_END).w(103).s("About");
    const std::vector<MenuItemTemplate> menu = ReadMenuTemplate(in.v.data(), in.v.size());
    ASSERT_EQ(menu.size(), 2u);
    const MenuItemTemplate& file = menu[0];
    EXPECT_TRUE(file.IsPopup() && file.items.at(1).IsSeparator());
    ASSERT_EQ(std::tuple(file.strText, file.items.size(), file.items[2].items.size()), std::tuple(CString("&File"), 4u, 1u));
    EXPECT_EQ(std::tuple(file.items[0].nID, file.items[2].items[0].strText, file.items[2].items[0].nID), std::tuple(100, CString("a"), 101));
    EXPECT_EQ(std::tuple(file.items[3].nFlags, file.items[3].nID), std::tuple(WORD(MF_END | MF_GRAYED), 102));
    EXPECT_EQ(std::tuple(menu[1].strText, menu[1].items.at(0).nID), std::tuple(CString("Help"), 103));
    ExpectEveryCutRefused(in.v, ReadMenuTemplate);

    auto extended = in.v;
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
    // Two items with odd lengths, so neither the second record nor the end is aligned.
    Bytes in;
    in.w(5066).w(0x0403).d(3).b('a').b('b').b(0);
    in.w(17).w(0x0401).d(2).b('c').b(0);
    in.w(0);
    const std::vector<DialogInitItem> items = ReadDialogInit(in.v.data(), in.v.size());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(std::tuple(items[0].nControlId, items[0].nMessage, items[0].Text()), std::tuple(5066, kDlgInitComboBoxAddString, CString("ab")));
    EXPECT_EQ(std::tuple(items[1].nControlId, items[1].nMessage, items[1].Text()), std::tuple(17, kDlgInitListBoxAddString, CString("c")));
    ExpectEveryCutRefused(in.v, ReadDialogInit);
}

TEST(Readers, VersionInformation)
{
    // Root (fixed part), one string table with one string, the translation. Block lengths
    // counted by hand: string 16, table 40, string file info 76, var 36, var file info 68,
    // root 236.
    Bytes in;
    in.w(236).w(52).w(0).s("VS_VERSION_INFO").pad();
    in.d(0xFEEF04BD).d(0x10000).d(0x00020009).d(0x00000002).d(0x00020009).d(0x00000003);
    in.d(0x3F).d(0).d(4).d(2).d(0).d(0).d(0);
    in.w(76).w(0).w(1).s("StringFileInfo").pad();
    in.w(40).w(0).w(1).s("040904b0").pad();
    in.w(16).w(2).w(1).s("A").pad().s("b");
    in.pad().w(68).w(0).w(1).s("VarFileInfo").pad();
    in.w(36).w(4).w(0).s("Translation").pad().w(0x409).w(1200);
    ASSERT_EQ(in.v.size(), 236u);
    const VersionInfo v = ReadVersionInfo(in.v.data(), in.v.size());
    EXPECT_EQ(std::tuple(v.FileVersion(), v.ProductVersion(), v.dwFileType, v.GetString("A")),
              std::tuple(CString("2.9.0.2"), CString("2.9.0.3"), DWORD(VFT_DLL), CString("b")));
    ASSERT_EQ(v.stringTables.size(), 1u);
    EXPECT_EQ(v.stringTables[0].strKey, "040904b0");
    EXPECT_EQ(v.translations, (std::vector<std::pair<WORD, WORD>>{{0x409, 1200}}));
    ExpectEveryCutRefused(in.v, ReadVersionInfo);

    auto wrongSignature = in.v;
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
    for (size_t cut : {4u, 40u, 65u, 72u, 100u, 113u})  // inside a header or inside data
        EXPECT_THROW(CResourceTable::FromResFile(r.v.data(), cut), CResourceException) << cut;
    auto twice = r.v;
    twice.insert(twice.end(), r.v.begin() + 32, r.v.begin() + 68);  // the dialog-init entry again
    EXPECT_THROW(CResourceTable::FromResFile(twice.data(), twice.size()), CResourceException);
}

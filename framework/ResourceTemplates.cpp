#include "framework/ResourceTemplates.h"

#include "framework/ResourceBytes.h"

namespace {

constexpr WORD kExtendedSignature = 0xFFFF;
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;
constexpr int kMaxVersionDepth = 4;  // root, file info, table, string

// Place and size in dialog units, as dialogs and their items give them.
void ReadRect(CResourceBytes& in, int16_t& x, int16_t& y, int16_t& cx, int16_t& cy)
{
    x = in.Short();
    y = in.Short();
    cx = in.Short();
    cy = in.Short();
}

void ReadFont(CResourceBytes& in, DialogTemplate& t)
{
    t.bHasFont = true;
    t.nPointSize = in.Word();
    if (t.bExtended) {
        t.nWeight = in.Word();
        t.bItalic = in.Byte();
        t.nCharSet = in.Byte();
    }
    t.strFaceName = in.Text();
}

DialogItemTemplate ReadItem(CResourceBytes& in, bool extended)
{
    in.Align(4);
    DialogItemTemplate item;
    if (extended) {
        item.dwHelpId = in.Dword();
        item.dwExStyle = in.Dword();
        item.dwStyle = in.Dword();
    } else {
        item.dwStyle = in.Dword();
        item.dwExStyle = in.Dword();
    }
    ReadRect(in, item.x, item.y, item.cx, item.cy);
    if (extended) {
        item.nID = static_cast<int32_t>(in.Dword());
    } else {
        const WORD id = in.Word();
        item.nID = id == 0xFFFF ? -1 : id;
    }
    item.windowClass = in.NameOrOrdinal();
    item.title = in.NameOrOrdinal();
    const WORD extra = in.Word();  // the number of creation bytes that follow
    item.creationData = in.Bytes(extra);
    return item;
}

}  // namespace

DialogTemplate ReadDialogTemplate(const BYTE* data, size_t size)
{
    CResourceBytes in(data, size, "dialog template");
    DialogTemplate t;
    const auto word = [data](size_t at) { return static_cast<WORD>(data[at] | data[at + 1] << 8); };
    if (size >= 4 && word(0) == 1 && word(2) == kExtendedSignature) {
        t.bExtended = true;
        in.Skip(4);  // version 1, signature
        t.dwHelpId = in.Dword();
        t.dwExStyle = in.Dword();
        t.dwStyle = in.Dword();
    } else {
        t.dwStyle = in.Dword();
        t.dwExStyle = in.Dword();
    }
    const WORD count = in.Word();
    ReadRect(in, t.x, t.y, t.cx, t.cy);
    t.menu = in.NameOrOrdinal();
    t.windowClass = in.NameOrOrdinal();
    t.strCaption = in.Text();
    if (t.dwStyle & DS_SETFONT) ReadFont(in, t);
    for (WORD i = 0; i < count; ++i) t.items.push_back(ReadItem(in, t.bExtended));
    return t;
}

namespace {

std::vector<MenuItemTemplate> ReadMenuLevel(CResourceBytes& in, int depth)
{
    if (depth > kMaxMenuDepth) in.Fail("popups nested too deeply");
    std::vector<MenuItemTemplate> items;
    for (;;) {
        MenuItemTemplate item;
        item.nFlags = in.Word();
        if (!item.IsPopup()) item.nID = in.Word();
        item.strText = in.Text();
        if (item.IsPopup()) item.items = ReadMenuLevel(in, depth + 1);
        const bool last = (item.nFlags & MF_END) != 0;
        items.push_back(std::move(item));
        if (last) return items;
    }
}

}  // namespace

std::vector<MenuItemTemplate> ReadMenuTemplate(const BYTE* data, size_t size)
{
    CResourceBytes in(data, size, "menu template");
    const WORD version = in.Word();
    const WORD headerSize = in.Word();  // bytes between the header and the first item
    if (version != 0) in.Fail("not a plain menu template");
    in.Skip(headerSize);
    return ReadMenuLevel(in, 1);
}

CString DialogInitItem::Text() const
{
    size_t n = 0;
    while (n < data.size() && data[n] != 0) ++n;
    return CString(std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n)));
}

std::vector<DialogInitItem> ReadDialogInit(const BYTE* data, size_t size)
{
    CResourceBytes in(data, size, "dialog-init data");
    std::vector<DialogInitItem> items;
    for (;;) {
        DialogInitItem item;
        item.nControlId = in.Word();
        if (item.nControlId == 0) return items;
        item.nMessage = in.Word();
        const DWORD length = in.Dword();
        item.data = in.Bytes(length);
        items.push_back(std::move(item));
    }
}

namespace {

CString VersionText(DWORD ms, DWORD ls)
{
    CString s;
    s.Format("%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
    return s;
}

// One block: length (WORD, the whole block with its children), value length (WORD: in
// characters for a text value, in bytes for a binary one), type (WORD: 1 text, 0 binary),
// key (text), DWORD alignment, value, DWORD alignment, children.
struct VersionBlock {
    CString strKey;
    CResourceBytes value;
    std::vector<VersionBlock> children;
};

VersionBlock ReadBlock(CResourceBytes& in, int depth)
{
    if (depth > kMaxVersionDepth) in.Fail("blocks nested too deeply");
    in.Align(4);
    const WORD length = in.Word();
    if (length < 6) in.Fail("block length too small");
    CResourceBytes block = in.Range(length - 2u);
    const WORD valueLength = block.Word();
    const bool text = block.Word() == 1;
    CString key = block.Text();
    block.Align(4);
    const size_t left = block.End() - block.Offset();
    size_t valueBytes = text ? 2u * valueLength : valueLength;
    if (text) valueBytes = std::min(valueBytes, left);  // some compilers count a text's bytes, not characters
    if (valueBytes > left) block.Fail("value runs past its block");
    VersionBlock b{std::move(key), block.Range(valueBytes), {}};
    while (!block.AtEnd()) {
        block.Align(4);
        if (!block.AtEnd()) b.children.push_back(ReadBlock(block, depth + 1));
    }
    return b;
}

void ReadFixedInfo(CResourceBytes value, VersionInfo& v)
{
    if (value.AtEnd()) return;  // a block without the fixed part
    if (value.Dword() != kFixedInfoSignature) value.Fail("fixed part has a wrong signature");
    value.Dword();  // structure version
    for (DWORD* field :
         {&v.dwFileVersionMS, &v.dwFileVersionLS, &v.dwProductVersionMS, &v.dwProductVersionLS, &v.dwFileFlagsMask,
          &v.dwFileFlags, &v.dwFileOS, &v.dwFileType, &v.dwFileSubtype, &v.dwFileDateMS, &v.dwFileDateLS})
        *field = value.Dword();
}

}  // namespace

CString VersionInfo::FileVersion() const
{
    return VersionText(dwFileVersionMS, dwFileVersionLS);
}

CString VersionInfo::ProductVersion() const
{
    return VersionText(dwProductVersionMS, dwProductVersionLS);
}

CString VersionInfo::GetString(const char* name) const
{
    for (const StringTable& table : stringTables)
        for (const auto& [key, value] : table.strings)
            if (key == name) return value;
    return CString();
}

VersionInfo ReadVersionInfo(const BYTE* data, size_t size)
{
    CResourceBytes in(data, size, "version information");
    VersionBlock root = ReadBlock(in, 1);
    if (root.strKey != "VS_VERSION_INFO") in.Fail("not a version block");
    VersionInfo v;
    ReadFixedInfo(root.value, v);
    for (VersionBlock& info : root.children) {
        for (VersionBlock& child : info.children) {
            if (info.strKey == "StringFileInfo") {
                VersionInfo::StringTable table{child.strKey, {}};
                for (VersionBlock& s : child.children)
                    table.strings.emplace_back(s.strKey, s.value.Text(/*toEnd=*/true));
                v.stringTables.push_back(std::move(table));
            } else if (info.strKey == "VarFileInfo" && child.strKey == "Translation") {
                while (!child.value.AtEnd()) {
                    const WORD language = child.value.Word();
                    v.translations.emplace_back(language, child.value.Word());
                }
            }
        }
    }
    return v;
}

BitmapHeader ReadBitmapHeader(const BYTE* data, size_t size)
{
    CResourceBytes in(data, size, "bitmap");
    BitmapHeader h;
    const DWORD headerSize = in.Dword();
    if (headerSize == 12) {  // the older, smaller header
        h.nWidth = in.Word();
        h.nHeight = in.Word();
        in.Word();  // planes
        h.nBitCount = in.Word();
    } else if (headerSize >= 40) {
        h.nWidth = static_cast<int32_t>(in.Dword());
        h.nHeight = static_cast<int32_t>(in.Dword());
        in.Word();  // planes
        h.nBitCount = in.Word();
        h.dwCompression = in.Dword();
    } else {
        in.Fail("unknown header size");
    }
    return h;
}

std::vector<IconGroupEntry> ReadIconGroup(const BYTE* data, size_t size)
{
    CResourceBytes in(data, size, "icon group");
    in.Word();  // reserved
    if (in.Word() != 1) in.Fail("not an icon group");
    const WORD count = in.Word();
    std::vector<IconGroupEntry> entries;
    for (WORD i = 0; i < count; ++i) {
        IconGroupEntry e;
        const BYTE w = in.Byte(), h = in.Byte();
        e.nWidth = w ? w : 256;
        e.nHeight = h ? h : 256;
        in.Skip(2);  // colour count, reserved
        in.Word();   // planes
        e.nBitCount = in.Word();
        e.dwBytes = in.Dword();
        e.nIconId = in.Word();
        entries.push_back(e);
    }
    return entries;
}

ControlKind GetControlKind(const CResourceName& windowClass, DWORD dwStyle)
{
    using K = ControlKind;
    // Buttons by their type bits: push, default push, check, auto check, radio, three-state,
    // auto three-state, group box, (user), auto radio, then owner-drawn and others.
    static const K kButtons[16] = {
        K::pushButton, K::pushButton,  K::checkBox, K::checkBox, K::radioButton, K::checkBox, K::checkBox, K::groupBox,
        K::custom,     K::radioButton, K::custom,   K::custom,   K::custom,      K::custom,   K::custom,   K::custom};
    static const struct {
        WORD atom;  // 0: known by name only
        const char* name;
        K kind;
    } kClasses[] = {{kAtomButton, "Button", K::pushButton},      {kAtomEdit, "Edit", K::edit},
                    {kAtomStatic, "Static", K::staticText},      {kAtomListBox, "ListBox", K::listBox},
                    {kAtomScrollBar, "ScrollBar", K::scrollBar}, {kAtomComboBox, "ComboBox", K::comboBox},
                    {0, "SysTreeView32", K::treeView},           {0, "msctls_progress32", K::progressBar}};
    for (const auto& c : kClasses) {
        if (!(c.atom && windowClass == CResourceName(c.atom)) && !(windowClass == CResourceName(c.name))) continue;
        if (c.atom == kAtomButton) return kButtons[dwStyle & BS_TYPEMASK];
        if (c.atom == kAtomStatic && (dwStyle & SS_TYPEMASK) == SS_ETCHEDFRAME) return K::etchedFrame;
        return c.kind;
    }
    return K::custom;
}

DWORD GetControlFlags(ControlKind kind, DWORD s)
{
    using namespace ControlFlag;
    DWORD f = 0;
    auto set = [&f](bool on, DWORD flag) { f |= on ? flag : 0; };
    set(s & WS_VISIBLE, visible);
    set(s & WS_DISABLED, disabled);
    set(s & WS_GROUP, group);
    set(s & WS_TABSTOP, tabStop);
    const DWORD type = s & BS_TYPEMASK;
    switch (kind) {
        case ControlKind::pushButton:
            set(type == BS_DEFPUSHBUTTON, defaultButton);
            break;
        case ControlKind::checkBox:
        case ControlKind::radioButton:
            set(type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON, autoCheck);
            set(s & BS_PUSHLIKE, pushLike);
            break;
        case ControlKind::edit:
            set(s & ES_READONLY, readOnly);
            set(s & ES_NUMBER, numeric);
            break;
        case ControlKind::listBox:
            set(s & LBS_SORT, sorted);
            set(s & LBS_NOTIFY, notify);
            break;
        case ControlKind::comboBox:
            set((s & CBS_TYPEMASK) == CBS_DROPDOWNLIST, dropDownList);
            set(s & CBS_SORT, sorted);
            break;
        case ControlKind::treeView:
            set(s & TVS_CHECKBOXES, checkBoxes);
            break;
        default:
            break;
    }
    if (kind == ControlKind::pushButton || kind == ControlKind::checkBox || kind == ControlKind::radioButton)
        set(s & BS_BITMAP, bitmap);
    return f;
}

const char* ControlKindName(ControlKind kind)
{
    static const char* const kNames[] = {"push button",  "check box",    "radio button", "group box", "static",
                                         "etched frame", "edit",         "list box",     "combo box", "scroll bar",
                                         "tree view",    "progress bar", "custom"};
    return kNames[static_cast<int>(kind)];
}

std::vector<const char*> ControlFlagNames(DWORD flags)
{
    static const char* const kNames[] = {"visible",   "disabled", "group",          "tab stop",   "default",
                                         "read-only", "numeric",  "push-like",      "bitmap",     "auto",
                                         "sorted",    "notify",   "drop-down list", "check boxes"};
    std::vector<const char*> names;
    for (size_t i = 0; i < std::size(kNames); ++i)
        if (flags & (1u << i)) names.push_back(kNames[i]);
    return names;
}

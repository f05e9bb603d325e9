#pragma once
// Readers of the binary templates in module resources: dialog templates (plain and
// extended form), menu templates, dialog-init data, version information, and the headers
// of bitmaps and icon groups. Each takes a resource's bytes and throws
// CResourceException when they are cut short or malformed; nothing is read past the end.
// docs/FORMAT.md gives every layout. Texts are UTF-16 in the bytes and single-byte here
// (a character above 0xFF reads as '?').
//
// What a control is, for dialogs and listings, comes from its class and style:
// GetControlKind and GetControlFlags.
#include <cstddef>
#include <utility>
#include <vector>

#include "framework/Resources.h"
#include "framework/String.h"
#include "framework/Types.h"

// Window, dialog and control styles that the readers and dialogs look at.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD DS_SETFONT = 0x00000040;
constexpr DWORD BS_TYPEMASK = 0x0000000F;
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_CHECKBOX = 0x2;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_RADIOBUTTON = 0x4;
constexpr DWORD BS_3STATE = 0x5;
constexpr DWORD BS_AUTO3STATE = 0x6;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_BITMAP = 0x00000080;
constexpr DWORD BS_PUSHLIKE = 0x00001000;
constexpr DWORD ES_READONLY = 0x00000800;
constexpr DWORD ES_NUMBER = 0x00002000;
constexpr DWORD SS_TYPEMASK = 0x0000001F;
constexpr DWORD SS_ETCHEDFRAME = 0x00000012;
constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_SORT = 0x0002;
constexpr DWORD CBS_TYPEMASK = 0x0003;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
constexpr DWORD CBS_SORT = 0x0100;
constexpr DWORD TVS_CHECKBOXES = 0x0100;

// Menu item flags in a menu template.
constexpr WORD MF_GRAYED = 0x0001;
constexpr WORD MF_CHECKED = 0x0008;
constexpr WORD MF_POPUP = 0x0010;
constexpr WORD MF_END = 0x0080;
constexpr WORD MF_SEPARATOR = 0x0800;

// Class atoms of the predefined control classes.
constexpr WORD kAtomButton = 0x0080;
constexpr WORD kAtomEdit = 0x0081;
constexpr WORD kAtomStatic = 0x0082;
constexpr WORD kAtomListBox = 0x0083;
constexpr WORD kAtomScrollBar = 0x0084;
constexpr WORD kAtomComboBox = 0x0085;

struct DialogItemTemplate {
    DWORD dwStyle = 0;
    DWORD dwExStyle = 0;
    DWORD dwHelpId = 0;  // extended form only
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    // 32 bits in the extended form; 16 in the plain form, where 0xFFFF reads as -1.
    int nID = 0;
    CResourceName windowClass;  // an atom (kAtom...) or a class name
    CResourceName title;        // a text, or an ordinal (a picture's resource)
    std::vector<BYTE> creationData;
};

struct DialogTemplate {
    bool bExtended = false;
    DWORD dwStyle = 0;
    DWORD dwExStyle = 0;
    DWORD dwHelpId = 0;  // extended form only
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    CResourceName menu;         // empty: none
    CResourceName windowClass;  // empty: the dialog class
    CString strCaption;         // empty: none
    bool bHasFont = false;      // set by DS_SETFONT; the fields below only then
    WORD nPointSize = 0;
    WORD nWeight = 0;   // extended form only
    BYTE bItalic = 0;   // extended form only
    BYTE nCharSet = 0;  // extended form only
    CString strFaceName;
    std::vector<DialogItemTemplate> items;
};
DialogTemplate ReadDialogTemplate(const BYTE* data, size_t size);

struct MenuItemTemplate {
    WORD nFlags = 0;  // MF_...; MF_END marks the last item of its level
    WORD nID = 0;     // command; popups have none
    CString strText;
    std::vector<MenuItemTemplate> items;  // a popup's items
    bool IsPopup() const { return (nFlags & MF_POPUP) != 0; }
    bool IsSeparator() const { return !IsPopup() && ((nFlags & MF_SEPARATOR) || (nID == 0 && strText.IsEmpty())); }
};
constexpr int kMaxMenuDepth = 16;  // popups nested deeper are refused
// The plain form (version 0); the extended form is refused.
std::vector<MenuItemTemplate> ReadMenuTemplate(const BYTE* data, size_t size);

// Dialog-init messages: add a string to a list box or a combo box.
constexpr WORD kDlgInitListBoxAddString = 0x0401;
constexpr WORD kDlgInitComboBoxAddString = 0x0403;
struct DialogInitItem {
    WORD nControlId = 0;
    WORD nMessage = 0;
    std::vector<BYTE> data;
    // The data up to its first NUL (all of it when it has none).
    CString Text() const;
};
std::vector<DialogInitItem> ReadDialogInit(const BYTE* data, size_t size);

struct VersionInfo {
    DWORD dwFileVersionMS = 0, dwFileVersionLS = 0;
    DWORD dwProductVersionMS = 0, dwProductVersionLS = 0;
    DWORD dwFileFlagsMask = 0, dwFileFlags = 0, dwFileOS = 0, dwFileType = 0, dwFileSubtype = 0;
    DWORD dwFileDateMS = 0, dwFileDateLS = 0;
    struct StringTable {
        CString strKey;  // language and code page in hexadecimal, as "040904b0"
        std::vector<std::pair<CString, CString>> strings;
    };
    std::vector<StringTable> stringTables;
    std::vector<std::pair<WORD, WORD>> translations;  // language, code page

    // "2.9.0.2" from the fixed part.
    CString FileVersion() const;
    CString ProductVersion() const;
    // A string of the first table that has it; empty when none has.
    CString GetString(const char* name) const;
};
constexpr DWORD VFT_APP = 1;
constexpr DWORD VFT_DLL = 2;
VersionInfo ReadVersionInfo(const BYTE* data, size_t size);

// The start of a bitmap resource (an information header), and an icon group's entries.
struct BitmapHeader {
    int32_t nWidth = 0, nHeight = 0;
    WORD nBitCount = 0;
    DWORD dwCompression = 0;
};
BitmapHeader ReadBitmapHeader(const BYTE* data, size_t size);
struct IconGroupEntry {
    int nWidth = 0, nHeight = 0;  // 0 in the bytes means 256
    WORD nBitCount = 0;
    DWORD dwBytes = 0;
    WORD nIconId = 0;  // the RT_ICON resource holding the image
};
std::vector<IconGroupEntry> ReadIconGroup(const BYTE* data, size_t size);

// What a dialog control is.
enum class ControlKind {
    pushButton,
    checkBox,
    radioButton,
    groupBox,
    staticText,
    etchedFrame,
    edit,
    listBox,
    comboBox,
    scrollBar,
    treeView,
    progressBar,
    custom
};
// The style bits that behaviour depends on, as flags.
namespace ControlFlag {
enum : DWORD {
    visible = 0x0001,
    disabled = 0x0002,
    group = 0x0004,  // starts a group (radio buttons, tab order)
    tabStop = 0x0008,
    defaultButton = 0x0010,
    readOnly = 0x0020,      // edits
    numeric = 0x0040,       // edits: digits only
    pushLike = 0x0080,      // check and radio buttons drawn as push buttons
    bitmap = 0x0100,        // buttons showing a picture
    autoCheck = 0x0200,     // check and radio buttons that check themselves when clicked
    sorted = 0x0400,        // list boxes and combo boxes
    notify = 0x0800,        // list boxes
    dropDownList = 0x1000,  // combo boxes without an edit field
    checkBoxes = 0x2000,    // tree views with a check box per item
};
}
ControlKind GetControlKind(const CResourceName& windowClass, DWORD dwStyle);
DWORD GetControlFlags(ControlKind kind, DWORD dwStyle);
inline ControlKind GetControlKind(const DialogItemTemplate& item)
{
    return GetControlKind(item.windowClass, item.dwStyle);
}
inline DWORD GetControlFlags(const DialogItemTemplate& item)
{
    return GetControlFlags(GetControlKind(item), item.dwStyle);
}
// "push button", "check box", ..., for listings.
const char* ControlKindName(ControlKind kind);
// "visible", "disabled", ... for each flag set, in the order above.
std::vector<const char*> ControlFlagNames(DWORD flags);

#pragma once
// The module's dialogs and menus as the host relies on them, written out by hand from
// what the host expects (not from the resource script): identifiers, captions, sizes,
// control kinds, texts and order, the style bits that behaviour depends on, the sort
// items, and every menu item and command.
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "framework/ResourceTemplates.h"

namespace tables {

using K = ControlKind;
namespace F = ControlFlag;

struct Control {
    int id;
    ControlKind kind;
    const char* text;
    DWORD flags;  // of kCheckedFlags (and `group` for radio buttons)
};
struct Dialog {
    int id;
    const char* caption;  // nullptr: none
    int cx, cy;
    bool child, visible;
    std::vector<Control> controls;
};
struct MenuItem {
    const char* text;  // nullptr: a separator
    int command;
};
struct Menu {
    int id;
    const char* popup;
    std::vector<MenuItem> items;
};

constexpr const char* kFont = "MS Sans Serif";
constexpr int kFontPoints = 8;
constexpr WORD kLanguage = 0x0409;
constexpr DWORD kCheckedFlags = F::disabled | F::defaultButton | F::readOnly | F::numeric | F::pushLike | F::bitmap |
                                F::autoCheck | F::sorted | F::notify | F::dropDownList | F::checkBoxes;
// The flags of a control that the table speaks about.
inline DWORD CheckedFlags(ControlKind kind, DWORD flags)
{
    return flags & (kCheckedFlags | (kind == K::radioButton ? DWORD(F::group) : 0));
}

constexpr DWORD kPicture = F::autoCheck | F::pushLike | F::bitmap | F::disabled;

// clang-format off
inline const std::vector<Dialog>& Dialogs()
{
    static const std::vector<Dialog> dialogs = {
        {101, "Processing...", 186, 41, false, true, {{1203, K::progressBar, "", 0}}},
        {5001, "New Logger", 194, 79, false, false,
         {{1, K::pushButton, "OK", F::defaultButton}, {2, K::pushButton, "Cancel", 0},
          {-1, K::staticText, "Log-file Name:", 0}, {5000, K::edit, "", 0},
          {5006, K::checkBox, "Overwrite if file already exists", F::autoCheck}}},
        {5002, nullptr, 417, 122, true, false,
         {{-1, K::staticText, "Log File Name: ", 0}, {5008, K::edit, "", F::readOnly},
          {5014, K::pushButton, "Load Log", 0}, {-1, K::groupBox, "Control Panel", 0},
          {5040, K::checkBox, "", kPicture}, {5042, K::checkBox, "", kPicture}, {5011, K::checkBox, "", kPicture},
          {5044, K::pushButton, "", F::bitmap | F::disabled}, {5015, K::checkBox, "Play Looped", F::autoCheck},
          {5061, K::radioButton, "Delay Between Messages", F::autoCheck | F::group},
          {5062, K::radioButton, "Continuous Play", F::autoCheck}, {5063, K::staticText, "Duration :", 0},
          {5010, K::edit, "", F::numeric}, {5064, K::staticText, "mSec.", 0}, {5019, K::edit, "", F::numeric},
          {5065, K::staticText, "messages per mSec.", 0}, {-1, K::staticText, "Message Number: ", 0},
          {5032, K::edit, "", F::readOnly}, {-1, K::staticText, "File Position :", 0}, {5035, K::edit, "", F::readOnly},
          {-1, K::etchedFrame, "", 0}, {-1, K::groupBox, "Replay Mode :", 0},
          {-1, K::groupBox, "Replay Information :", 0}, {5016, K::pushButton, "Import Log", 0}}},
        {5004, nullptr, 138, 262, true, false,
         {{5017, K::listBox, "", F::notify | F::sorted}, {-1, K::staticText, "Logs:", 0},
          {5020, K::pushButton, "Record", 0}, {5003, K::pushButton, "Clear Log", 0},
          {5005, K::pushButton, "Register", 0}, {-1, K::staticText, "Log-file Path:", 0}, {5024, K::edit, "", 0},
          {-1, K::groupBox, "Logger Actions:", 0}, {-1, K::groupBox, "Log-file Properties:", 0},
          {-1, K::staticText, "Size:", 0}, {5025, K::edit, "", F::readOnly}, {-1, K::staticText, "Kb", 0},
          {5027, K::pushButton, "Close Log", 0}, {5029, K::pushButton, "Add Log", 0},
          {5050, K::checkBox, "Use Error Counter", F::autoCheck}, {5052, K::staticText, "Errors", 0},
          {5051, K::edit, "", 0}, {5056, K::pushButton, "Set Filter", 0}, {5059, K::pushButton, "Settings ...", 0},
          {-1, K::staticText, "Convert Log :", 0}, {5060, K::pushButton, "Convert ...", 0},
          {-1, K::staticText, "Define Settings :", 0}}},
        {5022, "Select Columns", 157, 242, false, false,
         {{-1, K::staticText, "Sort :", 0}, {5066, K::comboBox, "", F::dropDownList},
          {5045, K::treeView, "", F::checkBoxes}, {5046, K::pushButton, "Check All", 0},
          {5047, K::pushButton, "Uncheck All", 0}, {1, K::pushButton, "Save", F::defaultButton},
          {2, K::pushButton, "Cancel", 0}, {5062, K::edit, "", F::numeric}, {5063, K::edit, "", F::numeric},
          {-1, K::staticText, "~", 0}, {-1, K::staticText, "Index:", 0}}},
        {5023, nullptr, 206, 68, false, false, {{5048, K::staticText, "", 0}, {5049, K::progressBar, "", 0}}},
        {5026, "Logger Settings", 228, 103, false, false,
         {{1, K::pushButton, "OK", F::defaultButton}, {2, K::pushButton, "Cancel", 0},
          {-1, K::groupBox, "Default Log-File", 0},
          {5053, K::checkBox, "Generate default Log-file on start-up.", F::autoCheck},
          {5055, K::staticText, "Default Log-file name: ", 0}, {5054, K::edit, "", 0}}},
        {5030, nullptr, 139, 278, true, false, {}},
    };
    return dialogs;
}

// The dialog-init items of 5022: the "Sort :" list (a combo box), in order.
constexpr int kSortDialog = 5022;
constexpr int kSortList = 5066;
inline const std::vector<const char*> kSortItems = {"According to Viewer", "Alphabetically"};

inline const std::vector<Menu>& Menus()
{
    static const std::vector<Menu> menus = {
        {5028, "Logger",
         {{"Add New Logger ...", 32771}, {"Replay Log File ...", 32773}, {"Logger Control ...", 32772},
          {"Logger Settings ...", 32775}, {nullptr, 0}, {"Convert Log To HTML ...", 32774},
          {"Convert Log To GKI ...", 32776}}},
        {5033, "Convert Log",
         {{"To &HTML", 62776}, {"To &Text", 62777}, {"To &CSV", 62779}, {"To &GKI", 62778}, {nullptr, 0},
          {"Data Format ...", 32780}}},
    };
    return menus;
}
// clang-format on

constexpr int kIconGroup = 5031;
inline const std::vector<int> kBitmaps = {11060, 11063, 11064, 11065, 11066, 11067, 11068, 11069};
constexpr const char* kFileVersion = "2.9.0.2";
constexpr const char* kOriginalFilename = "Logger.dll";

// What one reading of the compiled resources found, in the tables' terms, and the check
// of a reading against the tables.
struct SeenControl {
    int id;
    ControlKind kind;
    std::string text;
    DWORD flags;
};
struct SeenDialog {
    std::string caption, font;
    int cx = 0, cy = 0, points = 0;
    DWORD style = 0;
    WORD language = 0;
    std::vector<SeenControl> controls;
};
struct SeenMenu {
    std::string popup;
    std::vector<std::pair<std::string, int>> items;  // a separator: "", 0
    WORD language = 0;
};
struct Seen {
    std::map<int, SeenDialog> dialogs;
    std::map<int, SeenMenu> menus;
    std::vector<std::string> sortItems;
    std::string fileVersion, originalFilename;
};

inline SeenControl ControlAsSeen(int id, const CResourceName& windowClass, DWORD style, std::string text)
{
    const ControlKind kind = GetControlKind(windowClass, style);
    return {id, kind, std::move(text), CheckedFlags(kind, GetControlFlags(kind, style))};
}

inline void ExpectMatchesTables(const Seen& seen)
{
    EXPECT_EQ(seen.dialogs.size(), Dialogs().size());
    for (const Dialog& want : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(want.id));
        ASSERT_EQ(seen.dialogs.count(want.id), 1u);
        const SeenDialog& d = seen.dialogs.at(want.id);
        EXPECT_EQ(std::tuple(d.caption, d.cx, d.cy, d.font, d.points, d.language),
                  std::tuple(std::string(want.caption ? want.caption : ""), want.cx, want.cy, std::string(kFont), kFontPoints, kLanguage));
        EXPECT_EQ(std::tuple((d.style & WS_CHILD) != 0, (d.style & WS_VISIBLE) != 0), std::tuple(want.child, want.visible));
        ASSERT_EQ(d.controls.size(), want.controls.size());
        for (size_t i = 0; i < want.controls.size(); ++i) {
            const SeenControl& c = d.controls[i];
            const Control& w = want.controls[i];
            EXPECT_EQ(std::tuple(c.id, std::string(ControlKindName(c.kind)), c.text, c.flags),
                      std::tuple(w.id, std::string(ControlKindName(w.kind)), std::string(w.text), w.flags))
                << "control " << i;
        }
    }
    EXPECT_EQ(seen.menus.size(), Menus().size());
    for (const Menu& want : Menus()) {
        SCOPED_TRACE("menu " + std::to_string(want.id));
        ASSERT_EQ(seen.menus.count(want.id), 1u);
        const SeenMenu& m = seen.menus.at(want.id);
        EXPECT_EQ(m.popup, want.popup);
        EXPECT_EQ(m.language, kLanguage);
        std::vector<std::pair<std::string, int>> items;
        for (const MenuItem& i : want.items) items.emplace_back(i.text ? i.text : "", i.command);
        EXPECT_EQ(m.items, items);
    }
    EXPECT_EQ(seen.sortItems, std::vector<std::string>(kSortItems.begin(), kSortItems.end()));
    EXPECT_EQ(seen.fileVersion, kFileVersion);
    EXPECT_EQ(seen.originalFilename, kOriginalFilename);
}

// A dialog-init item as the sort list's text, or a text that says what it is instead.
inline std::string SortItem(int dialog, int control, int message, const std::string& text)
{
    if (dialog == kSortDialog && control == kSortList && message == 0x0403) return text;
    return "dialog " + std::to_string(dialog) + " control " + std::to_string(control) + " message " +
           std::to_string(message) + ": " + text;
}

}  // namespace tables

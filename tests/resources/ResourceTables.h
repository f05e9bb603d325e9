#pragma once
// The module's dialogs and menus as the host relies on them, written out by hand from
// what the host expects (not from the resource script): every dialog with its caption,
// size and control count, the controls whose kind, text or style bits behaviour depends
// on, the sort items, and every menu item and command.
#include <vector>

#include "framework/ResourceTemplates.h"

namespace tables {

using K = ControlKind;
namespace F = ControlFlag;

struct Control {
    size_t index;  // in the template's order
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
    size_t count;                   // controls in all
    std::vector<Control> controls;  // those the host depends on
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
        {101, "Processing...", 186, 41, false, true, 1, {{0, 1203, K::progressBar, "", 0}}},
        {5001, "New Logger", 194, 79, false, false, 5,
         {{0, 1, K::pushButton, "OK", F::defaultButton}, {3, 5000, K::edit, "", 0},
          {4, 5006, K::checkBox, "Overwrite if file already exists", F::autoCheck}}},
        {5002, nullptr, 417, 122, true, false, 24,
         {{1, 5008, K::edit, "", F::readOnly}, {4, 5040, K::checkBox, "", kPicture},
          {7, 5044, K::pushButton, "", F::bitmap | F::disabled}, {8, 5015, K::checkBox, "Play Looped", F::autoCheck},
          {9, 5061, K::radioButton, "Delay Between Messages", F::autoCheck | F::group},
          {10, 5062, K::radioButton, "Continuous Play", F::autoCheck}, {12, 5010, K::edit, "", F::numeric},
          {20, -1, K::etchedFrame, "", 0}, {23, 5016, K::pushButton, "Import Log", 0}}},
        {5004, nullptr, 138, 262, true, false, 22,
         {{0, 5017, K::listBox, "", F::notify | F::sorted}, {14, 5050, K::checkBox, "Use Error Counter", F::autoCheck},
          {20, 5060, K::pushButton, "Convert ...", 0}}},
        {5022, "Select Columns", 157, 242, false, false, 11,
         {{1, 5066, K::comboBox, "", F::dropDownList}, {2, 5045, K::treeView, "", F::checkBoxes},
          {5, 1, K::pushButton, "Save", F::defaultButton}, {7, 5062, K::edit, "", F::numeric}}},
        {5023, nullptr, 206, 68, false, false, 2, {{0, 5048, K::staticText, "", 0}, {1, 5049, K::progressBar, "", 0}}},
        {5026, "Logger Settings", 228, 103, false, false, 6,
         {{3, 5053, K::checkBox, "Generate default Log-file on start-up.", F::autoCheck}, {5, 5054, K::edit, "", 0}}},
        {5030, nullptr, 139, 278, true, false, 0, {}},
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

}  // namespace tables

#pragma once
// The sections and keys of the host's settings store that the library reads and writes,
// by the names the host tool uses. Defaults stand where each is read.
namespace SettingsKeys {

constexpr const char* kViewerSettings = "Viewer Settings";
constexpr const char* kVersionDirectory = "Version Directory";
constexpr const char* kLoggerSettings = "Logger Settings";

// "Viewer Settings"
constexpr const char* kAutoRepair = "Auto Repair Log File";
constexpr const char* kKovaLogName = "KOVA Log Name";
constexpr const char* kLogNameIndex = "Log Name Index";
constexpr const char* kLogNameLocation = "Log Name Location";
constexpr const char* kLogNameUSIM = "Log Name USIM";
constexpr const char* kLogNameSetupId = "Log Name SetupId";
constexpr const char* kLogNameScheme = "Log Name Scheme";
constexpr const char* kLogNameVersion = "Log Name Version";
constexpr const char* kImportExportPath = "Import Export Path";
constexpr const char* kIsCurrentLogDate = "Is Current Log Date";
constexpr const char* kCurrentLogTime = "Current Log Time";
constexpr const char* kBookmarkColor = "Bookmark Color";

// "Version Directory"
constexpr const char* kUseLocal = "Use Local";
constexpr const char* kDirectory = "Directory";

// "Logger Settings"
constexpr const char* kColumnSelectionOrder = "Column Selection Order";

}  // namespace SettingsKeys

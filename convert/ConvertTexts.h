#pragma once
// The converter's user-facing texts, word for word as the host's users know them. They
// reach the user only through AfxMessageBox or an outcome string.
namespace ConvertTexts {

// Opening the files of a conversion.
constexpr const char* kOpenLogForReading = "Error opening log file for reading.";
constexpr const char* kOpenForWriting = "Error opening file for writing.";
// How a readable export ends.
constexpr const char* kFinished = "Conversion Finished.";
constexpr const char* kReadError = "Error reading log file.";
constexpr const char* kFailedCorrupt = "Conversion Failed - File may be corrupt.";
// A write to an output that failed (disk full, a vanished device): the library's one text
// for a failed write, followed by the operating system's reason on its own line.
constexpr const char* kWriteError = "Error writing log file.";
// The column dialog.
constexpr const char* kDatabaseError = "Error opening database.";
constexpr const char* kRangeError = "Index's end is greater than index's start!";
// Switching to the module's resources.
constexpr const char* kModuleName = "Logger.dll";
constexpr const char* kResourceSwitchFailed =
    "Failed to change resource handle\n(System error: %s )\nMudule name: %s\nSource Files:%s, %i";
constexpr const char* kResourceSwitchTitle = "Error in - Use Custom Resource";
// The progress window's caption and label: this, then the source path.
constexpr const char* kConverting = "Converting ";

}  // namespace ConvertTexts

#pragma once
// How an import or a GKI export tells its end: "Conversion Succeeded!" when no message
// failed, otherwise the question whether to view the errors. On Yes the collected texts
// go into an error file in the tool directory's "Bin Logs" folder (made when it is
// missing), one text per line in text mode, from the head of the list (the newest
// first, since texts are added at the head), and the file is opened in Notepad through
// the program launcher: argv {"Notepad.exe", path}, the command line
// "Notepad.exe '<path>'" without a shell.
#include <list>

#include "framework/String.h"

namespace ConvertTexts {

constexpr const char* kSucceeded = "Conversion Succeeded!";
constexpr const char* kCompletedWithErrors = "Conversion Completed with errors!\n View Errors?";
constexpr const char* kNoErrorsFile = "Could not create errors file ";
constexpr const char* kErrorsEditor = "Notepad.exe";
constexpr const char* kErrorsFolder = "\\Bin Logs\\";

}  // namespace ConvertTexts

// The tool directory's "\Bin Logs\" followed by `errorFileName`.
CString ConversionErrorsPath(const char* errorFileName);

// Shows the outcome for `errors` (see above). Each text written to the error file is
// removed from the list; the list is left as it is on No and when the file cannot be
// created. Returns whether the user chose to view the errors.
bool ShowConversionOutcome(std::list<CString>& errors, const char* errorFileName);

#pragma once
// The outcome of an import, shown by CLogFileConverter::ShowConversionOutcome
// (declared with the converter in convert/LogFileConverter.h).
namespace ConversionOutcomeTexts {

constexpr const char* kSucceeded = "Conversion Succeeded!";
constexpr const char* kWithErrors = "Conversion Completed with errors!\n View Errors?";
constexpr const char* kNoErrorsFile = "Could not create errors file ";
constexpr const char* kLogFolder = "\\Bin Logs\\";
constexpr const char* kEditor = "Notepad.exe";

}  // namespace ConversionOutcomeTexts

#pragma once
// The SD-card import's user-facing texts, word for word as the host's users know them.
namespace SdImportTexts {

constexpr const char* kOpenForReading = "Error opening log file for reading.";
constexpr const char* kOpenForWriting = "Error opening log file for writing.";
constexpr const char* kConverting = "Converting SD Log: ";
constexpr const char* kReadError = "Error reading log file.";
constexpr const char* kFailedMemory = "Conversion Failed. Memory Exception.";
constexpr const char* kFailed = "Conversion Failed.";
constexpr const char* kFailedFault = "Conversion Failed";
constexpr const char* kProtocolNotImplemented = "The packets are in protokol ID 2 and it is not implemented";
constexpr const char* kErrorFile = "SDLogConversion.err";
// The batch.
constexpr const char* kBatchTitle = "Converting SD Logs";
constexpr const char* kBatchOpenForReading = "Error opening \"%s\" for reading.";
constexpr const char* kBatchOpenForWriting = "Error opening \"%s\" for writing.";
constexpr const char* kBatchEndedWithErrors =
    "The convertsion ended with errors.\nPlease see \"%s\\Bin Logs\"\nFor errors.";
constexpr const char* kBatchErrorFile = "%s\\Bin Logs\\SDLogConversionErrors_%s.err";
constexpr const char* kTempFolder = "\\Temp\\";
constexpr const char* kBatchTimePattern = "_%d-%b-%y_%H;%M;%S_";

}  // namespace SdImportTexts

#pragma once
// The .vkl log file format, in one place.
//
//   offset 0   the header position word H: unsigned 32-bit little-endian offset of the
//              header; 0 while the file is open for writing (see LogFile.h)
//   offset 4   the message records, one CVESKMessage serialisation after another, with
//              no length, separator or checksum of their own, up to H
//   offset H   the serialised header (LogFileHeader.h), to the end of the file
//
// Positions and sizes are unsigned 32-bit: a log file stays below 4 GiB. A page is 3000
// messages. docs/FORMAT.md gives every byte.
#include "framework/String.h"
#include "framework/Types.h"

namespace LogFormat {

constexpr DWORD kHeaderPosSize = 4;             // the header position word at offset 0
constexpr DWORD kFirstRecord = kHeaderPosSize;  // records start right after it
constexpr DWORD kMaxPosition = 0xFFFFFFFF;      // largest offset a position word holds
constexpr int kMaxBookmarks = 1000;             // more make a header unloadable
constexpr int kMaxDevices = 5;                  // device slots, and device records in a header
constexpr int kMessagesPerPage = 3000;
constexpr const char* kExtension = ".vkl";
constexpr const char* kOldExtension = ".bin";  // accepted as a log file's name too

// The page count of a file that holds `records` records, counted as a recording counts
// them: the first page step comes after 2,999 messages, each later one after 3,000.
constexpr int PagesForRecords(ULONGLONG records)
{
    const ULONGLONG pages = 1 + (records + 1) / kMessagesPerPage;
    return pages > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(pages);
}

// A file length or position as a position word: lengths of 4 GiB and more are clamped.
constexpr DWORD ClampPosition(ULONGLONG length)
{
    return length > kMaxPosition ? kMaxPosition : static_cast<DWORD>(length);
}

// Whether a file name already ends in one of the log file extensions.
inline bool HasLogExtension(const CString& name)
{
    const CString ext = name.Right(4);
    return ext == kExtension || ext == kOldExtension;
}

}  // namespace LogFormat

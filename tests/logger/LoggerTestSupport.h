#pragma once
#include <algorithm>
#include <filesystem>

#include "logfile/LogFile.h"
#include "logger/Logger.h"
#include "logger/LoggerManager.h"
#include "platform/VESKMessage.h"
#include "tests/support/TestEnv.h"

// A message of `dataBytes` data bytes (message type 6 in the first word).
inline CVESKMessage MakeMessage(uint64_t index, int device = 0, int dataBytes = 60, int kind = 2)
{
    std::vector<BYTE> data(static_cast<size_t>(dataBytes), 0);
    for (int i = 0; i < dataBytes; ++i) data[static_cast<size_t>(i)] = static_cast<BYTE>(index + static_cast<uint64_t>(i));
    if (dataBytes >= 2) {
        data[0] = 6;
        data[1] = 0;
    }
    CVESKMessage m(kind, device, data.data(), dataBytes, 0);
    m.SetPCTimeStamp(CSystemTime(2011, 3, 3, 14, 5, 9, static_cast<int>(index % 1000)));
    m.SetMessageIndex(index);
    return m;
}

// What a closed log file holds, read by inspection (which never rewrites the file).
struct FileContent {
    std::vector<CVESKMessage> records;
    std::vector<DWORD> offsets;
    std::vector<CLogBookmark> bookmarks;
    CString description;
    int pages = 0;
    DWORD headerPosition = 0;
};
inline FileContent Inspect(const std::string& path)
{
    FileContent c;
    CLogFile f;
    EXPECT_TRUE(f.OpenForInspection(path.c_str())) << path;
    EXPECT_FALSE(f.NeedsRepair()) << path;
    while (f.GetPosition() < f.GetHeaderPosition()) {
        c.offsets.push_back(static_cast<DWORD>(f.GetPosition()));
        c.records.emplace_back();
        ReadLogRecord(f, c.records.back());
    }
    c.bookmarks.assign(f.GetBookmarks()->begin(), f.GetBookmarks()->end());
    c.description = f.GetFileDescription();
    c.pages = f.GetNumOfPages();
    c.headerPosition = f.GetHeaderPosition();
    return c;
}

inline std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class LoggerFixture : public HostFixture {
protected:
    ~LoggerFixture() override { Term(); }  // the loggers the manager made

    // A logger writing `name` in the fixture's directory.
    std::unique_ptr<CLogger> MakeLogger(const std::string& name, int device = -1, unsigned long maxMB = 0, int bookmark = 0,
                                        int cut = 0)
    {
        return std::make_unique<CLogger>(name.c_str(), 1, 0, tmp.path().c_str(), device, maxMB, bookmark, cut);
    }
    // Hands messages first..last of `dataBytes` data bytes to the logger; `after` runs
    // after each.
    static void Feed(CLogger& logger, uint64_t first, uint64_t last, int dataBytes = 60,
                     const std::function<void(uint64_t)>& after = {})
    {
        for (uint64_t i = first; i <= last; ++i) {
            CVESKMessage m = MakeMessage(i, 0, dataBytes);
            logger.HandleMessage(&m);
            if (after) after(i);
        }
    }
};

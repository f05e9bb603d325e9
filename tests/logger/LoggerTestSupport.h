#pragma once
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "logfile/LogFile.h"
#include "logger/Logger.h"
#include "logger/LoggerManager.h"
#include "platform/VESKMessage.h"
#include "tests/support/LogFileBytes.h"
#include "tests/support/TestEnv.h"

// A message of `dataBytes` data bytes (message type 6 in the first word).
inline CVESKMessage MakeMessage(uint64_t index, int device = 0, int dataBytes = 60, int kind = 2)
{
    std::vector<BYTE> data = {6, 0};
    for (int i = 2; i < dataBytes; ++i) data.push_back(static_cast<BYTE>(index + static_cast<uint64_t>(i)));
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

    std::unique_ptr<CLogger> MakeLogger(const std::string& name, int device = -1, unsigned long maxMB = 0,
                                        int bookmark = 0, int cut = 0)
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

constexpr uint64_t kUnreadable = ~0ull;  // in an index list: a record with data length -1 (40 bytes)
using Marks = std::vector<std::pair<DWORD, std::string>>;

// A log (replacing any file of the name) of records with these indexes, devices 0, 1, 0,
// ..., with a header that differs from a fresh one in every field an extraction copies
// or drops.
inline void WriteLog(const std::string& path, const std::vector<uint64_t>& indexes, const Marks& marks = {},
                     int dataBytes = 36)
{
    std::filesystem::remove(path);
    CLogFile f;
    ASSERT_TRUE(f.Open(path.c_str(), 1, 1, 0));
    {
        CArchive ar(&f, CArchive::store);
        for (size_t i = 0; i < indexes.size(); ++i) {
            CVESKMessage m = MakeMessage(indexes[i], static_cast<int>(i % 2), dataBytes);
            if (indexes[i] == kUnreadable) m.SetDataLength(-1);
            m.Serialize(ar);
        }
    }
    for (const auto& [pos, text] : marks) f.GetBookmarks()->emplace_back(pos, text.c_str());
    CLogFileHeader& h = *f.GetLogFileHeader();
    h.m_strVESKVersion = "KOVA Ver. 9";
    h.m_strUEVersion = "UE 7";
    h.m_strFileDescription = "source";
    h.m_creationTime = CSystemTime(2010, 1, 2, 3, 4, 5, 6);
    h.m_nNumOfPages = 4;
    f.SetAnchorPosition(4);
    f.Close();
}

// The indexes of a file's records, as far as a repair would keep them (a full disk may
// have kept the header from being written).
inline std::vector<uint64_t> Indexes(const std::string& path)
{
    std::vector<uint64_t> out;
    CLogFile f;
    if (!f.OpenForInspection(path.c_str())) return out;
    CVESKMessage m;
    while (f.GetPosition() < f.GetHeaderPosition()) {
        ReadLogRecord(f, m);
        out.push_back(m.GetMessageIndex());
    }
    return out;
}

inline Marks Bookmarks(const std::string& path)
{
    Marks out;
    for (const CLogBookmark& b : Inspect(path).bookmarks) out.emplace_back(b.m_dwFilePos, b.m_strDescription.str());
    return out;
}

// A sound log whose records end at `h` (zeros: a file with holes, nothing written there)
// and a fresh header behind them. False where the file system cannot hold it.
inline bool WriteSparseLog(const std::string& path, uint32_t h)
{
    Bytes word;
    Put32(word, h);
    const Bytes header = FreshHeader();
    std::filesystem::remove(path);
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    const bool made = ::pwrite(fd, word.data(), 4, 0) == 4 &&
                      ::pwrite(fd, header.data(), header.size(), h) == static_cast<ssize_t>(header.size());
    ::close(fd);
    return made;
}

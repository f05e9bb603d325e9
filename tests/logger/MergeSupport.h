#pragma once
// Log files for the merge tests, written through the library, and what is read back.
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/support/LogFileBytes.h"
#include "tests/logger/LoggerTestSupport.h"

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
    CLogFile f;
    f.OpenForInspection(path.c_str());
    for (const CLogBookmark& b : *f.GetBookmarks()) out.emplace_back(b.m_dwFilePos, b.m_strDescription.str());
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

#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "logfile/LogFile.h"
#include "logger/Logger.h"
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

// Every record of a closed log file, read through an ordinary reading open... which
// rewrites the header; tests that compare bytes read with inspection instead.
inline std::vector<CVESKMessage> ReadRecords(const std::string& path)
{
    std::vector<CVESKMessage> out;
    CLogFile f;
    if (!f.OpenForInspection(path.c_str())) return out;
    while (f.GetPosition() < f.GetHeaderPosition()) {
        CVESKMessage m;
        ReadLogRecord(f, m);
        out.push_back(m);
    }
    f.Close();
    return out;
}

inline std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

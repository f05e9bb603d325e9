#pragma once
// Hand-written bytes of log-file items, for comparing against what the library writes.
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void Put64(Bytes& b, uint64_t v)
{
    Put32(b, static_cast<uint32_t>(v));
    Put32(b, static_cast<uint32_t>(v >> 32));
}
// A string with a length prefix below 255 (all the tests need, except where spelled out).
inline void PutStr(Bytes& b, const std::string& s)
{
    b.push_back(static_cast<uint8_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
}
inline void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}
// 3 March 2011 (a Thursday), 14:05:09.000: the fixture's clock.
inline Bytes FixtureTime()
{
    Bytes b;
    for (uint32_t w : {2011u, 3u, 4u, 3u, 14u, 5u, 9u, 0u}) Put16(b, w);
    return b;
}
// The record of a message of kind 1, device 2, fixture time, data AA BB CC, index 7.
inline Bytes SampleRecord(uint64_t index = 7)
{
    Bytes b;
    Put32(b, 1);
    Put32(b, 2);
    Append(b, FixtureTime());
    Put32(b, 3);
    b.insert(b.end(), {0xAA, 0xBB, 0xCC});
    Put64(b, index);
    Put32(b, 0);
    return b;
}
// A freshly reset header with no devices connected, in the current layout.
inline Bytes FreshHeader(const std::string& description = "")
{
    Bytes b;
    PutStr(b, "Header Version 1.0");
    PutStr(b, "KOVA Ver. 0.20.5.83");
    PutStr(b, "");           // device software version
    PutStr(b, description);  // description
    Put32(b, 0xFFFFFFFF);    // anchor position
    PutStr(b, "");           // anchor description
    Put32(b, 0);             // bookmarks
    Put32(b, 1);             // pages
    Put32(b, 0);             // devices
    Append(b, FixtureTime());
    return b;
}

#pragma once
// Hand-written bytes of log files, for comparing against what the library writes and for
// giving it files it did not write.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
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
inline void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}
// A string with its length prefix: one byte below 255, else 0xFF and 16 bits.
inline void PutStr(Bytes& b, const std::string& s)
{
    if (s.size() < 255) {
        b.push_back(static_cast<uint8_t>(s.size()));
    } else {
        b.push_back(0xFF);
        Put16(b, static_cast<uint32_t>(s.size()));
    }
    b.insert(b.end(), s.begin(), s.end());
}
inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// 3 March 2011 (a Thursday), 14:05:09.000: the fixture's clock.
inline Bytes FixtureTime()
{
    Bytes b;
    for (uint32_t w : {2011u, 3u, 4u, 3u, 14u, 5u, 9u, 0u}) Put16(b, w);
    return b;
}
// The record of a message of kind 1, device 2, fixture time, data AA BB CC: 43 bytes.
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
// The record of a message whose data length is -1 (unreadable): 40 bytes.
inline Bytes UnreadableRecord()
{
    const Bytes r = SampleRecord();
    return Cat({Bytes(r.begin(), r.begin() + 24), {0xFF, 0xFF, 0xFF, 0xFF}, Bytes(r.begin() + 31, r.end())});
}
// The items of a header, laid out in the current layout or the earlier one.
struct Header {
    std::string tool = "KOVA Ver. 0.20.5.83", device{}, description{};
    uint32_t anchor = 0xFFFFFFFF;
    std::string anchorText{};
    std::vector<std::pair<uint32_t, std::string>> bookmarks{};
    uint32_t pages = 1;
    std::vector<std::string> devices{}, osTypes{};  // two OS types a device

    Bytes Current() const
    {
        Bytes b;
        PutStr(b, "Header Version 1.0");
        Common(b);
        Put32(b, pages);
        Put32(b, static_cast<uint32_t>(devices.size()));
        for (const std::string& d : devices) PutStr(b, d);
        for (const std::string& t : osTypes) PutStr(b, t);
        return Cat({b, FixtureTime()});
    }
    // No header version and no devices; the next and previous file names and the page
    // count follow the bookmarks only when `next` is given.
    Bytes Earlier(const char* next = nullptr, const char* prev = "") const
    {
        Bytes b;
        Common(b);
        if (next) {
            PutStr(b, next);
            PutStr(b, prev);
            Put32(b, pages);
        }
        return Cat({b, FixtureTime()});
    }

private:
    void Common(Bytes& b) const
    {
        PutStr(b, tool);
        PutStr(b, device);
        PutStr(b, description);
        Put32(b, anchor);
        PutStr(b, anchorText);
        Put32(b, static_cast<uint32_t>(bookmarks.size()));
        for (const auto& [position, text] : bookmarks) {
            Put32(b, position);
            PutStr(b, text);
        }
    }
};
// A freshly reset header with no devices connected, in the current layout.
inline Bytes FreshHeader(const std::string& description = "")
{
    return Header{.description = description}.Current();
}
// A log file: the header position, the sample records with these indexes, then `tail`.
inline Bytes LogBytes(uint32_t headerPosition, const std::vector<uint64_t>& records, const Bytes& tail)
{
    Bytes b;
    Put32(b, headerPosition);
    for (uint64_t i : records) Append(b, SampleRecord(i));
    return Cat({b, tail});
}

#pragma once
// SD-card dumps written out by hand: a header of seven words and packets of
// length, protocol and body.
#include "tests/support/LogFileBytes.h"

// The header: W6 is the start time, the other words count 1..7.
inline Bytes SdHeader(uint32_t startTime)
{
    Bytes b;
    for (uint32_t w = 1; w <= 7; ++w) Put32(b, w == 6 ? startTime : w);
    return b;
}

// A body of `length` bytes: type word (type | flag), filler, the device time at offset 8
// (offset 4 for type 5), then bytes counting from `fill`.
inline Bytes SdBody(uint16_t typeWord, uint32_t deviceTime, size_t length = 16, uint8_t fill = 0x40)
{
    Bytes b;
    Put16(b, typeWord);
    Put16(b, 0xEEEE);
    const bool at4 = (typeWord & 0x7FFF) == 5;
    Put32(b, at4 ? deviceTime : 0xDDDDDDDD);
    Put32(b, at4 ? 0xCCCCCCCC : deviceTime);
    while (b.size() < length) b.push_back(fill++);
    b.resize(length);
    return b;
}

inline Bytes SdPacket(const Bytes& body, uint16_t protocol = 0)
{
    Bytes b;
    Put16(b, static_cast<uint32_t>(body.size() + 4));
    Put16(b, protocol);
    Append(b, body);
    return b;
}

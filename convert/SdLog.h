#pragma once
// The SD-card log, as the device writes it on its card (docs/FORMAT.md, "SD-card logs").
//
//   offset 0    header: seven unsigned 32-bit little-endian words W1..W7; W6 is the
//               start time in seconds since 1970-01-01 00:00 UTC
//   offset 28   packets, one after another, each:
//                 0  u16 L   length of the whole packet, these 4 bytes included
//                 2  u16 P   protocol; 0 is the only one converted
//                 4  body    L - 4 bytes: the message image
//               body word 0: message type (low 15 bits) and time-base flag (bit 15);
//               device time (u32, 1/32768 s) at body offset 4 for type 5, else 8
//
// The packet index finds the packets of a dump that may hold damaged stretches: it
// syncs on three valid packet headers in a row, each reached through the previous one's
// length, and records a packet only when the header after it is valid too. A stretch
// that fails this is skipped, and with it the packet just before it. The last packet is
// recorded when it ends exactly at the end of the file, or inside the file's last 16
// bytes with no room for another header behind it (so a last packet of exactly 16 bytes,
// whose predecessor already takes that place, is not recorded).
#include <cstdint>
#include <vector>

#include "framework/Endian.h"
#include "framework/File.h"
#include "framework/Types.h"
#include "platform/SystemTime.h"

namespace SdLog {

constexpr int kHeaderWords = 7;
constexpr uint32_t kFirstPacket = 28;      // packets start behind the header
constexpr uint32_t kPacketHeaderSize = 4;  // L and P
constexpr uint32_t kMinPacketLength = 16;
constexpr uint32_t kMaxPacketLength = 0x2000;
constexpr uint16_t kMaxMessageType = 16;
constexpr uint16_t kTypeMask = 0x7FFF;
constexpr uint16_t kTimeBaseFlag = 0x8000;
constexpr uint16_t kTypeTimeAt4 = 5;  // the one message type whose device time is at body offset 4
constexpr uint32_t kTimeAt4 = 4, kTimeAt8 = 8;
constexpr uint32_t kDeviceTicksPerSecond = 32768;
constexpr int64_t kStartTimeShift = 28800;        // eight hours, added to W6
constexpr uint64_t kMaxSdLength = 0xFFFFFFFFull;  // offsets are 32-bit: longer dumps are refused

// The limits of the packet index.
struct IndexLimits {
    uint32_t first = kFirstPacket;
    uint32_t minLength = kMinPacketLength;
    uint32_t maxLength = kMaxPacketLength;
};

// A valid packet header at `pos` of `data` (which the caller has checked to hold at least
// minLength bytes from pos): minLength <= L <= maxLength, P = 0, message type <= 16.
bool IsValidPacketHeader(const BYTE* data, uint64_t pos, const IndexLimits& limits);

// Fills `offsets` with the packets of the dump `data` of `size` bytes (below 4 GiB).
void BuildPacketIndex(const BYTE* data, uint64_t size, const IndexLimits& limits, std::vector<uint32_t>& offsets);

// A stretch of the dump that the index passes over: from the end of one indexed packet
// (or the first packet offset) to the next indexed packet (or the end of the file).
struct Stretch {
    uint64_t offset = 0;
    uint64_t length = 0;
};
std::vector<Stretch> SkippedStretches(const BYTE* data, uint64_t size, const std::vector<uint32_t>& offsets,
                                      uint32_t first = kFirstPacket);

// Reads a little-endian field of a body of `length` bytes; bytes past its end read as 0.
uint32_t BodyField(const BYTE* body, uint32_t length, uint32_t offset, uint32_t width);

// The time stamps of one conversion: each packet's device time against the first device
// time seen with the same time-base flag, added to the start time.
class CTimeStamper {
public:
    explicit CTimeStamper(int64_t startTime) : m_start(startTime) {}
    // The time of a packet as UTC, to the millisecond, with its day of the week.
    SYSTEMTIME Stamp(uint32_t deviceTime, bool timeBaseFlag);

private:
    int64_t m_start;
    bool m_bHaveA = false, m_bHaveB = false;
    uint32_t m_dwFirstA = 0, m_dwFirstB = 0;
    // The civil date and time of the last second stamped: most packets share their
    // second with the one before.
    bool m_bHaveLast = false;
    int64_t m_lastSecond = 0;
    SYSTEMTIME m_lastTime{};
};

// A read-only view of a whole open file: a private read-only mapping, or a copy when the
// file cannot be mapped (std::bad_alloc when the copy does not fit). Reads only; the
// file's position is left at 0.
class CFileView {
public:
    CFileView(CFile& file, uint64_t size);
    ~CFileView();
    CFileView(const CFileView&) = delete;
    CFileView& operator=(const CFileView&) = delete;
    const BYTE* Data() const { return m_map ? m_map : m_copy.data(); }
    uint64_t Size() const { return m_size; }

private:
    const BYTE* m_map = nullptr;
    std::vector<BYTE> m_copy;
    uint64_t m_size;
};

}  // namespace SdLog

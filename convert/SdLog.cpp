// The SD-card log's packet index and time stamps (layout in SdLog.h).
#include "convert/SdLog.h"

#include <sys/mman.h>

#include <algorithm>
#include <optional>

#include "platform/Clock.h"

namespace SdLog {
namespace {

uint32_t LengthAt(const BYTE* data, uint64_t pos)
{
    return LoadLittleEndian<uint16_t>(data + pos);
}

// Where a sync search found three valid headers in a row.
struct Sync {
    uint64_t pos = 0;
    uint32_t length = 0;
};

// The first position from `from` that starts three valid headers in a row. The search
// gives up at once when the second or third header of a candidate would start less than
// minLength bytes before the end.
std::optional<Sync> FindSync(const BYTE* data, uint64_t size, uint64_t from, const IndexLimits& limits)
{
    for (uint64_t q = from; q + limits.minLength <= size; ++q) {
        if (!IsValidPacketHeader(data, q, limits)) continue;
        const uint64_t second = q + LengthAt(data, q);
        if (second + limits.minLength > size) return std::nullopt;
        if (!IsValidPacketHeader(data, second, limits)) continue;
        const uint64_t third = second + LengthAt(data, second);
        if (third + limits.minLength > size) return std::nullopt;
        if (IsValidPacketHeader(data, third, limits)) return Sync{q, LengthAt(data, q)};
    }
    return std::nullopt;
}

}  // namespace

bool IsValidPacketHeader(const BYTE* data, uint64_t pos, const IndexLimits& limits)
{
    const uint32_t length = LengthAt(data, pos);
    const uint16_t protocol = LoadLittleEndian<uint16_t>(data + pos + 2);
    const uint16_t type = LoadLittleEndian<uint16_t>(data + pos + kPacketHeaderSize) & kTypeMask;
    return length >= limits.minLength && length <= limits.maxLength && protocol == 0 && type <= kMaxMessageType;
}

void BuildPacketIndex(const BYTE* data, uint64_t size, const IndexLimits& limits, std::vector<uint32_t>& offsets)
{
    offsets.clear();
    // Positions are compared with the header size added; a header must hold the type word.
    const uint64_t headerRoom = std::max<uint64_t>(limits.minLength, kPacketHeaderSize + 2);
    const IndexLimits checked{limits.first, static_cast<uint32_t>(headerRoom), limits.maxLength};
    uint64_t p = limits.first;
    uint64_t n = 0;
    bool sync = false;
    if (p + headerRoom >= size) return;
    offsets.reserve(static_cast<size_t>(size / 256));
    while (p + n + headerRoom < size) {
        if (!sync) {
            const std::optional<Sync> found = FindSync(data, size, p, checked);
            if (!found) return;
            p = found->pos;
            n = found->length;
            sync = true;
        }
        if (!IsValidPacketHeader(data, p + n, checked)) {
            sync = false;  // the packet at p is not recorded; search again from it
            continue;
        }
        offsets.push_back(static_cast<uint32_t>(p));
        p += n;
        n = LengthAt(data, p);
    }
    if (sync && p + n <= size) offsets.push_back(static_cast<uint32_t>(p));
}

std::vector<Stretch> SkippedStretches(const BYTE* data, uint64_t size, const std::vector<uint32_t>& offsets,
                                      uint32_t first)
{
    std::vector<Stretch> stretches;
    uint64_t expected = first;
    for (const uint32_t offset : offsets) {
        if (offset + uint64_t{kPacketHeaderSize} > size) break;  // not this dump's index
        if (offset > expected) stretches.push_back({expected, offset - expected});
        expected = offset + uint64_t{LengthAt(data, offset)};
    }
    if (expected < size) stretches.push_back({expected, size - expected});
    return stretches;
}

uint32_t BodyField(const BYTE* body, uint32_t length, uint32_t offset, uint32_t width)
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i) {
        const uint64_t at = uint64_t{offset} + i;
        if (at < length) value |= uint32_t{body[at]} << (8 * i);
    }
    return value;
}

SYSTEMTIME CTimeStamper::Stamp(uint32_t deviceTime, bool timeBaseFlag)
{
    // Whole milliseconds; fractions dropped. The product needs 64 bits.
    const auto t = static_cast<uint32_t>(uint64_t{deviceTime} * 1000 / kDeviceTicksPerSecond);
    bool& have = timeBaseFlag ? m_bHaveA : m_bHaveB;
    uint32_t& first = timeBaseFlag ? m_dwFirstA : m_dwFirstB;
    if (!have) {
        have = true;
        first = t;
    }
    const uint32_t d = t - first;  // unsigned: a time that goes backwards wraps
    const int64_t second = m_start + d / 1000;
    if (!m_bHaveLast || second != m_lastSecond) {
        m_lastTime = UtcFromEpochSeconds(second, 0);
        m_lastSecond = second;
        m_bHaveLast = true;
    }
    SYSTEMTIME time = m_lastTime;
    time.wMilliseconds = static_cast<WORD>(d % 1000);
    return time;
}

CFileView::CFileView(CFile& file, uint64_t size) : m_size(size)
{
    if (size == 0) return;
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.m_hFile, 0);
    if (p != MAP_FAILED) {
        m_map = static_cast<const BYTE*>(p);
        return;
    }
    m_copy.resize(size);
    file.SeekToBegin();
    if (file.Read(m_copy.data(), static_cast<UINT>(size)) != size) m_size = 0;
    file.SeekToBegin();
}

CFileView::~CFileView()
{
    if (m_map) ::munmap(const_cast<BYTE*>(m_map), m_size);
}

}  // namespace SdLog

// The simulated SD-card dump.
#include "sim/SdDump.h"

#include <random>

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void AppendPacket(std::vector<uint8_t>& b, std::mt19937_64& rng, uint32_t deviceTime)
{
    const auto type = static_cast<uint16_t>(rng() % 17);
    const uint16_t flag = (rng() % 4 == 0) ? 0x8000 : 0;
    const auto bodyLength = static_cast<uint32_t>(12 + rng() % 189);
    Put16(b, bodyLength + 4);
    Put16(b, 0);
    const size_t body = b.size();
    Put16(b, type | flag);
    Put16(b, static_cast<uint32_t>(rng()));
    Put32(b, type == 5 ? deviceTime : static_cast<uint32_t>(rng()));
    Put32(b, type == 5 ? static_cast<uint32_t>(rng()) : deviceTime);
    while (b.size() < body + bodyLength) b.push_back(static_cast<uint8_t>(rng()));
}

}  // namespace

std::vector<uint8_t> MakeSdDump(const SdDumpOptions& o, SdDumpReport* report)
{
    std::mt19937_64 rng(o.seed);
    std::vector<uint8_t> b;
    if (o.bytes) b.reserve(o.bytes + 512);
    for (uint32_t w = 1; w <= 7; ++w) Put32(b, w == 6 ? o.startTime : w);
    SdDumpReport r;
    uint32_t deviceTime = static_cast<uint32_t>(rng() % 32768);
    const uint64_t expected = o.bytes ? o.bytes / 110 : o.packets;  // about 110 bytes a packet
    const uint64_t damageEvery = o.damagedStretches > 0 ? expected / (o.damagedStretches + 1) + 1 : 0;
    for (uint64_t i = 0; o.bytes ? b.size() < o.bytes : i < o.packets; ++i) {
        if (damageEvery && i > 0 && i % damageEvery == 0 &&
            r.damaged.size() < static_cast<size_t>(o.damagedStretches)) {
            const uint64_t length = 5 + rng() % 60;
            r.damaged.emplace_back(b.size(), length);
            b.insert(b.end(), length, 0xFF);  // a length of 0xFFFF: never a packet header
        }
        AppendPacket(b, rng, deviceTime);
        deviceTime += static_cast<uint32_t>(rng() % 328);
        ++r.packets;
    }
    if (report) *report = r;
    return b;
}

// The SD import's time stamps keep the date and time of the last second stamped: every
// stamp must still be the one worked out from scratch, whichever second, day or year the
// next packet falls in, by either time base, going forwards or wrapping backwards.
#include <gtest/gtest.h>

#include "convert/SdLog.h"
#include "platform/Clock.h"

namespace {

TEST(SdTimeStamps, MatchTheFullConversionAcrossSecondsDaysAndBases)
{
    const int64_t start = 1609459199;  // 2020-12-31 23:59:59 UTC: the next second is a new year
    struct Packet {
        uint32_t ticks;  // 1/32768 s
        bool flag;
    };
    const Packet packets[] = {
        {0, false},          {16384, false},           {32767, false},
        {32768, false},      {32768 * 3 / 2, false},   {100, true},
        {32768 + 100, true}, {32768 * 2, false},       {50, true},
        {0, false},          {32768u * 86400u, false}, {32768u * 86400u + 1, true},
        {16384, false},
    };
    SdLog::CTimeStamper cached(start);
    bool have[2] = {false, false};
    uint32_t first[2] = {0, 0};
    for (const Packet& p : packets) {
        const auto t = static_cast<uint32_t>(uint64_t{p.ticks} * 1000 / 32768);
        if (!have[p.flag]) {
            have[p.flag] = true;
            first[p.flag] = t;
        }
        const uint32_t d = t - first[p.flag];
        const CSystemTime expected = UtcFromEpochSeconds(start + d / 1000, static_cast<int>(d % 1000));
        EXPECT_EQ(CSystemTime(cached.Stamp(p.ticks, p.flag)), expected) << p.ticks << (p.flag ? " A" : " B");
    }
}

}  // namespace

#pragma once
// A simulated device's SD-card dump (layout in convert/SdLog.h): a header with the start
// time in W6, then packets of protocol 0 with message types 0 to 16, device times that
// grow by up to 10 ms a packet, bodies of 12 to 200 bytes; optionally stretches of
// damage (bytes that no packet header accepts) between packets. Fixed by the seed.
#include <cstdint>
#include <string>
#include <vector>

struct SdDumpOptions {
    uint64_t seed = 1;
    uint64_t packets = 1000;
    uint64_t bytes = 0;               // when set: packets until the dump reaches this size
    uint32_t startTime = 1299132309;  // W6: 2011-03-03 06:05:09 UTC
    int damagedStretches = 0;         // spread evenly over the packets
};

struct SdDumpReport {
    uint64_t packets = 0;
    std::vector<std::pair<uint64_t, uint64_t>> damaged;  // offset, length of each damaged stretch
};

std::vector<uint8_t> MakeSdDump(const SdDumpOptions& options, SdDumpReport* report = nullptr);

// Writes a packet capture with one packet per record of a log file, each packet exactly
// as long as its record and carrying the record's bytes, so that a capture-summary tool
// and `vkl info` can be timed over files of the same record count and sizes
// (bench/info-vs-capinfos.sh).
//
//   bench_MakeCapture LOG.vkl CAPTURE.pcap
//
// The capture is the classic little-endian pcap layout: a 24-byte file header (magic
// 0xA1B2C3D4, version 2.4, time zone 0, accuracy 0, snapshot length, link type 147 =
// private use), then per packet a 16-byte header (seconds, microseconds, captured
// length, original length) and the packet bytes. Packet n is stamped n microseconds
// after the epoch.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "logfile/LogFile.h"
#include "platform/VESKMessage.h"

namespace {
void Put32(std::FILE* out, uint32_t v)
{
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, sizeof b, out);
}

void Put16(std::FILE* out, uint16_t v)
{
    const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, sizeof b, out);
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LOG.vkl CAPTURE.pcap\n", argv[0]);
        return 2;
    }
    CLogFile log;
    if (!log.OpenForInspection(argv[1]) || log.NeedsRepair()) {
        std::fprintf(stderr, "%s: not a sound log file\n", argv[1]);
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wbx");  // never over an existing file
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    Put32(out, 0xA1B2C3D4);
    Put16(out, 2);
    Put16(out, 4);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0x7FFFFFFF);
    Put32(out, 147);
    CVESKMessage m;
    std::vector<BYTE> bytes;
    uint64_t n = 0;
    try {
        while (log.GetPosition() < log.GetHeaderPosition()) {
            const ULONGLONG start = log.GetPosition();
            ReadLogRecord(log, m);
            const uint32_t size = static_cast<uint32_t>(log.GetPosition() - start);
            bytes.resize(size);
            log.Seek(static_cast<LONG>(start), CFile::begin);
            log.Read(bytes.data(), size);
            Put32(out, static_cast<uint32_t>(n / 1000000));
            Put32(out, static_cast<uint32_t>(n % 1000000));
            Put32(out, size);
            Put32(out, size);
            std::fwrite(bytes.data(), 1, size, out);
            ++n;
        }
    } catch (const CException&) {
        std::fprintf(stderr, "%s: record %llu cannot be read\n", argv[1], static_cast<unsigned long long>(n + 1));
        std::fclose(out);
        return 1;
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    std::printf("%llu packets\n", static_cast<unsigned long long>(n));
    return 0;
}

// Record reading speed: 1,000,000 fixed 64-byte records read one by one, each through a
// fresh loading CArchive over a CFile that takes the read-ahead back on Close (the way
// every reader of log files works), beside a plain decode loop over one in-memory copy
// of the same file, and beside the floor for reading through the operating system
// (pread of 64 KiB blocks and the same plain decode), in the same run. Prints the three
// rates and the archive's ratio to each of the other two.
//
// Record (64 bytes, little-endian): int32 kind, int32 device, 8 x uint16 time,
// int32 data length (24), 24 data bytes, uint64 index, int32 further value.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "framework/Archive.h"
#include "framework/File.h"

namespace {
constexpr int kRecords = 1000000;
constexpr int kDataLength = 24;
constexpr size_t kRecordSize = 4 + 4 + 8 * 2 + 4 + kDataLength + 8 + 4;
static_assert(kRecordSize == 64);

double g_archiveRate = 0, g_memoryRate = 0, g_preadRate = 0;

struct Record {
    int32_t kind = 0;
    int32_t device = 0;
    uint16_t time[8] = {};
    int32_t length = 0;
    uint8_t data[kDataLength] = {};
    uint64_t index = 0;
    int32_t further = 0;
};

// Folds every field into a checksum, so no decode can be skipped.
uint64_t Fold(const Record& r)
{
    uint64_t h = static_cast<uint32_t>(r.kind) * 31u + static_cast<uint32_t>(r.device);
    for (uint16_t t : r.time) h = h * 3 + t;
    h += static_cast<uint32_t>(r.length);
    h += r.data[0] + r.data[kDataLength - 1];
    return h ^ r.index ^ static_cast<uint32_t>(r.further);
}

const std::string& FilePath()
{
    static const std::string path = [] {
        const std::string p = BenchScratchDir() + "/records.bin";
        CFile f(p.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite);
        CArchive ar(&f, CArchive::store);
        uint8_t data[kDataLength];
        for (int i = 0; i < kDataLength; ++i) data[i] = static_cast<uint8_t>(i * 11);
        for (int i = 0; i < kRecords; ++i) {
            ar << int32_t{1} << int32_t{i % 5};
            const uint16_t time[8] = {2011, 3, 4, 3, 14, 5, 9, static_cast<uint16_t>(i % 1000)};
            for (uint16_t t : time) ar << t;
            ar << int32_t{kDataLength};
            data[0] = static_cast<uint8_t>(i);
            ar.Write(data, kDataLength);
            ar << static_cast<uint64_t>(i) << int32_t{0};
        }
        ar.Close();
        f.Close();
        return p;
    }();
    return path;
}

void BM_ArchivePerRecord(benchmark::State& state)
{
    const std::string& path = FilePath();
    uint64_t sum = 0;
    for (auto _ : state) {
        CFile f(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
        const ULONGLONG end = f.GetLength();
        const auto start = std::chrono::steady_clock::now();
        Record r;
        for (int i = 0; i < kRecords; ++i) {
            CArchive ar(&f, CArchive::load, CArchive::kDefaultBufSize);
            ar >> r.kind >> r.device;
            for (uint16_t& t : r.time) ar >> t;
            ar >> r.length;
            if (r.length != kDataLength || ar.Read(r.data, kDataLength) != kDataLength) {
                state.SkipWithError("bad record");
                break;
            }
            ar >> r.index >> r.further;
            ar.Close();
            sum += Fold(r);
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_archiveRate = std::max(g_archiveRate, kRecords / secs);  // the best run: least disturbed
        if (f.GetPosition() != end) state.SkipWithError("records did not end at the end of the file");
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}

template <typename T>
T Get(const uint8_t*& p)
{
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
    p += sizeof(T);
    return v;
}

// The plain decode of one record at p, moving p past it.
inline void Decode(const uint8_t*& p, Record& r)
{
    r.kind = static_cast<int32_t>(Get<uint32_t>(p));
    r.device = static_cast<int32_t>(Get<uint32_t>(p));
    for (uint16_t& t : r.time) t = Get<uint16_t>(p);
    r.length = static_cast<int32_t>(Get<uint32_t>(p));
    std::memcpy(r.data, p, kDataLength);
    p += kDataLength;
    r.index = Get<uint64_t>(p);
    r.further = static_cast<int32_t>(Get<uint32_t>(p));
}

void BM_MemoryDecode(benchmark::State& state)
{
    std::vector<uint8_t> bytes;
    {
        CFile f(FilePath().c_str(), CFile::modeRead | CFile::shareDenyNone);
        bytes.resize(static_cast<size_t>(f.GetLength()));
        if (f.Read(bytes.data(), static_cast<UINT>(bytes.size())) != bytes.size()) state.SkipWithError("short read");
    }
    uint64_t sum = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const uint8_t* p = bytes.data();
        Record r;
        for (int i = 0; i < kRecords; ++i) {
            Decode(p, r);
            sum += Fold(r);
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_memoryRate = std::max(g_memoryRate, kRecords / secs);
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}

// The floor for reading through the operating system: pread() of 64 KiB blocks (1024
// whole records each) into one buffer, decoded by the same plain loop.
void BM_PreadDecode(benchmark::State& state)
{
    constexpr size_t kBlock = 64 * 1024;
    static_assert(kBlock % kRecordSize == 0);
    std::vector<uint8_t> block(kBlock);
    uint64_t sum = 0;
    for (auto _ : state) {
        const int fd = ::open(FilePath().c_str(), O_RDONLY | O_CLOEXEC);
        const auto start = std::chrono::steady_clock::now();
        Record r;
        off_t off = 0;
        for (;;) {
            const ssize_t n = ::pread(fd, block.data(), kBlock, off);
            if (n <= 0) break;
            off += n;
            const uint8_t* p = block.data();
            for (size_t i = 0; i < static_cast<size_t>(n) / kRecordSize; ++i) {
                Decode(p, r);
                sum += Fold(r);
            }
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_preadRate = std::max(g_preadRate, kRecords / secs);
        ::close(fd);
        if (off != static_cast<off_t>(kRecords * kRecordSize)) state.SkipWithError("short file");
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}

BENCHMARK(BM_MemoryDecode)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreadDecode)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchivePerRecord)->Iterations(5)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv)
{
    FilePath();  // built before any timing
    return RunBenchmarks(argc, argv, [] {
        std::printf(
            "best of 5 runs, records/s: fresh archive per record %.0f; in-memory decode %.0f; pread() of 64 KiB "
            "blocks + decode %.0f\n",
            g_archiveRate, g_memoryRate, g_preadRate);
        std::printf("ratio archive / in-memory %.2f (aim: at least 0.3); archive / pread floor %.2f\n",
                    g_memoryRate > 0 ? g_archiveRate / g_memoryRate : 0.0,
                    g_preadRate > 0 ? g_archiveRate / g_preadRate : 0.0);
    });
}

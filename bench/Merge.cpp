// Merging and extracting: two logs of 1,000,000 records of 36 data bytes (76-byte
// records, 152 MB in all), each figure the best of several runs and printed beside a
// plain sequential copy of the same bytes (1 MiB read()/write() into a fresh file in the
// same directory) measured in the same run:
// - the static merge of both into a new file, writing in runs and record by record;
// - MergeAndBookmark of both;
// - the extraction of the 500,000 middle records;
// - 2,000 inputs of 1,000 records merged into one, beside the rate of the two large ones;
// - MergeFiles(pOther) through a logger, beside write() of the same records one per call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "framework/Archive.h"
#include "logfile/LogFile.h"
#include "logger/Logger.h"
#include "platform/VESKMessage.h"

namespace {
constexpr uint64_t kLarge = 1000000;
constexpr int kSmallInputs = 2000;
constexpr uint64_t kSmall = 1000;
constexpr int kRuns = 3;

std::string At(const std::string& name)
{
    return BenchScratchDir() + "/" + name;
}

// A log of `count` records of 36 data bytes with indexes from `first`.
void MakeLog(const std::string& path, uint64_t first, uint64_t count)
{
    std::vector<BYTE> data(36, 0x5A);
    CVESKMessage m(1, 0, data.data(), 36, 0);
    m.SetPCTimeStamp(CSystemTime(2026, 12, 5, 12, 0, 0, 0));
    CLogFile f;
    f.Open(path.c_str(), /*bWrite=*/1, /*bNew=*/1, /*bReadOnly=*/0);
    {
        CArchive ar(&f, CArchive::store, 1 << 20);
        for (uint64_t i = 0; i < count; ++i) {
            m.SetMessageIndex(first + i);
            m.SetDeviceNumber(static_cast<int>(i % 5));
            m.Serialize(ar);
        }
    }
    f.Close();
}

double Seconds(const std::function<void()>& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of several runs; `setup` runs untimed before each.
double Best(const std::function<void()>& setup, const std::function<void()>& run)
{
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        setup();
        best = std::min(best, Seconds(run));
    }
    return best;
}

void Remove(const std::string& path)
{
    std::filesystem::remove(path);
}

// Copies the files one after another into `to` with 1 MiB read() and write() calls.
void CopyFiles(const std::vector<std::string>& from, const std::string& to)
{
    std::vector<char> buf(1 << 20);
    const int out = ::open(to.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    for (const std::string& path : from) {
        const int in = ::open(path.c_str(), O_RDONLY);
        for (ssize_t n; (n = ::read(in, buf.data(), buf.size())) > 0;)
            if (::write(out, buf.data(), static_cast<size_t>(n)) != n) std::perror("write");
        ::close(in);
    }
    ::close(out);
}

double CopyTime(const std::vector<std::string>& from)
{
    return Best([] { Remove(At("copy.bin")); }, [&] { CopyFiles(from, At("copy.bin")); });
}

double MergeTime(const std::vector<std::string>& inputs, bool seams, bool eachRecord)
{
    CLogger::SetWriteEachRecord(eachRecord);
    const double t = Best([] { Remove(At("merged.vkl")); },
                          [&] {
                              CString error;
                              for (const std::string& in : inputs) {
                                  const bool ok =
                                      seams ? CLogger::MergeAndBookmark(At("merged.vkl").c_str(), in.c_str(), error, 0)
                                            : CLogger::MergeFiles(At("merged.vkl").c_str(), in.c_str(), error);
                                  if (!ok) std::fprintf(stderr, "merge failed: %s\n", error.c_str());
                              }
                          });
    CLogger::SetWriteEachRecord(false);
    return t;
}

// A logger reading `path` (on a scratch file that the open of the input removes).
std::unique_ptr<CLogger> Reading(const std::string& path)
{
    auto logger = std::make_unique<CLogger>("scratch", 1, 0, BenchScratchDir().c_str(), -1, 4095, 0, 0);
    logger->SetLogFileName(path.substr(path.rfind('/') + 1).c_str(), (BenchScratchDir() + "/").c_str());
    logger->OpenLogFile(path.substr(path.rfind('/') + 1).c_str(), 0);
    return logger;
}

// The record bytes of a log, from offset 4 to its header position.
std::vector<char> RecordBytes(const std::string& path)
{
    CLogFile f;
    f.OpenForInspection(path.c_str());
    std::vector<char> bytes(f.GetHeaderPosition() - CLogFile::kFirstRecord);
    f.SeekAbsolute(CLogFile::kFirstRecord);
    f.Read(bytes.data(), static_cast<UINT>(bytes.size()));
    return bytes;
}

void Line(const char* what, double secs, double records, double peerSecs, const char* peer, const char* aim)
{
    std::printf("%-44s %7.3f s %6.2f M records/s   %-26s %6.3f s  ratio %5.2f   %s\n", what, secs, records / secs / 1e6,
                peer, peerSecs, peerSecs / secs, aim);
}

void BM_MergeAndExtract(benchmark::State& state)
{
    const std::vector<std::string> large = {At("a.vkl"), At("b.vkl")};
    MakeLog(large[0], 1, kLarge);
    MakeLog(large[1], kLarge + 1, kLarge);
    std::vector<std::string> small;
    for (int i = 0; i < kSmallInputs; ++i) {
        small.push_back(At("small" + std::to_string(i) + ".vkl"));
        MakeLog(small.back(), static_cast<uint64_t>(i) * kSmall + 1, kSmall);
    }
    for (auto _ : state) {
        const double copy = CopyTime(large);
        const double merge = MergeTime(large, false, false);
        const double reference = MergeTime(large, false, true);
        const double seams = MergeTime(large, true, false);
        const double smallCopy = CopyTime(small);
        const double smallMerge = MergeTime(small, false, false);

        auto source = Reading(large[0]);
        const double extract =
            Best([] { Remove(At("extract.vkl")); },
                 [&] { source->ExtractLogData(kLarge / 4 + 1, kLarge / 4 * 3, At("extract.vkl").c_str()); });
        const double extractCopy = CopyTime({At("extract.vkl")});

        const double viaLogger = Best([] { Remove(At("logger.vkl")); },
                                      [&] {
                                          CLogger target("logger.vkl", 1, 0, BenchScratchDir().c_str(), -1, 4095, 0, 0);
                                          target.MergeFiles(source.get());
                                      });
        // write() of the same record bytes, one call per record.
        const std::vector<char> bytes = RecordBytes(large[0]);
        const double perCall = Best([] { Remove(At("percall.bin")); },
                                    [&] {
                                        const int fd =
                                            ::open(At("percall.bin").c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
                                        for (size_t off = 0; off < bytes.size(); off += 76)
                                            if (::write(fd, bytes.data() + off, 76) != 76) std::perror("write");
                                        ::close(fd);
                                    });
        source.reset();

        const double n = 2.0 * kLarge;
        std::printf("\n%-44s %9s %21s   %-26s %8s  %11s   %s\n", "figure (best of 3)", "time", "rate", "beside", "time",
                    "ratio", "aim");
        Line("static merge of 2 x 1 M records (in runs)", merge, n, copy, "sequential copy, 152 MB",
             "<= 0.62 s, >= 3.2 M/s");
        Line("static merge, each record its own write", reference, n, merge, "the same merge in runs", "(reference)");
        Line("MergeAndBookmark of 2 x 1 M records", seams, n, copy, "sequential copy, 152 MB",
             "mergecap -a: 0.62 s, 0.06");
        Line("extraction of 500,000 middle records", extract, kLarge / 2, extractCopy, "copy of the 38 MB output",
             "<= 0.25 s (editcap -r)");
        Line("static merge of 2,000 x 1,000 records", smallMerge, n, smallCopy, "sequential copy, 152 MB", "");
        std::printf("  2,000 small inputs at %.2f of the rate of the two large ones (aim: at least 0.5)\n",
                    merge / smallMerge);
        Line("MergeFiles(pOther), 1 M records", viaLogger, kLarge, perCall, "write() of each record", "");
        std::printf("  (CFile::Flush does not sync to disk: the few flushes per input cost no sync)\n\n");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(4 * kLarge));
}

BENCHMARK(BM_MergeAndExtract)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks(argc, argv, [] {});
}

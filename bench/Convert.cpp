// Conversion speed: a log of 1,000,000 records of 60 data bytes (signal messages of the
// bundled database, PDCP_STATS_IND) converted to CSV with four columns ("Index",
// "PC Time Stamp", "Signal", "Data"), decoded and raw, and to an HTML page with the same
// columns (decoded, on the converter's worker), beside two floors measured in the
// same run on the same file: the sequential read of its bytes (pread of 64 KiB blocks)
// and the bare reading of its records (a fresh archive per record, as every reader of
// log files does, with nothing done to them). Prints each rate and the conversions'
// ratios to the floors, and the HTML page's to the decoded CSV. Files live in memory (/dev/shm where there is one), so
// the figures are the converter's own and not the disk's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "convert/LogFileConverter.h"
#include "framework/Archive.h"
#include "framework/MessageBox.h"
#include "logfile/LogFile.h"
#include "platform/VESKMessage.h"

namespace {
constexpr uint64_t kRecords = 1000000;

using Rate = BenchRate;
Rate g_sequential, g_bare, g_decoded, g_raw, g_html;

const std::string& Dir()
{
    return BenchMemoryDir();
}

const std::string& LogPath()
{
    static const std::string path = [] {
        const std::string p = Dir() + "/bench.vkl";
        WriteBenchSignalLog(p, kRecords);
        return p;
    }();
    return path;
}

template <typename Body>
void Timed(benchmark::State& state, Rate& best, Body body)
{
    BenchTimed(state, best, kRecords, body);
}

void BM_SequentialRead(benchmark::State& state)
{
    std::vector<char> block(64 * 1024);
    Timed(state, g_sequential, [&] {
        const int fd = ::open(LogPath().c_str(), O_RDONLY | O_CLOEXEC);
        off_t off = 0;
        for (ssize_t n; (n = ::pread(fd, block.data(), block.size(), off)) > 0;) off += n;
        benchmark::DoNotOptimize(block.data());
        ::close(fd);
        return off > 0;
    });
}

void BM_BareRecords(benchmark::State& state)
{
    Timed(state, g_bare, [] { return BenchReadAllRecords(LogPath()) == kRecords; });
}

bool ConvertToCsv(int raw)
{
    const std::string out = Dir() + "/out.csv";
    ::unlink(out.c_str());
    CLogFileConverter conv(nullptr);
    conv.m_bCsv = 1;
    conv.m_bRawData = raw;
    CString result;
    return conv.ConvertLogToText({"Index", "PC Time Stamp", "Signal", "Data"}, LogPath().c_str(), out.c_str(),
                                 result) == 1;
}

void BM_CsvDecoded(benchmark::State& state)
{
    Timed(state, g_decoded, [] { return ConvertToCsv(0); });
}

void BM_CsvRaw(benchmark::State& state)
{
    Timed(state, g_raw, [] { return ConvertToCsv(1); });
}

// The page is written by the converter's worker, as the launch starts it after its
// dialog; the wait for it is part of the time.
void BM_HtmlDecoded(benchmark::State& state)
{
    Timed(state, g_html, [] {
        const std::string out = Dir() + "/out.html";
        ::unlink(out.c_str());
        CLogFileConverter conv(nullptr);
        conv.SetSelectedColumns({"Index", "PC Time Stamp", "Signal", "Data"});
        if (!conv.m_logFile.Open(LogPath().c_str(), 0, 0, 0)) return false;
        if (!OpenNewOutput(conv.m_outFile, out.c_str(), CFile::typeText)) return false;
        CString outcome;
        MessageBoxHandler previous = SetMessageBoxHandler([&outcome](const MessageBoxRequest& box) {
            outcome = box.text;  // the worker's one box, before it signals its end
            return IDOK;
        });
        conv.StartWorker("Converting", conv.m_logFile.GetLength(), &CConverterState::HtmlWriterThread);
        conv.m_evDone.Wait(INFINITE);
        SetMessageBoxHandler(std::move(previous));
        return outcome == "Conversion Finished.";
    });
}

BENCHMARK(BM_SequentialRead)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareRecords)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvDecoded)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvRaw)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HtmlDecoded)->Iterations(3)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv)
{
    InstallBenchServices();
    LogPath();  // written before any timing
    return RunBenchmarks(argc, argv, [] {
        std::printf(
            "best of 3 runs, records/s (wall | CPU time): sequential read %.0f | %.0f; bare records %.0f | %.0f\n",
            g_sequential.wall, g_sequential.cpu, g_bare.wall, g_bare.cpu);
        for (const auto& [name, r] : {std::pair{"CSV decoded", g_decoded}, {"CSV raw", g_raw}})
            std::printf("%s: %.0f | %.0f records/s = %.3f | %.3f x bare records, %.3f | %.3f x the sequential read\n",
                        name, r.wall, r.cpu, r.wall / g_bare.wall, r.cpu / g_bare.cpu, r.wall / g_sequential.wall,
                        r.cpu / g_sequential.cpu);
        std::printf("HTML decoded: %.0f | %.0f records/s = %.3f | %.3f x CSV decoded (aim: 0.5 at least), %.3f | %.3f x "
                    "the sequential read\n",
                    g_html.wall, g_html.cpu, g_html.wall / g_decoded.wall, g_html.cpu / g_decoded.cpu,
                    g_html.wall / g_sequential.wall, g_html.cpu / g_sequential.cpu);
    });
}

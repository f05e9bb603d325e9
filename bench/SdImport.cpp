// SD-card import speed on a simulated dump of 200 MB with 20 damaged stretches, beside
// floors measured in the same run on the same bytes:
//   - indexing (BuildPacketIndex over the dump in memory) beside a plain memory scan
//     that walks the length fields (aim: at least 0.5);
//   - the whole import (ConvertSDLogToVkl on its worker, to a new log) beside writing the
//     same native records through one storing archive: one message made from each
//     indexed packet's body and serialised (aim: at least 0.2).
// The peak resident set of one import, run alone in a child process, is printed too.
// Files live in memory (/dev/shm where there is one), so the figures are the code's own.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "convert/LogFileConverter.h"
#include "convert/SdLog.h"
#include "framework/Archive.h"
#include "framework/MessageBox.h"
#include "logfile/LogFile.h"
#include "sim/SdDump.h"

namespace {

constexpr uint64_t kDumpBytes = 200ull << 20;
// Best rates of the runs, MiB of dump per second.
using Rate = BenchRate;
Rate g_scan, g_index, g_store, g_import;
const auto CpuSeconds = BenchCpuSeconds;
const auto Dir = BenchMemoryDir;

// The dump is written first and read back later, so that the import's child process
// (ImportPeakMiB) starts without the benchmark's own copy of it.
std::string DumpPath()
{
    static const std::string path = [] {
        const std::string p = Dir() + "/card.bin";
        const std::vector<uint8_t> dump = MakeSdDump({.seed = 7, .bytes = kDumpBytes, .damagedStretches = 20});
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(dump.data()), static_cast<std::streamsize>(dump.size()));
        return p;
    }();
    return path;
}

const std::vector<uint8_t>& Dump()
{
    static const std::vector<uint8_t> dump = [] {
        std::ifstream in(DumpPath(), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return dump;
}

const std::vector<uint32_t>& Offsets()
{
    static const std::vector<uint32_t> offsets = [] {
        std::vector<uint32_t> o;
        SdLog::BuildPacketIndex(Dump().data(), Dump().size(), SdLog::IndexLimits{}, o);
        return o;
    }();
    return offsets;
}

template <typename Body>
void Timed(benchmark::State& state, Rate& best, Body body)
{
    const double mib = static_cast<double>(Dump().size()) / (1 << 20);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        if (!body()) {
            state.SkipWithError("the run failed");
            return;
        }
        const double cpu = CpuSeconds() - cpuStart;
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best.wall = std::max(best.wall, mib / secs);
        best.cpu = std::max(best.cpu, mib / cpu);
    }
}

void BM_PlainScan(benchmark::State& state)
{
    Timed(state, g_scan, [] {
        const std::vector<uint8_t>& d = Dump();
        uint64_t packets = 0;
        for (uint64_t p = SdLog::kFirstPacket; p + 2 <= d.size(); ++packets) {
            const uint32_t l = LoadLittleEndian<uint16_t>(d.data() + p);
            p += l < 4 ? 1 : l;  // a damaged length steps one byte
        }
        benchmark::DoNotOptimize(packets);
        return packets > 0;
    });
}

void BM_Index(benchmark::State& state)
{
    std::vector<uint32_t> offsets;
    Timed(state, g_index, [&] {
        SdLog::BuildPacketIndex(Dump().data(), Dump().size(), SdLog::IndexLimits{}, offsets);
        return offsets.size() == Offsets().size();
    });
}

void BM_StoreRecords(benchmark::State& state)
{
    Timed(state, g_store, [] {
        const std::string out = Dir() + "/floor.vkl";
        ::unlink(out.c_str());
        CLogFile log;
        if (!log.Open(out.c_str(), 1, 1, 0)) return false;
        {
            CArchive ar(&log, CArchive::store);
            uint64_t index = 0;
            for (const uint32_t offset : Offsets()) {
                const uint32_t l = LoadLittleEndian<uint16_t>(Dump().data() + offset);
                CVESKMessage m(1, 0, Dump().data() + offset + 4, static_cast<int>(l - 4), 1);
                m.SetMessageIndex(++index);
                m.Serialize(ar);
            }
            ar.Close();
        }
        log.Close();
        ::unlink(out.c_str());
        return true;
    });
}

bool ImportOnce()
{
    const std::string out = Dir() + "/import.vkl";
    ::unlink(out.c_str());
    CLogFileConverter conv(nullptr);
    if (!conv.ConvertSDLogToVkl(DumpPath().c_str(), out.c_str())) return false;
    conv.m_evDone.Wait(INFINITE);
    const bool ok = conv.m_bSdImportOk && conv.GetState().m_sdSummary.packets == conv.m_packetOffsets.size();
    ::unlink(out.c_str());
    return ok;
}

void BM_Import(benchmark::State& state)
{
    Timed(state, g_import, ImportOnce);
}

// One import alone in a child process: its peak resident set in MiB, or -1.
double ImportPeakMiB()
{
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(ImportOnce() ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return static_cast<double>(usage.ru_maxrss) / 1024;
}

BENCHMARK(BM_PlainScan)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Index)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreRecords)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Import)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    InstallBenchServices();
    SetMessageBoxHandler([](const MessageBoxRequest& r) { return DefaultMessageBoxAnswer(r.type); });
    DumpPath();
    const double peak = ImportPeakMiB();
    Offsets();
    return RunBenchmarks(argc, argv, [peak] {
        std::printf("dump %.0f MiB, %zu packets indexed; best of 3 runs, MiB of dump per second (wall | CPU time):\n",
                    static_cast<double>(Dump().size()) / (1 << 20), Offsets().size());
        std::printf(
            "indexing %.0f | %.0f beside a plain scan of the length fields %.0f | %.0f: %.3f | %.3f (aim >= 0.5)\n",
            g_index.wall, g_index.cpu, g_scan.wall, g_scan.cpu, g_index.wall / g_scan.wall, g_index.cpu / g_scan.cpu);
        std::printf(
            "import %.0f | %.0f beside storing the same records through one archive %.0f | %.0f: %.3f | %.3f "
            "(aim >= 0.2)\n",
            g_import.wall, g_import.cpu, g_store.wall, g_store.cpu, g_import.wall / g_store.wall,
            g_import.cpu / g_store.cpu);
        std::printf("peak resident set of one import (a process of its own; the mapped dump counts): %.1f MiB\n", peak);
    });
}

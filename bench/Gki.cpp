// GKI conversion speed: a log of 1,000,000 signal messages (60 data bytes each, the
// bundled database's PDCP_STATS_IND) exported to GKI through the converter's worker,
// beside the bare reading of the same log's records (the reading loop alone); and the
// GKI file imported into a new log, beside writing the same native records through one
// storing archive. Both measured in the same run; prints the rates and the ratios (aim:
// 0.3 or more). Files live in memory (/dev/shm where there is one).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "convert/LogFileConverter.h"
#include "framework/MessageBox.h"

namespace {
constexpr uint64_t kMessages = 1000000;

BenchRate g_bare, g_export, g_store, g_import;

std::string InDir(const char* name)
{
    return BenchMemoryDir() + "/" + name;
}

// Runs one conversion to its very end (outcome box included).
template <typename Start>
bool Convert(Start start)
{
    CLogFileConverter conv(nullptr);
    if (!start(conv)) return false;
    conv.GetState().m_evWorkerEnded.Wait(INFINITE);
    return conv.GetState().m_gkiCounts.written == kMessages;
}

bool Export()
{
    ::unlink(InDir("out.gki").c_str());
    return Convert([](CLogFileConverter& conv) {
        conv.ConvertLogToGKI(InDir("bench.vkl").c_str(), InDir("out.gki").c_str());
        return true;  // one that did not start writes nothing
    });
}

bool Import()
{
    ::unlink(InDir("out.vkl").c_str());
    return Convert([](CLogFileConverter& conv) {
        return conv.ConvertGKILogToVkl(InDir("out.gki").c_str(), InDir("out.vkl").c_str());
    });
}

// The imported messages, held for the storing floor.
std::vector<CVESKMessage>& Imported()
{
    static std::vector<CVESKMessage> messages = [] {
        std::vector<CVESKMessage> out;
        out.reserve(kMessages);
        CLogFile log;
        if (!log.Open(InDir("out.vkl").c_str(), 0, 0, 0)) std::abort();
        while (log.GetPosition() < log.GetHeaderPosition()) ReadLogRecord(log, out.emplace_back());
        log.Close();
        return out;
    }();
    return messages;
}

bool StoreNative()
{
    const std::string path = InDir("store.vkl");
    ::unlink(path.c_str());
    CLogFile log;
    if (!log.Open(path.c_str(), 1, 1, 0)) return false;
    CArchive ar(&log, CArchive::store);
    for (CVESKMessage& m : Imported()) m.Serialize(ar);
    ar.Close();
    log.Close();
    return true;
}

void BM_BareRecords(benchmark::State& state)
{
    BenchTimed(state, g_bare, kMessages, [] { return BenchReadAllRecords(InDir("bench.vkl")) == kMessages; });
}
void BM_ExportGki(benchmark::State& state)
{
    BenchTimed(state, g_export, kMessages, Export);
}
void BM_StoreNative(benchmark::State& state)
{
    Imported();  // read before the timing
    BenchTimed(state, g_store, kMessages, StoreNative);
}
void BM_ImportGki(benchmark::State& state)
{
    BenchTimed(state, g_import, kMessages, Import);
}

BENCHMARK(BM_BareRecords)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportGki)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportGki)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreNative)->Iterations(3)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv)
{
    InstallBenchServices();
    SetMessageBoxHandler([](const MessageBoxRequest& r) { return (r.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK; });
    WriteBenchSignalLog(InDir("bench.vkl"), kMessages);  // before any timing
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("best of 3 runs, messages/s (wall | CPU time)\n");
    std::printf("export to GKI: %.0f | %.0f = %.3f | %.3f x the bare reading of the records (%.0f | %.0f)\n",
                g_export.wall, g_export.cpu, g_export.wall / g_bare.wall, g_export.cpu / g_bare.cpu, g_bare.wall,
                g_bare.cpu);
    std::printf("import from GKI: %.0f | %.0f = %.3f | %.3f x storing the same records (%.0f | %.0f)\n",
                g_import.wall, g_import.cpu, g_import.wall / g_store.wall, g_import.cpu / g_store.cpu, g_store.wall,
                g_store.cpu);
    for (const char* name : {"bench.vkl", "out.gki", "out.vkl", "store.vkl"}) ::unlink(InDir(name).c_str());
    ::rmdir(BenchMemoryDir().c_str());
    return 0;
}

// Replay speed: a log of 200,000 records replayed at speed 0 through the message bus
// into a client that counts them, beside the rate of reading the same records from the
// file alone (a fresh archive per record), in the same run. Prints both and their ratio;
// the aim is 2,000,000 messages/s delivered on a two-core machine.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "framework/Window.h"
#include "logfile/LogFile.h"
#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/MessageBus.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "platform/VESKMessage.h"
#include "replay/LogFilePlayer.h"
#include "bench/BenchSupport.h"

namespace {
constexpr int kRecords = 200000;
double g_replayRate = 0, g_readRate = 0;


std::string Log()
{
    static const std::string path = [] {
        const std::string p = BenchScratchDir() + "/replay.vkl";
        CLogFile f;
        f.Open(p.c_str(), 1, 1, 0);
        CArchive ar(&f, CArchive::store);
        std::vector<BYTE> data(60, 0x33);
        data[0] = 6;
        for (int i = 0; i < kRecords; ++i) {
            CVESKMessage m(1, i % 3, data.data(), 60, 0);
            m.SetMessageIndex(static_cast<uint64_t>(i + 1));
            m.Serialize(ar);
        }
        ar.Close();
        f.Close();
        return p;
    }();
    return path;
}

std::atomic<int> g_received{0};
void Count(void*, CVESKMessage*)
{
    ++g_received;
}

void BM_ReplayAtSpeedZero(benchmark::State& state)
{
    CMessageClient* client = CreateMessageClient(nullptr, 0, &Count, 0);
    RegisterMessageClient(0x0201001C, 0, client, &Count, nullptr);
    client->Resume();
    for (auto _ : state) {
        g_received = 0;
        CQueueWnd wnd;
        CLogFilePlayer player(&wnd);
        player.LoadLogFile(Log().c_str());
        player.SetSpeed(0);
        const auto start = std::chrono::steady_clock::now();
        player.Play();
        wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END);
        client->WaitUntilEmpty(0xFFFFFFFF);
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (g_received != kRecords) state.SkipWithError("messages lost");
        g_replayRate = kRecords / secs;
        player.CloseFile();
    }
    DestroyMessageClient(&client);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}

void BM_ReadRecordsOnly(benchmark::State& state)
{
    for (auto _ : state) {
        CLogFile f;
        f.OpenForInspection(Log().c_str());
        const auto start = std::chrono::steady_clock::now();
        int n = 0;
        while (f.GetPosition() < f.GetHeaderPosition()) {
            CVESKMessage m;
            ReadLogRecord(f, m);
            ++n;
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (n != kRecords) state.SkipWithError("records missing");
        g_readRate = kRecords / secs;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}

BENCHMARK(BM_ReadRecordsOnly)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplayAtSpeedZero)->Iterations(1)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks(argc, argv, [] {
        std::printf(
            "replay at speed 0: %.0f messages/s delivered (aim: at least 2,000,000); reading the records alone: "
            "%.0f records/s; ratio %.2f\n",
            g_replayRate, g_readRate, g_readRate > 0 ? g_replayRate / g_readRate : 0.0);
    });
}

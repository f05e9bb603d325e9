// Recording speed: 1,000,000 messages of 60 data bytes through CLogger::HandleMessage,
// one flushed record per message, beside raw write() of the same record bytes, one
// system call per record, in the same run. Prints both rates and their ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

#include "framework/Archive.h"
#include "framework/File.h"
#include "bench/BenchSupport.h"
#include "logger/Logger.h"
#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/MessageBus.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "platform/VESKMessage.h"

namespace {
constexpr int kMessages = 1000000;
double g_loggerRate = 0, g_rawRate = 0;


std::vector<CVESKMessage> Messages()
{
    std::vector<CVESKMessage> out;
    out.reserve(1000);
    std::vector<BYTE> data(60, 0x5A);
    for (int i = 0; i < 1000; ++i) {
        CVESKMessage m(1, i % 5, data.data(), 60, 0);
        m.SetPCTimeStamp(CSystemTime(2026, 12, 5, 12, 0, 0, i % 1000));
        m.SetMessageIndex(static_cast<uint64_t>(i));
        out.push_back(m);
    }
    return out;
}

void BM_LoggerHandleMessage(benchmark::State& state)
{
    auto messages = Messages();
    for (auto _ : state) {
        const std::string name = "logger.vkl";
        CLogger logger(name.c_str(), 1, 0, BenchScratchDir().c_str(), -1, 4095, 0, 0);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kMessages; ++i) {
            CVESKMessage& m = messages[static_cast<size_t>(i % 1000)];
            m.SetMessageIndex(static_cast<uint64_t>(i));
            logger.HandleMessage(&m);
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_loggerRate = kMessages / secs;
        logger.Close();
        std::filesystem::remove(BenchScratchDir() + "/" + name);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kMessages);
}

void BM_RawWrite(benchmark::State& state)
{
    // The same record bytes, serialised once up front.
    const auto messages = Messages();
    std::vector<std::vector<BYTE>> records;
    {
        const std::string tmp = BenchScratchDir() + "/records.tmp";
        for (const auto& msg : messages) {
            CFile f;
            f.Open(tmp.c_str(), CFile::modeCreate | CFile::modeReadWrite);
            {
                CArchive ar(&f, CArchive::store);
                CVESKMessage m = msg;
                m.Serialize(ar);
            }
            const size_t n = static_cast<size_t>(f.GetLength());
            std::vector<BYTE> bytes(n);
            f.SeekToBegin();
            f.Read(bytes.data(), static_cast<UINT>(n));
            records.push_back(std::move(bytes));
        }
        std::filesystem::remove(tmp);
    }
    for (auto _ : state) {
        const std::string path = BenchScratchDir() + "/raw.bin";
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kMessages; ++i) {
            const auto& r = records[static_cast<size_t>(i % 1000)];
            if (::write(fd, r.data(), r.size()) != static_cast<ssize_t>(r.size())) state.SkipWithError("write failed");
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_rawRate = kMessages / secs;
        ::close(fd);
        std::filesystem::remove(path);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kMessages);
}

BENCHMARK(BM_RawWrite)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoggerHandleMessage)->Iterations(1)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks(argc, argv, [] {
        std::printf("logger HandleMessage: %.0f messages/s; raw write(): %.0f records/s; ratio %.2f (aim: at least 0.8)\n",
                    g_loggerRate, g_rawRate, g_rawRate > 0 ? g_loggerRate / g_rawRate : 0.0);
    });
}

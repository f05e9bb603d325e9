#include "logger/Logger.h"
#include "tests/platform/PlatformTest.h"

namespace {
using SimDeviceTest = SignalsFixture;

int64_t Millis(const CSystemTime& t) { return EpochSecondsFromUtc(t) * 1000 + t.wMilliseconds; }
}  // namespace

TEST_F(SimDeviceTest, StreamIsFixedBySeedAndAssertsComeAtTheirRate)
{
    const SimDeviceOptions options{.seed = 9, .devices = 4, .assertEvery = 50};
    CSimDevice a(options, db), b(options, db), other({.seed = 10, .devices = 4, .assertEvery = 50}, db);
    std::set<int> kinds, types;
    std::set<std::string> assertTexts;
    int differing = 0;
    int64_t previous = Millis(LocalTimeNow());
    for (int i = 1; i <= 3000; ++i) {
        const CVESKMessage m = a.Next();
        ASSERT_EQ(m, b.Next()) << "message " << i;
        differing += !(m == other.Next());
        EXPECT_EQ(std::tuple(m.GetMessageIndex(), m.GetDeviceNumber()), std::tuple(uint64_t(i), (i - 1) % 4));
        EXPECT_GT(Millis(m.GetPCTimeStamp()), previous) << "message " << i;
        previous = Millis(m.GetPCTimeStamp());
        kinds.insert(m.GetKind());
        types.insert(m.GetMessageType());
        CString text;
        const bool isAssert = CLogger::IsAssertMessage(const_cast<CVESKMessage*>(&m), text) != 0;
        ASSERT_EQ(isAssert, a.LastWasAssert()) << "message " << i << " " << text;
        EXPECT_EQ(isAssert, i % 50 == 0) << "message " << i;
        if (isAssert) assertTexts.insert(text.str());
    }
    EXPECT_GT(differing, 2900);  // another seed, another stream
    EXPECT_EQ(kinds, (std::set<int>{1, 2, 3}));
    for (int t : {5, 6, 7, 67, CConverter::kTraceMessageType}) EXPECT_TRUE(types.count(t)) << t;
    // Every assert name of both sides and every DSP opcode turns up.
    const std::string comm = "Assert (Comm Message)- ", app = "Assert (App Message)- ", dsp = "Assert, DSP Opcode- ";
    EXPECT_EQ(assertTexts, (std::set<std::string>{comm + "EE_HANDLER__EE__EE_LOG_ASSERT", comm + "EE_HANDLER__EE__EE_LOG_RESET",
                                                  comm + "EE_HANDLER__EE__EE_LOG_EXCEPTION", comm + "APLP__L1EEHandler__errorHandling",
                                                  comm + "APLP__AM__pldReset_Called", app + "Diag__comMem__EE_LOG",
                                                  app + "EE_HANDLER__EE__EE_LOG_ASSERT", dsp + "180", dsp + "6", dsp + "223"}));
}

TEST_F(SimDeviceTest, RunnerDispatchesInOrderFromItsSourceWhileItsDevicesAreConnected)
{
    Collector received;
    ClientPtr client = MakeClient(received);
    client->SetSourceFilter(3, 4);  // takes only what comes from the runner's source
    client->Resume();
    CSimDevice sim({.seed = 7, .devices = 5, .assertEvery = 100}, db);
    {
        CSimDeviceRunner runner(sim, Services::Bus(), 3, 4);
        runner.Connect(devices);
        for (int slot = 0; slot < kDeviceSlots; ++slot) {
            const CString imei = devices->GetDeviceIMEIs()[static_cast<size_t>(slot)];
            EXPECT_EQ(imei, sim.Imei(slot));
            EXPECT_TRUE(imei.GetLength() == 15 && imei.str().find_first_not_of("0123456789") == std::string::npos) << imei;
            for (int side : {0, 1}) EXPECT_FALSE(devices->GetDeviceOsTypes(side)[static_cast<size_t>(slot)].IsEmpty());
        }
        EXPECT_EQ(runner.Run(500), 500u);
        uint64_t seen = 0;
        EXPECT_EQ(runner.Run(1000, [&](const CVESKMessage&) { return ++seen < 250; }), 250u);
        EXPECT_GE(runner.RunFor(std::chrono::milliseconds(0)), 1u);
        EXPECT_EQ(client->WaitUntilEmpty(kGenerous), 0u);
    }
    EXPECT_TRUE(devices->GetDeviceIMEIs()[0].IsEmpty());  // disconnected at the runner's end

    EXPECT_EQ(received.Indexes(), Range(1, sim.Generated()));
    std::lock_guard<std::mutex> lock(received.mutex);
    EXPECT_EQ(received.devices, (std::set<int>{0, 1, 2, 3, 4}));
}

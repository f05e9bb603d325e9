#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "logger/Logger.h"
#include "platform/MessageBus.h"
#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "platform/SimDevice.h"
#include "tests/support/TestEnv.h"

namespace {
class SimDeviceTest : public HostFixture {
protected:
    SimDeviceTest()
    {
        HostServices s = Services::Current();
        s.signalDb = db;
        s.recoder = std::make_shared<CConverter>(db);
        m_scoped = std::make_unique<CScopedServices>(s);
    }
    std::shared_ptr<CSvmDb> db = CSvmDb::LoadFromFile(CString(VKL_SOURCE_DIR) + "/data/signals.json");

private:
    std::unique_ptr<CScopedServices> m_scoped;
};

int64_t Millis(const CSystemTime& t)
{
    return EpochSecondsFromUtc(t) * 1000 + t.wMilliseconds;
}
}  // namespace

TEST_F(SimDeviceTest, StreamIsFixedBySeedAndAssertsComeAtTheirRate)
{
    CSimDevice a({.seed = 9, .devices = 4, .assertEvery = 50}, db), b({.seed = 9, .devices = 4, .assertEvery = 50}, db);
    CSimDevice other({.seed = 10, .devices = 4, .assertEvery = 50}, db);
    std::set<int> kinds, types, deviceNumbers;
    std::set<std::string> assertTexts;
    int differing = 0;
    int64_t previous = Millis(LocalTimeNow());
    for (int i = 1; i <= 3000; ++i) {
        const CVESKMessage m = a.Next();
        ASSERT_EQ(m, b.Next()) << "message " << i;
        differing += !(m == other.Next());
        EXPECT_EQ(m.GetMessageIndex(), static_cast<uint64_t>(i));
        EXPECT_EQ(m.GetDeviceNumber(), (i - 1) % 4);
        const int64_t now = Millis(m.GetPCTimeStamp());
        EXPECT_GT(now, previous) << "message " << i;
        previous = now;
        kinds.insert(m.GetKind());
        types.insert(m.GetMessageType());
        deviceNumbers.insert(m.GetDeviceNumber());
        CString text;
        const bool isAssert = CLogger::IsAssertMessage(const_cast<CVESKMessage*>(&m), text) != 0;
        ASSERT_EQ(isAssert, a.LastWasAssert()) << "message " << i << " " << text;
        EXPECT_EQ(isAssert, i % 50 == 0) << "message " << i;
        if (isAssert) assertTexts.insert(text.str());
    }
    EXPECT_GT(differing, 2900);  // another seed, another stream
    EXPECT_EQ(kinds, (std::set<int>{1, 2, 3}));
    for (int t : {5, 6, 7, 67, CConverter::kTraceMessageType}) EXPECT_TRUE(types.count(t)) << t;
    EXPECT_EQ(deviceNumbers, (std::set<int>{0, 1, 2, 3}));
    // Every assert name of both sides and every DSP opcode turns up.
    EXPECT_EQ(assertTexts, (std::set<std::string>{
                               "Assert (Comm Message)- EE_HANDLER__EE__EE_LOG_ASSERT",
                               "Assert (Comm Message)- EE_HANDLER__EE__EE_LOG_RESET",
                               "Assert (Comm Message)- EE_HANDLER__EE__EE_LOG_EXCEPTION",
                               "Assert (Comm Message)- APLP__L1EEHandler__errorHandling",
                               "Assert (Comm Message)- APLP__AM__pldReset_Called",
                               "Assert (App Message)- Diag__comMem__EE_LOG",
                               "Assert (App Message)- EE_HANDLER__EE__EE_LOG_ASSERT",
                               "Assert, DSP Opcode- 180",
                               "Assert, DSP Opcode- 6",
                               "Assert, DSP Opcode- 223",
                           }));
}

TEST_F(SimDeviceTest, SignalsCarryEveryFieldWithPlausibleValues)
{
    CSimDevice sim({.seed = 4, .devices = 5, .mix = {.signals = 1, .loggedSignals = 1, .loggedSignals2 = 1, .commands = 0,
                                                     .traces = 0, .otherKinds = 0}},
                   db);
    CConverter recoder(db);
    std::set<CString> names;
    for (int i = 0; i < 600; ++i) {
        const CVESKMessage m = sim.Next();
        ASSERT_EQ(m.GetKind(), 1);
        ASSERT_TRUE(m.GetMessageType() == 5 || m.GetMessageType() == 6 || m.GetMessageType() == 7);
        ColumnValues v;
        DecodeRequest request;
        request.message = &m;
        ASSERT_TRUE(recoder.DecodeToColumns(request, v, {}));
        const SignalInfo* info = db->FindSignalByName(v["Signal"]);
        ASSERT_NE(info, nullptr) << v["Signal ID"];
        names.insert(info->name);
        std::vector<NativeField> fields;
        db->NativeLayout(*info->body, fields);
        // One "name=" per leaf, each enumeration by one of its names.
        const std::string decoded = v["Decoded"].str();
        size_t at = 0;
        for (const NativeField& f : fields) {
            at = decoded.find(f.path.str() + "=", at);
            ASSERT_NE(at, std::string::npos) << f.path << " in " << decoded;
            at += f.path.GetLength() + 1;
            if (f.enumType) {
                const std::string value = decoded.substr(at, decoded.find(',', at) - at);
                EXPECT_FALSE(value.empty() || isdigit(static_cast<unsigned char>(value[0]))) << f.path << "=" << value;
            }
            if (f.typeName == "float") {
                const double level = std::stod(decoded.substr(at));
                EXPECT_TRUE(level >= -140 && level <= 40) << f.path << "=" << level;
            }
        }
    }
    EXPECT_EQ(names.size(), db->Signals().size());
}

TEST_F(SimDeviceTest, RunnerDispatchesInOrderFromItsSourceWhileItsDevicesAreConnected)
{
    struct Received {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<uint64_t> indexes;
        std::set<int> devices;
        static void Callback(void* owner, CVESKMessage* m)
        {
            auto* self = static_cast<Received*>(owner);
            std::lock_guard<std::mutex> lock(self->mutex);
            self->indexes.push_back(m->GetMessageIndex());
            self->devices.insert(m->GetDeviceNumber());
            self->cv.notify_all();
        }
    } received, other;
    auto destroy = [](CMessageClient* c) { DestroyMessageClient(&c); };
    std::unique_ptr<CMessageClient, decltype(destroy)> client(CreateMessageClient(&received, 0, &Received::Callback, 0), destroy);
    std::unique_ptr<CMessageClient, decltype(destroy)> elsewhere(CreateMessageClient(&other, 0, &Received::Callback, 0), destroy);
    ASSERT_EQ(RegisterMessageClient(1, 0, client.get(), &Received::Callback, &received), 1);
    ASSERT_EQ(RegisterMessageClient(2, 0, elsewhere.get(), &Received::Callback, &other), 1);
    client->SetSourceFilter(3, 4);
    elsewhere->SetSourceFilter(5, -1);
    client->Resume();
    elsewhere->Resume();

    CSimDevice sim({.seed = 7, .devices = 5, .assertEvery = 100}, db);
    {
        CSimDeviceRunner runner(sim, Services::Bus(), 3, 4);
        runner.Connect(devices);
        const DeviceTexts imeis = devices->GetDeviceIMEIs();
        for (int slot = 0; slot < kDeviceSlots; ++slot) {
            EXPECT_EQ(imeis[static_cast<size_t>(slot)], sim.Imei(slot));
            EXPECT_EQ(imeis[static_cast<size_t>(slot)].GetLength(), 15);
            EXPECT_EQ(imeis[static_cast<size_t>(slot)].str().find_first_not_of("0123456789"), std::string::npos);
            EXPECT_FALSE(devices->GetDeviceOsTypes(0)[static_cast<size_t>(slot)].IsEmpty());
            EXPECT_FALSE(devices->GetDeviceOsTypes(1)[static_cast<size_t>(slot)].IsEmpty());
        }
        EXPECT_EQ(runner.Run(500), 500u);
        uint64_t seen = 0;
        EXPECT_EQ(runner.Run(1000, [&](const CVESKMessage&) { return ++seen < 250; }), 250u);
        EXPECT_GE(runner.RunFor(std::chrono::milliseconds(0)), 1u);
        EXPECT_EQ(client->WaitUntilEmpty(60000), 0u);
    }
    EXPECT_TRUE(devices->GetDeviceIMEIs()[0].IsEmpty());  // disconnected at the runner's end

    const uint64_t total = sim.Generated();
    std::lock_guard<std::mutex> lock(received.mutex);
    ASSERT_EQ(received.indexes.size(), total);
    for (size_t i = 0; i < received.indexes.size(); ++i) ASSERT_EQ(received.indexes[i], i + 1);
    EXPECT_EQ(received.devices, (std::set<int>{0, 1, 2, 3, 4}));
    std::lock_guard<std::mutex> otherLock(other.mutex);
    EXPECT_TRUE(other.indexes.empty());  // another source
}

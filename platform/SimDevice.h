#pragma once
// A simulated device: realistic message streams from the signal database, for tests,
// benchmarks and the command line's demo.
//
// Kind-1 signals (message type 6) and logged signals (types 5 and 7) in the native
// layouts, commands (type 67), trace messages (type 0x0010) among which asserts come at
// a chosen rate, and messages of other kinds. Device numbers cycle over the devices,
// message indexes increase from 1 and PC time stamps come from the installed clock, a
// few milliseconds apart. The stream is fixed by the seed.
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "framework/String.h"
#include "platform/VESKMessage.h"

class CSvmDb;
class CDeviceTable;
class CMessageBus;

struct SimDeviceOptions {
    uint64_t seed = 1;
    int devices = 3;           // 1 to 5
    uint64_t assertEvery = 0;  // one assert every N messages; 0 = none
};

class CSimDevice {
public:
    explicit CSimDevice(SimDeviceOptions options, std::shared_ptr<CSvmDb> db = nullptr);

    CVESKMessage Next();
    bool LastWasAssert() const { return m_bLastAssert; }
    uint64_t Generated() const { return m_nIndex; }

    // Registers the devices as connected (IMEIs, OS types of both sides, a software version).
    void Connect(CDeviceTable& table) const;
    static void Disconnect(CDeviceTable& table);
    // The IMEI of a device slot.
    CString Imei(int slot) const;

    // Builds the native data block of a signal message of type 5, 6 or 7.
    std::vector<BYTE> SignalBlock(int messageType, const struct SignalInfo& signal);
    // The body of a trace message.
    static std::vector<BYTE> TraceBlock(int format, int group, int id, int dspOpcode);

private:
    CVESKMessage Make(int kind, std::vector<BYTE> data);
    std::vector<BYTE> NativeBody(const struct SignalInfo& signal);
    std::vector<BYTE> AssertBlock();

    SimDeviceOptions m_options;
    std::shared_ptr<CSvmDb> m_db;
    std::mt19937_64 m_rng;
    uint64_t m_nIndex = 0;
    uint64_t m_nAsserts = 0;
    int64_t m_msOffset = 0;
    bool m_bLastAssert = false;
};

// Dispatches generated messages on a bus, as connected devices do.
class CSimDeviceRunner {
public:
    CSimDeviceRunner(CSimDevice& device, std::shared_ptr<CMessageBus> bus, int sourceA = 0, int sourceB = 0)
        : m_device(device), m_bus(std::move(bus)), m_nSourceA(sourceA), m_nSourceB(sourceB) {}
    // Dispatches `count` messages; `onEach` (may be null) sees each one after dispatch and
    // can stop the run by returning false.
    template <typename OnEach>
    uint64_t Run(uint64_t count, OnEach onEach)
    {
        uint64_t sent = 0;
        while (sent < count) {
            CVESKMessage m = m_device.Next();
            Dispatch(m);
            ++sent;
            if (!onEach(m)) break;
        }
        return sent;
    }
    uint64_t Run(uint64_t count);
    void Dispatch(const CVESKMessage& m);

private:
    CSimDevice& m_device;
    std::shared_ptr<CMessageBus> m_bus;
    int m_nSourceA, m_nSourceB;
};

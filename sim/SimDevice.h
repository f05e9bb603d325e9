#pragma once
// A simulated device: realistic message streams from the signal database, for tests,
// benchmarks and the command line's demo.
//
// All device messages are of kind 1: signals (message type 6) and logged signals (types
// 5 and 7) in the native layouts of the database (S, I, E, L) with bodies laid out
// natively from the signal's description and filled with plausible values; commands
// (type 67); traces (type 0x0010, see platform/Recoder.h), among which asserts come at a
// chosen rate, named by the database's assert traces of both sides or marked by a DSP
// opcode. Status and statistics messages of kinds 2 and 3 come in between. Device
// numbers cycle over the devices, message indexes increase from 1 and PC time stamps are
// the installed clock's time (read for the first message and every 64th after it) plus a
// per-message offset of a few milliseconds that only grows. The stream is fixed by the
// seed (and the clock).
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "framework/String.h"
#include "platform/VESKMessage.h"

class CSvmDb;
class CDeviceTable;
class CMessageBus;
struct SignalInfo;

// Relative weights of what a generated message is (asserts come on top, see assertEvery).
struct SimMessageMix {
    int signals = 35;        // type 6
    int loggedSignals = 13;  // type 5
    int loggedSignals2 = 7;  // type 7
    int commands = 5;        // type 67
    int traces = 28;         // ordinary traces, never asserts
    int otherKinds = 12;     // kinds 2 and 3
};

struct SimDeviceOptions {
    uint64_t seed = 1;
    int devices = 3;           // 1 to 5
    uint64_t assertEvery = 0;  // message N, 2N, 3N ... is an assert; 0 = none
    SimMessageMix mix{};
};

class CSimDevice {
public:
    // The database defaults to the registry's.
    explicit CSimDevice(SimDeviceOptions options, std::shared_ptr<CSvmDb> db = nullptr);

    CVESKMessage Next();
    // The same, into `out`, reusing its storage: no allocation per message once warm.
    void Next(CVESKMessage& out);
    // Whether the message Next() gave last is an assert. An assert is due every
    // assertEvery messages; it is made only when the database names a way to make one.
    bool LastWasAssert() const { return m_bLastAssert; }
    uint64_t Generated() const { return m_nIndex; }

    // Registers the devices as connected (IMEIs, OS types of both sides, a software version).
    void Connect(CDeviceTable& table) const;
    static void Disconnect(CDeviceTable& table);
    // The IMEI of a device slot: 15 digits.
    CString Imei(int slot) const;

    // The native data block of a signal message of type 5, 6 or 7, for one of the
    // database's signals (empty for a signal that is not the database's own).
    std::vector<BYTE> SignalBlock(int messageType, const SignalInfo& signal);
    // The data block of a trace message: words 0, 2, 3 and 6 of the body as given.
    static std::vector<BYTE> TraceBlock(int format, int group, int id, int dspOpcode);
    static void TraceBlockInto(std::vector<BYTE>& block, int format, int group, int id, int dspOpcode);

    // The names by which traces mark asserts, per side (0 = Com, 1 = App), and the DSP
    // opcodes that do.
    static const std::vector<CString>& AssertNames(int side);
    static const std::vector<int>& AssertOpcodes();

private:
    // How a leaf field of a signal body is filled.
    enum class ValueKind { enumeration, text, floating, character, unsignedInt, signedInt };
    struct BodyField {
        int offset = 0, size = 0, count = 1, width = 0;
        ValueKind kind = ValueKind::signedInt;
        const std::vector<std::pair<CString, int64_t>>* enumValues = nullptr;
    };
    struct BodyLayout {
        bool known = false;
        int size = 0;
        std::vector<BodyField> fields;
    };
    // A trace of the database in its order, and whether it counts as an assert by name.
    struct TraceEntry {
        int group = 0, id = 0;
        bool isAssert = false;
    };

    void Make(int kind, CVESKMessage& out);
    void StampTime(CVESKMessage& out);
    const BodyLayout& LayoutOf(size_t signalIndex);
    const std::vector<TraceEntry>& TracesOf(int side);
    // The native body of a signal into m_body.
    void NativeBody(size_t signalIndex);
    void PutValue(std::vector<BYTE>& body, int offset, int width, ValueKind kind);
    // The data block of a signal message into m_block.
    void SignalBlockInto(int messageType, const SignalInfo& signal, size_t signalIndex);
    bool AssertBlock(std::vector<BYTE>& block);
    // Whether a trace of (group, id) with this DSP opcode would count as an assert.
    bool IsAssertTrace(int group, int id, int dspOpcode) const;

    SimDeviceOptions m_options;
    std::shared_ptr<CSvmDb> m_db;
    std::mt19937_64 m_rng;
    uint64_t m_nIndex = 0;
    uint64_t m_nAsserts = 0;
    int64_t m_msOffset = 0;
    bool m_bLastAssert = false;
    // Reused from message to message.
    std::vector<BYTE> m_block, m_body;
    std::vector<BodyLayout> m_layouts;          // by signal index, filled on first use
    std::vector<TraceEntry> m_traceEntries[2];  // by side, filled on first use
    bool m_bTracesKnown[2] = {false, false};
    // The last clock reading and its second on the epoch, and the last stamp's second
    // broken down, so that most stamps need no calendar arithmetic.
    CSystemTime m_lastNow, m_lastStamp;
    int64_t m_lastNowEpoch = -1, m_lastStampEpoch = -1;
};

// Dispatches generated messages on a bus from one source, as connected devices do, and
// keeps the generator's devices registered as connected from Connect until DisconnectAll
// (or the runner's end).
class CSimDeviceRunner {
public:
    CSimDeviceRunner(CSimDevice& device, std::shared_ptr<CMessageBus> bus, int sourceA = 0, int sourceB = 0)
        : m_device(device), m_bus(std::move(bus)), m_nSourceA(sourceA), m_nSourceB(sourceB) {}
    ~CSimDeviceRunner();
    CSimDeviceRunner(const CSimDeviceRunner&) = delete;
    CSimDeviceRunner& operator=(const CSimDeviceRunner&) = delete;

    void Connect(std::shared_ptr<CDeviceTable> table);
    void DisconnectAll();

    // Dispatches `count` messages; `onEach` sees each one after dispatch and can stop the
    // run by returning false. Returns the number dispatched.
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
    // Dispatches `count` messages in runs of up to kRunLength, one pass over the bus per
    // run, into reused messages.
    uint64_t Run(uint64_t count);
    static constexpr size_t kRunLength = 64;
    // Dispatches messages until `duration` has passed (at least one).
    uint64_t RunFor(std::chrono::milliseconds duration);
    // Offers one message to the bus; returns how many clients queued it.
    int Dispatch(const CVESKMessage& m);

private:
    CSimDevice& m_device;
    std::shared_ptr<CMessageBus> m_bus;
    int m_nSourceA, m_nSourceB;
    std::shared_ptr<CDeviceTable> m_table;
    std::vector<CVESKMessage> m_run;
};

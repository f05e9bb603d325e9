#include "platform/SimDevice.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/MessageBus.h"
#include "platform/Recoder.h"
#include "platform/Services.h"
#include "platform/SignalDb.h"

namespace {
const char* const kComAsserts[] = {"EE_HANDLER__EE__EE_LOG_ASSERT", "EE_HANDLER__EE__EE_LOG_RESET",
                                   "EE_HANDLER__EE__EE_LOG_EXCEPTION", "APLP__L1EEHandler__errorHandling",
                                   "APLP__AM__pldReset_Called"};
const char* const kAppAsserts[] = {"Diag__comMem__EE_LOG"};
const int kDspOpcodes[] = {180, 6, 223};

int AlignUp(int p, int n)
{
    return (n > 1 && p % n) ? p + n - p % n : p;
}

void PutLE(std::vector<BYTE>& b, size_t at, uint32_t v, int n)
{
    if (b.size() < at + static_cast<size_t>(n)) b.resize(at + static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) b[at + static_cast<size_t>(i)] = static_cast<BYTE>(v >> (8 * i));
}

bool FindTrace(const CSvmDb& db, int side, const char* name, int& group, int& id)
{
    for (const auto& [key, value] : db.Traces(side)) {
        if (value == name) {
            group = key.first;
            id = key.second;
            return true;
        }
    }
    return false;
}
}  // namespace

CSimDevice::CSimDevice(SimDeviceOptions options, std::shared_ptr<CSvmDb> db)
    : m_options(options), m_db(db ? std::move(db) : Services::SignalDb()), m_rng(options.seed)
{
    m_options.devices = std::clamp(m_options.devices, 1, kDeviceSlots);
}

CString CSimDevice::Imei(int slot) const
{
    CString imei;
    imei.Format("3569380356%05d", static_cast<int>((m_options.seed * 7919 + static_cast<uint64_t>(slot) * 104729) % 100000));
    return imei;
}

void CSimDevice::Connect(CDeviceTable& table) const
{
    static const char* const com[] = {"RTOS 5.1", "RTOS 5.1", "RTOS 6.0", "RTOS 6.0", "RTOS 6.2"};
    static const char* const app[] = {"Linux 4.14", "", "Linux 5.10", "Android 13", "Linux 5.15"};
    for (int i = 0; i < m_options.devices; ++i) table.Connect(i, Imei(i), com[i], app[i]);
    table.SetUEVersion("UE SW 26.12.1");
}

void CSimDevice::Disconnect(CDeviceTable& table)
{
    table.DisconnectAll();
    table.SetUEVersion("");
}

CVESKMessage CSimDevice::Make(int kind, std::vector<BYTE> data)
{
    ++m_nIndex;
    const int device = static_cast<int>((m_nIndex - 1) % static_cast<uint64_t>(m_options.devices));
    CVESKMessage m(kind, device, data.data(), static_cast<int>(data.size()), 0);
    m_msOffset += 1 + static_cast<int64_t>(m_rng() % 4);
    CSystemTime now = LocalTimeNow();
    const int64_t ms = now.wMilliseconds + m_msOffset;
    CSystemTime t = UtcFromEpochSeconds(EpochSecondsFromUtc(now) + ms / 1000, static_cast<int>(ms % 1000));
    m.SetPCTimeStamp(t);
    m.SetMessageIndex(m_nIndex);
    return m;
}

std::vector<BYTE> CSimDevice::TraceBlock(int format, int group, int id, int dspOpcode)
{
    std::vector<BYTE> b(CVESKMessage::kHeaderSize + 16, 0);
    PutLE(b, 0, CConverter::kTraceMessageType, 2);
    const size_t body = CVESKMessage::kHeaderSize;
    PutLE(b, body + 0, static_cast<uint32_t>(format), 2);
    PutLE(b, body + 4, static_cast<uint32_t>(group), 2);
    PutLE(b, body + 6, static_cast<uint32_t>(id), 2);
    PutLE(b, body + 12, static_cast<uint32_t>(dspOpcode) & 0x1FF, 2);
    return b;
}

std::vector<BYTE> CSimDevice::NativeBody(const SignalInfo& signal)
{
    std::vector<NativeField> fields;
    const int size = m_db->NativeLayout(*signal.body, fields);
    std::vector<BYTE> body(static_cast<size_t>(size), 0);
    for (const NativeField& f : fields) {
        switch (f.descriptor->GetKind()) {
        case CSvmObject::Kind::enumParm: {
            const CEnum* e = static_cast<const CEnumParm*>(f.descriptor)->m_pEnum;
            const uint32_t v = (e && !e->m_values.empty()) ? static_cast<uint32_t>(e->m_values[m_rng() % e->m_values.size()].second) : 0;
            PutLE(body, static_cast<size_t>(f.offset), v, f.size);
            break;
        }
        default:
            for (int i = 0; i < f.size; ++i) body[static_cast<size_t>(f.offset + i)] = static_cast<BYTE>(m_rng() % 100);
            break;
        }
    }
    return body;
}

std::vector<BYTE> CSimDevice::SignalBlock(int messageType, const SignalInfo& signal)
{
    const int S = m_db->m_nHeaderFieldSize, I = m_db->m_nSignalIdSize, E = m_db->m_nAlignmentMode == 1 ? 2 : 4,
              L = m_db->m_nLayoutShift;
    const std::vector<BYTE> body = NativeBody(signal);
    std::vector<BYTE> b(CVESKMessage::kHeaderSize, 0);
    PutLE(b, 0, static_cast<uint32_t>(messageType), 2);
    const size_t h = CVESKMessage::kHeaderSize;
    const uint32_t field1 = 0x10 + static_cast<uint32_t>(m_rng() % 16), field2 = 0x20 + static_cast<uint32_t>(m_rng() % 16);
    auto putField = [&](int at, uint32_t v) { PutLE(b, h + static_cast<size_t>(at), v, S == 1 ? 1 : 2); };
    int p = 0;
    if (messageType == 6) {
        putField(0, field1);
        putField(S, field2);
        p = AlignUp(2 * S, E);
        PutLE(b, h + static_cast<size_t>(p), static_cast<uint32_t>(body.size()), 2);
        p = AlignUp(p + 2, I);
    } else if (messageType == 5) {
        putField(0, field1);
        putField(S, field2);
        p = 2 * S + ((L == 0 && S == 1) ? 2 : 0);
        PutLE(b, h + static_cast<size_t>(p), static_cast<uint32_t>(m_nIndex), 4);
        PutLE(b, h + static_cast<size_t>(p) + 4, 0xC0DE, 4);
        PutLE(b, h + static_cast<size_t>(p) + 8, static_cast<uint32_t>(body.size()), 2);
        p = AlignUp(p + 10, I);
    } else {  // 7
        const int skip = 3;
        PutLE(b, h, static_cast<uint32_t>(m_nIndex), 4);
        PutLE(b, h + 4, 0xC0DE, 4);
        PutLE(b, h + 8, skip, 4);
        p = AlignUp(12 + skip, L == 2 ? 4 : 2);
        p = AlignUp(p, S);
        putField(p, field1);
        p += S;
        putField(p, field2);
        p += S;
        p = AlignUp(p, E);
        PutLE(b, h + static_cast<size_t>(p), static_cast<uint32_t>(body.size()), 2);
        p = AlignUp(p + 2, I);
    }
    PutLE(b, h + static_cast<size_t>(p), signal.id, I);
    p = AlignUp(p + I, 4);
    b.resize(h + static_cast<size_t>(p), 0);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

std::vector<BYTE> CSimDevice::AssertBlock()
{
    const uint64_t n = m_nAsserts++;
    int group = 0, id = 0;
    const int format = (n & 1) ? 4 : 0;
    switch (n % 3) {
    case 0:
        if (FindTrace(*m_db, 0, kComAsserts[(n / 3) % 5], group, id)) return TraceBlock(format, group, id, 0);
        break;
    case 1:
        if (FindTrace(*m_db, 1, kAppAsserts[0], group, id)) return TraceBlock(format, group, id, 0);
        break;
    default:
        break;
    }
    // A DSP opcode on a known (ordinary) Com trace.
    const auto& traces = m_db->Traces(0);
    for (const auto& [key, name] : traces) {
        bool isAssertName = false;
        for (const char* a : kComAsserts) isAssertName = isAssertName || name == a;
        if (!isAssertName && key.second <= m_db->MaxTraceId(0) && key.second <= m_db->MaxTraceId(1)) {
            return TraceBlock(format, key.first, key.second, kDspOpcodes[(n / 3) % 3]);
        }
    }
    return TraceBlock(format, 0, 0, kDspOpcodes[0]);
}

CVESKMessage CSimDevice::Next()
{
    m_bLastAssert = false;
    if (m_options.assertEvery && (m_nIndex + 1) % m_options.assertEvery == 0) {
        m_bLastAssert = true;
        return Make(1, AssertBlock());
    }
    const unsigned roll = static_cast<unsigned>(m_rng() % 100);
    const auto& signals = m_db->Signals();
    if (roll < 55 && !signals.empty()) {
        const SignalInfo& s = signals[m_rng() % signals.size()];
        const int type = roll < 35 ? 6 : roll < 48 ? 5 : 7;
        return Make(1, SignalBlock(type, s));
    }
    if (roll < 60) {
        std::vector<BYTE> b(CVESKMessage::kHeaderSize + 12, 0);
        PutLE(b, 0, CConverter::kCommandMessageType, 2);
        PutLE(b, CVESKMessage::kHeaderSize, static_cast<uint32_t>(m_rng() % 64), 2);
        return Make(1, b);
    }
    if (roll < 88) {
        // An ordinary trace: a known name, never one that marks an assert.
        const auto& traces = m_db->Traces(roll & 1);
        int group = 1, id = 1;
        if (!traces.empty()) {
            auto it = traces.begin();
            std::advance(it, static_cast<long>(m_rng() % traces.size()));
            bool isAssertName = false;
            for (const char* a : kComAsserts) isAssertName = isAssertName || it->second == a;
            for (const char* a : kAppAsserts) isAssertName = isAssertName || it->second == a;
            if (!isAssertName) {
                group = it->first.first;
                id = it->first.second;
            }
        }
        return Make(1, TraceBlock((roll & 2) ? 4 : 0, group, id, 0));
    }
    // Other kinds: status and statistics messages with a raw payload.
    std::vector<BYTE> b(CVESKMessage::kHeaderSize + 8 + m_rng() % 40, 0);
    PutLE(b, 0, 0x0100 + static_cast<uint32_t>(roll % 4), 2);
    for (size_t i = CVESKMessage::kHeaderSize; i < b.size(); ++i) b[i] = static_cast<BYTE>(m_rng());
    return Make(roll < 94 ? 2 : 3, b);
}

uint64_t CSimDeviceRunner::Run(uint64_t count)
{
    return Run(count, [](const CVESKMessage&) { return true; });
}


void CSimDeviceRunner::Dispatch(const CVESKMessage& m)
{
    m_bus->Dispatch(m, m_nSourceA, m_nSourceB);
}

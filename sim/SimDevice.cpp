#include "sim/SimDevice.h"

#include <algorithm>
#include <cstring>

#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/MessageBus.h"
#include "platform/Recoder.h"
#include "platform/Services.h"
#include "platform/SignalDb.h"

namespace {
int AlignUp(int p, int n)
{
    return (n > 1 && p % n) ? p + n - p % n : p;
}

void PutLE(std::vector<BYTE>& b, size_t at, uint32_t v, int n)
{
    if (b.size() < at + static_cast<size_t>(n)) b.resize(at + static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) b[at + static_cast<size_t>(i)] = static_cast<BYTE>(v >> (8 * i));
}

bool FindTrace(const CSvmDb& db, int side, const CString& name, int& group, int& id)
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

bool Contains(const std::vector<CString>& names, const CString& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Stand-ins for the two logging words: a running tick and a log source.
constexpr uint32_t kLogSource = 0xC0DE;
// Messages made per reading of the clock.
constexpr uint64_t kClockEvery = 64;
}  // namespace

const std::vector<CString>& CSimDevice::AssertNames(int side)
{
    static const std::vector<CString> com = {"EE_HANDLER__EE__EE_LOG_ASSERT", "EE_HANDLER__EE__EE_LOG_RESET",
                                             "EE_HANDLER__EE__EE_LOG_EXCEPTION", "APLP__L1EEHandler__errorHandling",
                                             "APLP__AM__pldReset_Called"};
    static const std::vector<CString> app = {"Diag__comMem__EE_LOG", "EE_HANDLER__EE__EE_LOG_ASSERT"};
    return side == 1 ? app : com;
}

const std::vector<int>& CSimDevice::AssertOpcodes()
{
    static const std::vector<int> opcodes = {180, 6, 223};
    return opcodes;
}

CSimDevice::CSimDevice(SimDeviceOptions options, std::shared_ptr<CSvmDb> db)
    : m_options(options), m_db(db ? std::move(db) : Services::SignalDb()), m_rng(options.seed)
{
    m_options.devices = std::clamp(m_options.devices, 1, kDeviceSlots);
    if (!m_db) m_db = std::make_shared<CSvmDb>();
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
    static const char* const app[] = {"Linux 4.14", "Linux 4.19", "Linux 5.10", "Android 13", "Linux 5.15"};
    for (int i = 0; i < m_options.devices; ++i) table.Connect(i, Imei(i), com[i], app[i]);
    table.SetUEVersion("UE SW 26.12.1");
}

void CSimDevice::Disconnect(CDeviceTable& table)
{
    table.DisconnectAll();
    table.SetUEVersion("");
}

void CSimDevice::StampTime(CVESKMessage& out)
{
    // The clock is read for every kClockEvery-th message; the offset that grows with every
    // message keeps the stamps rising in between.
    if (m_lastNowEpoch < 0 || m_nIndex % kClockEvery == 0) {
        m_lastNow = LocalTimeNow();
        m_lastNowEpoch = EpochSecondsFromUtc(m_lastNow);
    }
    const int64_t ms = m_lastNow.wMilliseconds + m_msOffset;
    const int64_t second = m_lastNowEpoch + ms / 1000;
    if (second != m_lastStampEpoch) {
        m_lastStamp = UtcFromEpochSeconds(second, 0);
        m_lastStampEpoch = second;
    }
    CSystemTime stamp = m_lastStamp;
    stamp.wMilliseconds = static_cast<WORD>(ms % 1000);
    out.SetPCTimeStamp(stamp);
}

// Finishes a message whose data block is in m_block.
void CSimDevice::Make(int kind, CVESKMessage& out)
{
    ++m_nIndex;
    out.SetKind(kind);
    out.SetDeviceNumber(static_cast<int>((m_nIndex - 1) % static_cast<uint64_t>(m_options.devices)));
    out.SwapData(m_block);  // the message's old block comes back as the next one's storage
    out.SetFurther(0);
    m_msOffset += 1 + static_cast<int64_t>(m_rng() % 4);
    StampTime(out);
    out.SetMessageIndex(m_nIndex);
}

std::vector<BYTE> CSimDevice::TraceBlock(int format, int group, int id, int dspOpcode)
{
    std::vector<BYTE> b;
    TraceBlockInto(b, format, group, id, dspOpcode);
    return b;
}

void CSimDevice::TraceBlockInto(std::vector<BYTE>& b, int format, int group, int id, int dspOpcode)
{
    b.assign(CVESKMessage::kHeaderSize + 16, 0);
    PutLE(b, 0, CConverter::kTraceMessageType, 2);
    const size_t body = CVESKMessage::kHeaderSize;
    PutLE(b, body + 0, static_cast<uint32_t>(format), 2);
    PutLE(b, body + 4, static_cast<uint32_t>(group), 2);
    PutLE(b, body + 6, static_cast<uint32_t>(id), 2);
    PutLE(b, body + 12, static_cast<uint32_t>(dspOpcode), 2);
}

void CSimDevice::PutValue(std::vector<BYTE>& body, int offset, int width, ValueKind kind)
{
    const size_t at = static_cast<size_t>(offset);
    if (kind == ValueKind::floating) {
        const float v = -140.0f + static_cast<float>(m_rng() % 1800) / 10.0f;  // a level in dBm
        uint32_t raw;
        std::memcpy(&raw, &v, sizeof raw);
        PutLE(body, at, raw, 4);
    } else if (kind == ValueKind::character || kind == ValueKind::text) {
        PutLE(body, at, static_cast<uint32_t>('a' + m_rng() % 26), 1);
    } else if (kind == ValueKind::unsignedInt) {
        static const uint32_t range[] = {0, 200, 4000, 0, 100000};
        PutLE(body, at, static_cast<uint32_t>(m_rng() % range[width]), width);
    } else {
        static const int32_t half[] = {0, 60, 150, 0, 5000};
        const int32_t v = static_cast<int32_t>(m_rng() % static_cast<uint32_t>(2 * half[width] + 1)) - half[width];
        PutLE(body, at, static_cast<uint32_t>(v), width);
    }
}

const CSimDevice::BodyLayout& CSimDevice::LayoutOf(size_t signalIndex)
{
    const auto& signals = m_db->Signals();
    if (m_layouts.size() != signals.size()) m_layouts.assign(signals.size(), BodyLayout());
    BodyLayout& layout = m_layouts[signalIndex];
    if (layout.known) return layout;
    std::vector<NativeField> fields;
    layout.size = m_db->NativeLayout(*signals[signalIndex].body, fields);
    for (const NativeField& f : fields) {
        BodyField b;
        b.offset = f.offset;
        b.size = f.size;
        b.count = f.count;
        b.width = f.count > 0 ? f.size / f.count : 0;
        if (f.enumType) {
            b.kind = ValueKind::enumeration;
            b.enumValues = &f.enumType->m_values;
        } else if (f.count > 1 && f.typeName == "char") {
            b.kind = ValueKind::text;
        } else if (f.typeName == "float") {
            b.kind = ValueKind::floating;
        } else if (f.typeName == "char") {
            b.kind = ValueKind::character;
        } else {
            b.kind = f.typeName.Find("unsigned") >= 0 ? ValueKind::unsignedInt : ValueKind::signedInt;
        }
        layout.fields.push_back(b);
    }
    layout.known = true;
    return layout;
}

void CSimDevice::NativeBody(size_t signalIndex)
{
    const BodyLayout& layout = LayoutOf(signalIndex);
    m_body.assign(static_cast<size_t>(layout.size), 0);
    for (const BodyField& f : layout.fields) {
        if (f.kind == ValueKind::enumeration) {
            const auto& values = *f.enumValues;
            const uint32_t v = values.empty() ? 0 : static_cast<uint32_t>(values[m_rng() % values.size()].second);
            PutLE(m_body, static_cast<size_t>(f.offset), v, f.size);
        } else if (f.kind == ValueKind::text) {
            // Text: a few letters, then NUL bytes.
            const int letters = static_cast<int>(m_rng() % static_cast<uint64_t>(f.count));
            for (int i = 0; i < letters; ++i) PutValue(m_body, f.offset + i, 1, ValueKind::character);
        } else {
            for (int i = 0; i < f.count && f.width > 0; ++i) PutValue(m_body, f.offset + i * f.width, f.width, f.kind);
        }
    }
}

std::vector<BYTE> CSimDevice::SignalBlock(int messageType, const SignalInfo& signal)
{
    const auto& signals = m_db->Signals();
    const size_t index = static_cast<size_t>(
        std::find_if(signals.begin(), signals.end(), [&](const SignalInfo& s) { return &s == &signal; }) -
        signals.begin());
    if (index == signals.size()) return {};
    SignalBlockInto(messageType, signal, index);
    return m_block;
}

void CSimDevice::SignalBlockInto(int messageType, const SignalInfo& signal, size_t signalIndex)
{
    const int S = m_db->m_nHeaderFieldSize, I = m_db->m_nSignalIdSize, E = m_db->m_nAlignmentMode == 1 ? 2 : 4,
              L = m_db->m_nLayoutShift;
    NativeBody(signalIndex);
    const uint32_t bodySize = static_cast<uint32_t>(m_body.size());
    std::vector<BYTE>& b = m_block;
    b.assign(CVESKMessage::kHeaderSize, 0);
    PutLE(b, 0, static_cast<uint32_t>(messageType), 2);
    const size_t h = CVESKMessage::kHeaderSize;
    // Nonzero leading fields and an odd first logging word: no signal reads as a trace.
    const uint32_t field1 = 0x10 + static_cast<uint32_t>(m_rng() % 16), field2 = 0x20 + static_cast<uint32_t>(m_rng() % 16);
    const uint32_t logWord1 = static_cast<uint32_t>(m_nIndex << 4) | 1;
    auto putField = [&](int at, uint32_t v) { PutLE(b, h + static_cast<size_t>(at), v, S == 1 ? 1 : 2); };
    int p = 0;
    if (messageType == CConverter::kSignalMessageType) {
        putField(0, field1);
        putField(S, field2);
        p = AlignUp(2 * S, E);
        PutLE(b, h + static_cast<size_t>(p), bodySize, 2);
        p = AlignUp(p + 2, I);
    } else if (messageType == CConverter::kLoggedSignalMessageType) {
        putField(0, field1);
        putField(S, field2);
        p = 2 * S + ((L == 0 && S == 1) ? 2 : 0);
        PutLE(b, h + static_cast<size_t>(p), logWord1, 4);
        PutLE(b, h + static_cast<size_t>(p) + 4, kLogSource, 4);
        PutLE(b, h + static_cast<size_t>(p) + 8, bodySize, 2);
        p = AlignUp(p + 10, I);
    } else {  // 7: the logging words, K skipped bytes, then the fields
        const int skip = 3;
        PutLE(b, h, logWord1, 4);
        PutLE(b, h + 4, kLogSource, 4);
        PutLE(b, h + 8, skip, 4);
        p = AlignUp(12 + skip, L == 2 ? 4 : 2);
        p = AlignUp(p, S);
        putField(p, field1);
        p += S;
        putField(p, field2);
        p += S;
        p = AlignUp(p, E);
        PutLE(b, h + static_cast<size_t>(p), bodySize, 2);
        p = AlignUp(p + 2, I);
    }
    PutLE(b, h + static_cast<size_t>(p), signal.id, I);
    p = AlignUp(p + I, 4);
    b.resize(h + static_cast<size_t>(p), 0);
    b.insert(b.end(), m_body.begin(), m_body.end());
}

const std::vector<CSimDevice::TraceEntry>& CSimDevice::TracesOf(int side)
{
    std::vector<TraceEntry>& entries = m_traceEntries[side];
    if (m_bTracesKnown[side]) return entries;
    for (const auto& [key, name] : m_db->Traces(side))
        entries.push_back({key.first, key.second, IsAssertTrace(key.first, key.second, 0)});
    m_bTracesKnown[side] = true;
    return entries;
}

bool CSimDevice::IsAssertTrace(int group, int id, int dspOpcode) const
{
    if (id > m_db->MaxTraceId(0)) return false;
    CString name;
    const bool com = m_db->TraceName(0, group, id, name);
    if (com && Contains(AssertNames(0), name)) return true;
    if (id > m_db->MaxTraceId(1)) return false;
    const bool app = m_db->TraceName(1, group, id, name);
    if (app && Contains(AssertNames(1), name)) return true;
    const auto& ops = AssertOpcodes();
    return (com || app) && std::find(ops.begin(), ops.end(), dspOpcode & 0x1FF) != ops.end();
}

bool CSimDevice::AssertBlock(std::vector<BYTE>& block)
{
    // Com names, App names and DSP opcodes in turn, each list round-robin.
    const uint64_t n = m_nAsserts++;
    const int format = (n & 1) ? 4 : 0;
    int group = 0, id = 0;
    if (n % 3 < 2) {
        const int side = static_cast<int>(n % 3);
        const auto& names = AssertNames(side);
        const CString& name = names[(n / 3) % names.size()];
        if (FindTrace(*m_db, side, name, group, id) && IsAssertTrace(group, id, 0)) {
            block = TraceBlock(format, group, id, 0);
            return true;
        }
    }
    // A DSP opcode on a named trace that is no assert by its name.
    const int opcode = AssertOpcodes()[(n / 3) % AssertOpcodes().size()];
    for (int side = 0; side < 2; ++side) {
        for (const auto& [key, name] : m_db->Traces(side)) {
            if (!IsAssertTrace(key.first, key.second, 0) && IsAssertTrace(key.first, key.second, opcode)) {
                block = TraceBlock(format, key.first, key.second, opcode);
                return true;
            }
        }
    }
    return false;
}

CVESKMessage CSimDevice::Next()
{
    CVESKMessage m;
    Next(m);
    return m;
}

void CSimDevice::Next(CVESKMessage& out)
{
    m_bLastAssert = false;
    if (m_options.assertEvery && (m_nIndex + 1) % m_options.assertEvery == 0 && AssertBlock(m_block)) {
        m_bLastAssert = true;
        return Make(1, out);
    }
    const SimMessageMix& mix = m_options.mix;
    const int weights[] = {std::max(mix.signals, 0),  std::max(mix.loggedSignals, 0), std::max(mix.loggedSignals2, 0),
                           std::max(mix.commands, 0), std::max(mix.traces, 0),        std::max(mix.otherKinds, 0)};
    int total = 0;
    for (int w : weights) total += w;
    const unsigned roll = static_cast<unsigned>(m_rng() % static_cast<uint64_t>(total > 0 ? total : 1));
    int what = total > 0 ? 0 : 4;  // nothing weighted: ordinary traces
    for (unsigned acc = 0; total > 0 && what < 6; ++what) {
        acc += static_cast<unsigned>(weights[what]);
        if (roll < acc) break;
    }
    const auto& signals = m_db->Signals();
    if (what <= 2 && !signals.empty()) {
        const size_t index = m_rng() % signals.size();
        static const int types[] = {CConverter::kSignalMessageType, CConverter::kLoggedSignalMessageType,
                                    CConverter::kLoggedSignal2MessageType};
        SignalBlockInto(types[what], signals[index], index);
        return Make(1, out);
    }
    if (what <= 3) {
        // A command: its identifier (never 0 or 4, so it never reads as a trace format) and arguments.
        m_block.assign(CVESKMessage::kHeaderSize + 12, 0);
        PutLE(m_block, 0, CConverter::kCommandMessageType, 2);
        PutLE(m_block, CVESKMessage::kHeaderSize, 0x20 + static_cast<uint32_t>(m_rng() % 64), 2);
        PutLE(m_block, CVESKMessage::kHeaderSize + 4, static_cast<uint32_t>(m_rng()), 4);
        return Make(1, out);
    }
    if (what == 4) {
        // An ordinary trace of either side; one that would count as an assert is replaced
        // by an identifier beyond every range.
        const int side = static_cast<int>(m_rng() & 1);
        const std::vector<TraceEntry>& traces = TracesOf(side);
        int group = 1, id = std::min(std::max(m_db->MaxTraceId(0), m_db->MaxTraceId(1)) + 1, 0xFFFF);
        if (!traces.empty()) {
            const TraceEntry& t = traces[m_rng() % traces.size()];
            if (!t.isAssert) {
                group = t.group;
                id = t.id;
            }
        }
        TraceBlockInto(m_block, (m_rng() & 1) ? 4 : 0, group, id, 0);
        return Make(1, out);
    }
    // Other kinds: status and statistics messages with a raw payload.
    const bool status = m_rng() & 1;
    m_block.assign(CVESKMessage::kHeaderSize + 8 + m_rng() % 40, 0);
    PutLE(m_block, 0, 0x0100 + static_cast<uint32_t>(m_rng() % 4), 2);
    for (size_t i = CVESKMessage::kHeaderSize; i < m_block.size(); ++i) m_block[i] = static_cast<BYTE>(m_rng());
    Make(status ? 2 : 3, out);
}

CSimDeviceRunner::~CSimDeviceRunner()
{
    DisconnectAll();
}

void CSimDeviceRunner::Connect(std::shared_ptr<CDeviceTable> table)
{
    DisconnectAll();
    m_table = std::move(table);
    if (m_table) m_device.Connect(*m_table);
}

void CSimDeviceRunner::DisconnectAll()
{
    if (m_table) CSimDevice::Disconnect(*m_table);
    m_table.reset();
}

uint64_t CSimDeviceRunner::Run(uint64_t count)
{
    if (m_run.size() < kRunLength) m_run.resize(kRunLength);
    uint64_t sent = 0;
    while (sent < count) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kRunLength, count - sent));
        for (size_t i = 0; i < n; ++i) m_device.Next(m_run[i]);
        if (m_bus) m_bus->Dispatch(m_run.data(), n, m_nSourceA, m_nSourceB);
        sent += n;
    }
    return sent;
}

uint64_t CSimDeviceRunner::RunFor(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    return Run(UINT64_MAX, [&](const CVESKMessage&) { return std::chrono::steady_clock::now() < end; });
}

int CSimDeviceRunner::Dispatch(const CVESKMessage& m)
{
    return m_bus ? m_bus->Dispatch(m, m_nSourceA, m_nSourceB) : 0;
}

#include "platform/Recoder.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/Services.h"
#include "platform/SignalDb.h"
#include "platform/VESKMessage.h"

namespace {
int64_t Align(int64_t p, int n)
{
    if (n > 1 && (n & (n - 1)) == 0 && p >= 0) return (p + n - 1) & ~static_cast<int64_t>(n - 1);
    return (n > 1 && p % n) ? p + n - p % n : p;
}

uint32_t ReadLE(const BYTE* p, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n && i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

// A leading header field: one byte at width 1, else its low 16 bits.
uint32_t ReadField(const BYTE* p, int width)
{
    return width == 1 ? p[0] : ReadLE(p, 2);
}

// One value of a basic type, `width` bytes at p.
CString BasicValue(const CString& type, const BYTE* p, int width)
{
    const uint32_t raw = ReadLE(p, width);
    CString value;
    if (type == "float") {
        float fl;
        std::memcpy(&fl, &raw, sizeof fl);
        value.Format("%g", static_cast<double>(fl));
    } else if (type.Find("unsigned") >= 0) {
        value.Format("%u", raw);
    } else {
        const int shift = 32 - 8 * width;
        value.Format("%d", static_cast<int32_t>(raw << shift) >> shift);
    }
    return value;
}

// A char array as text: up to its first NUL, other unprintable bytes as \xNN.
CString CharText(const BYTE* p, int n)
{
    std::string s = "\"";
    for (int i = 0; i < n && p[i]; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
            s += static_cast<char>(p[i]);
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", p[i]);
            s += esc;
        }
    }
    return CString(s + "\"");
}

const char* TypeSymbol(int type)
{
    switch (type) {
    case CConverter::kLoggedSignalMessageType:
    case CConverter::kLoggedSignal2MessageType:
        return "LOGGED_SIGNAL";
    case CConverter::kSignalMessageType:
        return "SIGNAL";
    case CConverter::kCommandMessageType:
        return "COMMAND";
    case CConverter::kTraceMessageType:
        return "TRACE";
    default:
        return "";
    }
}
}  // namespace

CConverter::CConverter(std::shared_ptr<CSvmDb> db) : m_db(std::move(db)) {}

bool CConverter::GetSignalName(uint32_t id, CString& name)
{
    const SignalInfo* s = m_db ? m_db->FindSignal(id) : nullptr;
    if (!s) return false;
    name = s->name;
    return true;
}

bool CConverter::GetAltSignalName(uint32_t id, CString& name)
{
    const SignalInfo* s = m_db ? m_db->FindSignal(id) : nullptr;
    if (!s || s->altName.IsEmpty()) return false;
    name = s->altName;
    return true;
}

int CConverter::GetSignalIdSize(int)
{
    return m_db ? m_db->m_nSignalIdSize : 4;
}

int CConverter::GetHeaderFieldSize(int)
{
    return m_db ? m_db->m_nHeaderFieldSize : 2;
}

int CConverter::GetAlignmentMode(int)
{
    return m_db ? m_db->m_nAlignmentMode : 1;
}

int CConverter::GetLayoutShift(int)
{
    return m_db ? m_db->m_nLayoutShift : 2;
}

void CConverter::GetTraceIdRange(int side, int, int& first, int& last)
{
    first = 0;
    last = m_db ? m_db->MaxTraceId(side) : -1;
}

bool CConverter::GetComTraceName(int group, int id, CString& name, int& flag)
{
    flag = (m_db && m_db->TraceName(0, group, id, name)) ? 1 : 0;
    if (!flag) name.Empty();
    return flag != 0;
}

bool CConverter::GetAppTraceName(int group, int id, CString& name, int& flag)
{
    flag = (m_db && m_db->TraceName(1, group, id, name)) ? 1 : 0;
    if (!flag) name.Empty();
    return flag != 0;
}

DWORD CConverter::GetMessageColor(const CVESKMessage& message)
{
    return m_db ? m_db->ColorOf(message.GetKind(), message.GetMessageType()) : 0;
}

void CConverter::FormatRawData(const BYTE* data, int length, CString& text)
{
    text.Empty();
    if (!data || length <= 0) return;
    // Each byte's two digits and a space, looked up: four bytes written, three kept.
    static constexpr auto groups = [] {
        std::array<char, 1024> t{};
        constexpr const char* hex = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) t[4 * b] = hex[b >> 4], t[4 * b + 1] = hex[b & 15], t[4 * b + 2] = ' ';
        return t;
    }();
    std::string& out = text.str();
    out.resize(static_cast<size_t>(length) * 3 - 1);
    char* p = out.data();
    for (int i = 0; i + 1 < length; ++i, p += 3) std::memcpy(p, &groups[4 * data[i]], 4);
    std::memcpy(p, &groups[4 * data[length - 1]], 2);
}

NativeLayoutValues CConverter::GetLayoutValues()
{
    NativeLayoutValues v;
    v.S = GetHeaderFieldSize(0);
    v.I = GetSignalIdSize(0);
    v.E = GetAlignmentMode(0) == 1 ? 2 : 4;
    v.L = GetLayoutShift(0);
    return v;
}

namespace {
// The leading fields from p; returns the position after them.
int64_t PlaceFields(NativeHeaderLayout& at, int64_t p, int S)
{
    at.field1 = p;
    at.field2 = p + S;
    return p + 2 * static_cast<int64_t>(S);
}

// The logging words and the unused length from p; returns the position after them.
int64_t PlaceLogWords(NativeHeaderLayout& at, int64_t p)
{
    at.logWord1 = p;
    at.logWord2 = p + 4;
    at.length = p + 8;
    return p + 10;
}

// The identifier at p aligned to I, and the body after it aligned to 4.
void PlaceIdAndBody(NativeHeaderLayout& at, int64_t p, int I)
{
    at.id = Align(p, I);
    at.body = Align(at.id + I, 4);
}
}  // namespace

bool CConverter::HeaderLayout(int messageType, const NativeLayoutValues& v, uint32_t count, NativeHeaderLayout& at)
{
    at = NativeHeaderLayout();
    int64_t p = 0;
    switch (messageType) {
    case kSignalMessageType:
        at.length = Align(PlaceFields(at, 0, v.S), v.E);
        p = at.length + 2;
        break;
    case kLoggedSignalMessageType:
        p = PlaceFields(at, 0, v.S) + ((v.L == 0 && v.S == 1) ? 2 : 0);
        p = PlaceLogWords(at, p);
        break;
    case kLoggedSignal2MessageType:
        at.logWord1 = 0;
        at.logWord2 = 4;
        p = Align(Align(NativeHeaderLayout::kCountOffset + 4 + static_cast<int64_t>(count), v.L == 2 ? 4 : 2), v.S);
        at.length = Align(PlaceFields(at, p, v.S), v.E);
        p = at.length + 2;
        break;
    default:
        return false;
    }
    PlaceIdAndBody(at, p, v.I);
    return true;
}

bool CConverter::ParseSignal(const BYTE* data, int length, NativeSignal& out)
{
    if (!data || length < CVESKMessage::kHeaderSize) return false;
    out = NativeSignal();
    out.messageType = static_cast<int>(ReadLE(data, 2));
    const BYTE* h = data + CVESKMessage::kHeaderSize;
    const int n = length - CVESKMessage::kHeaderSize;
    const NativeLayoutValues v = GetLayoutValues();
    uint32_t count = 0;
    if (out.messageType == kLoggedSignal2MessageType) {
        if (n < NativeHeaderLayout::kCountOffset + 4) return false;
        count = ReadLE(h + NativeHeaderLayout::kCountOffset, 4);
        if (count > static_cast<uint32_t>(n)) return false;
    }
    NativeHeaderLayout at;
    if (!HeaderLayout(out.messageType, v, count, at) || at.id + v.I > n) return false;
    out.field1 = ReadField(h + at.field1, v.S);
    out.field2 = ReadField(h + at.field2, v.S);
    if (at.logWord1 >= 0) {
        out.logWord1 = ReadLE(h + at.logWord1, 4);
        out.logWord2 = ReadLE(h + at.logWord2, 4);
    }
    out.id = ReadLE(h + at.id, v.I);
    const int body = static_cast<int>(std::min<int64_t>(at.body, n));
    out.bodyOffset = CVESKMessage::kHeaderSize + body;
    // Types 5 and 7 run to the end of the data; type 6 says how long its body is.
    out.bodyLength = n - body;
    if (out.messageType == kSignalMessageType) out.bodyLength = std::min(static_cast<int>(ReadLE(h + at.length, 2)), n - body);
    return true;
}

CString CConverter::DecodeBody(const SignalInfo& signal, const BYTE* body, int length)
{
    CString out;
    if (!m_db || !signal.body || !body) return out;
    std::vector<NativeField> fields;
    m_db->NativeLayout(*signal.body, fields);
    for (const NativeField& f : fields) {
        if (f.offset >= length) break;
        const BYTE* p = body + f.offset;
        CString value;
        if (f.enumType) {
            if (f.offset + f.size > length) break;
            const uint32_t raw = ReadLE(p, f.size);
            value = f.enumType->NameOfRaw(raw);
            if (value.IsEmpty()) value.Format("%u", raw);
        } else if (f.count > 1 || f.descriptor->GetKind() == CSvmObject::Kind::paramArray) {
            // An array shows the elements the body holds.
            const int width = f.count > 0 ? f.size / f.count : 0;
            const int held = width > 0 ? std::min(f.count, (length - f.offset) / width) : 0;
            if (f.typeName == "char") {
                value = CharText(p, held);
            } else {
                value = "[";
                for (int i = 0; i < held; ++i) {
                    if (i) value += ", ";
                    value += BasicValue(f.typeName, p + i * width, width);
                }
                value += "]";
            }
            if (held < f.count) {
                if (!out.IsEmpty()) out += ", ";
                out += f.path + "=" + value;
                break;
            }
        } else {
            if (f.offset + f.size > length) break;
            value = BasicValue(f.typeName, p, f.size);
        }
        if (!out.IsEmpty()) out += ", ";
        out += f.path + "=" + value;
    }
    return out;
}

namespace {
// The decimal text of a value, into an empty string.
void PutDecimal(CString& text, int64_t value)
{
    std::string& s = text.str();
    if (value < 0) s += '-';
    AppendDecimal(s, value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
}
}  // namespace

const CString& CConverter::ColumnName(unsigned column)
{
    static const CString names[cColumnCount] = {"PC Time Stamp", "Device", "Kind",   "Message Type", "Length",
                                                "Data",          "Symbol", "Signal", "Signal ID",    "Decoded"};
    return names[column];
}

unsigned CConverter::WantedColumns(const ColumnSelection& selection)
{
    if (selection.empty()) return (1u << cColumnCount) - 1;
    unsigned wanted = 0;
    for (const auto& entry : selection)
        for (unsigned c = 0; c < cColumnCount; ++c)
            if (entry.first == ColumnName(c)) wanted |= 1u << c;
    return wanted;
}

void CConverter::DescribeSignal(const CVESKMessage& m, CString* signal, CString* signalId, CString* decoded)
{
    const int type = m.GetMessageType();
    const BYTE* body = m.GetBody();
    const int bodyLength = m.GetBodyLength();
    NativeSignal sig;
    if (type == kTraceMessageType && bodyLength >= 8) {
        const int format = static_cast<int>(ReadLE(body, 2));
        const int group = static_cast<int>(ReadLE(body + 4, 2)), id = static_cast<int>(ReadLE(body + 6, 2));
        if (signal) {
            int flag = 0;
            if (!GetComTraceName(group, id, *signal, flag)) GetAppTraceName(group, id, *signal, flag);
        }
        if (signalId) signalId->Format("%d/%d", group, id);
        if (decoded) {
            decoded->Format("format=%d, group=%d, id=%d", format, group, id);
            if (bodyLength >= 14) decoded->AppendFormat(", dsp=%u", ReadLE(body + 12, 2) & 0x1FF);
        }
    } else if (type == kCommandMessageType && bodyLength >= 2) {
        if (signalId) signalId->Format("0x%X", ReadLE(body, 2));
    } else if (ParseSignal(m.GetData(), m.GetDataLength(), sig)) {
        if (signalId) {
            char hex[8];
            const auto end = std::to_chars(hex, hex + sizeof hex, sig.id, 16).ptr;
            std::transform(hex, end, hex, [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
            signalId->str().assign("0x").append(hex, static_cast<size_t>(end - hex));
        }
        const SignalInfo* info = (signal || decoded) && m_db ? m_db->FindSignal(sig.id) : nullptr;
        if (info && signal) *signal = info->name;
        if (info && decoded) *decoded = DecodeBody(*info, m.GetData() + sig.bodyOffset, sig.bodyLength);
    }
}

bool CConverter::DecodeToColumns(const DecodeRequest& request, ColumnValues& values, const ColumnSelection& selection)
{
    // Only the columns asked for are worked out.
    const unsigned wanted = WantedColumns(selection);
    std::array<CString, cColumnCount> owned;
    ColumnTexts texts{};
    for (unsigned c = 0; c < cColumnCount; ++c)
        if (wanted & (1u << c)) texts[c] = &owned[c];
    if (!DecodeColumnTexts(request.message, wanted, texts)) return false;
    for (unsigned c = 0; c < cColumnCount; ++c) {
        if (!texts[c]) continue;
        if (request.callback) request.callback(request.context, ColumnName(c), owned[c]);
        values[ColumnName(c)] = std::move(owned[c]);
    }
    return true;
}

bool CConverter::DecodeColumnTexts(const CVESKMessage* m, unsigned wanted, const ColumnTexts& texts)
{
    if (!m || m->GetDataLength() < 0) return false;
    // The string of a wanted column, emptied; null for one that is not wanted.
    auto text = [&](Column c) -> CString* {
        if (!(wanted & (1u << c))) return nullptr;
        texts[c]->Empty();
        return texts[c];
    };
    if (CString* t = text(cTime)) AppendPcTimeText(t->str(), m->GetPCTimeStamp());
    if (CString* t = text(cDevice)) PutDecimal(*t, m->GetDeviceNumber());
    if (CString* t = text(cKind)) PutDecimal(*t, m->GetKind());
    if (CString* t = text(cType)) PutDecimal(*t, m->GetMessageType());
    if (CString* t = text(cLength)) PutDecimal(*t, m->GetDataLength());
    if (CString* t = text(cData)) FormatRawData(m->GetData(), m->GetDataLength(), *t);
    // Only kind-1 messages carry signals, commands and traces.
    const bool device = m->GetKind() == 1;
    if (CString* t = text(cSymbol)) t->str().assign(device ? TypeSymbol(m->GetMessageType()) : "");
    CString* signal = text(cSignal);
    CString* signalId = text(cSignalId);
    CString* decoded = text(cDecoded);
    if (device && (signal || signalId || decoded)) DescribeSignal(*m, signal, signalId, decoded);
    return true;
}

void AppendPcTimeText(std::string& out, const CSystemTime& t)
{
    if (t.wHour < 100 && t.wMinute < 100 && t.wSecond < 100 && t.wMilliseconds < 1000) {
        // The usual times, of two and three digits, written in place.
        const size_t at = out.size();
        out.resize(at + 12);
        char* text = out.data() + at;
        auto two = [text](int i, unsigned v) {
            text[i] = static_cast<char>('0' + v / 10);
            text[i + 1] = static_cast<char>('0' + v % 10);
        };
        two(0, t.wHour);
        text[2] = ':';
        two(3, t.wMinute);
        text[5] = ':';
        two(6, t.wSecond);
        text[8] = '.';
        text[9] = static_cast<char>('0' + t.wMilliseconds / 100);
        two(10, t.wMilliseconds % 100u);
        return;
    }
    AppendDecimal(out, t.wHour, 2);
    out += ':';
    AppendDecimal(out, t.wMinute, 2);
    out += ':';
    AppendDecimal(out, t.wSecond, 2);
    out += '.';
    AppendDecimal(out, t.wMilliseconds, 3);
}

CConverter* GetConverterInstance()
{
    return Services::Recoder().get();
}

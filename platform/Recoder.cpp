#include "platform/Recoder.h"

#include <cstring>

#include "platform/Services.h"
#include "platform/SignalDb.h"
#include "platform/VESKMessage.h"

namespace {
int AlignUp(int p, int n)
{
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
    std::string out;
    out.reserve(static_cast<size_t>(length) * 3);
    static const char* hex = "0123456789ABCDEF";
    for (int i = 0; i < length; ++i) {
        if (i) out += ' ';
        out += hex[data[i] >> 4];
        out += hex[data[i] & 15];
    }
    text = CString(std::move(out));
}

bool CConverter::ParseSignal(const BYTE* data, int length, NativeSignal& out)
{
    if (!data || length < CVESKMessage::kHeaderSize) return false;
    out = NativeSignal();
    out.messageType = static_cast<int>(ReadLE(data, 2));
    const BYTE* h = data + CVESKMessage::kHeaderSize;
    const int n = length - CVESKMessage::kHeaderSize;
    const int S = GetHeaderFieldSize(0), I = GetSignalIdSize(0), E = GetAlignmentMode(0) == 1 ? 2 : 4, L = GetLayoutShift(0);
    auto need = [&](int end) { return end <= n; };
    int p = 0;
    switch (out.messageType) {
    case 6: {
        if (!need(2 * S)) return false;
        out.field1 = ReadField(h, S);
        out.field2 = ReadField(h + S, S);
        p = AlignUp(2 * S, E);
        if (!need(p + 2)) return false;
        const int bodyLength = static_cast<int>(ReadLE(h + p, 2));
        p = AlignUp(p + 2, I);
        if (!need(p + I)) return false;
        out.id = ReadLE(h + p, I);
        p = AlignUp(p + I, 4);
        out.bodyOffset = CVESKMessage::kHeaderSize + p;
        out.bodyLength = std::max(0, std::min(bodyLength, n - p));
        return true;
    }
    case 5: {
        if (!need(2 * S)) return false;
        out.field1 = ReadField(h, S);
        out.field2 = ReadField(h + S, S);
        p = 2 * S + ((L == 0 && S == 1) ? 2 : 0);
        if (!need(p + 10)) return false;
        out.logWord1 = ReadLE(h + p, 4);
        out.logWord2 = ReadLE(h + p + 4, 4);
        p = AlignUp(p + 10, I);
        break;
    }
    case 7: {
        if (!need(12)) return false;
        out.logWord1 = ReadLE(h, 4);
        out.logWord2 = ReadLE(h + 4, 4);
        const uint32_t skip = ReadLE(h + 8, 4);
        if (skip > static_cast<uint32_t>(n)) return false;
        p = AlignUp(12 + static_cast<int>(skip), L == 2 ? 4 : 2);
        p = AlignUp(p, S);
        if (!need(p + 2 * S)) return false;
        out.field1 = ReadField(h + p, S);
        p += S;
        out.field2 = ReadField(h + p, S);
        p += S;
        p = AlignUp(p, E);
        p = AlignUp(p + 2, I);
        break;
    }
    default:
        return false;
    }
    if (!need(p + I)) return false;
    out.id = ReadLE(h + p, I);
    p = AlignUp(p + I, 4);
    if (p > n) p = n;
    out.bodyOffset = CVESKMessage::kHeaderSize + p;
    out.bodyLength = n - p;
    return true;
}

CString CConverter::DecodeBody(const SignalInfo& signal, const BYTE* body, int length)
{
    std::vector<NativeField> fields;
    m_db->NativeLayout(*signal.body, fields);
    CString out;
    for (const NativeField& f : fields) {
        if (f.offset + f.size > length) break;  // the body ends inside this field
        CString value;
        const BYTE* p = body + f.offset;
        switch (f.descriptor->GetKind()) {
        case CSvmObject::Kind::parms: {
            const CString& type = static_cast<const CParms*>(f.descriptor)->m_strTypeName;
            const uint32_t raw = ReadLE(p, f.size);
            if (type == "float") {
                float fl;
                std::memcpy(&fl, &raw, 4);
                value.Format("%g", static_cast<double>(fl));
            } else if (type.Find("unsigned") >= 0 || type == "BYTE" || type == "WORD" || type == "DWORD" || type.Left(4) == "UINT") {
                value.Format("%u", raw);
            } else {
                const int shift = 32 - 8 * f.size;
                value.Format("%d", static_cast<int32_t>(raw << shift) >> shift);
            }
            break;
        }
        case CSvmObject::Kind::enumParm: {
            const CEnum* e = static_cast<const CEnumParm*>(f.descriptor)->m_pEnum;
            const uint32_t raw = ReadLE(p, f.size);
            value = e ? e->NameOf(raw) : CString();
            if (value.IsEmpty()) value.Format("%u", raw);
            break;
        }
        default: {
            CString hex;
            FormatRawData(p, f.size, hex);
            value = "[" + hex + "]";
            break;
        }
        }
        if (!out.IsEmpty()) out += ", ";
        out += f.path + "=" + value;
    }
    return out;
}

bool CConverter::DecodeToColumns(const DecodeRequest& request, ColumnValues& values, const ColumnSelection& selection)
{
    const CVESKMessage* m = request.message;
    if (!m || m->GetDataLength() < 0) return false;
    auto put = [&](const char* name, const CString& text) {
        if (!selection.empty() && !selection.count(name)) return;
        values[name] = text;
        if (request.callback) request.callback(request.context, name, text);
    };
    const CSystemTime& t = m->GetPCTimeStamp();
    CString s;
    s.Format("%2.2u:%2.2u:%2.2u.%3.3u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    put("PC Time Stamp", s);
    s.Format("%d", m->GetDeviceNumber());
    put("Device", s);
    s.Format("%d", m->GetKind());
    put("Kind", s);
    const int type = m->GetMessageType();
    s.Format("%d", type);
    put("Message Type", s);
    s.Format("%d", m->GetDataLength());
    put("Length", s);
    CString raw;
    FormatRawData(m->GetData(), m->GetDataLength(), raw);
    put("Data", raw);

    NativeSignal sig;
    if (type == kTraceMessageType && m->GetBodyLength() >= 8) {
        const BYTE* body = m->GetBody();
        const int group = static_cast<int>(ReadLE(body + 4, 2)), id = static_cast<int>(ReadLE(body + 6, 2));
        CString name;
        int flag = 0;
        if (!GetComTraceName(group, id, name, flag)) GetAppTraceName(group, id, name, flag);
        put("Signal", name);
        s.Format("%d/%d", group, id);
        put("Signal ID", s);
        put("Decoded", "");
    } else if ((type == 5 || type == 6 || type == 7) && ParseSignal(m->GetData(), m->GetDataLength(), sig)) {
        const SignalInfo* info = m_db ? m_db->FindSignal(sig.id) : nullptr;
        put("Signal", info ? info->name : CString());
        s.Format("0x%X", sig.id);
        put("Signal ID", s);
        put("Decoded", info ? DecodeBody(*info, m->GetData() + sig.bodyOffset, sig.bodyLength) : CString());
    } else {
        put("Signal", "");
        put("Signal ID", "");
        put("Decoded", "");
    }
    return true;
}

CConverter* GetConverterInstance()
{
    return Services::Recoder().get();
}

#include "convert/EnumSizeConverter.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Recoder.h"
#include "platform/Services.h"

namespace {
int64_t Align(int64_t p, int n)
{
    return (n > 1 && p % n) ? p + n - p % n : p;
}

int ClampToInt(int64_t v)
{
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// An enumeration is 1, 2 or 4 bytes; anything else is taken as 4.
int EnumWidth(const CEnum* e)
{
    const int s = CSvmDb::FindEnumSize(e);
    return (s == 1 || s == 2) ? s : 4;
}

uint32_t ReadLE(const BYTE* p, int64_t n)
{
    uint32_t v = 0;
    for (int64_t i = 0; i < n && i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

void WriteLE(BYTE* p, uint32_t v, int n)
{
    for (int i = 0; i < n; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

std::span<CSvmObject* const> Only(CSvmObject* const& field)
{
    return {&field, 1};
}
}  // namespace

CEnumSizeConverter::CEnumSizeConverter() = default;
CEnumSizeConverter::~CEnumSizeConverter() = default;

BOOL CEnumSizeConverter::ConvertToGKI(unsigned int id, const unsigned char* in, int inLength,
                                      std::unique_ptr<unsigned char[]>& out, unsigned int& outLength, int /*offset*/)
{
    return Convert(/*toGKI=*/true, id, in, inLength, out, outLength);
}

BOOL CEnumSizeConverter::ConvertFromGKI(unsigned int id, const unsigned char* in, int inLength,
                                        std::unique_ptr<unsigned char[]>& out, unsigned int& outLength, int /*offset*/)
{
    return Convert(/*toGKI=*/false, id, in, inLength, out, outLength);
}

bool CEnumSizeConverter::FindName(bool toGKI, unsigned int id, CString& name)
{
    if (m_recoder->GetSignalName(id, name)) return true;
    // Towards native a signal may be known by its alternative name only.
    if (!toGKI && m_recoder->GetAltSignalName(id, name)) return true;
    if (m_recoder->GetSignalIdSize(0) == 2)
        m_strError.Format("No such ID : 0x%4.4x", id);
    else
        m_strError.Format("No such ID : 0x%8.8x", id);
    return false;
}

BOOL CEnumSizeConverter::Convert(bool toGKI, unsigned int id, const unsigned char* in, int inLength,
                                 std::unique_ptr<unsigned char[]>& out, unsigned int& outLength)
{
    m_recoder = Services::Recoder();
    m_db = Services::SignalDb();
    m_nInLength = inLength;
    CString name;
    if (!FindName(toGKI, id, name)) return FALSE;

    // The first structure the database gives for the name is the body.
    CObList list;
    if (m_db) {
        int dummy = 0;
        m_db->DbLoader(1, nullptr, 1, 0);
        m_db->UpdateStructure(1, name, list, nullptr, dummy, 0, 0);
    }
    if (list.empty()) {
        m_strError.Format("Cannot locate '%s' in Signals Database", name.c_str());
        return FALSE;
    }
    CObList* fields = nullptr;
    if (list[0] && list[0]->GetKind() == CSvmObject::Kind::node) fields = &static_cast<CSvmNode*>(list[0])->m_fields;

    m_nOutCapacity = ClampToInt(static_cast<int64_t>(toGKI ? 4 : 10) * std::max(inLength, 0));
    if (!toGKI) m_nInLimit = inLength;
    m_work.clear();
    int inPos = 0, outPos = 0;
    const bool ok = Walk(toGKI, in, nullptr, inPos, outPos, fields);
    if (!ok) {
        m_strError = WalkErrorText(id);
        return FALSE;
    }
    // A trailing alignment may leave the position past the last byte written: a gap.
    m_work.resize(static_cast<size_t>(std::max(outPos, 0)), 0);
    out = std::make_unique<unsigned char[]>(m_work.size());
    if (!m_work.empty()) std::memcpy(out.get(), m_work.data(), m_work.size());
    outLength = static_cast<unsigned int>(m_work.size());
    return TRUE;
}

CString CEnumSizeConverter::WalkErrorText(unsigned int id)
{
    CString text;
    text.Format("Error converting signal body for signal ID - 0x%8.8x", id);
    return text;
}

bool CEnumSizeConverter::PackFields(const unsigned char* in, unsigned char* out, int& inPos, int& outPos,
                                    CObList* fields)
{
    return Walk(/*toGKI=*/true, in, out, inPos, outPos, fields);
}

bool CEnumSizeConverter::UnpackFields(const unsigned char* in, unsigned char* out, int& inPos, int& outPos,
                                      CObList* fields)
{
    return Walk(/*toGKI=*/false, in, out, inPos, outPos, fields);
}

bool CEnumSizeConverter::Walk(bool toGKI, const unsigned char* in, unsigned char* out, int& inPos, int& outPos,
                              CObList* fields)
{
    if (!fields) return false;
    if (!m_recoder) m_recoder = Services::Recoder();
    if (!m_db) m_db = Services::SignalDb();
    m_nAlignmentMode = m_recoder ? m_recoder->GetAlignmentMode(0) : 1;
    m_pOut = out;
    Cursor c{in, inPos, outPos};
    const bool ok = Nested(toGKI, c, *fields);
    inPos = ClampToInt(c.inPos);
    outPos = ClampToInt(c.outPos);
    return ok;
}

BYTE* CEnumSizeConverter::Room(int64_t outPos, int64_t n)
{
    if (m_pOut) return m_pOut + outPos;
    if (m_work.size() < static_cast<size_t>(outPos + n)) m_work.resize(static_cast<size_t>(outPos + n), 0);
    return m_work.data() + outPos;
}

int CEnumSizeConverter::NestedAlignment(const CSvmNode& node)
{
    if (m_nAlignmentMode == 1) return (node.m_nAlignment == 2 || node.m_nAlignment == 4) ? node.m_nAlignment : 1;
    return 4;
}

bool CEnumSizeConverter::Nested(bool toGKI, Cursor& c, std::span<CSvmObject* const> fields)
{
    for (CSvmObject* field : fields) {
        if (!field) continue;
        const Step step = One(toGKI, c, *field);
        if (step == Step::end) return true;
        if (step == Step::fail) return false;
    }
    return true;
}

// A union variant walks as the enumeration it names (kind 1) or as a basic field (kind 2).
bool CEnumSizeConverter::UnionVariant(bool toGKI, Cursor& c, const CUnionVar& var)
{
    if (var.m_nKind == CUnionVar::kEnum) {
        CSvmObject* e = m_db ? m_db->FindEnumByName(var.m_strTypeName) : nullptr;
        return e ? Nested(toGKI, c, Only(e)) : true;
    }
    if (var.m_nKind == CUnionVar::kBasic) {
        CParms parms(var.m_strName, var.m_strTypeName, "", "");
        CSvmObject* p = &parms;
        return Nested(toGKI, c, Only(p));
    }
    return true;
}

CEnumSizeConverter::Step CEnumSizeConverter::PackBytes(Cursor& c, int align, int64_t n)
{
    c.inPos = Align(c.inPos, align);
    if (c.inPos + n > m_nInLength) return Step::end;
    if (c.outPos + n > m_nOutCapacity) return Step::fail;
    if (n > 0) std::memcpy(Room(c.outPos, n), c.in + c.inPos, static_cast<size_t>(n));
    c.inPos += n;
    c.outPos += n;
    return Step::next;
}

CEnumSizeConverter::Step CEnumSizeConverter::UnpackBytes(Cursor& c, int align, int64_t n)
{
    if (c.inPos + n > m_nInLimit) return Step::end;
    const int64_t at = Align(c.outPos, align);
    if (at + n > m_nOutCapacity) return Step::fail;
    c.outPos = at;
    if (n > 0) std::memcpy(Room(c.outPos, n), c.in + c.inPos, static_cast<size_t>(n));
    c.inPos += n;
    c.outPos += n;
    return Step::next;
}

CEnumSizeConverter::Step CEnumSizeConverter::PackEnum(Cursor& c, const CEnum* e)
{
    const int s = EnumWidth(e);
    c.inPos = Align(c.inPos, s);
    if (c.inPos + s > m_nInLength) return Step::end;
    if (c.outPos + 4 > m_nOutCapacity) return Step::fail;
    WriteLE(Room(c.outPos, 4), ReadLE(c.in + c.inPos, s), 4);
    c.inPos += s;
    c.outPos += 4;
    return Step::next;
}

CEnumSizeConverter::Step CEnumSizeConverter::UnpackEnum(Cursor& c, const CEnum* e, int recordedSize)
{
    if (c.inPos + recordedSize > m_nInLimit) return Step::end;
    const int s = EnumWidth(e);
    const int64_t at = Align(c.outPos, s);
    if (at + s > m_nOutCapacity) return Step::fail;
    c.outPos = at;
    // The GKI field is 4 bytes; a body that ends inside it gives only the bytes it has.
    WriteLE(Room(c.outPos, s), ReadLE(c.in + c.inPos, std::min<int64_t>(4, m_nInLimit - c.inPos)), s);
    c.inPos += 4;
    c.outPos += s;
    return Step::next;
}

// One descriptor, by its exact kind. Nested walks report nothing to this level: what
// they could not convert is left out, except a union towards GKI that consumed nothing.
CEnumSizeConverter::Step CEnumSizeConverter::One(bool toGKI, Cursor& c, CSvmObject& field)
{
    switch (field.GetKind()) {
        case CSvmObject::Kind::parms: {
            const int w = CSvmDb::BasicWidth(static_cast<CParms&>(field).m_strTypeName);
            return toGKI ? PackBytes(c, w, w) : UnpackBytes(c, w, w);
        }
        case CSvmObject::Kind::paramArray: {
            auto& a = static_cast<CParamArray&>(field);
            const size_t count = static_cast<size_t>(std::max(a.m_nCount, 0));
            if (a.m_nKind != CParamArray::kBasic) {
                Nested(toGKI, c, std::span(a.m_elements).first(std::min(a.m_elements.size(), count)));
                return Step::next;
            }
            // As many elements as the input holds (the native side aligned first).
            const int w = CSvmDb::BasicWidth(a.m_strElemTypeName);
            const int64_t left = std::max<int64_t>(0, m_nInLength - (toGKI ? Align(c.inPos, w) : c.inPos));
            const int64_t n = std::min<int64_t>(static_cast<int64_t>(count) * w, left);
            return toGKI ? PackBytes(c, w, n) : UnpackBytes(c, w, n);
        }
        case CSvmObject::Kind::unionType: {
            // The designated member stands for the union. When it consumes nothing, towards
            // native the union's bytes are copied as they are.
            auto& u = static_cast<CUnion&>(field);
            const int64_t before = c.inPos;
            if (u.m_pDesignated) Nested(toGKI, c, Only(u.m_pDesignated));
            if (c.inPos != before) return Step::next;
            return toGKI ? Step::fail : UnpackBytes(c, 1, std::max(u.m_nSize, 0));
        }
        case CSvmObject::Kind::enumParm: {
            auto& p = static_cast<CEnumParm&>(field);
            return toGKI ? PackEnum(c, p.m_pEnum) : UnpackEnum(c, p.m_pEnum, p.m_nRecordedSize);
        }
        case CSvmObject::Kind::enumType:
            return toGKI ? PackEnum(c, &static_cast<CEnum&>(field)) : UnpackEnum(c, &static_cast<CEnum&>(field), 4);
        case CSvmObject::Kind::node: {
            auto& node = static_cast<CSvmNode&>(field);
            int64_t& pos = toGKI ? c.inPos : c.outPos;  // only the native side is aligned
            pos = Align(pos, NestedAlignment(node));
            Nested(toGKI, c, node.m_fields);
            return Step::next;
        }
        case CSvmObject::Kind::unionVar:
            UnionVariant(toGKI, c, static_cast<CUnionVar&>(field));
            return Step::next;
    }
    return Step::next;
}

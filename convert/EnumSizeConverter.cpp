#include "convert/EnumSizeConverter.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Recoder.h"
#include "platform/Services.h"

namespace {
int64_t Align(int64_t p, int n)
{
    if (p >= 0 && n > 0 && (n & (n - 1)) == 0) return (p + n - 1) & ~static_cast<int64_t>(n - 1);
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

// Copies a field's bytes; most fields are a few bytes, for which a call costs more.
void CopyField(BYTE* to, const BYTE* from, int64_t n)
{
    switch (n) {
        case 1:
            *to = *from;
            return;
        case 2:
            std::memcpy(to, from, 2);
            return;
        case 4:
            std::memcpy(to, from, 4);
            return;
        default:
            std::memcpy(to, from, static_cast<size_t>(n));
    }
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
    return ConvertToBuffer(/*toGKI=*/true, id, in, inLength, out, outLength);
}

BOOL CEnumSizeConverter::ConvertFromGKI(unsigned int id, const unsigned char* in, int inLength,
                                        std::unique_ptr<unsigned char[]>& out, unsigned int& outLength, int /*offset*/)
{
    return ConvertToBuffer(/*toGKI=*/false, id, in, inLength, out, outLength);
}

bool CEnumSizeConverter::ConvertToGKI(unsigned int id, const unsigned char* in, int inLength,
                                      std::span<const BYTE>& out)
{
    return ConvertToView(/*toGKI=*/true, id, in, inLength, out);
}

bool CEnumSizeConverter::ConvertFromGKI(unsigned int id, const unsigned char* in, int inLength,
                                        std::span<const BYTE>& out)
{
    return ConvertToView(/*toGKI=*/false, id, in, inLength, out);
}

inline bool CEnumSizeConverter::ConvertToView(bool toGKI, unsigned int id, const unsigned char* in, int inLength,
                                              std::span<const BYTE>& out)
{
    size_t size = 0;
    if (!Convert(toGKI, id, in, inLength, size)) return false;
    out = std::span<const BYTE>(m_work.data(), size);
    return true;
}

NativeLayoutValues CEnumSizeConverter::GetLayoutValues()
{
    TakeServices();
    return m_recoder ? m_recoder->GetLayoutValues() : NativeLayoutValues();
}

void CEnumSizeConverter::TakeNewServices(uint64_t generation)
{
    m_recoder = Services::Recoder();
    m_db = Services::SignalDb();
    m_described[0].Clear();
    m_described[1].Clear();
    m_lastDescribed[0] = m_lastDescribed[1] = LastDescribed();
    m_widths.Clear();
    m_enums.Clear();
    m_nServices = generation;
    m_bServices = true;
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

inline const CEnumSizeConverter::Described* CEnumSizeConverter::Describe(bool toGKI, unsigned int id)
{
    const LastDescribed& last = m_lastDescribed[toGKI ? 1 : 0];
    return last.d && last.id == id ? last.d : DescribeAgain(toGKI, id);
}

const CEnumSizeConverter::Described* CEnumSizeConverter::DescribeAgain(bool toGKI, unsigned int id)
{
    LastDescribed& last = m_lastDescribed[toGKI ? 1 : 0];
    FlatMemo<uint32_t, Described>& described = m_described[toGKI ? 1 : 0];
    if (const Described* known = described.Find(id)) {
        last = {id, known};
        return known;
    }
    CString name;
    if (!FindName(toGKI, id, name)) return nullptr;
    // The first structure the database gives for the name is the body.
    CObList list;
    if (m_db) {
        int dummy = 0;
        m_db->DbLoader(1, nullptr, 1, 0);
        m_db->UpdateStructure(1, name, list, nullptr, dummy, 0, 0);
    }
    if (list.empty()) {
        m_strError.Format("Cannot locate '%s' in Signals Database", name.c_str());
        return nullptr;
    }
    Described d;
    if (list[0] && list[0]->GetKind() == CSvmObject::Kind::node) d.fields = &static_cast<CSvmNode*>(list[0])->m_fields;
    Plan(d);
    PlanStraight(toGKI, d);
    described.Add(id, std::move(d));
    last = {id, described.Find(id)};  // the memo's entries may have moved
    return last.d;
}

// A plan for a field list of basic fields, arrays of a basic type and enumerations only.
void CEnumSizeConverter::Plan(Described& d)
{
    if (!d.fields) return;
    for (CSvmObject* field : *d.fields) {
        if (!field) continue;
        Planned p{field->GetKind(), 0, 0, nullptr, 4};
        switch (p.kind) {
            case CSvmObject::Kind::parms:
                p.width = CSvmDb::BasicWidth(static_cast<CParms*>(field)->m_strTypeName);
                break;
            case CSvmObject::Kind::paramArray: {
                auto* a = static_cast<CParamArray*>(field);
                if (a->m_nKind != CParamArray::kBasic) return;
                p.width = CSvmDb::BasicWidth(a->m_strElemTypeName);
                p.count = std::max(a->m_nCount, 0);
                break;
            }
            case CSvmObject::Kind::enumParm:
                p.e = static_cast<CEnumParm*>(field)->m_pEnum;
                p.recordedSize = static_cast<CEnumParm*>(field)->m_nRecordedSize;
                break;
            case CSvmObject::Kind::enumType:
                p.e = static_cast<CEnum*>(field);
                break;
            default:
                return;  // nested structures and unions walk by their descriptors
        }
        d.plan.push_back(p);
    }
    d.planned = true;
}

// The plan walked once over an input that holds every field, as the field-by-field walk
// goes: where each field is read and written, and how long an input must be.
void CEnumSizeConverter::PlanStraight(bool toGKI, Described& d)
{
    constexpr int64_t kMost = 1 << 20;  // longer bodies walk field by field
    if (!d.planned) return;
    Straight st;
    int64_t in = 0, out = 0;
    for (const Planned& p : d.plan) {
        StraightStep step{};
        int64_t inAt = in, outAt = out, need = 0, inNext = 0, outNext = 0;
        if (p.kind == CSvmObject::Kind::parms || p.kind == CSvmObject::Kind::paramArray) {
            if (p.width < 0) return;
            const int64_t n = p.kind == CSvmObject::Kind::parms ? p.width : p.count * p.width;
            (toGKI ? inAt : outAt) = Align(toGKI ? in : out, p.width);
            need = inAt + n, inNext = inAt + n, outNext = outAt + n;
            step.width = static_cast<int32_t>(std::min(n, kMost));
        } else {
            const int s = EnumWidth(p.e);
            (toGKI ? inAt : outAt) = Align(toGKI ? in : out, s);
            // Towards native all four bytes of the field are read.
            need = toGKI ? inAt + s : inAt + std::max(p.recordedSize, 4);
            step.inWidth = toGKI ? s : 4;
            step.outWidth = toGKI ? 4 : s;
            inNext = inAt + step.inWidth, outNext = outAt + step.outWidth;
            step.enumWidth = s;
            step.e = p.e;
        }
        if (need > kMost || outNext > kMost) return;
        st.gaps = st.gaps || outAt > out;
        st.inNeed = std::max(st.inNeed, need);
        step.in = static_cast<int32_t>(inAt);
        step.out = static_cast<int32_t>(outAt);
        StraightStep* last = st.steps.empty() ? nullptr : &st.steps.back();
        if (last && step.width && last->width && last->in + last->width == step.in &&
            last->out + last->width == step.out)
            last->width += step.width;  // one copy for fields back to back on both sides
        else if (step.width || step.e || step.inWidth)
            st.steps.push_back(step);
        in = inNext, out = outNext;
    }
    st.outEnd = out;
    st.usable = true;
    d.straight = std::move(st);
}

// Enumerations must still be as wide as planned; a shorter input or a smaller capacity
// walks field by field.
inline bool CEnumSizeConverter::WalkStraight(const Described& d, const unsigned char* in, int inLength, size_t& size)
{
    const Straight& st = d.straight;
    if (!st.usable || inLength < st.inNeed || st.outEnd > m_nOutCapacity) return false;
    for (const StraightStep& s : st.steps)
        if (!s.width && EnumWidth(s.e) != s.enumWidth) return false;
    m_pOut = nullptr;
    BYTE* out = Room(0, st.outEnd);
    if (st.gaps) std::memset(out, 0, static_cast<size_t>(st.outEnd));
    for (const StraightStep& s : st.steps) {
        if (s.width)
            CopyField(out + s.out, in + s.in, s.width);
        else
            WriteLE(out + s.out, ReadLE(in + s.in, s.inWidth), s.outWidth);
    }
    size = static_cast<size_t>(st.outEnd);
    return true;
}

inline bool CEnumSizeConverter::Convert(bool toGKI, unsigned int id, const unsigned char* in, int inLength,
                                        size_t& size)
{
    TakeServices();
    m_nInLength = inLength;
    const Described* d = Describe(toGKI, id);
    if (!d) return false;

    m_nOutCapacity = ClampToInt(static_cast<int64_t>(toGKI ? 4 : 10) * std::max(inLength, 0));
    if (!toGKI) m_nInLimit = inLength;
    m_nWorkUsed = 0;
    if (WalkStraight(*d, in, inLength, size)) return true;
    int inPos = 0, outPos = 0;
    struct DatabaseWalk {
        bool& on;
        explicit DatabaseWalk(bool& b) : on(b) { on = true; }
        ~DatabaseWalk() { on = false; }
    } databaseWalk(m_bDatabaseWalk);
    if (!Walk(toGKI, in, nullptr, inPos, outPos, d->fields, d->planned ? &d->plan : nullptr)) {
        m_strError = WalkErrorText(id);
        return false;
    }
    // A trailing alignment may leave the position past the last byte written: a gap.
    size = static_cast<size_t>(std::max(outPos, 0));
    Room(static_cast<int64_t>(size), 0);
    return true;
}

BOOL CEnumSizeConverter::ConvertToBuffer(bool toGKI, unsigned int id, const unsigned char* in, int inLength,
                                         std::unique_ptr<unsigned char[]>& out, unsigned int& outLength)
{
    size_t size = 0;
    if (!Convert(toGKI, id, in, inLength, size)) return FALSE;
    out = std::make_unique<unsigned char[]>(size);
    if (size) std::memcpy(out.get(), m_work.data(), size);
    outLength = static_cast<unsigned int>(size);
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
                              CObList* fields, const std::vector<Planned>* plan)
{
    if (!fields) return false;
    if (!m_recoder) m_recoder = Services::Recoder();
    if (!m_db) m_db = Services::SignalDb();
    m_nAlignmentMode = m_recoder ? m_recoder->GetAlignmentMode(0) : 1;
    m_pOut = out;
    Cursor c{in, inPos, outPos};
    const bool ok = plan ? NestedPlan(toGKI, c, *plan) : Nested(toGKI, c, *fields);
    inPos = ClampToInt(c.inPos);
    outPos = ClampToInt(c.outPos);
    return ok;
}

inline BYTE* CEnumSizeConverter::Room(int64_t outPos, int64_t n)
{
    if (m_pOut) return m_pOut + outPos;
    // Positions only grow: bytes between the last written and `outPos` are a gap of zeros.
    const size_t at = static_cast<size_t>(outPos), end = static_cast<size_t>(outPos + n);
    if (m_work.size() < end) m_work.resize(std::max(end, 2 * m_work.size()));
    if (at > m_nWorkUsed) std::memset(m_work.data() + m_nWorkUsed, 0, at - m_nWorkUsed);
    m_nWorkUsed = std::max(m_nWorkUsed, end);
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

// The same walk as Nested, over a plan.
bool CEnumSizeConverter::NestedPlan(bool toGKI, Cursor& cursor, const std::vector<Planned>& plan)
{
    // A copy the steps can keep in registers, taken and given back field by field (a
    // copy of the whole would read fields just written one by one at once, and wait).
    Cursor c{cursor.in, cursor.inPos, cursor.outPos};
    bool ok = true;
    for (const Planned& p : plan) {
        Step step;
        switch (p.kind) {
            case CSvmObject::Kind::parms:
                step = Basic(toGKI, c, p.width);
                break;
            case CSvmObject::Kind::paramArray:
                step = BasicArray(toGKI, c, p.width, p.count);
                break;
            default:
                step = Enumeration(toGKI, c, p.e, p.recordedSize);
                break;
        }
        if (step == Step::end) break;
        if (step == Step::fail) {
            ok = false;
            break;
        }
    }
    cursor.inPos = c.inPos;
    cursor.outPos = c.outPos;
    return ok;
}

// A union variant walks as the enumeration it names (kind 1) or as a basic field (kind 2).
bool CEnumSizeConverter::UnionVariant(bool toGKI, Cursor& c, const CUnionVar& var)
{
    if (var.m_nKind == CUnionVar::kEnum) {
        CSvmObject* e = EnumOf(var);
        return e ? Nested(toGKI, c, Only(e)) : true;
    }
    if (var.m_nKind == CUnionVar::kBasic) {
        // As a basic field of the variant's type.
        return Basic(toGKI, c, Width(var, var.m_strTypeName)) != Step::fail;
    }
    return true;
}

int CEnumSizeConverter::Width(const CSvmObject& field, const CString& typeName)
{
    if (!m_bDatabaseWalk) return CSvmDb::BasicWidth(typeName);
    if (const int* known = m_widths.Find(&field)) return *known;
    const int w = CSvmDb::BasicWidth(typeName);
    m_widths.Add(&field, w);
    return w;
}

CSvmObject* CEnumSizeConverter::EnumOf(const CUnionVar& var)
{
    if (!m_db) return nullptr;
    if (!m_bDatabaseWalk) return m_db->FindEnumByName(var.m_strTypeName);
    if (CSvmObject* const* known = m_enums.Find(&var)) return *known;
    CSvmObject* e = m_db->FindEnumByName(var.m_strTypeName);
    m_enums.Add(&var, e);
    return e;
}

inline CEnumSizeConverter::Step CEnumSizeConverter::PackBytes(Cursor& c, int align, int64_t n)
{
    c.inPos = Align(c.inPos, align);
    if (c.inPos + n > m_nInLength) return Step::end;
    if (c.outPos + n > m_nOutCapacity) return Step::fail;
    if (n > 0) CopyField(Room(c.outPos, n), c.in + c.inPos, n);
    c.inPos += n;
    c.outPos += n;
    return Step::next;
}

inline CEnumSizeConverter::Step CEnumSizeConverter::UnpackBytes(Cursor& c, int align, int64_t n)
{
    if (c.inPos + n > m_nInLimit) return Step::end;
    const int64_t at = Align(c.outPos, align);
    if (at + n > m_nOutCapacity) return Step::fail;
    c.outPos = at;
    if (n > 0) CopyField(Room(c.outPos, n), c.in + c.inPos, n);
    c.inPos += n;
    c.outPos += n;
    return Step::next;
}

inline CEnumSizeConverter::Step CEnumSizeConverter::PackEnum(Cursor& c, const CEnum* e)
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

inline CEnumSizeConverter::Step CEnumSizeConverter::UnpackEnum(Cursor& c, const CEnum* e, int recordedSize)
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

inline CEnumSizeConverter::Step CEnumSizeConverter::Basic(bool toGKI, Cursor& c, int w)
{
    return toGKI ? PackBytes(c, w, w) : UnpackBytes(c, w, w);
}

// As many elements as the input holds (the native side aligned first).
inline CEnumSizeConverter::Step CEnumSizeConverter::BasicArray(bool toGKI, Cursor& c, int w, int64_t count)
{
    const int64_t left = std::max<int64_t>(0, m_nInLength - (toGKI ? Align(c.inPos, w) : c.inPos));
    const int64_t n = std::min<int64_t>(count * w, left);
    return toGKI ? PackBytes(c, w, n) : UnpackBytes(c, w, n);
}

inline CEnumSizeConverter::Step CEnumSizeConverter::Enumeration(bool toGKI, Cursor& c, const CEnum* e,
                                                                int recordedSize)
{
    return toGKI ? PackEnum(c, e) : UnpackEnum(c, e, recordedSize);
}

// One descriptor, by its exact kind. Nested walks report nothing to this level: what
// they could not convert is left out, except a union towards GKI that consumed nothing.
CEnumSizeConverter::Step CEnumSizeConverter::One(bool toGKI, Cursor& c, CSvmObject& field)
{
    switch (field.GetKind()) {
        case CSvmObject::Kind::parms:
            return Basic(toGKI, c, Width(field, static_cast<CParms&>(field).m_strTypeName));
        case CSvmObject::Kind::paramArray: {
            auto& a = static_cast<CParamArray&>(field);
            const size_t count = static_cast<size_t>(std::max(a.m_nCount, 0));
            if (a.m_nKind != CParamArray::kBasic) {
                Nested(toGKI, c, std::span(a.m_elements).first(std::min(a.m_elements.size(), count)));
                return Step::next;
            }
            return BasicArray(toGKI, c, Width(field, a.m_strElemTypeName), static_cast<int64_t>(count));
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
            return Enumeration(toGKI, c, p.m_pEnum, p.m_nRecordedSize);
        }
        case CSvmObject::Kind::enumType:
            return Enumeration(toGKI, c, &static_cast<CEnum&>(field), 4);
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

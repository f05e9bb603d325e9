#pragma once
// CEnumSizeConverter: converts a signal body between its native layout and the GKI layout
// by walking the signal database's description of the signal field by field.
//
//   native  every field aligned to its own width, nested structures aligned by the
//           alignment mode, enumerations as wide as the database says (1, 2 or 4 bytes)
//   GKI     packed, no alignment gaps, every enumeration 4 bytes (zero-extended)
//
// A body shorter than its description converts up to the last field that fits and
// counts as a success. The converter reads names and layout values from the Recoder and
// descriptions from the signal database, both from the host-services registry; it owns
// no descriptor. It keeps the services and the descriptions it found by signal
// identifier until the host installs other services. One converter serves one thread.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "convert/FlatMemo.h"
#include "framework/Object.h"
#include "framework/String.h"
#include "framework/Types.h"
#include "platform/Recoder.h"
#include "platform/Services.h"
#include "platform/SignalDb.h"

class CEnumSizeConverter : public CObject {
public:
    CEnumSizeConverter();
    ~CEnumSizeConverter() override;
    CEnumSizeConverter(const CEnumSizeConverter&) = delete;
    CEnumSizeConverter& operator=(const CEnumSizeConverter&) = delete;

    // Native body of signal `id` -> GKI body. On success `out` holds `outLength` new
    // bytes; on failure m_strError says why and `out`, `outLength` are left as they were.
    // `offset` (the body's offset in the native header) is not used.
    BOOL ConvertToGKI(unsigned int id, const unsigned char* in, int inLength, std::unique_ptr<unsigned char[]>& out,
                      unsigned int& outLength, int offset);
    // GKI body -> native body, with the same conventions; a signal the Recoder does not
    // name is looked up by its alternative name too.
    BOOL ConvertFromGKI(unsigned int id, const unsigned char* in, int inLength, std::unique_ptr<unsigned char[]>& out,
                        unsigned int& outLength, int offset);
    // The same conversions without a new buffer: on success `out` views the result, valid
    // until the next conversion; on failure m_strError says why and `out` is left alone.
    bool ConvertToGKI(unsigned int id, const unsigned char* in, int inLength, std::span<const BYTE>& out);
    bool ConvertFromGKI(unsigned int id, const unsigned char* in, int inLength, std::span<const BYTE>& out);
    // The Recoder's layout values S, I, E and L, each asked with 0.
    NativeLayoutValues GetLayoutValues();

    // "Error converting signal body for signal ID - 0x%8.8x" for `id`.
    static CString WalkErrorText(unsigned int id);

    // The walks: `out` holds at least m_nOutCapacity bytes. False only when the output
    // would overflow, a field list is missing, or (towards GKI) a union consumed nothing;
    // true when the fields are done or the input is exhausted.
    bool PackFields(const unsigned char* in, unsigned char* out, int& inPos, int& outPos, CObList* fields);
    bool UnpackFields(const unsigned char* in, unsigned char* out, int& inPos, int& outPos, CObList* fields);

    CString m_strError;      // text of the last failure
    int m_nOutCapacity = 0;  // output capacity: 4 x input towards GKI, 10 x input towards native
    int m_nInLimit = 0;      // input length, bound of the walk towards native
    int m_nInLength = 0;     // input length of the running conversion

private:
    enum class Step { next, end, fail };
    struct Cursor {
        const BYTE* in;
        int64_t inPos;
        int64_t outPos;
    };
    // A field of a signal whose fields are all basic fields, arrays of a basic type or
    // enumerations, with what its walk needs found out once.
    struct Planned {
        CSvmObject::Kind kind;
        int width;         // basic fields and arrays
        int64_t count;     // arrays: elements
        const CEnum* e;    // enumerations
        int recordedSize;  // enumerations
    };
    // One step of a straight walk: `width` bytes copied, or an enumeration of `e` (taken
    // as `inWidth` bytes wide when planned) read and written `outWidth` bytes wide.
    struct StraightStep {
        int32_t in, out;
        int32_t width;  // a copy: its bytes; an enumeration: 0
        int32_t inWidth, outWidth, enumWidth;
        const CEnum* e;
    };
    // A plan's walk over an input that holds every field, worked out once: the same
    // bytes at the same places, for an input of at least `inNeed` bytes.
    struct Straight {
        bool usable = false;
        bool gaps = false;  // alignment gaps in the output, zero-filled
        int64_t inNeed = 0;
        int64_t outEnd = 0;
        std::vector<StraightStep> steps;
    };
    struct Described {
        CObList* fields = nullptr;  // null when the description is not a structure
        bool planned = false;       // the walk goes by `plan`
        std::vector<Planned> plan;
        Straight straight;
    };

    // Converts into the work buffer: its first `size` bytes are the result.
    bool Convert(bool toGKI, unsigned int id, const unsigned char* in, int inLength, size_t& size);
    bool ConvertToView(bool toGKI, unsigned int id, const unsigned char* in, int inLength, std::span<const BYTE>& out);
    BOOL ConvertToBuffer(bool toGKI, unsigned int id, const unsigned char* in, int inLength,
                         std::unique_ptr<unsigned char[]>& out, unsigned int& outLength);
    // The Recoder and the database as installed now; what was found in others is dropped.
    void TakeServices()
    {
        // The generation first: services installed after it make the next call look again.
        const uint64_t generation = Services::Generation();
        if (!m_bServices || generation != m_nServices) TakeNewServices(generation);
    }
    void TakeNewServices(uint64_t generation);
    // The field list of signal `id` (null when its description is not a structure);
    // false, with m_strError set, when the signal has no description.
    const Described* Describe(bool toGKI, unsigned int id);
    const Described* DescribeAgain(bool toGKI, unsigned int id);  // not the last one described
    static void Plan(Described& d);
    static void PlanStraight(bool toGKI, Described& d);
    // The straight walk of `d` when it applies to this input: true with `size` set.
    bool WalkStraight(const Described& d, const unsigned char* in, int inLength, size_t& size);
    bool FindName(bool toGKI, unsigned int id, CString& name);
    bool Walk(bool toGKI, const unsigned char* in, unsigned char* out, int& inPos, int& outPos, CObList* fields,
              const std::vector<Planned>* plan = nullptr);
    // Walks a field list; false when a step at this level fails.
    bool Nested(bool toGKI, Cursor& c, std::span<CSvmObject* const> fields);
    bool NestedPlan(bool toGKI, Cursor& c, const std::vector<Planned>& plan);
    Step One(bool toGKI, Cursor& c, CSvmObject& field);
    // The steps of a basic field, an array of a basic type and an enumeration.
    Step Basic(bool toGKI, Cursor& c, int w);
    Step BasicArray(bool toGKI, Cursor& c, int w, int64_t count);
    Step Enumeration(bool toGKI, Cursor& c, const CEnum* e, int recordedSize);
    bool UnionVariant(bool toGKI, Cursor& c, const CUnionVar& var);
    Step PackBytes(Cursor& c, int align, int64_t n);
    Step UnpackBytes(Cursor& c, int align, int64_t n);
    Step PackEnum(Cursor& c, const CEnum* e);
    Step UnpackEnum(Cursor& c, const CEnum* e, int recordedSize);
    int NestedAlignment(const CSvmNode& node);
    // The width of a basic type named by `field`: remembered by descriptor while the walk
    // is over the database's descriptors.
    int Width(const CSvmObject& field, const CString& typeName);
    // The enumeration a union variant names, remembered the same way.
    CSvmObject* EnumOf(const CUnionVar& var);
    BYTE* Room(int64_t outPos, int64_t n);

    std::shared_ptr<CConverter> m_recoder;
    std::shared_ptr<CSvmDb> m_db;
    uint64_t m_nServices = 0;  // the services generation m_recoder and m_db are of
    bool m_bServices = false;
    // Signals described so far, by identifier, towards native [0] and towards GKI [1].
    FlatMemo<uint32_t, Described> m_described[2];
    // The last signal described in each direction (valid until its memo changes).
    struct LastDescribed {
        uint32_t id = 0;
        const Described* d = nullptr;
    } m_lastDescribed[2];
    // What the walks found out about the database's descriptors (true while one runs
    // over them): widths of basic types, enumerations of union variants.
    bool m_bDatabaseWalk = false;
    FlatMemo<const CSvmObject*, int> m_widths;
    FlatMemo<const CSvmObject*, CSvmObject*> m_enums;
    int m_nAlignmentMode = 1;
    // The output of the running walk: a caller's buffer, or the work buffer that grows
    // with what is written (so memory follows the description, not the capacity); its
    // first m_nWorkUsed bytes are written.
    unsigned char* m_pOut = nullptr;
    std::vector<BYTE> m_work;
    size_t m_nWorkUsed = 0;
};

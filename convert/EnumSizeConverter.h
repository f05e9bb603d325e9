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
// no descriptor. One converter serves one thread.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "framework/Object.h"
#include "framework/String.h"
#include "framework/Types.h"
#include "platform/SignalDb.h"

class CConverter;

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

    BOOL Convert(bool toGKI, unsigned int id, const unsigned char* in, int inLength,
                 std::unique_ptr<unsigned char[]>& out, unsigned int& outLength);
    bool FindName(bool toGKI, unsigned int id, CString& name);
    bool Walk(bool toGKI, const unsigned char* in, unsigned char* out, int& inPos, int& outPos, CObList* fields);
    // Walks a field list; false when a step at this level fails.
    bool Nested(bool toGKI, Cursor& c, std::span<CSvmObject* const> fields);
    Step One(bool toGKI, Cursor& c, CSvmObject& field);
    bool UnionVariant(bool toGKI, Cursor& c, const CUnionVar& var);
    Step PackBytes(Cursor& c, int align, int64_t n);
    Step UnpackBytes(Cursor& c, int align, int64_t n);
    Step PackEnum(Cursor& c, const CEnum* e);
    Step UnpackEnum(Cursor& c, const CEnum* e, int recordedSize);
    int NestedAlignment(const CSvmNode& node);
    BYTE* Room(int64_t outPos, int64_t n);

    std::shared_ptr<CConverter> m_recoder;
    std::shared_ptr<CSvmDb> m_db;
    int m_nAlignmentMode = 1;
    // The output of the running walk: a caller's buffer, or the work buffer that grows
    // with what is written (so memory follows the description, not the capacity).
    unsigned char* m_pOut = nullptr;
    std::vector<BYTE> m_work;
};

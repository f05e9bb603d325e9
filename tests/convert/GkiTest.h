#pragma once
// Shared set-up of the GKI tests: a small signal database written for them, installed with
// a Recoder over it; conversions as byte vectors; records stored into and read back
// from files.
#include <memory>
#include <string>
#include <vector>

#include "convert/EnumSizeConverter.h"
#include "convert/GKIRec.h"
#include "convert/GKISignalRecReader.h"
#include "framework/Archive.h"
#include "framework/File.h"
#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "tests/support/LogFileBytes.h"
#include "tests/support/TestEnv.h"

// Layout S 2, I 4, alignment mode 1 (E 2), L 2.
inline const char* kGkiTestSignals = R"({
  "layout": {"header_field_size": 2, "signal_id_size": 4, "alignment_mode": 1, "layout_shift": 2},
  "enums": [
    {"name": "E1", "size": 1, "values": {"A": 68}},
    {"name": "E2", "size": 2, "values": {"B": 4660}}
  ],
  "signals": [
    {"id": 4096, "name": "STRUCT_IND", "fields": [
      {"name": "a", "type": "char"}, {"name": "b", "type": "short"},
      {"name": "e", "enum": "E1"}, {"name": "c", "type": "int"}]},
    {"id": 4097, "name": "ENUM16_IND", "fields": [{"name": "v", "enum": "E2"}]},
    {"id": 4098, "name": "SHORTS_IND", "fields": [{"name": "s", "array": {"type": "short", "count": 10}}]},
    {"id": 4099, "name": "NESTED_IND", "alt_name": "NESTED_ALT", "fields": [
      {"name": "a", "type": "char"},
      {"name": "inner", "struct": {"alignment": 1, "fields": [{"name": "b", "type": "char"}]}}]},
    {"id": 4100, "name": "UNION_IND", "fields": [
      {"name": "a", "type": "int"},
      {"name": "u", "union": {"size": 4, "members": [{"name": "x", "type": "int"}]}}]},
    {"id": 4101, "name": "THREE_IND", "fields": [{"name": "t", "array": {"type": "char", "count": 3}}]},
    {"id": 42, "name": "ARGS_IND", "fields": [{"name": "args", "array": {"type": "char", "count": 8}}]}
  ]
})";

// Knows NESTED_IND only by its alternative name, and names 0x2000 "GHOST", which the
// database does not hold.
class CPartialRecoder : public CConverter {
public:
    using CConverter::CConverter;
    bool GetSignalName(uint32_t id, CString& name) override
    {
        if (id == kGhostId) name = "GHOST";
        return id == kGhostId || (id != kAltOnlyId && CConverter::GetSignalName(id, name));
    }
    static constexpr uint32_t kAltOnlyId = 4099, kGhostId = 0x2000;
};

class GkiFixture : public HostFixture {
protected:
    GkiFixture() { Install(std::make_shared<CConverter>(db)); }

    void Install(std::shared_ptr<CConverter> recoder)
    {
        m_scoped.reset();
        HostServices s = Services::Current();
        s.signalDb = db;
        s.recoder = std::move(recoder);
        m_scoped = std::make_unique<CScopedServices>(s);
    }
    void SetLayout(int S, int I, int mode, int L)
    {
        db->m_nHeaderFieldSize = S, db->m_nSignalIdSize = I, db->m_nAlignmentMode = mode, db->m_nLayoutShift = L;
    }

    // A conversion either way: the bytes, or the error text (the outputs left as they were).
    struct Converted {
        Bytes bytes;
        CString error;
    };
    Converted Convert(bool toGKI, uint32_t id, const Bytes& in)
    {
        std::unique_ptr<unsigned char[]> out;
        unsigned int length = 12345;
        const int n = static_cast<int>(in.size());
        if (toGKI ? converter.ConvertToGKI(id, in.data(), n, out, length, 0)
                  : converter.ConvertFromGKI(id, in.data(), n, out, length, 0))
            return {Bytes(out.get(), out.get() + length), ""};
        EXPECT_TRUE(out == nullptr && length == 12345u);
        return {{}, converter.m_strError};
    }
    Converted ToGKI(uint32_t id, const Bytes& in) { return Convert(/*toGKI=*/true, id, in); }
    Converted FromGKI(uint32_t id, const Bytes& in) { return Convert(/*toGKI=*/false, id, in); }

    // The bytes that storing records write.
    Bytes Stored(const std::vector<CGKIRec*>& records)
    {
        const std::string path = Path("out.gki");
        {
            CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
            CArchive ar(&file, CArchive::store);
            for (CGKIRec* r : records) r->Serialize(ar);
            ar.Close();
        }
        return ReadAll(path);
    }
    // Reads a GKI file with one fresh archive per record, as an import does.
    std::vector<std::unique_ptr<CVESKMessage>> ReadBack(const Bytes& gki, CGKISignalRecReader& reader)
    {
        const std::string path = Path("in.gki");
        WriteAll(path, gki);
        CFile file(path.c_str(), CFile::modeRead);
        std::vector<std::unique_ptr<CVESKMessage>> out;
        while (file.GetPosition() < file.GetLength()) {
            CArchive ar(&file, CArchive::load);
            reader.Serialize(ar);
            ar.Close();
            out.push_back(reader.GetMessage());
        }
        return out;
    }

    std::shared_ptr<CSvmDb> db = CSvmDb::LoadFromText(kGkiTestSignals, "GKI test signals");
    CEnumSizeConverter converter;

private:
    std::unique_ptr<CScopedServices> m_scoped;
};

// Little-endian bytes of a value, for writing expected bytes by hand.
inline Bytes LE(uint64_t v, int width)
{
    Bytes b;
    for (int i = 0; i < width; ++i) b.push_back(static_cast<BYTE>(i < 8 ? v >> (8 * i) : 0));
    return b;
}

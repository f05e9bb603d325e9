// The enum-size converter against bodies written out by hand.
#include "tests/convert/ConvertTest.h"

namespace {
using ConverterTest = GkiFixture;

constexpr uint32_t kStruct = 4096, kEnum16 = 4097, kShorts = 4098, kNested = 4099, kUnion = 4100;
constexpr BYTE G = 0xEE;  // a native gap byte: never carried over
}  // namespace

TEST_F(ConverterTest, StructureOfCharShortEnumIntBothWays)
{
    // Natively a at 0, b at 2, e (1 byte) at 4, c at 8; packed a, b, e as 4 bytes, c at 7.
    const Bytes native = {0x11, G, 0x22, 0x33, 0x44, G, G, G, 0x55, 0x66, 0x77, 0x88};
    const Bytes gki = {0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0x55, 0x66, 0x77, 0x88};
    EXPECT_EQ(ToGKI(kStruct, native).bytes, gki);
    EXPECT_EQ(converter.m_nOutCapacity, 4 * 12);
    EXPECT_EQ(FromGKI(kStruct, gki).bytes, (Bytes{0x11, 0, 0x22, 0x33, 0x44, 0, 0, 0, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(std::make_pair(converter.m_nOutCapacity, converter.m_nInLimit), std::make_pair(10 * 11, 11));

    // A 2-byte enumeration is widened to 4 and narrowed back.
    EXPECT_EQ(ToGKI(kEnum16, {0x34, 0x12}).bytes, (Bytes{0x34, 0x12, 0, 0}));
    EXPECT_EQ(FromGKI(kEnum16, {0x34, 0x12, 0, 0}).bytes, (Bytes{0x34, 0x12}));
    // A signal walked before goes by the width its enumeration has now.
    db->FindEnumByName("E2")->m_nSize = 1;
    EXPECT_EQ(ToGKI(kEnum16, {0x34, 0x12}).bytes, (Bytes{0x34, 0, 0, 0}));
    EXPECT_EQ(FromGKI(kEnum16, {0x34, 0x12, 0, 0}).bytes, (Bytes{0x34}));
}

// Bodies shorter than their description convert what fits; a nested structure under both
// alignment modes.
TEST_F(ConverterTest, ShortBodiesAndNestedStructures)
{
    struct Case {
        bool toGKI;
        uint32_t id;
        Bytes in, out;
        int mode = 1;
    } cases[] = {
        // 6 native bytes of a 12-byte description: a, b and e fit, c does not.
        {true, kStruct, {0x11, G, 0x22, 0x33, 0x44, G}, {0x11, 0x22, 0x33, 0x44, 0, 0, 0}},
        // An enumeration cut short in a GKI body gives the bytes present, then the walk ends.
        {false, kStruct, {0x11, 0x22, 0x33, 0x44, 0}, {0x11, 0, 0x22, 0x33, 0x44}},
        {false, kStruct, {0x11, 0x22, 0x33, 0x44}, {0x11, 0, 0x22, 0x33, 0x44}},
        // 10 shorts with 6 bytes left copy those 6 bytes.
        {true, kShorts, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {false, kShorts, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        // A union whose designated member finds no input copies nothing towards native.
        {false, kUnion, {1, 2, 3, 4}, {1, 2, 3, 4}},
        // Mode 1: a structure of alignment 1 follows at once; any other mode: the next multiple of 4.
        {true, kNested, {0xAA, 0xBB}, {0xAA, 0xBB}},
        {false, kNested, {0xAA, 0xBB}, {0xAA, 0xBB}},
        {true, kNested, {0xAA, G, G, G, 0xBB}, {0xAA, 0xBB}, 0},
        {false, kNested, {0xAA, 0xBB}, {0xAA, 0, 0, 0, 0xBB}, 0},
    };
    for (const Case& c : cases) {
        db->m_nAlignmentMode = c.mode;
        const Converted r = Convert(c.toGKI, c.id, c.in);
        EXPECT_EQ(r.bytes, c.out) << r.error << " in case " << &c - cases;
    }
}

// Failures say why and leave the outputs alone; the signals are looked up again after other
// services are installed.
TEST_F(ConverterTest, FailuresSayWhyAndSignalsAreLookedUpAgainUnderOtherServices)
{
    // Towards GKI a union that consumes nothing fails (here the body ends before it).
    EXPECT_EQ(ToGKI(kUnion, {1, 2, 3, 4}).error, "Error converting signal body for signal ID - 0x00001004");
    EXPECT_EQ(ToGKI(0x1234, {1}).error, "No such ID : 0x00001234");
    db->m_nSignalIdSize = 2;
    EXPECT_EQ(FromGKI(0x1234, {1}).error, "No such ID : 0x1234");
    db->m_nSignalIdSize = 4;

    // Found through the first Recoder; then, towards native only, through one that knows it
    // by its alternative name alone.
    EXPECT_EQ(ToGKI(CPartialRecoder::kAltOnlyId, {0xAA, 0xBB}).bytes, (Bytes{0xAA, 0xBB}));
    Install(std::make_shared<CPartialRecoder>(db));
    EXPECT_EQ(ToGKI(CPartialRecoder::kAltOnlyId, {0xAA, 0xBB}).error, "No such ID : 0x00001003");
    EXPECT_EQ(FromGKI(CPartialRecoder::kAltOnlyId, {0xAA, 0xBB}).bytes, (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(ToGKI(CPartialRecoder::kGhostId, {1}).error, "Cannot locate 'GHOST' in Signals Database");
    // A database with another description under the same identifier.
    db = CSvmDb::LoadFromText(R"({"signals": [{"id": 4099, "name": "NESTED_IND", "fields": [
                                   {"name": "w", "type": "int"}]}]})",
                              "other");
    Install(std::make_shared<CConverter>(db));
    EXPECT_EQ(ToGKI(CPartialRecoder::kAltOnlyId, {1, 2, 3, 4, 5}).bytes, (Bytes{1, 2, 3, 4}));
}

TEST_F(ConverterTest, WalksOfHandMadeDescriptors)
{
    const Bytes in = {1, 2, 3, 4, 5, 6, 7, 8};
    // One walk from the start of `in` into an output of `capacity` bytes: the result and what it wrote.
    auto walk = [&](bool toGKI, CObList fields, int capacity = 32) {
        Bytes out(32, 0);
        int inPos = 0, outPos = 0;
        converter.m_nInLength = converter.m_nInLimit = 8;
        converter.m_nOutCapacity = capacity;
        const bool ok = toGKI ? converter.PackFields(in.data(), out.data(), inPos, outPos, &fields)
                              : converter.UnpackFields(in.data(), out.data(), inPos, outPos, &fields);
        return std::make_pair(ok, Bytes(out.begin(), out.begin() + outPos));
    };
    // The width comes from the type name: "char" anywhere before "short", else 4.
    const std::pair<const char*, Bytes> widths[] = {
        {"unsigned char", {1, 2}}, {"signed char", {1, 2}},   {"unsigned short", {1, 3, 4}},
        {"short char", {1, 2}},    {"long", {1, 5, 6, 7, 8}}, {"float", {1, 5, 6, 7, 8}},
    };
    for (const auto& [type, packed] : widths) {
        CParms first("x", "char"), second("y", type);
        EXPECT_EQ(walk(true, {&first, &second}), std::make_pair(true, packed)) << type;
    }

    // A union whose designated member lays out nothing (an enumeration the database does
    // not hold): towards GKI the walk fails, towards native the union's 3 bytes are copied.
    CUnionVar var;
    var.m_nKind = CUnionVar::kEnum;
    var.m_strTypeName = "NoSuchEnum";
    CUnion u;
    u.m_pDesignated = &var;
    u.m_nSize = 3;
    EXPECT_FALSE(walk(true, {&u}).first);
    EXPECT_EQ(walk(false, {&u}), std::make_pair(true, Bytes{1, 2, 3}));

    // An overflow fails its own level only; a nested structure's failure is ignored.
    CParms wide("w", "int");
    CSvmNode node;
    node.m_fields = {&wide};
    for (bool toGKI : {true, false}) {
        EXPECT_FALSE(walk(toGKI, {&wide}, /*capacity=*/2).first);
        EXPECT_EQ(walk(toGKI, {&node}, /*capacity=*/2), std::make_pair(true, Bytes{}));
    }
}

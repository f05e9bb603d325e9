#include <gtest/gtest.h>

#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "tests/support/TestEnv.h"

namespace {
std::shared_ptr<CSvmDb> Bundled()
{
    return CSvmDb::LoadFromFile(CString(VKL_SOURCE_DIR) + "/data/signals.json");
}

std::string LoadError(const std::string& json)
{
    try {
        CSvmDb::LoadFromText(json, "test.json");
    } catch (const CSignalDbException& e) {
        return e.GetErrorMessage().str();
    }
    return "(loaded)";
}

// "path@offset/size" for every leaf of a signal's native layout, and the total size.
std::string Layout(const CSvmDb& db, const char* signal)
{
    const SignalInfo* s = db.FindSignalByName(signal);
    if (!s) return "(no signal)";
    std::vector<NativeField> fields;
    const int size = db.NativeLayout(*s->body, fields);
    std::string out;
    for (const NativeField& f : fields) out += f.path.str() + "@" + std::to_string(f.offset) + "/" + std::to_string(f.size) + " ";
    return out + "= " + std::to_string(size);
}

std::string Fields(const std::string& fields, const std::string& extra = "")
{
    return R"({"enums": [{"name": "E1", "size": 1, "values": {"A": 0}}],)" + extra +
           R"( "signals": [{"id": 1, "name": "S", "fields": [)" + fields + "]}]}";
}
}  // namespace

TEST(SignalDb, StructureExampleLaysOutNatively)
{
    auto db = Bundled();
    EXPECT_EQ(Layout(*db, "TEST_STRUCT_IND"), "a@0/1 b@2/2 e@4/1 c@8/4 = 12");

    // The descriptors the enum-size converter walks, through the TypeBase calls it makes.
    CSvmDb* current = db.get();
    EXPECT_EQ(current->IsInited(), 1);
    EXPECT_EQ(current->IsFinished(), 0);
    current->DbLoader(1, nullptr, 1, 0);
    EXPECT_EQ(current->IsFinished(), 1);
    EXPECT_EQ(current->IsAborted(), 0);
    CObList list;
    int scratch = 7;
    current->UpdateStructure(1, "TEST_STRUCT_IND", list, nullptr, scratch, 0, 0);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]->GetKind(), CSvmObject::Kind::node);
    const auto* node = static_cast<CSvmNode*>(list[0]);
    ASSERT_EQ(node->m_fields.size(), 4u);
    EXPECT_EQ(node->m_fields[0]->GetKind(), CSvmObject::Kind::parms);
    EXPECT_EQ(static_cast<CParms*>(node->m_fields[1])->m_strTypeName, "short");
    ASSERT_EQ(node->m_fields[2]->GetKind(), CSvmObject::Kind::enumParm);
    EXPECT_EQ(CSvmDb::FindEnumSize(static_cast<CEnumParm*>(node->m_fields[2])->m_pEnum), 1);

    list.clear();
    current->UpdateStructure(1, "NO_SUCH_SIGNAL", list, nullptr, scratch, 0, 0);
    EXPECT_TRUE(list.empty());
    current->UpdateStructure(1, "RRC_STATE_CHANGE", list, nullptr, scratch, 0, 0);  // alternative name
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], db->FindSignalByName("RRC_STATE_IND")->body);
    EXPECT_EQ(CSvmDb::FindEnumSize(db->FindEnumByName("CauseCode")), 2);
    EXPECT_EQ(CSvmDb::FindEnumSize(db->FindEnumByName("BandClass")), 4);
    EXPECT_EQ(db->FindEnumByName("Nope"), nullptr);
    EXPECT_EQ(db->GetStrMapByIdx(2).count("TEST_STRUCT_IND"), 1u);
    EXPECT_EQ(CSvmDb::GetDbIdx(1), 0);
    EXPECT_EQ(CSvmDb::GetDbIdx(2), 1);
    EXPECT_EQ(CSvmDb::GetDbIdx(4), 2);

    // A union with an enumeration as its designated member.
    const auto* u = static_cast<CUnion*>(db->FindSignalByName("ERROR_REPORT_IND")->body->m_fields[1]);
    ASSERT_EQ(u->GetKind(), CSvmObject::Kind::unionType);
    EXPECT_EQ(static_cast<CUnionVar*>(u->m_pDesignated)->m_nKind, CUnionVar::kEnum);
}

TEST(SignalDb, NativeLayoutOfEveryDescriptorKind)
{
    auto db = Bundled();
    // Nested structures of alignment 4 start on a multiple of 4, array elements too.
    EXPECT_EQ(Layout(*db, "MEAS_REPORT_IND"),
              "count@0/1 serving.rsrp@4/2 serving.rsrq@6/1 serving.sinr@7/1 serving.earfcn@8/4 "
              "neighbours[0].rsrp@12/2 neighbours[0].rsrq@14/1 neighbours[0].sinr@15/1 neighbours[0].earfcn@16/4 "
              "neighbours[1].rsrp@20/2 neighbours[1].rsrq@22/1 neighbours[1].sinr@23/1 neighbours[1].earfcn@24/4 "
              "neighbours[2].rsrp@28/2 neighbours[2].rsrq@30/1 neighbours[2].sinr@31/1 neighbours[2].earfcn@32/4 = 36");
    // Alignment 2, enums of sizes 1 and 4, an array of a basic type.
    EXPECT_EQ(Layout(*db, "RRC_STATE_IND"), "state@0/1 rat@1/1 cell.mcc@2/2 cell.mnc@4/2 cell.cid@8/4 = 12");
    EXPECT_EQ(Layout(*db, "BAND_SCAN_CNF"), "band@0/4 rssi@4/20 = 24");
    // Alignment 1 follows at once; elements of alignment 1 too.
    EXPECT_EQ(Layout(*db, "L1_SYNC_IND"), "pci@0/2 earfcn@4/4 synced@8/1 flags.flags@9/1 flags.count@10/1 = 11");
    EXPECT_EQ(Layout(*db, "NR_BEAM_REPORT_IND"),
              "beams@0/1 reports[0].ssb@1/1 reports[0].rsrp@2/2 reports[1].ssb@4/1 reports[1].rsrp@6/2 "
              "reports[2].ssb@8/1 reports[2].rsrp@10/2 reports[3].ssb@12/1 reports[3].rsrp@14/2 = 16");
    // A union lies as its designated member: a basic type, or an enumeration of size 2.
    EXPECT_EQ(Layout(*db, "PAGING_IND"), "ueId.tmsi@0/4 domain@4/1 = 5");
    EXPECT_EQ(Layout(*db, "ERROR_REPORT_IND"), "code@0/4 detail.cause@4/2 = 6");
    EXPECT_EQ(Layout(*db, "PHY_POWER_IND"), "txPower@0/4 pathLoss@4/4 headroom@8/1 = 9");
}

TEST(SignalDb, BasicWidthsAndNestedAlignmentMode)
{
    EXPECT_EQ(CSvmDb::BasicWidth("unsigned char"), 1);
    EXPECT_EQ(CSvmDb::BasicWidth("signed char"), 1);
    EXPECT_EQ(CSvmDb::BasicWidth("unsigned short"), 2);
    EXPECT_EQ(CSvmDb::BasicWidth("long"), 4);
    EXPECT_EQ(CSvmDb::BasicWidth("float"), 4);
    const std::string text = R"({"layout": {"alignment_mode": MODE},
        "signals": [{"id": 1, "name": "S", "fields": [
            {"name": "a", "type": "char"},
            {"name": "n1", "struct": {"alignment": 1, "fields": [{"name": "x", "type": "char"}]}},
            {"name": "n2", "struct": {"alignment": 2, "fields": [{"name": "y", "type": "char"}]}},
            {"name": "n8", "struct": {"alignment": 8, "fields": [{"name": "z", "type": "char"}]}}]}]})";
    auto layoutOf = [&](const char* mode) {
        std::string t = text;
        t.replace(t.find("MODE"), 4, mode);
        return Layout(*CSvmDb::LoadFromText(t, "inline"), "S");
    };
    // Mode 1: a structure's own alignment when it is 2 or 4, none otherwise.
    EXPECT_EQ(layoutOf("1"), "a@0/1 n1.x@1/1 n2.y@2/1 n8.z@3/1 = 4");
    // Any other mode: the next multiple of 4.
    EXPECT_EQ(layoutOf("0"), "a@0/1 n1.x@4/1 n2.y@8/1 n8.z@12/1 = 13");
}

TEST(SignalDb, MalformedDescriptionsNameFilePlaceAndProblem)
{
    EXPECT_EQ(LoadError("{\"signals\": [\n  {\"id\": 1,, }]}"),
              "test.json: line 2, column 12: not valid JSON: syntax error while parsing object key - unexpected ','; "
              "expected string literal");
    EXPECT_EQ(LoadError("{}"), "test.json: /: missing \"signals\"");
    EXPECT_EQ(LoadError(R"({"signals": [{"id": "1", "name": "S", "fields": []}]})"), "test.json: /signals/0/id: expected an integer");
    EXPECT_EQ(LoadError(R"({"enums": [{"name": "E", "size": 3, "values": {}}], "signals": []})"),
              "test.json: /enums/0/size: an enumeration is 1, 2 or 4 bytes, not 3");
    EXPECT_EQ(LoadError(R"({"enums": [{"name": "E", "size": 1, "values": {"BIG": 256}}], "signals": []})"),
              "test.json: /enums/0/values/BIG: value does not fit in 1 bytes");
    EXPECT_EQ(LoadError(Fields(R"({"name": "f", "type": "quad"})")), "test.json: /signals/0/fields/0/type: unknown type name 'quad'");
    EXPECT_EQ(LoadError(Fields(R"({"name": "f", "type": "int", "enum": "E1"})")),
              "test.json: /signals/0/fields/0: field 'f' needs exactly one of type, enum, array, union, struct");
    EXPECT_EQ(LoadError(R"({"signals": [{"id": 1, "name": "S", "fields": []}, {"id": 1, "name": "T", "fields": []}]})"),
              "test.json: /signals/1/id: identifier 1 is used twice");
    EXPECT_EQ(LoadError(R"({"signals": [{"id": 1, "name": "S", "fields": []}, {"id": 2, "name": "T", "alt_name": "S", "fields": []}]})"),
              "test.json: /signals/1/alt_name: signal name 'S' is used twice");
    EXPECT_EQ(LoadError(R"({"layout": {"signal_id_size": 2}, "signals": [{"id": 70000, "name": "S", "fields": []}]})"),
              "test.json: /signals/0/id: identifier 70000 does not fit the signal id size");
    EXPECT_EQ(LoadError(Fields(R"({"name": "f", "array": {"type": "int", "count": -2}})")),
              "test.json: /signals/0/fields/0/array/count: an array holds 0 to 4096 elements, not -2");
    EXPECT_EQ(LoadError(Fields(R"({"name": "u", "union": {"size": 1, "members": [{"name": "m", "type": "int"}]}})")),
              "test.json: /signals/0/fields/0/union/size: a union of 1 bytes cannot hold its designated member 'm' of 4 bytes");
    EXPECT_EQ(LoadError(Fields(R"({"name": "n", "struct": "Nowhere"})")), "test.json: /signals/0/fields/0/struct: unknown struct 'Nowhere'");
    // A structure that contains itself.
    EXPECT_EQ(LoadError(Fields(R"({"name": "n", "struct": "R"})", R"("structs": [{"name": "R", "fields": [{"name": "r", "struct": "R"}]}],)")),
              "test.json: struct 'R'/fields/0: structures nested more than 16 deep");
    // Arrays of arrays of structures multiply descriptors; bodies are bounded by their 16-bit lengths.
    EXPECT_EQ(LoadError(Fields(R"({"name": "a", "array": {"count": 4096, "struct": {"fields": [
                                   {"name": "b", "array": {"count": 4096, "struct": {"fields": [{"name": "c", "type": "char"}]}}}]}}})")),
              "test.json: /signals/0/fields/0/array/struct/fields/0/array/struct/fields/0: the description needs more than 200000 descriptors");
    std::string big;
    for (const char* name : {"a", "b", "c", "d"})
        big += std::string(R"({"name": ")") + name + R"(", "array": {"type": "int", "count": 4096}}, )";
    EXPECT_EQ(LoadError(Fields(big + R"({"name": "e", "type": "int"})")),
              "test.json: /signals/0/fields: the body of 'S' needs 65540 bytes natively; at most 65535 fit");
    EXPECT_EQ(LoadError(R"({"signals": [], "traces": {"com": {"max_id": 10, "names": [{"group": 1, "id": 11, "name": "T"}]}}})"),
              "test.json: /traces/com/names/0/id: identifier above max_id 10");

    try {
        CSvmDb::LoadFromFile("/no/such/signals.json");
        FAIL() << "a missing file loaded";
    } catch (const CSignalDbException& e) {
        EXPECT_EQ(e.GetErrorMessage(), "/no/such/signals.json: file: cannot be read");
    }
}

TEST(SignalDb, UnreadableDefaultGivesAnEmptyDatabaseAndOneWarning)
{
    TempDir tmp;
    WriteAll(tmp / "signals.json", {'{', '\n', '"'});
    testing::internal::CaptureStderr();
    auto db = CSvmDb::LoadOrEmpty((tmp / "signals.json").c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(db->Signals().empty());
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("warning: signal database " + (tmp / "signals.json") + ": line 2"), std::string::npos) << err;

    // Decoding still works on it.
    CConverter recoder(db);
    CString name;
    int flag = 1, first = 0, last = 0;
    EXPECT_FALSE(recoder.GetComTraceName(9, 501, name, flag));
    EXPECT_EQ(flag, 0);
    recoder.GetTraceIdRange(0, 0, first, last);
    EXPECT_EQ(last, -1);
    EXPECT_FALSE(recoder.GetSignalName(0x1000, name));
}

#include "tests/platform/PlatformTest.h"

namespace {
// The error message of a load, or "(loaded)".
template <typename Load>
std::string LoadError(Load load)
{
    try {
        load();
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

TEST(SignalDb, NativeLayoutOfEveryDescriptorKind)
{
    auto db = BundledDb();
    EXPECT_EQ(Layout(*db, "TEST_STRUCT_IND"), "a@0/1 b@2/2 e@4/1 c@8/4 = 12");
    // The descriptors the enum-size converter walks, looked up by name or alternative name.
    CObList list;
    int scratch = 7;
    db->UpdateStructure(1, "TEST_STRUCT_IND", list, nullptr, scratch, 0, 0);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]->GetKind(), CSvmObject::Kind::node);
    const auto* node = static_cast<CSvmNode*>(list[0]);
    ASSERT_EQ(node->m_fields.size(), 4u);
    EXPECT_EQ(static_cast<CParms*>(node->m_fields[1])->m_strTypeName, "short");
    ASSERT_EQ(node->m_fields[2]->GetKind(), CSvmObject::Kind::enumParm);
    EXPECT_EQ(CSvmDb::FindEnumSize(static_cast<CEnumParm*>(node->m_fields[2])->m_pEnum), 1);
    list.clear();
    db->UpdateStructure(1, "NO_SUCH_SIGNAL", list, nullptr, scratch, 0, 0);
    EXPECT_TRUE(list.empty());
    db->UpdateStructure(1, "RRC_STATE_CHANGE", list, nullptr, scratch, 0, 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], db->FindSignalByName("RRC_STATE_IND")->body);

    // Nested structures of alignment 4 start on a multiple of 4, array elements too.
    EXPECT_EQ(Layout(*db, "MEAS_REPORT_IND"),
              "count@0/1 serving.rsrp@4/2 serving.rsrq@6/1 serving.sinr@7/1 serving.earfcn@8/4 "
              "neighbours[0].rsrp@12/2 neighbours[0].rsrq@14/1 neighbours[0].sinr@15/1 neighbours[0].earfcn@16/4 "
              "neighbours[1].rsrp@20/2 neighbours[1].rsrq@22/1 neighbours[1].sinr@23/1 neighbours[1].earfcn@24/4 "
              "neighbours[2].rsrp@28/2 neighbours[2].rsrq@30/1 neighbours[2].sinr@31/1 neighbours[2].earfcn@32/4 = 36");
    // An array of a basic type. (Alignment 2, enums of sizes 1, 2 and 4, a union of an
    // enumeration and floats show in the decoder's hand-made bodies.)
    EXPECT_EQ(Layout(*db, "BAND_SCAN_CNF"), "band@0/4 rssi@4/20 = 24");
    // Alignment 1 follows at once; elements of alignment 1 too.
    EXPECT_EQ(Layout(*db, "L1_SYNC_IND"), "pci@0/2 earfcn@4/4 synced@8/1 flags.flags@9/1 flags.count@10/1 = 11");
    EXPECT_EQ(Layout(*db, "NR_BEAM_REPORT_IND"),
              "beams@0/1 reports[0].ssb@1/1 reports[0].rsrp@2/2 reports[1].ssb@4/1 reports[1].rsrp@6/2 "
              "reports[2].ssb@8/1 reports[2].rsrp@10/2 reports[3].ssb@12/1 reports[3].rsrp@14/2 = 16");
    // A union lies as its designated member.
    EXPECT_EQ(Layout(*db, "PAGING_IND"), "ueId.tmsi@0/4 domain@4/1 = 5");

    // Alignment mode 1: a structure's own alignment when it is 2 or 4, none otherwise;
    // any other mode: the next multiple of 4.
    const std::string text = R"({"layout": {"alignment_mode": MODE},
        "signals": [{"id": 1, "name": "S", "fields": [
            {"name": "a", "type": "char"},
            {"name": "n1", "struct": {"alignment": 1, "fields": [{"name": "x", "type": "char"}]}},
            {"name": "n2", "struct": {"alignment": 2, "fields": [{"name": "y", "type": "char"}]}},
            {"name": "n8", "struct": {"alignment": 8, "fields": [{"name": "z", "type": "char"}]}}]}]})";
    for (const auto& [mode, layout] : {std::pair{"1", "a@0/1 n1.x@1/1 n2.y@2/1 n8.z@3/1 = 4"},
                                       std::pair{"0", "a@0/1 n1.x@4/1 n2.y@8/1 n8.z@12/1 = 13"}}) {
        std::string t = text;
        t.replace(t.find("MODE"), 4, mode);
        EXPECT_EQ(Layout(*CSvmDb::LoadFromText(t, "inline"), "S"), layout) << "mode " << mode;
    }
}

TEST(SignalDb, MalformedDescriptionsNameFilePlaceAndProblem)
{
    std::string big;  // four arrays of 4096 ints and one more int
    for (const char* name : {"a", "b", "c", "d"})
        big += std::string(R"({"name": ")") + name + R"(", "array": {"type": "int", "count": 4096}}, )";
    const std::pair<std::string, std::string> cases[] = {
        {"{\"signals\": [\n  {\"id\": 1,, }]}",
         "line 2, column 12: not valid JSON: syntax error while parsing object key - unexpected ','; expected string literal"},
        {"{}", "/: missing \"signals\""},
        {R"({"enums": [{"name": "E", "size": 3, "values": {}}], "signals": []})", "/enums/0/size: an enumeration is 1, 2 or 4 bytes, not 3"},
        {R"({"enums": [{"name": "E", "size": 1, "values": {"BIG": 256}}], "signals": []})", "/enums/0/values/BIG: value does not fit in 1 bytes"},
        {Fields(R"({"name": "f", "type": "quad"})"), "/signals/0/fields/0/type: unknown type name 'quad'"},
        {Fields(R"({"name": "f", "type": "int", "enum": "E1"})"),
         "/signals/0/fields/0: field 'f' needs exactly one of type, enum, array, union, struct"},
        {R"({"signals": [{"id": 1, "name": "S", "fields": []}, {"id": 1, "name": "T", "fields": []}]})",
         "/signals/1/id: identifier 1 is used twice"},
        {R"({"layout": {"signal_id_size": 2}, "signals": [{"id": 70000, "name": "S", "fields": []}]})",
         "/signals/0/id: identifier 70000 does not fit the signal id size"},
        {Fields(R"({"name": "f", "array": {"type": "int", "count": -2}})"),
         "/signals/0/fields/0/array/count: an array holds 0 to 4096 elements, not -2"},
        {Fields(R"({"name": "u", "union": {"size": 1, "members": [{"name": "m", "type": "int"}]}})"),
         "/signals/0/fields/0/union/size: a union of 1 bytes cannot hold its designated member 'm' of 4 bytes"},
        {Fields(R"({"name": "n", "struct": "R"})", R"("structs": [{"name": "R", "fields": [{"name": "r", "struct": "R"}]}],)"),
         "struct 'R'/fields/0: structures nested more than 16 deep"},
        // Arrays of arrays of structures multiply descriptors; bodies are bounded by their 16-bit lengths.
        {Fields(R"({"name": "a", "array": {"count": 4096, "struct": {"fields": [
                     {"name": "b", "array": {"count": 4096, "struct": {"fields": [{"name": "c", "type": "char"}]}}}]}}})"),
         "/signals/0/fields/0/array/struct/fields/0/array/struct/fields/0: the description needs more than 200000 descriptors"},
        {Fields(big + R"({"name": "e", "type": "int"})"), "/signals/0/fields: the body of 'S' needs 65540 bytes natively; at most 65535 fit"},
        {R"({"signals": [], "traces": {"com": {"max_id": 10, "names": [{"group": 1, "id": 11, "name": "T"}]}}})",
         "/traces/com/names/0/id: identifier above max_id 10"},
    };
    for (const auto& [json, error] : cases) EXPECT_EQ(LoadError([&] { CSvmDb::LoadFromText(json, "test.json"); }), "test.json: " + error);
    EXPECT_EQ(LoadError([] { CSvmDb::LoadFromFile("/no/such/signals.json"); }), "/no/such/signals.json: file: cannot be read");
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
}

#include "logger/Logger.h"
#include "platform/Filters.h"
#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "platform/SimDevice.h"
#include "tests/support/TestEnv.h"
#include <set>

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
}  // namespace

TEST(SignalDb, StructureExampleLaysOutNatively)
{
    auto db = Bundled();
    const SignalInfo* s = db->FindSignalByName("TEST_STRUCT_IND");
    ASSERT_NE(s, nullptr);
    std::vector<NativeField> fields;
    EXPECT_EQ(db->NativeLayout(*s->body, fields), 12);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0].path, "a");
    EXPECT_EQ(fields[0].offset, 0);
    EXPECT_EQ(fields[1].offset, 2);
    EXPECT_EQ(fields[2].offset, 4);
    EXPECT_EQ(fields[2].size, 1);
    EXPECT_EQ(fields[3].offset, 8);

    // The descriptors the enum-size converter walks.
    CObList list;
    int scratch = 7;
    CSvmDb* current = db.get();
    current->DbLoader(1, nullptr, 1, 0);
    EXPECT_EQ(current->IsFinished(), 1);
    current->UpdateStructure(1, "TEST_STRUCT_IND", list, nullptr, scratch, 0, 0);
    ASSERT_EQ(list.size(), 1u);
    const auto* node = static_cast<CSvmNode*>(list[0]);
    ASSERT_EQ(node->GetKind(), CSvmObject::Kind::node);
    ASSERT_EQ(node->m_fields.size(), 4u);
    EXPECT_EQ(node->m_fields[2]->GetKind(), CSvmObject::Kind::enumParm);
    EXPECT_EQ(CSvmDb::FindEnumSize(static_cast<CEnumParm*>(node->m_fields[2])->m_pEnum), 1);
    list.clear();
    current->UpdateStructure(1, "NO_SUCH_SIGNAL", list, nullptr, scratch, 0, 0);
    EXPECT_TRUE(list.empty());
    current->UpdateStructure(1, "RRC_STATE_CHANGE", list, nullptr, scratch, 0, 0);  // alternative name
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(db->FindEnumByName("CauseCode")->m_nSize, 2);
    EXPECT_EQ(db->FindEnumByName("Nope"), nullptr);
    EXPECT_EQ(CSvmDb::GetDbIdx(1), 0);
    EXPECT_EQ(CSvmDb::GetDbIdx(3), 1);
    EXPECT_EQ(CSvmDb::GetDbIdx(7), 2);
    EXPECT_EQ(db->GetStrMapByIdx(2).count("TEST_STRUCT_IND"), 1u);
}

TEST(SignalDb, BasicWidthsAndNestedAlignment)
{
    EXPECT_EQ(CSvmDb::BasicWidth("unsigned char"), 1);
    EXPECT_EQ(CSvmDb::BasicWidth("signed char"), 1);
    EXPECT_EQ(CSvmDb::BasicWidth("unsigned short"), 2);
    EXPECT_EQ(CSvmDb::BasicWidth("long"), 4);
    EXPECT_EQ(CSvmDb::BasicWidth("float"), 4);
    const std::string text = R"({"layout": {"alignment_mode": ALIGN},
        "signals": [{"id": 1, "name": "S", "fields": [
            {"name": "a", "type": "char"},
            {"name": "n", "struct": {"alignment": 1, "fields": [{"name": "x", "type": "char"}]}}]}]})";
    auto layoutOf = [&](const char* mode) {
        std::string t = text;
        t.replace(t.find("ALIGN"), 5, mode);
        auto db = CSvmDb::LoadFromText(t, "inline");
        std::vector<NativeField> f;
        db->NativeLayout(*db->FindSignal(1)->body, f);
        return f.at(1).offset;
    };
    EXPECT_EQ(layoutOf("1"), 1);  // alignment 1 follows at once
    EXPECT_EQ(layoutOf("0"), 4);  // any other mode: next multiple of 4
}

TEST(SignalDb, MalformedDescriptionsNameFilePlaceAndProblem)
{
    EXPECT_EQ(LoadError("{\"signals\": [\n  {\"id\": 1,, }]}"), "test.json: line 2, column 12: not valid JSON: syntax error while parsing object key - unexpected ','; expected string literal");
    EXPECT_EQ(LoadError("{}"), "test.json: /: missing \"signals\"");
    EXPECT_EQ(LoadError(R"({"enums": [{"name": "E", "size": 3, "values": {}}], "signals": []})"),
              "test.json: /enums/0/size: an enumeration is 1, 2 or 4 bytes, not 3");
    EXPECT_EQ(LoadError(R"({"signals": [{"id": 1, "name": "S", "fields": [{"name": "f", "type": "quad"}]}]})"),
              "test.json: /signals/0/fields/0/type: unknown type name 'quad'");
    EXPECT_EQ(LoadError(R"({"signals": [{"id": 1, "name": "S", "fields": []}, {"id": 1, "name": "T", "fields": []}]})"),
              "test.json: /signals/1/id: identifier 1 is used twice");
    EXPECT_EQ(LoadError(R"({"signals": [{"id": 1, "name": "S", "fields": [{"name": "f", "array": {"type": "int", "count": -2}}]}]})"),
              "test.json: /signals/0/fields/0/array/count: an array holds 0 to 4096 elements, not -2");
    EXPECT_EQ(LoadError(R"({"signals": [{"id": 1, "name": "S", "fields": [{"name": "f", "enum": "Missing"}]}]})"),
              "test.json: /signals/0/fields/0/enum: unknown enumeration 'Missing'");
    try {
        CSvmDb::LoadFromFile("/no/such/signals.json");
        FAIL();
    } catch (const CSignalDbException& e) {
        EXPECT_EQ(e.GetErrorMessage(), "/no/such/signals.json: file: cannot be read");
    }
}

namespace {
class RecoderTest : public HostFixture {
protected:
    std::shared_ptr<CSvmDb> db = Bundled();
    CConverter recoder{db};
};
}  // namespace

TEST_F(RecoderTest, TraceRangesAndNamesForAsserts)
{
    int first = 0, last = 0;
    recoder.GetTraceIdRange(0, 0, first, last);
    EXPECT_EQ(last, 700);
    recoder.GetTraceIdRange(1, 0, first, last);
    EXPECT_EQ(last, 900);
    CString name;
    int flag = 0;
    EXPECT_TRUE(recoder.GetComTraceName(9, 501, name, flag));
    EXPECT_EQ(name, "EE_HANDLER__EE__EE_LOG_RESET");
    EXPECT_EQ(flag, 1);
    EXPECT_FALSE(recoder.GetComTraceName(9, 599, name, flag));
    EXPECT_EQ(flag, 0);
    EXPECT_TRUE(recoder.GetAppTraceName(6, 300, name, flag));
    EXPECT_EQ(name, "Diag__comMem__EE_LOG");
    EXPECT_EQ(recoder.GetSignalIdSize(0), 4);
    EXPECT_EQ(recoder.GetHeaderFieldSize(0), 2);
    EXPECT_TRUE(recoder.GetAltSignalName(0x1005, name));
    EXPECT_EQ(name, "USIM_STATUS_IND");
    EXPECT_FALSE(recoder.GetSignalName(0xDEAD, name));
}

TEST_F(RecoderTest, AssertTextsThroughTheLogger)
{
    HostServices s = Services::Current();
    s.signalDb = db;
    s.recoder = std::make_shared<CConverter>(db);
    CScopedServices scoped(s);
    auto test = [](std::vector<BYTE> block, CString& text) {
        CVESKMessage m(1, 0, block.data(), static_cast<int>(block.size()), 0);
        return CLogger::IsAssertMessage(&m, text);
    };
    CString text;
    EXPECT_EQ(test(CSimDevice::TraceBlock(0, 9, 501, 0), text), 1);
    EXPECT_EQ(text, "Assert (Comm Message)- EE_HANDLER__EE__EE_LOG_RESET");
    EXPECT_EQ(test(CSimDevice::TraceBlock(4, 6, 300, 0), text), 1);
    EXPECT_EQ(text, "Assert (App Message)- Diag__comMem__EE_LOG");
    EXPECT_EQ(test(CSimDevice::TraceBlock(0, 1, 10, 180), text), 1);
    EXPECT_EQ(text, "Assert, DSP Opcode- 180");
    EXPECT_EQ(test(CSimDevice::TraceBlock(0, 1, 10, 180 + 512), text), 1);  // low 9 bits only
    EXPECT_EQ(test(CSimDevice::TraceBlock(0, 1, 10, 181), text), 0);
    EXPECT_EQ(test(CSimDevice::TraceBlock(2, 9, 501, 0), text), 0);   // format 2
    EXPECT_EQ(test(CSimDevice::TraceBlock(0, 8, 800, 0), text), 0);   // App knows it, Com range does not
    EXPECT_EQ(test(CSimDevice::TraceBlock(0, 77, 77, 223), text), 0); // no name: no DSP test
    // A body of 12 or 13 bytes is never recognised through the DSP opcode.
    auto block = CSimDevice::TraceBlock(0, 1, 10, 6);
    block.resize(8 + 13);
    EXPECT_EQ(test(block, text), 0);
    block.resize(8 + 12);
    EXPECT_EQ(test(block, text), 0);
    block = CSimDevice::TraceBlock(0, 9, 500, 0);
    block.resize(8 + 12);
    EXPECT_EQ(test(block, text), 1);  // names need only 12 bytes
    CVESKMessage otherKind(2, 0, block.data(), static_cast<int>(block.size()), 0);
    EXPECT_EQ(CLogger::IsAssertMessage(&otherKind, text), 0);
}

TEST_F(RecoderTest, DecodesFieldsAndEnumsOfAGeneratedMessage)
{
    CSimDevice sim({.seed = 5}, db);
    const SignalInfo* s = db->FindSignalByName("RRC_STATE_IND");
    for (int type : {6, 5, 7}) {
        std::vector<BYTE> block = sim.SignalBlock(type, *s);
        CVESKMessage m(1, 0, block.data(), static_cast<int>(block.size()), 0);
        ColumnValues values;
        std::vector<std::pair<CString, CString>> called;
        DecodeRequest request;
        request.message = &m;
        request.context = &called;
        request.callback = [](void* ctx, const CString& n, const CString& t) {
            static_cast<std::vector<std::pair<CString, CString>>*>(ctx)->emplace_back(n, t);
        };
        ASSERT_TRUE(recoder.DecodeToColumns(request, values, {}));
        EXPECT_EQ(values["Signal"], "RRC_STATE_IND") << type;
        EXPECT_EQ(values["Signal ID"], "0x1001");
        const CString decoded = values["Decoded"];
        EXPECT_EQ(decoded.Find("state="), 0) << decoded;
        EXPECT_GE(decoded.Find("cell.mcc="), 0) << decoded;
        const bool knownState = decoded.Find("state=IDLE") == 0 || decoded.Find("state=CONNECTING") == 0 ||
                                decoded.Find("state=CONNECTED") == 0 || decoded.Find("state=RELEASING") == 0;
        EXPECT_TRUE(knownState) << decoded;
        EXPECT_EQ(called.size(), values.size());
    }
    // A hand-made body: state CONNECTED (2), rat NR (3), cell 262/1/0x01020304.
    NativeSignal sig;
    std::vector<BYTE> block = sim.SignalBlock(6, *s);
    ASSERT_TRUE(recoder.ParseSignal(block.data(), static_cast<int>(block.size()), sig));
    EXPECT_EQ(sig.bodyOffset, 8 + 12);  // S 2: fields at 0, 2; length at 4; id at 8; body at 12
    const BYTE body[] = {2, 3, 0x06, 0x01, 0x01, 0x00, 0, 0, 0x04, 0x03, 0x02, 0x01};  // cell aligned to 2
    EXPECT_EQ(recoder.DecodeBody(*s, body, sizeof body), "state=CONNECTED, rat=NR, cell.mcc=262, cell.mnc=1, cell.cid=16909060");
    EXPECT_EQ(recoder.DecodeBody(*s, body, 5), "state=CONNECTED, rat=NR, cell.mcc=262");  // cut short
    CVESKMessage unreadable(1, 0, nullptr, -1, 0);
    DecodeRequest bad;
    bad.message = &unreadable;
    ColumnValues v;
    EXPECT_FALSE(recoder.DecodeToColumns(bad, v, {}));
    CString hex;
    recoder.FormatRawData(body, 3, hex);
    EXPECT_EQ(hex, "02 03 06");
    EXPECT_EQ(recoder.GetMessageColor(CVESKMessage(1, 0, block.data(), static_cast<int>(block.size()), 0)), 0x00C00000u);
}

TEST_F(RecoderTest, FiltersIncludeAndExclude)
{
    HostServices s = Services::Current();
    s.signalDb = db;
    s.recoder = std::make_shared<CConverter>(db);
    CScopedServices scoped(s);
    CSimDevice sim({.seed = 3}, db);
    auto make = [&](int type, const char* signal) {
        std::vector<BYTE> b = signal ? sim.SignalBlock(type, *db->FindSignalByName(signal)) : CSimDevice::TraceBlock(0, 1, 10, 0);
        return CVESKMessage(1, 0, b.data(), static_cast<int>(b.size()), 0);
    };
    const CVESKMessage rrc = make(6, "RRC_STATE_IND"), sim5 = make(5, "SIM_STATUS_IND"), trace = make(0, nullptr);
    CAllFilters f;
    EXPECT_TRUE(f.PassesFilters(rrc) && f.PassesFilters(sim5) && f.PassesFilters(trace));
    f.ExcludeMessageType(5);
    EXPECT_FALSE(f.PassesFilters(sim5));
    EXPECT_TRUE(f.PassesFilters(rrc));
    f.Clear();
    f.IncludeSignal(0x1001);
    EXPECT_TRUE(f.PassesFilters(rrc));
    EXPECT_FALSE(f.PassesFilters(sim5));
    EXPECT_FALSE(f.PassesFilters(trace));
    f.Clear();
    f.ExcludeSignal(0x1001);
    f.IncludeMessageType(6);
    f.IncludeMessageType(CConverter::kTraceMessageType);
    EXPECT_FALSE(f.PassesFilters(rrc));
    EXPECT_TRUE(f.PassesFilters(trace));
    EXPECT_FALSE(f.PassesFilters(sim5));
}

TEST_F(RecoderTest, SimulatedDeviceStream)
{
    HostServices s = Services::Current();
    s.signalDb = db;
    s.recoder = std::make_shared<CConverter>(db);
    CScopedServices scoped(s);
    CSimDevice a({.seed = 9, .devices = 4, .assertEvery = 50}, db), b({.seed = 9, .devices = 4, .assertEvery = 50}, db);
    std::set<int> kinds, types, deviceNumbers;
    int asserts = 0;
    for (int i = 1; i <= 1000; ++i) {
        const CVESKMessage m = a.Next();
        EXPECT_EQ(m, b.Next());  // the seed fixes the stream
        EXPECT_EQ(m.GetMessageIndex(), static_cast<uint64_t>(i));
        kinds.insert(m.GetKind());
        types.insert(m.GetMessageType());
        deviceNumbers.insert(m.GetDeviceNumber());
        CString text;
        const bool isAssert = CLogger::IsAssertMessage(const_cast<CVESKMessage*>(&m), text) != 0;
        EXPECT_EQ(isAssert, a.LastWasAssert()) << "message " << i << " " << text;
        asserts += isAssert;
    }
    EXPECT_EQ(asserts, 20);
    EXPECT_EQ(kinds, (std::set<int>{1, 2, 3}));
    for (int t : {5, 6, 7, 67, CConverter::kTraceMessageType}) EXPECT_TRUE(types.count(t)) << t;
    EXPECT_EQ(deviceNumbers, (std::set<int>{0, 1, 2, 3}));

    a.Connect(*devices);
    EXPECT_EQ(devices->GetDeviceIMEIs()[3], a.Imei(3));
    EXPECT_EQ(devices->GetDeviceIMEIs()[3].GetLength(), 15);
    EXPECT_TRUE(devices->GetDeviceIMEIs()[4].IsEmpty());
    CSimDevice::Disconnect(*devices);
    EXPECT_TRUE(devices->GetDeviceIMEIs()[0].IsEmpty());
}

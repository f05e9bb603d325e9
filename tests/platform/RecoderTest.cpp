#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "platform/SimDevice.h"
#include "tests/support/TestEnv.h"

namespace {
std::shared_ptr<CSvmDb> Bundled()
{
    return CSvmDb::LoadFromFile(CString(VKL_SOURCE_DIR) + "/data/signals.json");
}

CVESKMessage Message(const std::vector<BYTE>& block, int kind = 1)
{
    return CVESKMessage(kind, 2, block.data(), static_cast<int>(block.size()), 0);
}

// The bundled database's signals under other native layout values.
std::shared_ptr<CSvmDb> WithLayout(int s, int i, int mode, int l)
{
    std::vector<uint8_t> bytes = ReadAll(std::string(VKL_SOURCE_DIR) + "/data/signals.json");
    std::string text(bytes.begin(), bytes.end());
    const size_t from = text.find("\"layout\""), to = text.find('}', from);
    text.replace(from, to + 1 - from,
                 "\"layout\": {\"header_field_size\": " + std::to_string(s) + ", \"signal_id_size\": " + std::to_string(i) +
                     ", \"alignment_mode\": " + std::to_string(mode) + ", \"layout_shift\": " + std::to_string(l) + "}");
    return CSvmDb::LoadFromText(text, "layout variant");
}

class RecoderTest : public HostFixture {
protected:
    std::shared_ptr<CSvmDb> db = Bundled();
    CConverter recoder{db};

    ColumnValues Decode(const CVESKMessage& m, const ColumnSelection& selection = {})
    {
        ColumnValues values;
        DecodeRequest request;
        request.message = &m;
        EXPECT_TRUE(recoder.DecodeToColumns(request, values, selection));
        return values;
    }
};
}  // namespace

TEST_F(RecoderTest, TraceRangesNamesAndLayoutValues)
{
    int first = 5, last = 0;
    recoder.GetTraceIdRange(0, 0, first, last);
    EXPECT_EQ(first, 0);
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
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_FALSE(recoder.GetComTraceName(6, 300, name, flag));  // the App side's, not the Com side's
    EXPECT_TRUE(recoder.GetAppTraceName(6, 300, name, flag));
    EXPECT_EQ(name, "Diag__comMem__EE_LOG");
    EXPECT_EQ(flag, 1);

    EXPECT_EQ(recoder.GetSignalIdSize(0), 4);
    EXPECT_EQ(recoder.GetHeaderFieldSize(0), 2);
    EXPECT_TRUE(recoder.GetSignalName(0x1005, name));
    EXPECT_EQ(name, "SIM_STATUS_IND");
    EXPECT_TRUE(recoder.GetAltSignalName(0x1005, name));
    EXPECT_EQ(name, "USIM_STATUS_IND");
    EXPECT_FALSE(recoder.GetAltSignalName(0x1000, name));  // no alternative name
    EXPECT_FALSE(recoder.GetSignalName(0xDEAD, name));
}

TEST_F(RecoderTest, DecodesFieldsAndEnumsOfGeneratedSignals)
{
    CSimDevice sim({.seed = 5}, db);
    const SignalInfo* s = db->FindSignalByName("RRC_STATE_IND");
    for (int type : {6, 5, 7}) {
        const CVESKMessage m = Message(sim.SignalBlock(type, *s));
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
        EXPECT_EQ(values["Symbol"], type == 6 ? "SIGNAL" : "LOGGED_SIGNAL");
        EXPECT_EQ(values["Device"], "2");
        EXPECT_EQ(values["Message Type"], std::to_string(type).c_str());
        EXPECT_EQ(values["Length"], std::to_string(m.GetDataLength()).c_str());
        EXPECT_EQ(values["Data"].GetLength(), 3 * m.GetDataLength() - 1);
        // Every field by name, enumerations by their names.
        const std::string decoded = values["Decoded"].str();
        std::smatch match;
        EXPECT_TRUE(std::regex_match(decoded, match,
                                     std::regex("state=(IDLE|CONNECTING|CONNECTED|RELEASING), rat=(GSM|UMTS|LTE|NR), "
                                                "cell\\.mcc=\\d+, cell\\.mnc=\\d+, cell\\.cid=\\d+")))
            << decoded;
        ASSERT_EQ(called.size(), values.size());
        for (const auto& [name, text] : called) EXPECT_EQ(values[name], text) << name;
    }
}

TEST_F(RecoderTest, DecodesHandMadeBodiesField_by_Field)
{
    const SignalInfo* rrc = db->FindSignalByName("RRC_STATE_IND");
    // state CONNECTED (2), rat NR (3), gap, cell 262 / 1 / 0x01020304 (cid aligned to 4).
    const BYTE body[] = {2, 3, 0x06, 0x01, 0x01, 0x00, 0, 0, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(recoder.DecodeBody(*rrc, body, sizeof body), "state=CONNECTED, rat=NR, cell.mcc=262, cell.mnc=1, cell.cid=16909060");
    EXPECT_EQ(recoder.DecodeBody(*rrc, body, 5), "state=CONNECTED, rat=NR, cell.mcc=262");  // cut inside mnc
    const BYTE unknownEnum[] = {9, 3};
    EXPECT_EQ(recoder.DecodeBody(*rrc, unknownEnum, 2), "state=9, rat=NR");

    // Signed and unsigned widths, a 2-byte enum in a union, floats, arrays and text.
    const BYTE error[] = {0xFE, 0xFF, 0xFF, 0xFF, 0x34, 0x12};
    EXPECT_EQ(recoder.DecodeBody(*db->FindSignalByName("ERROR_REPORT_IND"), error, sizeof error), "code=-2, detail.cause=T300_EXPIRY");
    const BYTE power[] = {0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x20, 0xC1, 0xF6};  // 1.5, -10, -10
    EXPECT_EQ(recoder.DecodeBody(*db->FindSignalByName("PHY_POWER_IND"), power, sizeof power), "txPower=1.5, pathLoss=-10, headroom=-10");
    const BYTE scan[] = {78, 0, 0, 0, 0xFF, 0xFF, 0x10, 0x00, 0x20};  // band 78, rssi -1, 16, then half an element
    EXPECT_EQ(recoder.DecodeBody(*db->FindSignalByName("BAND_SCAN_CNF"), scan, sizeof scan), "band=BAND_78, rssi=[-1, 16]");
    std::vector<BYTE> sms(33, 0);
    sms[0] = 3;
    sms[1] = 'h';
    sms[2] = 'i';
    sms[3] = 0x07;
    EXPECT_EQ(recoder.DecodeBody(*db->FindSignalByName("SMS_DELIVER_IND"), sms.data(), static_cast<int>(sms.size())),
              "length=3, text=\"hi\\x07\"");
}

TEST_F(RecoderTest, NativeHeaderLayouts)
{
    // S 2, I 4, E 2: field 1 at 0, field 2 at 2, body length at 4, identifier at 8, body at 12.
    CSimDevice sim({.seed = 1}, db);
    const SignalInfo* s = db->FindSignalByName("TEST_STRUCT_IND");
    std::vector<BYTE> block = sim.SignalBlock(6, *s);
    ASSERT_EQ(block.size(), 8u + 12 + 12);
    EXPECT_EQ(block[8 + 4] | block[8 + 5] << 8, 12);
    EXPECT_EQ(block[8 + 8] | block[8 + 9] << 8, 0x1000);
    NativeSignal sig;
    ASSERT_TRUE(recoder.ParseSignal(block.data(), static_cast<int>(block.size()), sig));
    EXPECT_EQ(sig.bodyOffset, 8 + 12);
    EXPECT_EQ(sig.bodyLength, 12);
    EXPECT_EQ(sig.field1, static_cast<uint32_t>(block[8] | block[9] << 8));

    // S 1, L 0: a type-5 header has its logging words at 4 and 8 (a 2-byte gap), the
    // identifier (I 2) at 14 and the body at 16.
    auto narrow = WithLayout(1, 2, 1, 0);
    CConverter narrowRecoder(narrow);
    CSimDevice narrowSim({.seed = 1}, narrow);
    block = narrowSim.SignalBlock(5, *narrow->FindSignalByName("TEST_STRUCT_IND"));
    ASSERT_TRUE(narrowRecoder.ParseSignal(block.data(), static_cast<int>(block.size()), sig));
    EXPECT_EQ(sig.logWord1, static_cast<uint32_t>(block[8 + 4] | block[8 + 5] << 8 | block[8 + 6] << 16 | block[8 + 7] << 24));
    EXPECT_EQ(sig.logWord2, 0xC0DEu);
    EXPECT_EQ(block[8 + 14] | block[8 + 15] << 8, 0x1000);
    EXPECT_EQ(sig.bodyOffset, 8 + 16);

    // Every layout and message type: the generated header parses back to its signal and body.
    for (int S : {1, 2, 4})
        for (int I : {2, 4})
            for (int mode : {0, 1})
                for (int L : {0, 2}) {
                    auto variant = WithLayout(S, I, mode, L);
                    CConverter r(variant);
                    CSimDevice g({.seed = 3}, variant);
                    for (int type : {5, 6, 7})
                        for (const SignalInfo& info : variant->Signals()) {
                            const std::vector<BYTE> b = g.SignalBlock(type, info);
                            const std::string where = "S" + std::to_string(S) + " I" + std::to_string(I) + " mode" +
                                                      std::to_string(mode) + " L" + std::to_string(L) + " type " +
                                                      std::to_string(type) + " " + info.name.str();
                            ASSERT_TRUE(r.ParseSignal(b.data(), static_cast<int>(b.size()), sig)) << where;
                            EXPECT_EQ(sig.id, info.id) << where;
                            EXPECT_EQ(sig.bodyOffset % 4, 0) << where;
                            EXPECT_EQ(sig.bodyOffset + sig.bodyLength, static_cast<int>(b.size())) << where;
                            EXPECT_EQ(sig.bodyLength, variant->BodySize(*info.body)) << where;
                        }
                }
}

TEST_F(RecoderTest, ColumnsOfTracesCommandsAndOddMessages)
{
    CVESKMessage trace = Message(CSimDevice::TraceBlock(4, 9, 501, 180));
    trace.SetPCTimeStamp(CSystemTime(2011, 3, 3, 9, 5, 3, 7));
    ColumnValues v = Decode(trace);
    EXPECT_EQ(v["PC Time Stamp"], "09:05:03.007");
    EXPECT_EQ(v["Symbol"], "TRACE");
    EXPECT_EQ(v["Signal"], "EE_HANDLER__EE__EE_LOG_RESET");
    EXPECT_EQ(v["Signal ID"], "9/501");
    EXPECT_EQ(v["Decoded"], "format=4, group=9, id=501, dsp=180");
    EXPECT_EQ(Decode(Message(CSimDevice::TraceBlock(0, 6, 300, 0)))["Signal"], "Diag__comMem__EE_LOG");  // App side
    EXPECT_EQ(Decode(Message(CSimDevice::TraceBlock(0, 70, 7, 0)))["Signal"], "");

    const std::vector<BYTE> command = {67, 0, 0, 0, 0, 0, 0, 0, 0x2A, 0};
    v = Decode(Message(command));
    EXPECT_EQ(v["Symbol"], "COMMAND");
    EXPECT_EQ(v["Signal ID"], "0x2A");
    EXPECT_EQ(v["Data"], "43 00 00 00 00 00 00 00 2A 00");

    // An unknown signal decodes, without fields; other kinds carry no signals.
    CSimDevice sim({.seed = 2}, db);
    std::vector<BYTE> block = sim.SignalBlock(6, *db->FindSignalByName("TEST_STRUCT_IND"));
    block[8 + 8] = 0xEF;
    block[8 + 9] = 0xBE;
    v = Decode(Message(block));
    EXPECT_EQ(v["Signal ID"], "0xBEEF");
    EXPECT_EQ(v["Signal"], "");
    EXPECT_EQ(v["Decoded"], "");
    v = Decode(Message(sim.SignalBlock(6, *db->FindSignalByName("TEST_STRUCT_IND")), 2));
    EXPECT_EQ(v["Kind"], "2");
    EXPECT_EQ(v["Signal"], "");

    // The selection limits the columns and the callbacks.
    v = Decode(trace, {{"Signal", 0}, {"Data", 1}});
    EXPECT_EQ(v.size(), 2u);
    EXPECT_EQ(v["Signal"], "EE_HANDLER__EE__EE_LOG_RESET");

    // Messages that cannot be decoded.
    CVESKMessage unreadable(1, 0, nullptr, -1, 0);
    DecodeRequest bad;
    bad.message = &unreadable;
    ColumnValues none;
    EXPECT_FALSE(recoder.DecodeToColumns(bad, none, {}));
    bad.message = nullptr;
    EXPECT_FALSE(recoder.DecodeToColumns(bad, none, {}));
    EXPECT_EQ(Decode(CVESKMessage(1, 0, nullptr, 0, 0))["Data"], "");

    // Every prefix of a signal message decodes without reading past its end.
    block = sim.SignalBlock(7, *db->FindSignalByName("MEAS_REPORT_IND"));
    for (size_t n = 0; n <= block.size(); ++n) Decode(Message(std::vector<BYTE>(block.begin(), block.begin() + static_cast<long>(n))));
    // Random bytes behind every message type, under two layouts.
    std::mt19937 random(42);
    CConverter narrow(WithLayout(1, 2, 0, 0));
    for (int i = 0; i < 4000; ++i) {
        std::vector<BYTE> junk(random() % 72);
        for (BYTE& b : junk) b = static_cast<BYTE>(random());
        static const int types[] = {5, 6, 7, 67, CConverter::kTraceMessageType};
        if (junk.size() >= 2) junk[0] = static_cast<BYTE>(types[random() % 5]), junk[1] = 0;
        const CVESKMessage m = Message(junk);
        ColumnValues values;
        DecodeRequest request;
        request.message = &m;
        ASSERT_TRUE((i % 2 ? narrow : recoder).DecodeToColumns(request, values, {}));
    }
    // A type-7 skip count beyond the data is no signal.
    std::vector<BYTE> skip(40, 0);
    skip[0] = 7;
    skip[8 + 8] = 0xFF;
    skip[8 + 11] = 0x7F;
    NativeSignal sig;
    EXPECT_FALSE(recoder.ParseSignal(skip.data(), static_cast<int>(skip.size()), sig));
}


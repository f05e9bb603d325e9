#include <cstdio>
#include <random>

#include "tests/platform/PlatformTest.h"

namespace {
// The bundled database's signals under other native layout values.
std::shared_ptr<CSvmDb> WithLayout(int s, int i, int mode, int l)
{
    std::string text = ReadText(std::string(VKL_SOURCE_DIR) + "/data/signals.json");
    const size_t from = text.find("\"layout\""), to = text.find('}', from);
    char layout[160];
    std::snprintf(
        layout, sizeof layout,
        R"("layout": {"header_field_size": %d, "signal_id_size": %d, "alignment_mode": %d, "layout_shift": %d})", s, i,
        mode, l);
    return CSvmDb::LoadFromText(text.replace(from, to + 1 - from, layout), "layout variant");
}

using RecoderTest = SignalsFixture;
}  // namespace

TEST_F(RecoderTest, NamesEveryFieldAndEnumOfGeneratedSignals)
{
    CSimDevice sim(
        {.seed = 4,
         .mix = {.signals = 1, .loggedSignals = 1, .loggedSignals2 = 1, .commands = 0, .traces = 0, .otherKinds = 0}},
        db);
    std::set<CString> signals;
    for (int i = 0; i < 600; ++i) {
        const CVESKMessage m = sim.Next();
        const int type = m.GetMessageType();
        ASSERT_TRUE(m.GetKind() == 1 && (type == 5 || type == 6 || type == 7)) << type;
        // Every column is also handed to the callback.
        ColumnValues v, called;
        DecodeRequest request;
        request.message = &m;
        request.context = &called;
        request.callback = [](void* ctx, const CString& n, const CString& t) {
            (*static_cast<ColumnValues*>(ctx))[n] = t;
        };
        ASSERT_TRUE(recoder->DecodeToColumns(request, v, {}));
        EXPECT_EQ(called, v);

        const SignalInfo* info = db->FindSignalByName(v["Signal"]);
        ASSERT_NE(info, nullptr) << v["Signal ID"];
        signals.insert(info->name);
        char id[16];
        std::snprintf(id, sizeof id, "0x%X", info->id);
        EXPECT_EQ(v["Signal ID"] + " " + v["Symbol"], CString(id) + (type == 6 ? " SIGNAL" : " LOGGED_SIGNAL"));
        EXPECT_EQ(
            v["Device"] + " " + v["Message Type"] + " " + v["Length"],
            (std::to_string(m.GetDeviceNumber()) + " " + std::to_string(type) + " " + std::to_string(m.GetDataLength()))
                .c_str());
        EXPECT_EQ(v["Data"].GetLength(), 3 * m.GetDataLength() - 1);

        // One "name=" per leaf in order, each enumeration by one of its names, levels plausible.
        std::vector<NativeField> fields;
        db->NativeLayout(*info->body, fields);
        const std::string decoded = v["Decoded"].str();
        size_t at = 0;
        for (const NativeField& f : fields) {
            at = decoded.find(f.path.str() + "=", at);
            ASSERT_NE(at, std::string::npos) << f.path << " in " << decoded;
            at += f.path.GetLength() + 1;
            if (f.enumType) {
                EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(decoded[at]))) << f.path << " in " << decoded;
            } else if (f.typeName == "float") {
                const double level = std::stod(decoded.substr(at));
                EXPECT_TRUE(level >= -140 && level <= 40) << f.path << "=" << level;
            }
        }
    }
    EXPECT_EQ(signals.size(), db->Signals().size());  // every signal turned up
}

TEST_F(RecoderTest, DecodesHandMadeBodiesField_by_Field)
{
    auto body = [&](const char* signal, std::vector<BYTE> bytes, int length = -1) {
        return recoder->DecodeBody(*db->FindSignalByName(signal), bytes.data(),
                                   length < 0 ? static_cast<int>(bytes.size()) : length);
    };
    // state CONNECTED (2), rat NR (3), gap, cell 262 / 1 / 0x01020304 (cid aligned to 4).
    const std::vector<BYTE> rrc = {2, 3, 0x06, 0x01, 0x01, 0x00, 0, 0, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(body("RRC_STATE_IND", rrc), "state=CONNECTED, rat=NR, cell.mcc=262, cell.mnc=1, cell.cid=16909060");
    EXPECT_EQ(body("RRC_STATE_IND", rrc, 5), "state=CONNECTED, rat=NR, cell.mcc=262");  // cut inside mnc
    EXPECT_EQ(body("RRC_STATE_IND", {9, 3}), "state=9, rat=NR");                        // unknown enum value

    // Signed and unsigned widths, a 2-byte enum in a union, floats, arrays and text.
    EXPECT_EQ(body("ERROR_REPORT_IND", {0xFE, 0xFF, 0xFF, 0xFF, 0x34, 0x12}), "code=-2, detail.cause=T300_EXPIRY");
    EXPECT_EQ(body("PHY_POWER_IND", {0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x20, 0xC1, 0xF6}),  // 1.5, -10, -10
              "txPower=1.5, pathLoss=-10, headroom=-10");
    EXPECT_EQ(
        body("BAND_SCAN_CNF", {78, 0, 0, 0, 0xFF, 0xFF, 0x10, 0x00, 0x20}),  // band 78, rssi -1, 16, half an element
        "band=BAND_78, rssi=[-1, 16]");
    std::vector<BYTE> sms(33, 0);
    sms[0] = 3, sms[1] = 'h', sms[2] = 'i', sms[3] = 0x07;
    EXPECT_EQ(body("SMS_DELIVER_IND", sms), "length=3, text=\"hi\\x07\"");
}

TEST_F(RecoderTest, NativeHeaderLayouts)
{
    // S 2, I 4, E 2: field 1 at 0, field 2 at 2, body length at 4, identifier at 8, body at 12.
    std::vector<BYTE> block = CSimDevice({.seed = 1}, db).SignalBlock(6, *db->FindSignalByName("TEST_STRUCT_IND"));
    ASSERT_EQ(block.size(), 8u + 12 + 12);
    auto word = [&](size_t at) { return static_cast<uint32_t>(block[8 + at] | block[8 + at + 1] << 8); };
    EXPECT_EQ(std::tuple(word(4), word(8)), std::tuple(12u, 0x1000u));
    NativeSignal sig;
    ASSERT_TRUE(recoder->ParseSignal(block.data(), static_cast<int>(block.size()), sig));
    EXPECT_EQ(std::tuple(sig.bodyOffset, sig.bodyLength, sig.field1), std::tuple(8 + 12, 12, word(0)));

    // S 1, L 0: a type-5 header has its logging words at 4 and 8 (a 2-byte gap), the
    // identifier (I 2) at 14 and the body at 16.
    auto narrow = WithLayout(1, 2, 1, 0);
    block = CSimDevice({.seed = 1}, narrow).SignalBlock(5, *narrow->FindSignalByName("TEST_STRUCT_IND"));
    ASSERT_TRUE(CConverter(narrow).ParseSignal(block.data(), static_cast<int>(block.size()), sig));
    EXPECT_EQ(std::tuple(sig.logWord1, sig.logWord2, word(14), sig.bodyOffset),
              std::tuple(word(4) | word(6) << 16, 0xC0DEu, 0x1000u, 8 + 16));

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
                            SCOPED_TRACE(testing::Message() << "S" << S << " I" << I << " mode" << mode << " L" << L
                                                            << " type " << type << " " << info.name);
                            ASSERT_TRUE(r.ParseSignal(b.data(), static_cast<int>(b.size()), sig));
                            EXPECT_EQ(
                                std::tuple(sig.id, sig.bodyOffset % 4, sig.bodyOffset + sig.bodyLength, sig.bodyLength),
                                std::tuple(info.id, 0, static_cast<int>(b.size()),
                                           static_cast<int>(variant->BodySize(*info.body))));
                        }
                }
}

TEST_F(RecoderTest, TraceNamesAndColumnsOfTracesCommandsAndOddMessages)
{
    int first = 5, last = 0, flag = 0;
    recoder->GetTraceIdRange(0, 0, first, last);
    EXPECT_EQ(std::tuple(first, last), std::tuple(0, 700));
    recoder->GetTraceIdRange(1, 0, first, last);
    EXPECT_EQ(last, 900);
    CString name;
    EXPECT_TRUE(recoder->GetComTraceName(9, 501, name, flag));
    EXPECT_EQ(std::tuple(name, flag), std::tuple(CString("EE_HANDLER__EE__EE_LOG_RESET"), 1));
    EXPECT_FALSE(recoder->GetComTraceName(9, 599, name, flag));
    EXPECT_EQ(std::tuple(name, flag), std::tuple(CString(), 0));
    EXPECT_FALSE(recoder->GetComTraceName(6, 300, name, flag));  // the App side's, not the Com side's
    EXPECT_TRUE(recoder->GetAltSignalName(0x1005, name));
    EXPECT_EQ(name, "USIM_STATUS_IND");
    EXPECT_FALSE(recoder->GetAltSignalName(0x1000, name));  // no alternative name

    CVESKMessage trace = FromBlock(CSimDevice::TraceBlock(4, 9, 501, 180));
    trace.SetPCTimeStamp(CSystemTime(2011, 3, 3, 9, 5, 3, 7));
    ColumnValues v = Decode(trace);
    EXPECT_EQ(v["PC Time Stamp"] + "|" + v["Symbol"] + "|" + v["Signal"] + "|" + v["Signal ID"] + "|" + v["Decoded"],
              "09:05:03.007|TRACE|EE_HANDLER__EE__EE_LOG_RESET|9/501|format=4, group=9, id=501, dsp=180");
    EXPECT_EQ(Decode(FromBlock(CSimDevice::TraceBlock(0, 6, 300, 0)))["Signal"], "Diag__comMem__EE_LOG");  // App side
    EXPECT_EQ(Decode(FromBlock(CSimDevice::TraceBlock(0, 70, 7, 0)))["Signal"], "");
    // The selection limits the columns.
    EXPECT_EQ(Decode(trace, {{"Signal", 0}, {"Data", 1}}),
              (ColumnValues{{"Signal", "EE_HANDLER__EE__EE_LOG_RESET"}, {"Data", v["Data"]}}));

    v = Decode(FromBlock({67, 0, 0, 0, 0, 0, 0, 0, 0x2A, 0}));
    EXPECT_EQ(v["Symbol"] + "|" + v["Signal ID"] + "|" + v["Data"], "COMMAND|0x2A|43 00 00 00 00 00 00 00 2A 00");

    // An unknown signal decodes, without fields; other kinds carry no signals.
    CSimDevice sim({.seed = 2}, db);
    std::vector<BYTE> block = sim.SignalBlock(6, *db->FindSignalByName("TEST_STRUCT_IND"));
    EXPECT_EQ(Decode(FromBlock(block, 2))["Signal"], "");
    block[8 + 8] = 0xEF;
    block[8 + 9] = 0xBE;
    v = Decode(FromBlock(block));
    EXPECT_EQ(v["Signal ID"] + "|" + v["Signal"] + "|" + v["Decoded"], "0xBEEF||");

    // Messages that cannot be decoded, and an empty one.
    CVESKMessage unreadable(1, 0, nullptr, -1, 0);
    DecodeRequest bad;
    ColumnValues none;
    EXPECT_FALSE(recoder->DecodeToColumns(bad, none, {}));
    bad.message = &unreadable;
    EXPECT_FALSE(recoder->DecodeToColumns(bad, none, {}));
    EXPECT_EQ(Decode(CVESKMessage(1, 0, nullptr, 0, 0))["Data"], "");

    // Every prefix of a signal message decodes without reading past its end.
    block = sim.SignalBlock(7, *db->FindSignalByName("MEAS_REPORT_IND"));
    for (size_t n = 0; n <= block.size(); ++n)
        Decode(FromBlock(std::vector<BYTE>(block.begin(), block.begin() + static_cast<long>(n))));
    // Random bytes behind every message type, under two layouts.
    std::mt19937 random(42);
    CConverter narrow(WithLayout(1, 2, 0, 0));
    for (int i = 0; i < 4000; ++i) {
        std::vector<BYTE> junk(random() % 72);
        for (BYTE& b : junk) b = static_cast<BYTE>(random());
        static const int types[] = {5, 6, 7, 67, CConverter::kTraceMessageType};
        if (junk.size() >= 2) junk[0] = static_cast<BYTE>(types[random() % 5]), junk[1] = 0;
        Decode(FromBlock(junk), {}, i % 2 ? &narrow : nullptr);
    }
    // A type-7 skip count beyond the data is no signal.
    std::vector<BYTE> skip(40, 0);
    skip[0] = 7, skip[8 + 8] = 0xFF, skip[8 + 11] = 0x7F;
    NativeSignal sig;
    EXPECT_FALSE(recoder->ParseSignal(skip.data(), static_cast<int>(skip.size()), sig));
}

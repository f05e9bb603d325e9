// GKI records and the reader against native headers and record bytes written out by hand
// (the reader's numbering and bad records: the import's tests), and every signal of the
// bundled database with random bytes, under every layout that a round trip native -> GKI ->
// native can keep: export, file, import.
#include <random>

#include "platform/Services.h"
#include "sim/SimDevice.h"
#include "tests/convert/ConvertTest.h"

namespace {
using GKIRecTest = GkiFixture;

constexpr uint32_t kThree = 4101;  // three chars
const Bytes kAbc = {'a', 'b', 'c'};

Bytes Image(const CGKIRec& r)
{
    return Bytes(r.GetImage(), r.GetImage() + r.GetImageSize());
}

class GKIRoundTripTest : public GkiFixture {
protected:
    GKIRoundTripTest()
    {
        db = CSvmDb::LoadFromFile(CString(VKL_SOURCE_DIR) + "/data/signals.json");
        Install(std::make_shared<CConverter>(db));
    }

    // What the import must give back for one exported message.
    Bytes Expected(int type, const NativeSignal& sig, const SignalInfo& info, const Bytes& block)
    {
        std::vector<NativeField> leaves;
        const int size = db->NativeLayout(*info.body, leaves);
        // Only the bytes the walk reads come back; the packed length counts enumerations as 4.
        Bytes body(static_cast<size_t>(size), 0);
        uint32_t packed = 0;
        for (const NativeField& f : leaves) {
            std::copy_n(block.begin() + sig.bodyOffset + f.offset, f.size, body.begin() + f.offset);
            packed += f.enumType ? 4 : static_cast<uint32_t>(f.size);
        }
        const NativeLayoutValues v = Services::Recoder()->GetLayoutValues();
        NativeHeaderLayout at;
        CConverter::HeaderLayout(type, v, 0, at);
        // The header: type, fields, logging words (type 5), the packed length, the identifier.
        Bytes out(static_cast<size_t>(CVESKMessage::kHeaderSize + at.body), 0);
        out[0] = static_cast<BYTE>(type);
        for (auto [offset, value, width] : {std::tuple{at.field1, sig.field1, 2},
                                            {at.field2, sig.field2, 2},
                                            {at.logWord1, sig.logWord1, 4},
                                            {at.logWord2, sig.logWord2, 4},
                                            {at.length, packed, 2},
                                            {at.id, sig.id, v.I}}) {
            const Bytes b = LE(value, width);
            if (offset >= 0) std::copy(b.begin(), b.end(), out.begin() + CVESKMessage::kHeaderSize + offset);
        }
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
};
}  // namespace

TEST_F(GKIRecTest, LoggedSignalRecordsOfBothLayouts)
{
    // Type 5 without body bytes: a single zero body byte, 29 bytes, length field 23.
    const Bytes words = Cat({LE(0x11111111, 4), LE(0x22222222, 4)});
    const Bytes five = Cat({LE(1, 2), LE(2, 2), words, LE(0, 2), {0, 0}, LE(kThree, 4)});
    CGKILoggedSignalRec rec(0);
    ASSERT_EQ(rec.FromMessage(five.data(), static_cast<int>(five.size()), converter), 1);
    const Bytes record = Cat({LE('2', 4), LE(23, 2), LE(1, 4), LE(2, 4), words, LE(1, 2), LE(kThree, 4), {0}});
    EXPECT_EQ(Stored({&rec}), record);

    // Type 7 skipping K = 1 byte: the fields at 16 (L = 2, aligned to 4) or 14 (L = 0, to 2).
    for (int L : {2, 0}) {
        SetLayout(2, 4, 1, L);
        const Bytes pad(L == 2 ? 3 : 1, 0xEE);
        const Bytes head = Cat({LE(7, 4), LE(8, 4), LE(1, 4), {0xEE}, pad, LE(1, 2), LE(2, 2), LE(3, 2)});
        const Bytes native = Cat({head, Bytes(head.size() % 4, 0), LE(kThree, 4), kAbc});
        CGKILoggedSignalRec r(1);
        ASSERT_EQ(r.FromMessage(native.data(), static_cast<int>(native.size()), converter), 1) << L;
        EXPECT_EQ(Image(r),
                  Cat({LE('2', 4), LE(25, 2), LE(1, 4), LE(2, 4), LE(7, 4), LE(8, 4), LE(3, 2), LE(kThree, 4)}))
            << "L " << L;
    }

    // S 1, L 0: natively the logging words are at 4 and 8 (a 2-byte gap) ...
    SetLayout(1, 4, 1, 0);
    const Bytes narrow = Cat({{1, 2, 0xEE, 0xEE}, words, LE(3, 2), {0, 0}, LE(kThree, 4), kAbc});
    ASSERT_EQ(rec.FromMessage(narrow.data(), static_cast<int>(narrow.size()), converter), 1);
    // ... and the image that loading builds puts them at 2 and 6.
    CGKISignalRecReader reader;
    const auto messages = ReadBack(Stored({&rec}), reader);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(DataOf(*messages[0]), Cat({LE(5, 8), {1, 2}, words, LE(3, 2), LE(kThree, 4), kAbc}));
}

// The record's bytes from a whole message: the export's tests.
TEST_F(GKIRecTest, SignalRecordOfAMessageShorterThanItsHeaderSaysAndCommandRecords)
{
    // S 2, I 4, E 2: field 1 at 0, field 2 at 2, body length at 4, identifier at 8, body at 12.
    // A body length that claims more than the message holds converts the bytes present;
    // header bytes past the data read as 0.
    const Bytes signal = Cat({LE(1, 2), LE(2, 2), LE(100, 2), {0xEE, 0xEE}, LE(kThree, 4), kAbc});
    CGKISignalRec sig;
    ASSERT_EQ(sig.FromMessage(signal.data(), static_cast<int>(signal.size()), converter), 1) << sig.GetErrorText();
    EXPECT_EQ(sig.m_wBodyLength, 3);
    ASSERT_EQ(sig.FromMessage(signal.data(), 4, converter), 1);
    EXPECT_EQ(std::tuple(sig.m_nHeaderField2, sig.m_wBodyLength, sig.m_nId, sig.m_wLength), std::tuple(2u, 0, 0u, 14));

    // The identifier is the first data byte; the arguments start at 2^L rounded up to 4.
    const Bytes native = {42, 0, 0xEE, 0xEE, 'x', 'y', 'z'};
    CGKICommandRec rec;
    ASSERT_EQ(rec.FromMessage(native.data(), static_cast<int>(native.size()), converter), 1) << rec.GetErrorText();
    // Storing writes length - 2 = 5 body bytes: the 3 converted, zero-padded.
    const Bytes record = Cat({LE('C', 4), LE(7, 2), LE(42, 4), {'x', 'y', 'z', 0, 0}});
    EXPECT_EQ(Stored({&rec}), record);
    EXPECT_EQ(Image(rec), Bytes(record.begin(), record.begin() + 10));

    // Loading skips the body bytes, so a record after it reads; the message is type 67.
    CGKISignalRecReader reader;
    const auto messages = ReadBack(Cat({record, record}), reader);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(DataOf(*messages[1]), Cat({LE(67, 8), LE(42, 2), {0, 0}}));  // ARGS_IND converts the 2 image bytes
}

TEST_F(GKIRoundTripTest, EverySignalUnderEveryLayout)
{
    std::mt19937 rng(20);
    for (int n = 0; n < 16; ++n) {
        const int S = n & 1 ? 4 : 2, I = n & 2 ? 4 : 2, mode = n >> 2 & 1, L = n & 8 ? 2 : 0;
        SCOPED_TRACE(testing::Message() << "S " << S << ", I " << I << ", mode " << mode << ", L " << L);
        SetLayout(S, I, mode, L);
        CSimDevice sim({.seed = 5}, db);
        std::vector<std::unique_ptr<CGKIRec>> records;
        std::vector<CGKIRec*> raw;
        std::vector<Bytes> expected;
        for (int type : {5, 6, 7})
            for (const SignalInfo& info : db->Signals()) {
                Bytes block = sim.SignalBlock(type, info);
                // Random body bytes, and random bytes in the leading fields of types 5 and 6.
                const size_t bodyStart = block.size() - static_cast<size_t>(db->BodySize(*info.body));
                for (size_t i = bodyStart; i < block.size(); ++i) block[i] = static_cast<BYTE>(rng());
                for (int i = 0; type != 7 && i < 2 * S; ++i)
                    block[CVESKMessage::kHeaderSize + i] = static_cast<BYTE>(rng());
                NativeSignal sig;
                ASSERT_TRUE(Services::Recoder()->ParseSignal(block.data(), static_cast<int>(block.size()), sig));
                records.push_back(
                    CGKIRec::ForMessage(CVESKMessage(1, 2, block.data(), static_cast<int>(block.size()), 0)));
                raw.push_back(records.back().get());
                ASSERT_NE(raw.back(), nullptr);
                ASSERT_EQ(raw.back()->FromMessage(block.data() + 8, static_cast<int>(block.size()) - 8, converter), 1)
                    << info.name << ": " << raw.back()->GetErrorText();
                expected.push_back(Expected(type == 6 ? 6 : 5, sig, info, block));
            }
        CGKISignalRecReader reader;
        const auto messages = ReadBack(Stored(raw), reader);
        ASSERT_EQ(messages.size(), expected.size());
        for (size_t i = 0; i < messages.size(); ++i) ASSERT_EQ(DataOf(*messages[i]), expected[i]) << "message " << i;
    }
}

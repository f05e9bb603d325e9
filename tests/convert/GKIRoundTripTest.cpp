// Every signal of the bundled database with random bytes, under every layout that a round
// trip native -> GKI -> native can keep: export, file, import.
#include <gtest/gtest.h>

#include <random>

#include "platform/Services.h"
#include "sim/SimDevice.h"
#include "tests/convert/ConvertTest.h"

namespace {
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

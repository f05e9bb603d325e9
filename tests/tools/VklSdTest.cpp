// vkl import-sd and vkl sd-info, run as a user runs them, on dumps written out by hand.
#include <nlohmann/json.hpp>

#include "tests/support/SdDumpBytes.h"
#include "tests/tools/VklRun.h"

using VklSdTest = VklRunTest;

// Three packets, five bytes of damage, three more packets: the second packet and the
// damage are skipped (offset 68, 25 bytes).
TEST_F(VklSdTest, ImportReportsSkippedStretchesBatchPrintsKeptPathsAndNothingIsReplaced)
{
    global = {"--clock", "2011-03-03 14:05:09"};
    Bytes dump = SdHeader(1299132309);
    for (int i = 0; i < 3; ++i) Append(dump, SdPacket(SdBody(1, i * 32768)));
    Append(dump, Bytes(5, 0xFF));
    for (int i = 0; i < 3; ++i) Append(dump, SdPacket(SdBody(2, 0)));
    const std::string card = tmp / "card.bin";
    WriteAll(card, dump);
    const ProcessResult r = Vkl({"import-sd", card, "--dir", tmp.path()});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(Has(r.out, "5 packets converted, 1 stretches skipped")) << r.out;
    EXPECT_TRUE(Has(r.out, "skipped offset 68, 25 bytes")) << r.out;
    EXPECT_TRUE(Has(r.out, "first 2011-03-03 14:05:09.000, last 2011-03-03 14:05:09.000")) << r.out;
    const Bytes made = ReadAll(tmp / "card.vkl");
    EXPECT_EQ(Vkl({"import-sd", card, "-o", tmp / "card.vkl"}).status, 1);
    EXPECT_EQ(ReadAll(tmp / "card.vkl"), made);
    EXPECT_EQ(Vkl({"import-sd", card, card, "-o", tmp / "x.vkl"}).status, 2);

    const ProcessResult b = Vkl({"--no", "import-sd", "--batch", card, tmp / "missing.bin"});
    EXPECT_EQ(b.status, 3) << b.err;
    EXPECT_EQ(b.out, tmp / "home/Temp/card_03-Mar-11_14;05;09_.vkl\n");
    EXPECT_TRUE(Has(b.err, "Error opening \"" + tmp / "missing.bin" + "\" for reading.")) << b.err;

    const ProcessResult info = Vkl({"sd-info", card, "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const auto j = nlohmann::json::parse(info.out);
    EXPECT_EQ(j["words"][5], 1299132309u);
    EXPECT_EQ(j["start_time"], "2011-03-03 14:05:09.000");
    EXPECT_EQ(j["packets"], 5);
    EXPECT_EQ(j["stretches"][0]["offset"], 68);
    EXPECT_EQ(ReadAll(card), dump);  // only read, by every command
}

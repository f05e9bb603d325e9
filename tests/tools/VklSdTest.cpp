// vkl import-sd and vkl sd-info, run as a user runs them, on dumps written out by hand.
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/Process.h"
#include "tests/support/SdDumpBytes.h"
#include "tests/support/TestEnv.h"

namespace {

class VklSdTest : public ::testing::Test {
protected:
    ProcessResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {VklProgram(), "--home", tmp / "home", "--clock", "2011-03-03 14:05:09"});
        return RunProcess(args, tmp.path());
    }
    // Three packets, five bytes of damage, three more packets: the second packet and the
    // damage are skipped (offset 48, 25 bytes).
    std::string DamagedDump()
    {
        Bytes b = SdHeader(1299132309);
        for (int i = 0; i < 3; ++i) Append(b, SdPacket(SdBody(1, i * 32768)));
        Append(b, Bytes(5, 0xFF));
        for (int i = 0; i < 3; ++i) Append(b, SdPacket(SdBody(2, 0)));
        WriteAll(tmp / "card.bin", b);
        return tmp / "card.bin";
    }
    TempDir tmp;
};

TEST_F(VklSdTest, ImportReportsSkippedStretchesAndNeverReplaces)
{
    const std::string card = DamagedDump();
    const Bytes before = ReadAll(card);
    const ProcessResult r = Run({"import-sd", card, "--dir", tmp.path()});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.out.find("5 packets converted, 1 stretches skipped"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("skipped offset 68, 25 bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("first 2011-03-03 14:05:09.000, last 2011-03-03 14:05:09.000"), std::string::npos) << r.out;
    EXPECT_EQ(ReadAll(card), before);
    const Bytes made = ReadAll(tmp / "card.vkl");

    const ProcessResult again = Run({"import-sd", card, "-o", tmp / "card.vkl"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(ReadAll(tmp / "card.vkl"), made);
    EXPECT_EQ(Run({"import-sd", card, card, "-o", tmp / "x.vkl"}).status, 2);
}

TEST_F(VklSdTest, BatchPrintsKeptPathsAndInfoReadsOnly)
{
    const std::string card = DamagedDump();
    const ProcessResult b = Run({"--no", "import-sd", "--batch", card, tmp / "missing.bin"});
    EXPECT_EQ(b.status, 3) << b.err;
    EXPECT_EQ(b.out, tmp / "home/Temp/card_03-Mar-11_14;05;09_.vkl\n");
    EXPECT_NE(b.err.find("Error opening \"" + tmp / "missing.bin" + "\" for reading."), std::string::npos) << b.err;

    const Bytes before = ReadAll(card);
    const ProcessResult info = Run({"sd-info", card, "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const auto j = nlohmann::json::parse(info.out);
    EXPECT_EQ(j["words"][5], 1299132309u);
    EXPECT_EQ(j["start_time"], "2011-03-03 14:05:09.000");
    EXPECT_EQ(j["packets"], 5);
    EXPECT_EQ(j["stretches"][0]["offset"], 68);
    EXPECT_EQ(ReadAll(card), before);
}

}  // namespace

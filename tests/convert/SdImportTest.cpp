// SD-card import: the packet index over hand-written dumps, the single conversion's
// records and time stamps, the stop on destruction, the batch, the outcome routine (its
// refusals: GkiConversionTest.OpenFailuresStartNothing).
#include <optional>
#include <thread>

#include "convert/DiagLogHeaderReader.h"
#include "convert/SdLog.h"
#include "tests/convert/ConvertTest.h"
#include "tests/support/SdDumpBytes.h"

namespace {

constexpr uint32_t kStart = 1299132309;  // 2011-03-03 06:05:09 UTC: eight hours on, the fixture's 14:05:09

Bytes Dump(std::initializer_list<Bytes> packets)
{
    Bytes b = SdHeader(kStart);
    for (const Bytes& p : packets) Append(b, p);
    return b;
}
Bytes Pkt(uint32_t time = 0, size_t length = 16)
{
    return SdPacket(SdBody(1, time, length));
}

std::vector<uint32_t> Index(const Bytes& dump)
{
    std::vector<uint32_t> offsets;
    SdLog::BuildPacketIndex(dump.data(), dump.size(), SdLog::IndexLimits{}, offsets);
    return offsets;
}

TEST(SdPacketIndex, FindsPacketsAndSkipsDamage)
{
    const Bytes garbage = {0xFF, 0x01, 0x02, 0x03, 0x04}, p = Pkt(), p3 = Cat({p, p, p});
    const Bytes bad = SdPacket(SdBody(17, 0)), protocol1 = SdPacket(SdBody(1, 0), 1);  // type above 16; protocol 1
    const Bytes pastEnd = Cat({Bytes{0x00, 0x20, 0, 0, 1, 0}, Bytes(11, 0)});
    struct Case {
        const char* name;
        Bytes dump;
        std::vector<uint32_t> offsets;
    } cases[] = {
        {"header only", Dump({}), {}},
        {"one packet", Dump({p}), {}},
        {"two packets", Dump({p, p}), {}},
        {"three, the last of 20 bytes ending the file", Dump({p3}), {28, 48, 68}},
        {"a last packet of 16 bytes", Dump({p, p, Pkt(0, 12)}), {28, 48}},
        {"garbage: the packet before it dropped", Dump({p3, garbage, p3}), {28, 48, 93, 113, 133}},
        {"sync needs three in a row", Dump({p, p, garbage, p3}), {73, 93, 113}},
        {"protocol 1 is no packet", Dump({p3, protocol1, p3}), {28, 48, 108, 128, 148}},
        {"type above 16", Dump({p3, bad, p3}), {28, 48, 108, 128, 148}},
        {"a length past the end", Dump({p3, pastEnd}), {28, 48, 68}},
    };
    for (const Case& c : cases) EXPECT_EQ(Index(c.dump), c.offsets) << c.name;

    const Bytes damaged = cases[5].dump;
    const std::vector<SdLog::Stretch> stretches =
        SdLog::SkippedStretches(damaged.data(), damaged.size(), Index(damaged));
    ASSERT_EQ(stretches.size(), 1u);
    EXPECT_EQ(stretches[0].offset, 68u);  // the dropped packet and the garbage
    EXPECT_EQ(stretches[0].length, 25u);
}

// The stamps keep the date and time of the last second stamped: every stamp must still be
// the one worked out from scratch, whichever second, day or year the next packet falls in,
// by either time base, going forwards or wrapping backwards.
TEST(SdPacketIndex, ShortBodiesReadZeroStartTimeAddsEightHoursAndStampsMatchTheFullConversion)
{
    const BYTE body[] = {0x05, 0x80, 0, 0, 0x34, 0x12};
    EXPECT_EQ(SdLog::BodyField(body, 6, 4, 4), 0x1234u);
    EXPECT_EQ(SdLog::BodyField(body, 6, 8, 4), 0u);
    CDiagLogHeaderReader header;
    header.m_adwWords[5] = 0xFFFFFFFF;
    EXPECT_EQ(header.GetStartTime(), 0xFFFFFFFFll + 28800);  // no 32-bit wrap

    const int64_t start = 1609459199;  // 2020-12-31 23:59:59 UTC: the next second is a new year
    struct Packet {
        uint32_t ticks;  // 1/32768 s
        bool flag;
    };
    const Packet packets[] = {
        {0, false},          {16384, false},           {32767, false},
        {32768, false},      {32768 * 3 / 2, false},   {100, true},
        {32768 + 100, true}, {32768 * 2, false},       {50, true},
        {0, false},          {32768u * 86400u, false}, {32768u * 86400u + 1, true},
        {16384, false},
    };
    SdLog::CTimeStamper cached(start);
    std::optional<uint32_t> first[2];  // each flag counts from its first packet
    for (const Packet& p : packets) {
        const auto t = static_cast<uint32_t>(uint64_t{p.ticks} * 1000 / 32768);
        if (!first[p.flag]) first[p.flag] = t;
        const uint32_t d = t - *first[p.flag];
        const CSystemTime expected = UtcFromEpochSeconds(start + d / 1000, static_cast<int>(d % 1000));
        EXPECT_EQ(CSystemTime(cached.Stamp(p.ticks, p.flag)), expected) << p.ticks << (p.flag ? " A" : " B");
    }
}

class SdImportFixture : public ConvertFixture {
protected:
    std::vector<CVESKMessage> Import(const Bytes& dump)
    {
        CLogFileConverter conv(nullptr);
        EXPECT_TRUE(conv.ConvertSDLogToVkl(File("in.bin", dump).c_str(), Path("out.vkl").c_str()));
        RunToEnd(conv);
        EXPECT_EQ(conv.m_bSdImportOk.load(), 1);
        return LogRecords(Path("out.vkl"));
    }
};

// Time stamps count from the first packet of each flag.
TEST_F(SdImportFixture, EveryIndexedPacketIsOneRecordOfItsBodyStampedAndAHeaderAloneLeavesNoLog)
{
    const uint32_t t0 = 5 * 32768;
    const Bytes bodies[] = {SdBody(1, t0, 16, 0x10), SdBody(2, t0 + 32768, 30, 0x20), SdBody(0x8001, 100, 16, 0x30),
                            SdBody(5, 0x1000, 20)};
    const auto r = Import(Dump({SdPacket(bodies[0]), SdPacket(bodies[1]), SdPacket(bodies[2]), SdPacket(bodies[3])}));
    ASSERT_EQ(r.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(DataOf(r[i]), bodies[i]);
        EXPECT_EQ(std::make_pair(r[i].GetKind(), r[i].GetFurther()), std::make_pair(1, 1));
        EXPECT_EQ(r[i].GetMessageIndex(), i + 1);
    }
    EXPECT_EQ(r[0].GetPCTimeStamp(), CSystemTime(2011, 3, 3, 14, 5, 9, 0));
    EXPECT_EQ(r[0].GetPCTimeStamp().wDayOfWeek, 4);
    EXPECT_EQ(r[1].GetPCTimeStamp(), CSystemTime(2011, 3, 3, 14, 5, 10, 0));
    EXPECT_EQ(r[2].GetPCTimeStamp(), CSystemTime(2011, 3, 3, 14, 5, 9, 0));  // the flag's own first
    // Type 5 reads its time at body offset 4: 0x1000 / 32768 s = 125 ms less 5 s, the
    // unsigned difference wrapped.
    EXPECT_EQ(r[3].GetPCTimeStamp(),
              UtcFromEpochSeconds(kStart + 28800 + (uint32_t(125 - 5000) / 1000), uint32_t(125 - 5000) % 1000));

    std::remove(Path("out.vkl").c_str());
    EXPECT_TRUE(Import(Dump({})).empty());
    EXPECT_FALSE(FileExists(Path("out.vkl")));
    EXPECT_EQ(boxes.Texts(), Texts(2, "Conversion Succeeded!"));
}

TEST_F(SdImportFixture, DestroyingTheConverterWritesWhatWasReadAndSaysNothing)
{
    // 400 packets: progress is posted once per percent; the first post holds the worker.
    Bytes dump = SdHeader(kStart);
    for (uint32_t i = 0; i < 400; ++i) Append(dump, Pkt(i * 32));
    CEvent reached(false, true), gate(false, true);
    dialogs->onPosted = [&] {
        if (reached.IsSignalled()) return;
        reached.SetEvent();
        gate.Wait();
    };
    std::thread releaser;
    {
        CLogFileConverter conv(nullptr);
        ASSERT_TRUE(conv.ConvertSDLogToVkl(File("in.bin", dump).c_str(), Path("out.vkl").c_str()));
        ASSERT_TRUE(reached.Wait(kGenerous));
        releaser = std::thread([&run = conv.m_evRun, &gate] {
            while (run.IsSignalled()) std::this_thread::yield();  // the destructor has asked to stop
            gate.SetEvent();
        });
    }
    releaser.join();
    const size_t records = LogRecords(Path("out.vkl")).size();
    EXPECT_GT(records, 0u);
    EXPECT_LT(records, 400u);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SdImportFixture, BatchNamesOutputsByTimeReadsInSequenceAndGoesOn)
{
    // In sequence: a protocol-1 packet is stepped over (said once), a damaged length ends nothing
    // before it; nothing is indexed, so even a single packet converts.
    const Bytes ab = Dump({Pkt(1), SdPacket(SdBody(1, 0, 20), 1), SdPacket({}), Pkt(2, 12)});
    std::list<CString> inputs{CString(File("AB.bin", ab)), CString(Path("none.bin")), CString(Path("AB.bin"))};
    std::list<CString> outputs{"earlier"};
    CLogFileConverter conv(nullptr);
    EXPECT_TRUE(conv.ConvertSDLogsToVkl(inputs, outputs, nullptr));
    const std::string first = tmp.path() + "/Temp/AB_03-Mar-11_14;05;09_.vkl";
    const std::string second = tmp.path() + "/Temp/AB_03-Mar-11_14;05;09_2_.vkl";
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(CFile::OsPath(*std::next(outputs.begin())), first);
    EXPECT_EQ(CFile::OsPath(outputs.back()), second);  // same name, same second: never overwritten
    const auto records = LogRecords(first);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].GetDataLength(), 0);  // a packet of 4 bytes: an empty body
    EXPECT_EQ(records[2].GetDataLength(), 12);
    EXPECT_EQ(records[2].GetMessageIndex(), 3u);
    EXPECT_EQ(LogRecords(second).size(), 3u);
    const std::string missing = "Error opening \"" + Path("none.bin") + "\" for reading.";
    const std::string proto = "The packets are in protokol ID 2 and it is not implemented";
    EXPECT_EQ(boxes.Texts(), (Texts{proto, missing, proto}));
}

}  // namespace

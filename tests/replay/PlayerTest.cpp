#include <atomic>

#include "framework/Archive.h"
#include "logger/Logger.h"
#include "platform/MessageBus.h"
#include "replay/LogFilePlayer.h"
#include "tests/logfile/LogFileBytes.h"
#include "tests/support/BusClient.h"
#include "tests/support/TestEnv.h"

namespace {

CVESKMessage Numbered(uint64_t index)
{
    const BYTE data[] = {6, 0, 0, 0, 0, 0, 0, 0, static_cast<BYTE>(index)};
    CVESKMessage m(1, static_cast<int>(index % 5), data, sizeof data, 0);
    m.SetPCTimeStamp(CSystemTime(2011, 3, 3, 14, 5, 9, static_cast<int>(index)));
    m.SetMessageIndex(index);
    return m;
}

// Writes a log file of `count` records numbered from 1.
void WriteLog(const std::string& path, int count)
{
    CLogFile f;
    ASSERT_TRUE(f.Open(path.c_str(), 1, 1, 0));
    CArchive ar(&f, CArchive::store);
    for (int i = 1; i <= count; ++i) {
        CVESKMessage m = Numbered(static_cast<uint64_t>(i));
        m.Serialize(ar);
    }
    ar.Close();
    f.Close();
}

// A registered, resumed client that records what the player sends through the bus.
struct Receiver : Collector {
    Receiver() { client->Resume(); }
    void Drain() { client->WaitUntilEmpty(kGenerous); }
    ClientPtr client = MakeClient(*this);
};

class PlayerTest : public HostFixture {};

}  // namespace

TEST_F(PlayerTest, EmptyFileEndsAtOnceWithEndNotification)
{
    // A file of records that the player reads as none: H = 4.
    Bytes bytes;
    Put32(bytes, 4);
    Append(bytes, FreshHeader());
    WriteAll(Path("empty.vkl"), bytes);
    CQueueWnd wnd;
    CLogFilePlayer player(&wnd);
    EXPECT_FALSE(player.Play());  // nothing loaded
    EXPECT_FALSE(player.Pause());
    ASSERT_TRUE(player.LoadLogFile(Path("empty.vkl").c_str()));
    ASSERT_TRUE(player.Play());
    EXPECT_TRUE(wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 10000));
    EXPECT_EQ(player.GetMessageCounter(), 0u);
    EXPECT_FALSE(player.IsPlaying());
}

TEST_F(PlayerTest, ReplaysEveryRecordInOrderAndEnds)
{
    WriteLog(Path("ten.vkl"), 10);
    Receiver rx;
    CQueueWnd wnd;
    CLogFilePlayer player(&wnd);
    ASSERT_TRUE(player.LoadLogFile(Path("ten.vkl").c_str()));
    player.SetSpeed(0);
    ASSERT_TRUE(player.Play());
    ASSERT_TRUE(wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 10000));
    ASSERT_TRUE(rx.WaitFor(10));
    rx.Drain();
    EXPECT_EQ(rx.Indexes(), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(player.GetFilePosition(), 4);  // rewound at the end
    EXPECT_EQ(player.GetMessageCounter(), 0u);
}

TEST_F(PlayerTest, ResumeAfterPauseGoesOnWithTheNextRecord)
{
    WriteLog(Path("pause.vkl"), 6);
    Receiver rx;
    CQueueWnd wnd;
    CLogFilePlayer player(&wnd);
    ASSERT_TRUE(player.LoadLogFile(Path("pause.vkl").c_str()));
    player.SetSpeed(60000);  // a long pause after each message; Pause cuts it short
    ASSERT_TRUE(player.Play());
    ASSERT_TRUE(rx.WaitFor(1));
    ASSERT_TRUE(player.Pause());
    EXPECT_FALSE(player.IsPlaying());
    player.SetSpeed(0);
    ASSERT_TRUE(player.Resume());
    ASSERT_TRUE(wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 10000));
    ASSERT_TRUE(rx.WaitFor(6));
    rx.Drain();
    EXPECT_EQ(rx.Indexes(), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(PlayerTest, LoopingKeepsReplayingUntilPausedAndCloseReturnsPromptly)
{
    WriteLog(Path("loop.vkl"), 3);
    Receiver rx;
    CQueueWnd wnd;
    auto player = std::make_unique<CLogFilePlayer>(&wnd);
    ASSERT_TRUE(player->LoadLogFile(Path("loop.vkl").c_str()));
    player->SetSpeed(0);
    player->SetLooped(1);
    ASSERT_TRUE(player->Play());
    ASSERT_TRUE(rx.WaitFor(30));  // ten passes and more
    ASSERT_TRUE(player->Pause());
    // RewindFile(true) while playing pauses and zeroes the counter.
    ASSERT_TRUE(player->Resume());
    player->RewindFile(true);
    EXPECT_FALSE(player->IsPlaying());
    EXPECT_EQ(player->GetMessageCounter(), 0u);
    player->SetSpeed(60000);
    ASSERT_TRUE(player->Resume());
    player->CloseFile();  // the long pause does not hold it up
    EXPECT_EQ(wnd.Count(CLogFilePlayer::WM_PLAYER_END), 0u);  // closed, not ended
    EXPECT_EQ(player->GetFileSize(), 0);
    // Destroying a looping player stops it too.
    ASSERT_TRUE(player->LoadLogFile(Path("loop.vkl").c_str()));
    player->SetSpeed(0);
    ASSERT_TRUE(player->Play());
    player.reset();
    const auto received = rx.Indexes();
    // Passes of 1, 2, 3 without a gap until the first pause; the rewind and the second load
    // start again at 1 wherever the replay stood.
    ASSERT_GE(received.size(), 30u);
    for (size_t i = 0; i < 30; ++i) ASSERT_EQ(received[i], i % 3 + 1) << "at " << i;
    for (size_t i = 30; i < received.size(); ++i)
        ASSERT_TRUE(received[i] == 1 || received[i] == received[i - 1] % 3 + 1) << "at " << i << ": " << received[i];
}

TEST_F(PlayerTest, ReadAheadAtSpeedZeroIsInvisibleToPauseAndStep)
{
    constexpr uint64_t kRecords = 1000;  // several read-ahead blocks
    WriteLog(Path("many.vkl"), static_cast<int>(kRecords));
    Receiver rx;
    CQueueWnd wnd;
    CLogFilePlayer player(&wnd);
    ASSERT_TRUE(player.LoadLogFile(Path("many.vkl").c_str()));
    player.SetSpeed(0);
    player.SetLooped(1);
    ASSERT_TRUE(player.Play());
    // Pauses land anywhere in a block; each time the step sends the record after the
    // last one the thread sent, and the replay goes on after that.
    for (size_t round = 1; round <= 50; ++round) {
        ASSERT_TRUE(rx.WaitFor(round * 700));
        ASSERT_TRUE(player.Pause());
        player.Step();
        ASSERT_TRUE(player.Resume());
    }
    player.CloseFile();
    rx.Drain();
    const std::vector<uint64_t> got = rx.Indexes();
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], i % kRecords + 1) << "at " << i;
}

TEST_F(PlayerTest, StepAtTheEnd)
{
    WriteLog(Path("step.vkl"), 2);
    Receiver rx;
    std::atomic<int> steps{0};
    CQueueWnd wnd([&](const WindowMessage& m) {
        if (m.message == CLogFilePlayer::WM_PLAYER_STEP) ++steps;
        return LRESULT(0);
    });
    CLogFilePlayer player(&wnd);
    player.Step();  // nothing loaded: nothing happens
    EXPECT_EQ(steps, 0);
    ASSERT_TRUE(player.LoadLogFile(Path("step.vkl").c_str()));
    player.Step();
    player.Step();
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(player.GetMessageCounter(), 2u);

    // At the end, looping off, answer No: nothing changes.
    boxes.Answer(IDNO);
    player.Step();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"End of File Reached. Rewind and Begin Again?"});
    EXPECT_EQ(player.GetMessageCounter(), 2u);
    EXPECT_EQ(steps, 2);

    // Looping on: rewinds without asking and replays the first record.
    player.SetLooped(1);
    player.Step();
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(player.GetMessageCounter(), 1u);
    ASSERT_TRUE(rx.WaitFor(3));
    rx.Drain();
    EXPECT_EQ(rx.Indexes(), (std::vector<uint64_t>{1, 2, 1}));
}

TEST_F(PlayerTest, DamagedRecordStopsTheReplayWithAMessageOnlyBeforeTheEnd)
{
    // Record 1, then a record whose data length is absurd, then a sound header.
    Bytes bytes;
    Put32(bytes, 4 + 43 + 40);
    Append(bytes, SampleRecord(1));
    Bytes broken(40, 0x00);
    broken[24] = 0xFF;
    broken[25] = 0xFF;
    broken[26] = 0xFF;
    broken[27] = 0x7F;
    Append(bytes, broken);
    Append(bytes, FreshHeader());
    WriteAll(Path("bad.vkl"), bytes);
    Receiver rx;
    CQueueWnd wnd;
    {
        CLogFilePlayer player(&wnd);
        ASSERT_TRUE(player.LoadLogFile(Path("bad.vkl").c_str()));
        ASSERT_TRUE(player.Play());
        ASSERT_TRUE(wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 10000));
    }
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Error reading log file.");
    EXPECT_EQ(boxes.Shown()[0].type & MB_ICONMASK, MB_ICONEXCLAMATION);
    ASSERT_TRUE(rx.WaitFor(1));
    rx.Drain();
    EXPECT_EQ(rx.Indexes(), std::vector<uint64_t>{1});

    // The header position lies three bytes into the second record, which therefore
    // runs into the header and fails past the end of the records: no message.
    Bytes straddling;
    Put32(straddling, 4 + 43 + 3);
    Append(straddling, SampleRecord(1));
    straddling.insert(straddling.end(), {'x', 'y', 'z'});
    Append(straddling, FreshHeader());
    WriteAll(Path("tail.vkl"), straddling);
    CLogFilePlayer player(&wnd);
    ASSERT_TRUE(player.LoadLogFile(Path("tail.vkl").c_str()));
    ASSERT_TRUE(player.Play());
    ASSERT_TRUE(wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 10000));
    EXPECT_EQ(boxes.Count(), 1u);
}

TEST_F(PlayerTest, ReplayIntoASecondLoggerGivesIdenticalRecords)
{
    WriteLog(Path("source.vkl"), 200);
    {
        CLogger logger("copy", 1, 0, tmp.path().c_str(), -1, 0, 0, 0);
        logger.Resume();
        CQueueWnd wnd;
        CLogFilePlayer player(&wnd);
        ASSERT_TRUE(player.LoadLogFile(Path("source.vkl").c_str()));
        player.SetSpeed(0);
        ASSERT_TRUE(player.Play());
        ASSERT_TRUE(wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, 10000));
        logger.EmptyFIFO();
        logger.Close();
    }
    CLogFile a, b;
    ASSERT_TRUE(a.OpenForInspection(Path("source.vkl").c_str()));
    ASSERT_TRUE(b.OpenForInspection(Path("copy.vkl").c_str()));
    ASSERT_EQ(a.GetHeaderPosition(), b.GetHeaderPosition());
    std::vector<uint8_t> ra(a.GetHeaderPosition()), rb(b.GetHeaderPosition());
    a.SeekToBegin();
    b.SeekToBegin();
    a.Read(ra.data(), static_cast<UINT>(ra.size()));
    b.Read(rb.data(), static_cast<UINT>(rb.size()));
    EXPECT_TRUE(ra == rb);
}

#include <atomic>

#include "replay/LogFilePlayer.h"
#include "tests/support/LogFileBytes.h"
#include "tests/support/TestEnv.h"

namespace {

// A player over a window that counts the steps sent to it, and a resumed client that
// records what the player sends through the bus. The player goes first, so its thread
// never outlives the window or the client.
class PlayerTest : public HostFixture {
protected:
    PlayerTest() { client->Resume(); }

    // Writes a log file of `count` records numbered from 1 and loads it.
    void Load(const char* name, int count, unsigned speedMs = 0)
    {
        WriteAll(Path(name), LogBytes(4 + 43 * count, Range(1, count), FreshHeader()));
        ASSERT_TRUE(player->LoadLogFile(Path(name).c_str()));
        player->SetSpeed(speedMs);
    }
    bool Ended() { return wnd.WaitFor(CLogFilePlayer::WM_PLAYER_END, kGenerous); }
    // The indexes received, once at least `n` have arrived and the client is idle.
    std::vector<uint64_t> Received(size_t n)
    {
        EXPECT_TRUE(rx.WaitFor(n));
        client->WaitUntilEmpty(kGenerous);
        return rx.Indexes();
    }

    Collector rx;
    ClientPtr client = MakeClient(rx);
    std::atomic<int> steps{0};
    CQueueWnd wnd{[this](const WindowMessage& m) {
        steps += m.message == CLogFilePlayer::WM_PLAYER_STEP;
        return LRESULT(0);
    }};
    std::unique_ptr<CLogFilePlayer> player = std::make_unique<CLogFilePlayer>(&wnd);
};

}  // namespace

TEST_F(PlayerTest, ReplaysEveryRecordInOrderThroughAPauseAndEndsRewound)
{
    // Nothing loaded: nothing plays, pauses or steps. No records: the end comes at once.
    EXPECT_FALSE(player->Play());
    EXPECT_FALSE(player->Pause());
    player->Step();
    EXPECT_EQ(steps, 0);
    Load("empty.vkl", 0);
    ASSERT_TRUE(player->Play());
    EXPECT_TRUE(Ended());
    EXPECT_EQ(player->GetMessageCounter(), 0u);
    EXPECT_FALSE(player->IsPlaying());

    // A long pause after each message; Pause cuts it short, Resume goes on with the next record.
    Load("ten.vkl", 10, 60000);
    ASSERT_TRUE(player->Play());
    ASSERT_TRUE(rx.WaitFor(1));
    ASSERT_TRUE(player->Pause());
    EXPECT_FALSE(player->IsPlaying());
    player->SetSpeed(0);
    ASSERT_TRUE(player->Resume());
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Received(10), Range(1, 10));
    EXPECT_EQ(player->GetFilePosition(), 4);
    EXPECT_EQ(player->GetMessageCounter(), 0u);
}

TEST_F(PlayerTest, LoopingKeepsReplayingUntilPausedAndCloseReturnsPromptly)
{
    Load("loop.vkl", 3);
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
    player->CloseFile();                                      // the long pause does not hold it up
    EXPECT_EQ(wnd.Count(CLogFilePlayer::WM_PLAYER_END), 0u);  // closed, not ended
    EXPECT_EQ(player->GetFileSize(), 0);
    // Destroying a looping player stops it too.
    Load("loop.vkl", 3);
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
    Load("many.vkl", static_cast<int>(kRecords));
    player->SetLooped(1);
    ASSERT_TRUE(player->Play());
    // Pauses land anywhere in a block; each time the step sends the record after the
    // last one the thread sent, and the replay goes on after that.
    for (size_t round = 1; round <= 50; ++round) {
        ASSERT_TRUE(rx.WaitFor(round * 700));
        ASSERT_TRUE(player->Pause());
        player->Step();
        ASSERT_TRUE(player->Resume());
    }
    player->CloseFile();
    client->WaitUntilEmpty(kGenerous);
    const std::vector<uint64_t> got = rx.Indexes();
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], i % kRecords + 1) << "at " << i;
}

TEST_F(PlayerTest, StepAtTheEnd)
{
    Load("step.vkl", 2);
    player->Step();
    player->Step();
    // At the end, looping off, answer No: nothing changes.
    boxes.Answer(IDNO);
    player->Step();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"End of File Reached. Rewind and Begin Again?"});
    EXPECT_EQ(player->GetMessageCounter(), 2u);
    EXPECT_EQ(steps, 2);

    // Looping on: rewinds without asking and replays the first record.
    player->SetLooped(1);
    player->Step();
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(player->GetMessageCounter(), 1u);
    EXPECT_EQ(Received(3), (std::vector<uint64_t>{1, 2, 1}));
}

TEST_F(PlayerTest, DamagedRecordStopsTheReplayWithAMessageOnlyBeforeTheEnd)
{
    // Record 1, then a record whose data length is absurd, then a sound header.
    const Bytes broken = Cat({Bytes(24, 0), {0xFF, 0xFF, 0xFF, 0x7F}, Bytes(12, 0)});
    WriteAll(Path("bad.vkl"), LogBytes(4 + 43 + 40, {1}, Cat({broken, FreshHeader()})));
    ASSERT_TRUE(player->LoadLogFile(Path("bad.vkl").c_str()));
    ASSERT_TRUE(player->Play());
    ASSERT_TRUE(Ended());
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Error reading log file.");
    EXPECT_EQ(boxes.Shown()[0].type & MB_ICONMASK, MB_ICONEXCLAMATION);
    EXPECT_EQ(Received(1), std::vector<uint64_t>{1});

    // The header position lies three bytes into the second record, which therefore
    // runs into the header and fails past the end of the records: no message.
    WriteAll(Path("tail.vkl"), LogBytes(4 + 43 + 3, {1}, Cat({{'x', 'y', 'z'}, FreshHeader()})));
    ASSERT_TRUE(player->LoadLogFile(Path("tail.vkl").c_str()));
    ASSERT_TRUE(player->Play());
    ASSERT_TRUE(Ended());
    EXPECT_EQ(boxes.Count(), 1u);
}

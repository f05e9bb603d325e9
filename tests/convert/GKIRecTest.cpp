// GKI records and the reader against native headers and record bytes written out by hand
// (the reader's numbering and bad records: the import's tests).
#include <gtest/gtest.h>

#include "tests/convert/ConvertTest.h"

namespace {
using GKIRecTest = GkiFixture;

constexpr uint32_t kThree = 4101;  // three chars
const Bytes kAbc = {'a', 'b', 'c'};

Bytes Image(const CGKIRec& r)
{
    return Bytes(r.GetImage(), r.GetImage() + r.GetImageSize());
}
}  // namespace

// The record's bytes from a whole message: the export's tests.
TEST_F(GKIRecTest, SignalRecordOfAMessageShorterThanItsHeaderSays)
{
    // S 2, I 4, E 2: field 1 at 0, field 2 at 2, body length at 4, identifier at 8, body at 12.
    // A body length that claims more than the message holds converts the bytes present;
    // header bytes past the data read as 0.
    const Bytes native = Cat({LE(1, 2), LE(2, 2), LE(100, 2), {0xEE, 0xEE}, LE(kThree, 4), kAbc});
    CGKISignalRec rec;
    ASSERT_EQ(rec.FromMessage(native.data(), static_cast<int>(native.size()), converter), 1) << rec.GetErrorText();
    EXPECT_EQ(rec.m_wBodyLength, 3);
    ASSERT_EQ(rec.FromMessage(native.data(), 4, converter), 1);
    EXPECT_EQ(rec.m_nHeaderField2, 2u);
    EXPECT_EQ(rec.m_wBodyLength, 0);
    EXPECT_EQ(rec.m_nId, 0u);
    EXPECT_EQ(rec.m_wLength, 14);
}

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
    EXPECT_EQ(rec.m_nLogWord1, 0x11111111u);
    EXPECT_EQ(rec.m_nLogWord2, 0x22222222u);
    EXPECT_EQ(rec.m_nHeaderField2, 2u);
    // ... and the image that loading builds puts them at 2 and 6.
    CGKISignalRecReader reader;
    const auto messages = ReadBack(Stored({&rec}), reader);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(DataOf(*messages[0]), Cat({LE(5, 8), {1, 2}, words, LE(3, 2), LE(kThree, 4), kAbc}));
}

TEST_F(GKIRecTest, CommandRecords)
{
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

#include "framework/Archive.h"
#include "platform/VESKMessage.h"
#include "tests/framework/Helpers.h"
#include "tests/support/LargestAllocation.h"
#include "tests/support/TestEnv.h"

namespace {
class MessageRecord : public ::testing::Test {
protected:
    std::vector<uint8_t> Store(CVESKMessage m)
    {
        CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&f, CArchive::store);
        m.Serialize(ar);
        ar.Close();
        return ReadAll(path);
    }
    CVESKMessage Load()
    {
        CFile f(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
        CArchive ar(&f, CArchive::load);
        CVESKMessage m;
        m.Serialize(ar);
        return m;
    }
    TempDir tmp;
    const std::string path = tmp / "record";
};
}  // namespace

// The first record is the worked example of docs/FORMAT.md.
TEST_F(MessageRecord, BytesAsWrittenOutByHand)
{
    const BYTE data[] = {0x10, 0x20, 0x30};
    CVESKMessage m(1, 2, data, 3, 1);
    m.SetPCTimeStamp(CSystemTime(2026, 12, 5, 21, 53, 31, 250));  // a Saturday
    m.SetMessageIndex(0x0102030405060708ull);
    const std::vector<uint8_t> expected = {
        0x01, 0x00, 0x00, 0x00,                          // kind
        0x02, 0x00, 0x00, 0x00,                          // device
        0xEA, 0x07, 0x0C, 0x00, 0x06, 0x00, 0x05, 0x00,  // 2026, December, Saturday, 5th
        0x15, 0x00, 0x35, 0x00, 0x1F, 0x00, 0xFA, 0x00,  // 21:53:31.250
        0x03, 0x00, 0x00, 0x00,                          // data length
        0x10, 0x20, 0x30,                                // data
        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // index
        0x01, 0x00, 0x00, 0x00,                          // further value
    };
    EXPECT_EQ(Store(m), expected);
    EXPECT_EQ(Load(), m);
    // The same bytes when the record does not fit in what is left of the archive's buffer.
    {
        CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&f, CArchive::store);
        const std::vector<uint8_t> filler(CArchive::kDefaultBufSize - 10, 0xEE);
        ar.Write(filler.data(), static_cast<UINT>(filler.size()));
        m.Serialize(ar);
        ar.Close();
    }
    const std::vector<uint8_t> both = ReadAll(path);
    EXPECT_EQ(std::vector<uint8_t>(both.begin() + CArchive::kDefaultBufSize - 10, both.end()), expected);

    // A negative length marks an unreadable message: no data bytes follow it.
    CVESKMessage unreadable(1, 2, nullptr, -1, 0);
    unreadable.SetPCTimeStamp(CSystemTime(2011, 3, 3, 14, 5, 9, 0));
    unreadable.SetMessageIndex(7);
    EXPECT_EQ(Store(unreadable), UnreadableRecord());
    const CVESKMessage back = Load();
    EXPECT_EQ(back.GetDataLength(), -1);
    EXPECT_EQ(back.GetData(), nullptr);
    EXPECT_EQ(back, unreadable);
}

TEST_F(MessageRecord, DamagedLengthsAreRefusedWithoutABigAllocation)
{
    // The cause of the archive error in loading the bytes (empty: none); the largest
    // allocation meanwhile stays far below what the damaged lengths name.
    auto loadDamaged = [&](const std::vector<uint8_t>& bytes) {
        WriteAll(path, bytes);
        std::optional<CArchiveException::Cause> cause;
        EXPECT_LT(LargestAllocationOf([&] { cause = CauseOf<CArchiveException>([&] { Load(); }); }), size_t{1} << 20);
        return cause;
    };
    std::vector<uint8_t> bytes(40, 0);
    const auto withLength = [&](uint32_t length) {
        for (int i = 0; i < 4; ++i) bytes[24 + i] = static_cast<uint8_t>(length >> (8 * i));
        return bytes;
    };
    EXPECT_NE(loadDamaged(withLength(0x7FFFFFF0)), std::nullopt);  // past any record's size
    // 16 MiB: allowed, but the 40-byte file ends long before it.
    EXPECT_EQ(loadDamaged(withLength(0x01000000)), CArchiveException::endOfFile);
    // A record cut inside its fixed fields.
    EXPECT_EQ(loadDamaged(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20)), CArchiveException::endOfFile);
}

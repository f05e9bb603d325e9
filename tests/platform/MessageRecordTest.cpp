#include "framework/Archive.h"
#include "platform/VESKMessage.h"
#include "tests/support/LargestAllocation.h"
#include "tests/support/TestEnv.h"

namespace {
std::vector<uint8_t> Store(CVESKMessage m, const std::string& path)
{
    CFile f;
    EXPECT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite));
    CArchive ar(&f, CArchive::store);
    m.Serialize(ar);
    ar.Close();
    f.Close();
    return ReadAll(path);
}

CVESKMessage Load(const std::string& path)
{
    CFile f;
    EXPECT_TRUE(f.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone));
    CArchive ar(&f, CArchive::load);
    CVESKMessage m;
    m.Serialize(ar);
    return m;
}

// Loads a damaged record; returns the archive error's cause and the largest allocation.
std::pair<int, size_t> LoadDamaged(const std::string& path, const std::vector<uint8_t>& bytes)
{
    WriteAll(path, bytes);
    int cause = -1;
    const size_t largest = LargestAllocationOf([&] {
        try {
            Load(path);
        } catch (const CArchiveException& e) {
            cause = e.m_cause;
        }
    });
    return {cause, largest};
}
}  // namespace

// The same record is the worked example of docs/FORMAT.md.
TEST(MessageRecord, BytesAsWrittenOutByHand)
{
    TempDir tmp;
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
    EXPECT_EQ(Store(m, tmp / "r"), expected);
    EXPECT_EQ(Load(tmp / "r"), m);
}

TEST(MessageRecord, NegativeLengthCarriesNoDataBytes)
{
    TempDir tmp;
    CVESKMessage m(2, 0, nullptr, -1, 0);
    m.SetMessageIndex(9);
    const auto bytes = Store(m, tmp / "neg");
    ASSERT_EQ(bytes.size(), 40u);  // the fixed fields only
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 24, bytes.begin() + 29), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 9}));
    const CVESKMessage back = Load(tmp / "neg");
    EXPECT_EQ(back.GetDataLength(), -1);
    EXPECT_EQ(back.GetData(), nullptr);
    EXPECT_EQ(back, m);
}

TEST(MessageRecord, DamagedLengthsAreRefusedWithoutABigAllocation)
{
    TempDir tmp;
    constexpr size_t kSmall = 1 << 20;  // far below what the damaged lengths name
    std::vector<uint8_t> bytes(40, 0);
    const auto withLength = [&](uint32_t length) {
        for (int i = 0; i < 4; ++i) bytes[24 + i] = static_cast<uint8_t>(length >> (8 * i));
        return bytes;
    };
    // 0x7FFFFFF0: past any record's size.
    const auto [absurdCause, absurdLargest] = LoadDamaged(tmp / "absurd", withLength(0x7FFFFFF0));
    EXPECT_NE(absurdCause, -1) << "no archive exception";
    EXPECT_LT(absurdLargest, kSmall);
    // 16 MiB: allowed, but the 40-byte file ends long before it.
    const auto [longCause, longLargest] = LoadDamaged(tmp / "long", withLength(0x01000000));
    EXPECT_EQ(longCause, CArchiveException::endOfFile);
    EXPECT_LT(longLargest, kSmall);
    // A record cut inside its fixed fields is an end of data too.
    EXPECT_EQ(LoadDamaged(tmp / "cut", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20)).first,
              CArchiveException::endOfFile);
}

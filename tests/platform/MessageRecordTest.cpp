#include "framework/Archive.h"
#include "platform/VESKMessage.h"
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
}  // namespace

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
    ASSERT_EQ(bytes.size(), 40u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 24, bytes.begin() + 28), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    const CVESKMessage back = Load(tmp / "neg");
    EXPECT_EQ(back.GetDataLength(), -1);
    EXPECT_EQ(back.GetData(), nullptr);
    EXPECT_EQ(back.GetMessageIndex(), 9u);
}

TEST(MessageRecord, AbsurdLengthIsRefusedWithoutAllocating)
{
    TempDir tmp;
    std::vector<uint8_t> bytes(40, 0);
    bytes[24] = 0xF0;
    bytes[25] = 0xFF;
    bytes[26] = 0xFF;
    bytes[27] = 0x7F;  // 0x7FFFFFF0
    WriteAll(tmp / "absurd", bytes);
    EXPECT_THROW(Load(tmp / "absurd"), CArchiveException);
    // Just under the limit but far past the data: end of data, not a big allocation.
    bytes[24] = 0x00;
    bytes[25] = 0x00;
    bytes[26] = 0x00;
    bytes[27] = 0x01;  // 16 MiB exactly
    WriteAll(tmp / "long", bytes);
    try {
        Load(tmp / "long");
        FAIL() << "no exception";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    }
}

TEST(MessageRecord, BodyAndTypeAccessors)
{
    const BYTE data[] = {0x43, 0x00, 0, 0, 0, 0, 0, 0, 0xAB, 0xCD};
    CVESKMessage m(1, 0, data, sizeof data, 0);
    EXPECT_EQ(m.GetMessageType(), 67);
    ASSERT_EQ(m.GetBodyLength(), 2);
    EXPECT_EQ(m.GetBody()[1], 0xCD);
    CVESKMessage shortOne(1, 0, data, 1, 0);
    EXPECT_EQ(shortOne.GetMessageType(), 0);
    EXPECT_EQ(shortOne.GetBodyLength(), 0);
    EXPECT_EQ(shortOne.GetBody(), nullptr);
}

#include "framework/Archive.h"
#include "framework/File.h"
#include "tests/support/TestEnv.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes StoreString(const std::string& path, const CString& s)
{
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    CArchive ar(&f, CArchive::store);
    ar << s;
    ar.Close();
    f.Close();
    return ReadAll(path);
}

CString LoadString(const std::string& path)
{
    CFile f(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    CString s;
    ar >> s;
    return s;
}
}  // namespace

TEST(Archive, StringLengthPrefixesByteForByte)
{
    TempDir tmp;
    const std::string p = tmp / "s";
    struct Case {
        int length;
        Bytes prefix;
    };
    const Case cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        const CString s(static_cast<char>('a' + c.length % 26), c.length);
        const Bytes bytes = StoreString(p, s);
        ASSERT_EQ(bytes.size(), c.prefix.size() + static_cast<size_t>(c.length)) << c.length;
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(c.prefix.size())), c.prefix) << c.length;
        EXPECT_EQ(LoadString(p), s) << c.length;
    }
}

TEST(Archive, TwoByteCharactersAreNarrowedOnLoading)
{
    TempDir tmp;
    // FF FE FF announces 2-byte characters; then length 3 in one byte; "Hi" and U+263A.
    WriteAll(tmp / "w", {0xFF, 0xFE, 0xFF, 0x03, 'H', 0x00, 'i', 0x00, 0x3A, 0x26, 0x07});
    CFile f((tmp / "w").c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    CString s;
    BYTE after = 0;
    ar >> s >> after;
    EXPECT_EQ(s, "Hi?");
    EXPECT_EQ(after, 0x07);
}

TEST(Archive, DeclaredLengthPastTheEndIsEndOfDataNotAnAllocation)
{
    TempDir tmp;
    WriteAll(tmp / "x", {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'});
    try {
        LoadString(tmp / "x");
        FAIL() << "no exception";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    }
}

TEST(Archive, LittleEndianIntegers)
{
    TempDir tmp;
    const std::string p = tmp / "i";
    {
        CFile f(p.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&f, CArchive::store);
        ar << static_cast<uint8_t>(0x12) << static_cast<uint16_t>(0x3456) << static_cast<uint32_t>(0x789ABCDE)
           << static_cast<int32_t>(-2) << static_cast<uint64_t>(0x0102030405060708ull) << static_cast<int16_t>(-3);
    }  // the destructor flushes
    EXPECT_EQ(ReadAll(p), (Bytes{0x12, 0x56, 0x34, 0xDE, 0xBC, 0x9A, 0x78, 0xFE, 0xFF, 0xFF, 0xFF, 0x08, 0x07, 0x06,
                                 0x05, 0x04, 0x03, 0x02, 0x01, 0xFD, 0xFF}));
    CFile f(p.c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    uint8_t a;
    uint16_t b;
    uint32_t c;
    int32_t d;
    uint64_t e;
    int16_t g;
    ar >> a >> b >> c >> d >> e >> g;
    EXPECT_EQ(a, 0x12);
    EXPECT_EQ(b, 0x3456);
    EXPECT_EQ(c, 0x789ABCDEu);
    EXPECT_EQ(d, -2);
    EXPECT_EQ(e, 0x0102030405060708ull);
    EXPECT_EQ(g, -3);
    EXPECT_THROW(ar >> a, CArchiveException);
}

TEST(Archive, LoadingArchiveGivesBackItsReadAhead)
{
    TempDir tmp;
    const std::string p = tmp / "records";
    // 300 "records" of 37 bytes: a 4-byte number and a 32-byte string.
    {
        CFile f(p.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&f, CArchive::store);
        for (uint32_t i = 0; i < 300; ++i) ar << i << CString('r', 32);
    }
    ASSERT_EQ(ReadAll(p).size(), 300u * 37u);
    CFile f(p.c_str(), CFile::modeRead | CFile::shareDenyNone);
    for (uint32_t i = 0; i < 300; ++i) {
        ASSERT_EQ(f.GetPosition(), i * 37u);
        CArchive ar(&f, CArchive::load);
        uint32_t n = 0;
        CString s;
        ar >> n >> s;
        EXPECT_EQ(n, i);
        if (i % 2) ar.Flush(); else ar.Close();  // both give the read-ahead back
        EXPECT_EQ(f.GetPosition(), (i + 1) * 37u);
    }
    // Mid-record: a flush after the number leaves the position right after it.
    f.SeekToBegin();
    CArchive ar(&f, CArchive::load);
    uint32_t n = 0;
    ar >> n;
    ar.Flush();
    EXPECT_EQ(f.GetPosition(), 4u);
    // The loading and storing modes refuse each other's operations.
    EXPECT_THROW(ar << n, CArchiveException);
}

TEST(Archive, StoringLargeBlocksAndManySmallWrites)
{
    TempDir tmp;
    const std::string p = tmp / "big";
    Bytes block(10000);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    {
        CFile f(p.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&f, CArchive::store);
        for (int i = 0; i < 5000; ++i) ar << static_cast<uint8_t>(i);
        ar.Write(block.data(), static_cast<UINT>(block.size()));
        ar << static_cast<uint8_t>(0xEE);
        ar.Close();
    }
    const Bytes all = ReadAll(p);
    ASSERT_EQ(all.size(), 5000u + 10000u + 1u);
    EXPECT_EQ(all[4999], static_cast<uint8_t>(4999));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), all.begin() + 5000));
    EXPECT_EQ(all.back(), 0xEE);
}

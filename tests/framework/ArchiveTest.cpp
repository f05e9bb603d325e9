// CArchive: the string length encoding, little-endian integers, the store buffer, and
// the give-back of read-ahead that lets one fresh loading archive read one record.
#include <optional>
#include <tuple>

#include "framework/Archive.h"
#include "framework/File.h"
#include "tests/framework/Helpers.h"
#include "tests/support/LargestAllocation.h"
#include "tests/support/TestEnv.h"

namespace {

class ArchiveTest : public ::testing::Test {
protected:
    std::string Path() const { return tmp / "a.bin"; }

    Bytes Store(const std::function<void(CArchive&)>& fill)
    {
        CFile f(Path().c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&f, CArchive::store);
        fill(ar);
        ar.Close();
        return ReadAll(Path());
    }

    CString LoadString(const Bytes& bytes)
    {
        WriteAll(Path(), bytes);
        CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
        CArchive ar(&f, CArchive::load);
        CString s;
        ar >> s;
        ar.Close();
        EXPECT_EQ(f.GetPosition(), bytes.size()) << "the whole encoding is consumed, nothing more";
        return s;
    }

    TempDir tmp;
};

TEST_F(ArchiveTest, StringLengthPrefixAtEveryBoundary)
{
    const std::pair<size_t, Bytes> cases[] = {
        {0, {0x00}},
        {1, {0x01}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const auto& [length, prefix] : cases) {
        SCOPED_TRACE(length);
        std::string text(length, 'd');
        for (size_t i = 0; i < length; i += 97) text[i] = static_cast<char>('a' + i % 26);
        const Bytes expected = Cat({prefix, Bytes(text.begin(), text.end())});
        EXPECT_EQ(Store([&](CArchive& ar) { ar << CString(text); }), expected);
        EXPECT_EQ(LoadString(expected).str(), text);
    }
}

TEST_F(ArchiveTest, TwoByteCharacterStringsAreNarrowedOnLoading)
{
    // FF FE FF announces UTF-16LE characters; the length follows in the same scheme.
    EXPECT_EQ(LoadString({0xFF, 0xFE, 0xFF, 0x04, 'h', 0, 'i', 0, 0xE9, 0x00, 0xAC, 0x20}), CString("hi\xE9?"));
    EXPECT_EQ(LoadString({0xFF, 0xFE, 0xFF, 0x00}), CString());
    // 300 characters: the length takes the 16-bit form.
    Bytes wide = {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01};
    std::string narrow;
    for (int i = 0; i < 300; ++i) {
        narrow += static_cast<char>('A' + i % 26);
        wide.insert(wide.end(), {static_cast<uint8_t>(narrow.back()), 0});
    }
    EXPECT_EQ(LoadString(wide).str(), narrow);
}

TEST_F(ArchiveTest, DeclaredLengthPastTheEndIsEndOfFileWithoutAllocatingIt)
{
    // FF FFFF then a 32-bit length of 0xFFFFFFF0, in a file of 10 bytes; 2-byte characters,
    // whose byte count is twice the declared length; a length prefix cut short.
    const Bytes hostile[] = {{0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'},
                             {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'x', 0},
                             {0xFF, 0xFF}};
    for (const Bytes& bytes : hostile) {
        SCOPED_TRACE(bytes.size());
        std::optional<CArchiveException::Cause> cause;
        const size_t largest =
            LargestAllocationOf([&] { cause = CauseOf<CArchiveException>([&] { LoadString(bytes); }); });
        EXPECT_EQ(cause, CArchiveException::endOfFile);
        EXPECT_LT(largest, size_t{1} << 20);
    }
}

TEST_F(ArchiveTest, ItemsStraddlingTheBufferBoundaryLoadAndAFlushGivesBackWhatIsUnread)
{
    // Single bytes up to 2 short of the 4096-byte block, then an integer across it, then
    // a string whose characters cross the next block boundary.
    Bytes bytes = Cat({Bytes(4094, 0x11), {0x78, 0x56, 0x34, 0x12, 0xFF, 0x88, 0x13}});  // 0x12345678, a string of 5000
    for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<uint8_t>('0' + i % 10));
    bytes.push_back(0x42);
    WriteAll(Path(), bytes);

    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    Bytes singles(4094);
    for (uint8_t& b : singles) ar >> b;
    EXPECT_EQ(singles, Bytes(4094, 0x11));
    uint32_t dw = 0;
    CString s;
    ar >> dw >> s;
    EXPECT_EQ(std::tuple(dw, s.str()), std::tuple(0x12345678u, std::string(bytes.begin() + 4101, bytes.end() - 1)));
    // Flushed in the middle of a block, the archive reads on; a short Read returns what there is.
    ar.Flush();
    EXPECT_EQ(f.GetPosition(), bytes.size() - 1);
    uint8_t chunk[10] = {};
    EXPECT_EQ(ar.Read(chunk, 10), 1u);
    EXPECT_EQ(chunk[0], 0x42);
    ar.Close();
    EXPECT_EQ(f.GetPosition(), bytes.size());
}

// Records of different sizes, each read through a fresh archive: after each Close (or
// Flush, or the destructor) the file position is exactly after the record.
TEST_F(ArchiveTest, FreshArchivePerRecordLeavesThePositionAfterEachRecord)
{
    const std::vector<size_t> lengths = {0, 3, 254, 255, 5000, 4090, 1, 70000, 12};
    std::vector<uint64_t> ends;
    Store([&](CArchive& ar) {
        uint64_t pos = 0;
        for (size_t i = 0; i < lengths.size(); ++i) {
            ar << static_cast<uint32_t>(i) << CString(std::string(lengths[i], static_cast<char>('a' + i)));
            pos += 4 + (lengths[i] < 255 ? 1 : lengths[i] < 0xFFFE ? 3 : 7) + lengths[i];
            ends.push_back(pos);
        }
    });
    ASSERT_EQ(ReadAll(Path()).size(), ends.back());

    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    for (size_t i = 0; i < lengths.size(); ++i) {
        SCOPED_TRACE(i);
        uint32_t index = 99;
        CString s;
        CArchive ar(&f, CArchive::load);
        ar >> index >> s;
        EXPECT_EQ(std::tuple(size_t{index}, static_cast<size_t>(s.GetLength())), std::tuple(i, lengths[i]));
        if (i % 3 == 1) {
            ar.Flush();  // a flushed archive gives back too; closing it afterwards moves nothing
            EXPECT_EQ(f.GetPosition(), ends[i]);
        }
        if (i % 3 == 2) continue;  // the destructor closes
        ar.Close();
        EXPECT_EQ(f.GetPosition(), ends[i]);
    }
    EXPECT_EQ(f.GetPosition(), ends.back());
    CArchive ar(&f, CArchive::load);
    uint32_t more = 0;
    EXPECT_EQ(CauseOf<CArchiveException>([&] { ar >> more; }), CArchiveException::endOfFile);
}

// Integers of every width, little-endian, ahead of writes that fill the store buffer and
// pass it by; then the integers loaded back.
TEST_F(ArchiveTest, IntegersAreLittleEndianAndTheStoreBufferKeepsOrderAcrossLargeWrites)
{
    auto values = std::tuple(uint8_t{0x01}, int8_t{-2}, uint16_t{0x0203}, int16_t{-3}, uint32_t{0x04050607},
                             int32_t{-4}, uint64_t{0x08090A0B0C0D0E0F}, int64_t{-5});
    const Bytes integers = {0x01, 0xFE, 0x03, 0x02, 0xFD, 0xFF, 0x07, 0x06, 0x05, 0x04, 0xFC, 0xFF, 0xFF, 0xFF, 0x0F,
                            0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes blob = Pattern(10000, 251);
    const Bytes got = Store([&](CArchive& ar) {
        std::apply([&](auto... v) { (ar << ... << v); }, values);
        ar.Write(blob.data(), 4000);         // fills the buffer past its size
        ar.Write(blob.data() + 4000, 6000);  // larger than the buffer
        ar << uint8_t{0xEE};
        ar.Flush();
        ar << CString("end");
    });
    EXPECT_EQ(got, Cat({integers, blob, {0xEE, 0x03, 'e', 'n', 'd'}}));

    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    decltype(values) loaded{};
    std::apply([&](auto&... v) { (ar >> ... >> v); }, loaded);
    EXPECT_EQ(loaded, values);
}

}  // namespace

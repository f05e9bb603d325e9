// CArchive: the string length encoding, little-endian integers, the store buffer, and
// the give-back of read-ahead that lets one fresh loading archive read one record.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "framework/Archive.h"
#include "framework/File.h"
#include "tests/support/TestEnv.h"

// The largest single allocation made while tracking is on: a declared string length
// must never turn into an allocation of that size.
namespace {
std::atomic<bool> g_trackAllocs{false};
std::atomic<size_t> g_largestAlloc{0};

void* TrackedAlloc(size_t n)
{
    if (g_trackAllocs.load(std::memory_order_relaxed)) {
        size_t seen = g_largestAlloc.load(std::memory_order_relaxed);
        while (n > seen && !g_largestAlloc.compare_exchange_weak(seen, n)) {
        }
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t n) { return TrackedAlloc(n); }
void* operator new[](size_t n) { return TrackedAlloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

class ArchiveTest : public ::testing::Test {
protected:
    std::string Path(const char* name = "a.bin") const { return tmp / name; }

    Bytes Store(const std::function<void(CArchive&)>& fill)
    {
        CFile f(Path().c_str(), CFile::modeCreate | CFile::modeReadWrite);
        {
            CArchive ar(&f, CArchive::store);
            fill(ar);
            ar.Close();
        }
        f.Close();
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
    struct Case {
        size_t length;
        Bytes prefix;
    };
    const Case cases[] = {
        {0, {0x00}},
        {1, {0x01}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text(c.length, 'd');
        for (size_t i = 0; i < c.length; i += 97) text[i] = static_cast<char>('a' + i % 26);
        const Bytes expected = Cat({c.prefix, Bytes(text.begin(), text.end())});
        EXPECT_EQ(Store([&](CArchive& ar) { ar << CString(text); }), expected);
        EXPECT_EQ(LoadString(expected).str(), text);
    }
}

TEST_F(ArchiveTest, TwoByteCharacterStringsAreNarrowedOnLoading)
{
    // FF FE FF announces UTF-16LE characters; the length follows in the same scheme.
    EXPECT_EQ(LoadString({0xFF, 0xFE, 0xFF, 0x04, 'h', 0, 'i', 0, 0xE9, 0x00, 0xAC, 0x20}), CString("hi\xE9?"));
    EXPECT_EQ(LoadString({0xFF, 0xFE, 0xFF, 0x00}), CString());

    // A long one: 300 characters, so its length takes the 16-bit form.
    Bytes wide = {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01};
    for (int i = 0; i < 300; ++i) {
        wide.push_back(static_cast<uint8_t>('A' + i % 26));
        wide.push_back(0);
    }
    const CString s = LoadString(wide);
    ASSERT_EQ(s.GetLength(), 300);
    EXPECT_EQ(s.Left(3), CString("ABC"));
    EXPECT_EQ(s.GetAt(299), 'A' + 299 % 26);
}

TEST_F(ArchiveTest, DeclaredLengthPastTheEndIsEndOfFileWithoutAllocatingIt)
{
    // FF FFFF then a 32-bit length of 0xFFFFFFF0, in a file of 10 bytes.
    const Bytes bytes = {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'};
    WriteAll(Path(), bytes);
    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    CString s;
    g_largestAlloc = 0;
    g_trackAllocs = true;
    try {
        ar >> s;
        g_trackAllocs = false;
        FAIL() << "no exception";
    } catch (const CArchiveException& e) {
        g_trackAllocs = false;
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    }
    EXPECT_LT(g_largestAlloc.load(), size_t{1} << 20);

    // The same for 2-byte characters, whose byte count is twice the declared length.
    WriteAll(Path("w.bin"), {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'x', 0});
    CFile w(Path("w.bin").c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive wa(&w, CArchive::load);
    g_largestAlloc = 0;
    g_trackAllocs = true;
    try {
        wa >> s;
        g_trackAllocs = false;
        FAIL() << "no exception";
    } catch (const CArchiveException& e) {
        g_trackAllocs = false;
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    }
    EXPECT_LT(g_largestAlloc.load(), size_t{1} << 20);

    // A length prefix cut short is the same error.
    EXPECT_THROW(LoadString({0xFF, 0xFF}), CArchiveException);
}

TEST_F(ArchiveTest, IntegersOfEveryWidthAreLittleEndian)
{
    const Bytes expected = {0x01, 0xFE, 0x03, 0x02, 0xFD, 0xFF, 0x07, 0x06, 0x05, 0x04, 0xFC, 0xFF, 0xFF, 0xFF,
                            0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Store([](CArchive& ar) {
                  ar << uint8_t{0x01} << int8_t{-2} << uint16_t{0x0203} << int16_t{-3} << uint32_t{0x04050607}
                     << int32_t{-4} << uint64_t{0x08090A0B0C0D0E0F} << int64_t{-5};
              }),
              expected);

    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    uint8_t u8 = 0;
    int8_t i8 = 0;
    uint16_t u16 = 0;
    int16_t i16 = 0;
    uint32_t u32 = 0;
    int32_t i32 = 0;
    uint64_t u64 = 0;
    int64_t i64 = 0;
    ar >> u8 >> i8 >> u16 >> i16 >> u32 >> i32 >> u64 >> i64;
    EXPECT_EQ(u8, 0x01);
    EXPECT_EQ(i8, -2);
    EXPECT_EQ(u16, 0x0203);
    EXPECT_EQ(i16, -3);
    EXPECT_EQ(u32, 0x04050607u);
    EXPECT_EQ(i32, -4);
    EXPECT_EQ(u64, 0x08090A0B0C0D0E0Full);
    EXPECT_EQ(i64, -5);
    EXPECT_THROW(ar >> u8, CArchiveException);
}

TEST_F(ArchiveTest, ItemsStraddlingTheBufferBoundaryLoad)
{
    // Single bytes up to 2 short of the 4096-byte block, then an integer across it, then
    // a string whose characters cross the next block boundary.
    Bytes bytes = Repeat(0x11, 4094);
    Bytes tail = {0x78, 0x56, 0x34, 0x12, 0xFF, 0x88, 0x13};  // 0x12345678, then a string of 5000
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<uint8_t>('0' + i % 10));
    bytes.push_back(0x42);
    WriteAll(Path(), bytes);

    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    uint8_t b = 0;
    for (int i = 0; i < 4094; ++i) {
        ar >> b;
        ASSERT_EQ(b, 0x11);
    }
    uint32_t dw = 0;
    CString s;
    ar >> dw >> s >> b;
    EXPECT_EQ(dw, 0x12345678u);
    ASSERT_EQ(s.GetLength(), 5000);
    EXPECT_EQ(s.Mid(4990), CString("0123456789"));
    EXPECT_EQ(b, 0x42);
    ar.Close();
    EXPECT_EQ(f.GetPosition(), bytes.size());
}

// Records of different sizes, each read through a fresh archive: after each Close (or
// Flush, or the destructor) the file position is exactly after the record.
TEST_F(ArchiveTest, FreshArchivePerRecordLeavesThePositionAfterEachRecord)
{
    const std::vector<size_t> lengths = {0, 3, 254, 255, 5000, 4090, 1, 70000, 12};
    std::vector<uint64_t> ends;
    {
        CFile f(Path().c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&f, CArchive::store);
        uint64_t pos = 0;
        for (size_t i = 0; i < lengths.size(); ++i) {
            ar << static_cast<uint32_t>(i) << CString(std::string(lengths[i], static_cast<char>('a' + i)));
            pos += 4 + (lengths[i] < 255 ? 1 : lengths[i] < 0xFFFE ? 3 : 7) + lengths[i];
            ends.push_back(pos);
        }
    }
    ASSERT_EQ(ReadAll(Path()).size(), ends.back());

    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    for (size_t i = 0; i < lengths.size(); ++i) {
        SCOPED_TRACE(i);
        uint32_t index = 99;
        CString s;
        CArchive ar(&f, CArchive::load);
        ar >> index >> s;
        EXPECT_EQ(index, i);
        EXPECT_EQ(static_cast<size_t>(s.GetLength()), lengths[i]);
        switch (i % 3) {
        case 0: ar.Close(); break;
        case 1: ar.Flush(); break;  // a flushed archive gives back too, and reads on
        default: break;             // the destructor closes
        }
        if (i % 3 != 2) {
            EXPECT_EQ(f.GetPosition(), ends[i]);
        }
        if (i % 3 == 1) {
            // Flushing mid-stream and reading on continues from the same place.
            ar.Close();
            EXPECT_EQ(f.GetPosition(), ends[i]);
        }
    }
    EXPECT_EQ(f.GetPosition(), ends.back());

    // Past the last record: end of file.
    CArchive ar(&f, CArchive::load);
    uint32_t more = 0;
    try {
        ar >> more;
        FAIL() << "read past the end";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    }
}

}  // namespace

TEST_F(ArchiveTest, FlushMidBufferThenReadOnInTheSameArchive)
{
    Bytes bytes;
    for (int i = 0; i < 3000; ++i) bytes.push_back(static_cast<uint8_t>(i));
    WriteAll(Path(), bytes);
    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    CArchive ar(&f, CArchive::load);
    uint16_t w = 0;
    ar >> w;
    ar.Flush();
    EXPECT_EQ(f.GetPosition(), 2u);
    // Something else reads from the file between, as a caller may after a flush.
    uint8_t raw = 0;
    ASSERT_EQ(f.Read(&raw, 1), 1u);
    EXPECT_EQ(raw, 2);
    uint8_t b = 0;
    ar >> b;
    EXPECT_EQ(b, 3);
    uint8_t chunk[10] = {};
    EXPECT_EQ(ar.Read(chunk, 10), 10u);
    EXPECT_EQ(chunk[9], 13);
    ar.Close();
    EXPECT_EQ(f.GetPosition(), 14u);

    // A short Read at the end returns what there is.
    f.Seek(-5, CFile::end);
    CArchive tail(&f, CArchive::load);
    EXPECT_EQ(tail.Read(chunk, 10), 5u);
    tail.Close();
    EXPECT_EQ(f.GetPosition(), 3000u);
}

TEST_F(ArchiveTest, StoreBufferKeepsOrderAcrossSmallAndLargeWrites)
{
    Bytes blob(10000);
    for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
    const Bytes got = Store([&](CArchive& ar) {
        ar << uint32_t{0xAABBCCDD};
        ar.Write(blob.data(), 4000);  // fills the buffer past its size
        ar.Write(blob.data() + 4000, 6000);  // larger than the buffer
        ar << uint8_t{0xEE};
        ar.Flush();
        ar << CString("end");
    });
    const Bytes expected = Cat({{0xDD, 0xCC, 0xBB, 0xAA}, blob, {0xEE, 0x03, 'e', 'n', 'd'}});
    EXPECT_EQ(got, expected);

    // A storing archive writes at the file's position and leaves it after its bytes.
    CFile f(Path().c_str(), CFile::modeReadWrite);
    f.Seek(2, CFile::begin);
    {
        CArchive ar(&f, CArchive::store);
        ar << uint16_t{0x0102};
    }  // the destructor flushes
    EXPECT_EQ(f.GetPosition(), 4u);
    f.Close();
    const Bytes after = ReadAll(Path());
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 4), (Bytes{0xDD, 0xCC, 0x02, 0x01}));
}

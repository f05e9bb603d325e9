// CFile and CStdioFile: positions, lengths, the read cache, paths, status, and the
// share modes between two processes and between two objects of one process. CArchive:
// the string length encoding, little-endian integers, the store buffer, and the give-back
// of read-ahead that lets one fresh loading archive read one record.
#include <cstring>
#include <optional>
#include <tuple>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/Archive.h"
#include "framework/File.h"
#include "tests/framework/Helpers.h"
#include "tests/support/LargestAllocation.h"
#include "tests/support/TestEnv.h"

namespace {

Bytes ReadBytes(CFile& f, UINT n)
{
    Bytes out(n);
    out.resize(f.Read(out.data(), n));
    return out;
}

class FileTest : public ::testing::Test {
protected:
    std::string Path(const char* name = "f.bin") const { return tmp / name; }
    TempDir tmp;
};

TEST_F(FileTest, SeekFromEveryOriginAndPastTwoGigabytes)
{
    WriteAll(Path(), Text("0123456789"));
    CFile f(Path().c_str(), CFile::modeReadWrite | CFile::shareDenyWrite);
    // Offset, origin, the position reached, and what a read of n bytes there gives. Past
    // the end is allowed (reads nothing); before the start is a bad seek that leaves the
    // position where it was.
    const std::tuple<LONG, UINT, ULONGLONG, UINT, const char*> seeks[] = {
        {3, CFile::begin, 3, 2, "34"}, {-4, CFile::current, 1, 1, "1"}, {-3, CFile::end, 7, 10, "789"}, {5, CFile::end, 15, 4, ""}};
    for (const auto& [offset, from, position, n, read] : seeks) {
        EXPECT_EQ(f.Seek(offset, from), position);
        EXPECT_EQ(ReadBytes(f, n), Text(read)) << position;
    }
    EXPECT_EQ(CauseOf<CFileException>([&] { f.Seek(-11, CFile::end); }), CFileException::badSeek);
    EXPECT_EQ(f.GetPosition(), 15u);

    // A sparse file; relative seeks from far out keep the 64-bit position.
    const ULONGLONG far = 3000000000ull;
    EXPECT_EQ(f.SeekAbsolute(far), far);
    f.Write("\xA5", 1);
    EXPECT_EQ(f.GetLength(), far + 1);
    f.SeekAbsolute(far - 1);
    EXPECT_EQ(ReadBytes(f, 4), (Bytes{0x00, 0xA5}));
    EXPECT_EQ(f.Seek(-2, CFile::current), far - 1);
    EXPECT_EQ(f.Seek(0, CFile::end), far + 1);
    // A position no file can have is refused, not read from the cache by a wrapped sum.
    f.SeekAbsolute(~0ull - 10);
    EXPECT_THROW(ReadBytes(f, 100), CFileException);
    f.Close();
    CFileStatus st;
    ASSERT_TRUE(CFile::GetStatus(Path().c_str(), st));
    EXPECT_EQ(st.m_size, far + 1);
}

TEST_F(FileTest, ReadCacheHandsOutWholeRunsAndSeesWritesMadeAfterIt)
{
    const Bytes data = Pattern(200000, 251);
    Bytes now = data;  // what the file holds after this object's writes
    WriteAll(Path(), data);
    CFile f(Path().c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
    const BYTE* p = nullptr;
    ASSERT_EQ(f.ReadDirect(p, 1), 1u);  // the first block is now cached
    EXPECT_EQ(*p, data[0]);
    // A run that crosses the end of the cached block still arrives in one piece.
    f.Seek(65000, CFile::begin);
    ASSERT_EQ(f.ReadDirect(p, 4096), 4096u);
    EXPECT_EQ(0, std::memcmp(p, data.data() + 65000, 4096));
    EXPECT_EQ(f.GetPosition(), 69096u);
    f.Seek(-10, CFile::end);
    ASSERT_EQ(f.ReadDirect(p, 4096), 10u);
    EXPECT_EQ(0, std::memcmp(p, data.data() + 199990, 10));
    EXPECT_EQ(f.ReadDirect(p, 4096), 0u);

    auto writeAt = [&](size_t pos, const char* s) {
        f.Seek(static_cast<LONG>(pos), CFile::begin);
        f.Write(s, static_cast<UINT>(std::strlen(s)));
        std::memcpy(&now[pos], s, std::strlen(s));
    };
    auto expectAt = [&](size_t pos, UINT n) {
        f.Seek(static_cast<LONG>(pos), CFile::begin);
        EXPECT_TRUE(ReadBytes(f, n) == Bytes(now.begin() + pos, now.begin() + pos + n)) << "at " << pos;
    };
    expectAt(0, 100);  // the first block cached again
    writeAt(50, "NEW");
    expectAt(48, 7);
    // A write that overlaps only the end of the cached block, then one that overlaps
    // only its start (the block now starts at 65528).
    expectAt(0, 10);
    writeAt(65530, "0123456789");
    expectAt(65528, 4);
    writeAt(65520, "abcdefghij");
    expectAt(65528, 4);
    expectAt(0, 150000);  // a read larger than the cache, starting inside it

    // A second object on the same file sees what the first appends past its end.
    CFile reader(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    reader.Seek(-2, CFile::end);
    EXPECT_EQ(ReadBytes(reader, 4).size(), 2u);
    f.SeekToEnd();
    f.Write("tail", 4);
    EXPECT_EQ(ReadBytes(reader, 4), Text("tail"));
}

TEST_F(FileTest, OpenCreateTruncateRefusalsAndBackslashPaths)
{
    CFileException e;
    CFile f;
    EXPECT_FALSE(f.Open(Path("missing").c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_THROW(CFile(Path("missing").c_str(), CFile::modeRead), CFileException);
    EXPECT_FALSE(f.Open(tmp.path().c_str(), CFile::modeRead)) << "a directory is not a file";

    WriteAll(Path(), Text("keep"));
    ASSERT_TRUE(f.Open(Path().c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
    EXPECT_EQ(f.GetLength(), 4u);
    ASSERT_TRUE(f.Open(Path().c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(f.GetLength(), 0u);
    ASSERT_TRUE(f.Open(Path().c_str(), CFile::modeRead | CFile::shareDenyNone));
    EXPECT_EQ(CauseOf<CFileException>([&] { f.Write("x", 1); }), CFileException::accessDenied);
    f.Close();
    EXPECT_THROW(f.GetLength(), CFileException) << "a closed file refuses";

    ASSERT_EQ(::mkdir((tmp / "Bin Logs").c_str(), 0755), 0);
    ASSERT_TRUE(f.Open((tmp.path() + "\\Bin Logs\\run.1.vkl").c_str(), CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_TRUE(FileExists(tmp / "Bin Logs/run.1.vkl"));
    EXPECT_EQ(f.GetFileName(), CString("run.1.vkl"));
    EXPECT_EQ(f.GetFileTitle(), CString("run.1"));
    EXPECT_EQ(CFile::OsPath("C:\\a\\b.txt"), "C:/a/b.txt");
    ASSERT_TRUE(f.Open(Path("plain").c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(f.GetFileTitle(), CString("plain"));
}

TEST_F(FileTest, RenameRemoveAndStatus)
{
    WriteAll(Path("a"), Text("aaa"));
    WriteAll(Path("b"), Text("b"));
    CFile::Rename((tmp.path() + "\\a").c_str(), (tmp.path() + "\\c").c_str());
    EXPECT_FALSE(FileExists(Path("a")));
    EXPECT_EQ(ReadAll(Path("c")), Text("aaa"));
    // Renaming onto an existing file fails and changes neither.
    EXPECT_THROW(CFile::Rename(Path("c").c_str(), Path("b").c_str()), CFileException);
    EXPECT_EQ(ReadAll(Path("b")), Text("b"));
    CFile::Remove((tmp.path() + "\\c").c_str());
    EXPECT_FALSE(FileExists(Path("c")));
    EXPECT_EQ(CauseOf<CFileException>([&] { CFile::Remove(Path("c").c_str()); }), CFileException::fileNotFound);
    EXPECT_EQ(CauseOf<CFileException>([&] { CFile::Rename(Path("c").c_str(), Path("d").c_str()); }),
              CFileException::fileNotFound);

    CFileStatus st;
    EXPECT_FALSE(CFile::GetStatus(Path("c").c_str(), st));
    EXPECT_THROW(CFile::SetStatus(Path("c").c_str(), st), CFileException);
    const std::string b = Path("b");
    auto raw = [&] {
        struct stat s {};
        EXPECT_EQ(::stat(b.c_str(), &s), 0);
        return s;
    };
    ASSERT_EQ(::chmod(b.c_str(), 0666), 0);
    const struct timespec fine[2] = {{1200000000, 123456789}, {1300000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, b.c_str(), fine, 0), 0);
    ASSERT_TRUE(CFile::GetStatus(b.c_str(), st));
    EXPECT_EQ(st.m_mtime, 1300000000);
    EXPECT_EQ(st.m_attribute & CFile::readOnly, 0);
    // Read-only on: no write bit left; the times, given back as read, keep their nanoseconds.
    st.m_attribute |= CFile::readOnly;
    CFile::SetStatus(b.c_str(), st);
    EXPECT_EQ(std::tuple(raw().st_mode & 0222, raw().st_mtim.tv_nsec), std::tuple(0u, 987654321L));
    ASSERT_TRUE(CFile::GetStatus(b.c_str(), st));
    EXPECT_NE(st.m_attribute & CFile::readOnly, 0);
    // Read-only off; a zero time is left as it is, a time given by the caller is set.
    st.m_attribute = CFile::normal;
    st.m_atime = 0;
    st.m_mtime = 1000000000;
    CFile::SetStatus(b.c_str(), st);
    const struct stat after = raw();
    EXPECT_NE(after.st_mode & 0200, 0u);
    EXPECT_EQ(std::tuple(after.st_atim.tv_sec, after.st_atim.tv_nsec, after.st_mtim.tv_sec),
              std::tuple(1200000000L, 123456789L, 1000000000L));
}

TEST_F(FileTest, StdioTextModeWritesCrLfAndReadsLines)
{
    const std::tuple<const char*, UINT, const char*> cases[] = {
        {"t.txt", CFile::typeText, "a\r\nb\r\n\r\n"},
        {"b.txt", CFile::typeBinary, "a\nb\n\n"},
        {"p.txt", 0, "a\r\nb\r\n\r\n"},  // text mode is the default
    };
    for (const auto& [name, type, expected] : cases) {
        CStdioFile f;
        ASSERT_TRUE(f.Open(Path(name).c_str(), CFile::modeCreate | CFile::modeWrite | type));
        f.WriteString("a\nb\n");
        f.Write("\n", 1);
        f.Close();
        EXPECT_EQ(ReadAll(Path(name)), Text(expected)) << name;
    }
    CStdioFile r;
    ASSERT_TRUE(r.Open(Path("t.txt").c_str(), CFile::modeRead | CFile::typeText));
    CString line;
    for (const char* want : {"a", "b", ""}) {
        ASSERT_TRUE(r.ReadString(line));
        EXPECT_EQ(line, want);
    }
    EXPECT_FALSE(r.ReadString(line));
}

const UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kRW = CFile::modeReadWrite;
const UINT kDenyNone = CFile::shareDenyNone, kDenyWrite = CFile::shareDenyWrite,
           kDenyRead = CFile::shareDenyRead, kExclusive = CFile::shareExclusive, kCompat = CFile::shareCompat;

// The mode of the open that is already there, that of the second open, and whether the
// second is allowed. Worked out by hand: (held access ⊆ requested sharing) and
// (requested access ⊆ held sharing).
struct ShareCase {
    UINT holder, request;
    bool allowed;
};
const ShareCase kShareCases[] = {
    // A recording log: read-write, deny-write. A reader that denies writing would deny
    // the writer it meets.
    {kRW | kDenyWrite, kRW | kDenyWrite, false}, {kRW | kDenyWrite, kWrite | kDenyNone, false},
    {kRW | kDenyWrite, kRead | kDenyWrite, false}, {kRW | kDenyWrite, kRead | kDenyNone, true},
    {kRW | kDenyWrite, kRead | kDenyRead, false},
    // A reader: read, deny-none.
    {kRead | kDenyNone, kRW | kDenyNone, true}, {kRead | kDenyNone, kRW | kDenyWrite, true},
    {kRead | kDenyNone, kRead | kDenyWrite, true}, {kRead | kDenyNone, kRead | kDenyRead, false},
    {kRead | kDenyNone, kRW | kExclusive, false},
    // A reader that denies writing; a writer that denies reading.
    {kRead | kDenyWrite, kRead | kDenyWrite, true}, {kRead | kDenyWrite, kWrite | kDenyNone, false},
    {kWrite | kDenyRead, kWrite | kDenyNone, true}, {kWrite | kDenyRead, kRead | kDenyNone, false},
    {kWrite | kDenyRead, kWrite | kDenyWrite, false},
    // Read-write sharing everything; compatibility mode shares nothing, like exclusive.
    {kRW | kDenyNone, kRW | kDenyNone, true}, {kRW | kDenyNone, kRead | kDenyWrite, false},
    {kRead | kCompat, kWrite | kDenyNone, false}, {kRead | kCompat, kRead | kDenyNone, false},
    {kRead | kExclusive, kRead | kDenyNone, false},
};

// A child process that opens the file in one mode, reports, and holds it until the end of
// its socket (then it exits, which closes the file).
struct ChildHolder {
    ChildHolder(const std::string& path, UINT mode)
    {
        int sv[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        if ((pid = ::fork()) == 0) {
            ::close(sv[0]);
            CFile f;
            char c = f.Open(path.c_str(), mode) ? '1' : '0';
            (void)!::write(sv[1], &c, 1);
            while (::read(sv[1], &c, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(sv[1]);
        sock = sv[0];
        char c = 0;
        opened = ::read(sock, &c, 1) == 1 && c == '1';
    }
    ~ChildHolder()
    {
        ::close(sock);
        ::waitpid(pid, nullptr, 0);
    }
    pid_t pid = -1;
    int sock = -1;
    bool opened = false;
};

TEST_F(FileTest, ShareModesAcrossTwoProcessesAndTwoObjects)
{
    WriteAll(Path(), Text("content"));
    auto tryOpen = [&](UINT mode, CFileException* e = nullptr) { return CFile().Open(Path().c_str(), mode, e) != FALSE; };
    for (const ShareCase& c : kShareCases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "held 0x" << c.holder << ", asked 0x" << c.request);
        {
            ChildHolder child(Path(), c.holder);
            ASSERT_TRUE(child.opened);
            CFileException e;
            EXPECT_EQ(tryOpen(c.request, &e), c.allowed) << "across processes";
            EXPECT_EQ(e.m_cause, c.allowed ? CFileException::none : CFileException::sharingViolation);
        }
        EXPECT_TRUE(tryOpen(c.request)) << "the holder's exit lifts its sharing";
        {
            CFile holder(Path().c_str(), c.holder);
            EXPECT_EQ(tryOpen(c.request), c.allowed) << "within one process";
        }
        EXPECT_TRUE(tryOpen(c.request)) << "closing lifts the sharing";
    }

    // A refused create does not truncate; reopening the object drops its sharing.
    CFile writer(Path().c_str(), kRW | kDenyWrite);
    EXPECT_FALSE(tryOpen(CFile::modeCreate | kRW | kDenyNone));
    EXPECT_EQ(ReadAll(Path()), Text("content"));
    ASSERT_TRUE(writer.Open(Path().c_str(), kRead | kDenyNone));
    EXPECT_TRUE(tryOpen(kRW | kDenyWrite));
}

class ArchiveTest : public FileTest {
protected:
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

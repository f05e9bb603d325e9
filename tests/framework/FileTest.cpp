// CFile and CStdioFile: positions, lengths, the read cache, paths, status, and the
// share modes between two processes and between two objects of one process.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "framework/File.h"
#include "tests/support/TestEnv.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(CFile& f, UINT n)
{
    Bytes out(n);
    out.resize(f.Read(out.data(), n));
    return out;
}

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

class FileTest : public ::testing::Test {
protected:
    std::string Path(const char* name = "f.bin") const { return tmp / name; }
    TempDir tmp;
};

TEST_F(FileTest, SeekFromEveryOriginAndNegativeOffsets)
{
    WriteAll(Path(), Text("0123456789"));
    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    EXPECT_EQ(f.Seek(3, CFile::begin), 3u);
    EXPECT_EQ(ReadBytes(f, 2), Text("34"));
    EXPECT_EQ(f.Seek(-4, CFile::current), 1u);
    EXPECT_EQ(ReadBytes(f, 1), Text("1"));
    EXPECT_EQ(f.Seek(-3, CFile::end), 7u);
    EXPECT_EQ(ReadBytes(f, 10), Text("789"));
    EXPECT_EQ(f.GetPosition(), 10u);
    EXPECT_EQ(ReadBytes(f, 1), Bytes());
    // Past the end is allowed (reads nothing); before the start is a bad seek.
    EXPECT_EQ(f.Seek(5, CFile::end), 15u);
    EXPECT_EQ(ReadBytes(f, 4), Bytes());
    try {
        f.Seek(-11, CFile::end);
        FAIL() << "seek before the start";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::badSeek);
    }
    EXPECT_EQ(f.GetPosition(), 15u) << "a failed seek leaves the position";
    EXPECT_EQ(f.SeekToEnd(), 10u);
    f.SeekToBegin();
    EXPECT_EQ(ReadBytes(f, 3), Text("012"));
}

TEST_F(FileTest, SparseFileBeyondFourGigabytesBoundaries)
{
    const ULONGLONG far = 3000000000ull;
    CFile f(Path().c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite);
    EXPECT_EQ(f.SeekAbsolute(far), far);
    const uint8_t b = 0xA5;
    f.Write(&b, 1);
    EXPECT_EQ(f.GetPosition(), far + 1);
    EXPECT_EQ(f.GetLength(), far + 1);
    f.SeekAbsolute(far - 1);
    EXPECT_EQ(ReadBytes(f, 4), (Bytes{0x00, 0xA5}));
    // Relative seeks from there keep the 64-bit position.
    f.SeekAbsolute(far);
    EXPECT_EQ(f.Seek(-1, CFile::current), far - 1);
    EXPECT_EQ(f.Seek(0, CFile::end), far + 1);
    // A position no file can have is refused, not read from the cache by a wrapped sum.
    f.SeekAbsolute(~0ull - 10);
    EXPECT_THROW(ReadBytes(f, 100), CFileException);
    f.Close();

    CFileStatus st;
    ASSERT_TRUE(CFile::GetStatus(Path().c_str(), st));
    EXPECT_EQ(st.m_size, far + 1);
}

TEST_F(FileTest, ReadsSeeTheBytesWrittenAfterThem)
{
    Bytes data(200000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251);
    WriteAll(Path(), data);
    CFile f(Path().c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
    EXPECT_EQ(ReadBytes(f, 100), Bytes(data.begin(), data.begin() + 100));  // now cached
    f.Seek(50, CFile::begin);
    f.Write("NEW", 3);
    f.Seek(48, CFile::begin);
    EXPECT_EQ(ReadBytes(f, 7), (Bytes{data[48], data[49], 'N', 'E', 'W', data[53], data[54]}));

    // A write that overlaps only the end of the cached range.
    f.SeekToBegin();
    ReadBytes(f, 10);
    f.Seek(65530, CFile::begin);
    f.Write("0123456789", 10);
    f.Seek(65528, CFile::begin);
    EXPECT_EQ(ReadBytes(f, 4), (Bytes{data[65528], data[65529], '0', '1'}));

    // Direct reads larger than the cache, and a large read that starts inside it.
    f.SeekToBegin();
    Bytes big = ReadBytes(f, 150000);
    ASSERT_EQ(big.size(), 150000u);
    EXPECT_EQ(big[50], 'N');
    EXPECT_EQ(big[65539], '9');
    EXPECT_EQ(big[149999], data[149999]);

    // A second object on the same file sees what the first appends past its end.
    CFile reader(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    reader.Seek(-2, CFile::end);
    EXPECT_EQ(ReadBytes(reader, 4).size(), 2u);
    f.SeekToEnd();
    f.Write("tail", 4);
    EXPECT_EQ(ReadBytes(reader, 4), Text("tail"));
}

TEST_F(FileTest, OpenFlagsCreateTruncateAndMissingFiles)
{
    CFileException e;
    CFile f;
    EXPECT_FALSE(f.Open(Path("missing.bin").c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_THROW(CFile(Path("missing.bin").c_str(), CFile::modeRead), CFileException);
    EXPECT_FALSE(f.Open(tmp.path().c_str(), CFile::modeRead, &e)) << "a directory is not a file";

    WriteAll(Path(), Text("keep"));
    ASSERT_TRUE(f.Open(Path().c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
    EXPECT_EQ(f.GetLength(), 4u);
    f.Close();
    ASSERT_TRUE(f.Open(Path().c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(f.GetLength(), 0u);
    f.Close();

    // Writing through a read-only handle is an access error.
    WriteAll(Path(), Text("ro"));
    ASSERT_TRUE(f.Open(Path().c_str(), CFile::modeRead | CFile::shareDenyNone));
    try {
        f.Write("x", 1);
        FAIL() << "wrote through a read-only handle";
    } catch (const CFileException& ex) {
        EXPECT_EQ(ex.m_cause, CFileException::accessDenied);
    }
    f.Close();
    EXPECT_THROW(f.GetLength(), CFileException) << "a closed file refuses";
}

TEST_F(FileTest, BackslashPathsAndNames)
{
    ASSERT_EQ(::mkdir((tmp / "Bin Logs").c_str(), 0755), 0);
    const std::string hostPath = tmp.path() + "\\Bin Logs\\run.1.vkl";
    CFile f(hostPath.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    f.Write("x", 1);
    EXPECT_EQ(f.GetFilePath(), CString(hostPath));
    EXPECT_EQ(f.GetFileName(), CString("run.1.vkl"));
    EXPECT_EQ(f.GetFileTitle(), CString("run.1"));
    f.Close();
    EXPECT_TRUE(FileExists(tmp / "Bin Logs/run.1.vkl"));
    EXPECT_EQ(CFile::OsPath("C:\\a\\b.txt"), "C:/a/b.txt");

    CFile g(Path("plain").c_str(), CFile::modeCreate | CFile::modeWrite);
    EXPECT_EQ(g.GetFileName(), CString("plain"));
    EXPECT_EQ(g.GetFileTitle(), CString("plain"));
}

TEST_F(FileTest, RemoveRenameAndStatus)
{
    WriteAll(Path("a"), Text("aaa"));
    WriteAll(Path("b"), Text("b"));
    CFile::Rename((tmp.path() + "\\a").c_str(), (tmp.path() + "\\c").c_str());
    EXPECT_FALSE(FileExists(Path("a")));
    EXPECT_EQ(ReadAll(Path("c")), Text("aaa"));
    // Renaming onto an existing file fails and changes neither.
    EXPECT_THROW(CFile::Rename(Path("c").c_str(), Path("b").c_str()), CFileException);
    EXPECT_EQ(ReadAll(Path("b")), Text("b"));
    EXPECT_EQ(ReadAll(Path("c")), Text("aaa"));
    CFile::Remove((tmp.path() + "\\c").c_str());
    EXPECT_FALSE(FileExists(Path("c")));
    for (auto fails : {+[](const std::string& p) { CFile::Remove(p.c_str()); },
                       +[](const std::string& p) { CFile::Rename(p.c_str(), (p + "2").c_str()); }}) {
        try {
            fails(Path("c"));
            ADD_FAILURE() << "no exception";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        }
    }

    CFileStatus st;
    EXPECT_FALSE(CFile::GetStatus(Path("c").c_str(), st));
    ASSERT_TRUE(CFile::GetStatus(Path("b").c_str(), st));
    EXPECT_EQ(st.m_size, 1u);
    EXPECT_EQ(st.m_attribute & CFile::readOnly, 0);

    // The read-only attribute on and off; the times, down to the nanosecond, stay.
    const struct timespec fine[2] = {{1200000000, 123456789}, {1300000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path("b").c_str(), fine, 0), 0);
    ASSERT_TRUE(CFile::GetStatus(Path("b").c_str(), st));
    EXPECT_EQ(st.m_mtime, 1300000000);
    st.m_attribute |= CFile::readOnly;
    CFile::SetStatus(Path("b").c_str(), st);
    struct stat raw {};
    ASSERT_EQ(::stat(Path("b").c_str(), &raw), 0);
    EXPECT_EQ(raw.st_mode & 0222, 0u);
    ASSERT_TRUE(CFile::GetStatus(Path("b").c_str(), st));
    EXPECT_NE(st.m_attribute & CFile::readOnly, 0);
    st.m_atime = st.m_mtime = 0;  // zero: leave the time as it is
    st.m_attribute = CFile::normal;
    CFile::SetStatus(Path("b").c_str(), st);
    ASSERT_EQ(::stat(Path("b").c_str(), &raw), 0);
    EXPECT_NE(raw.st_mode & 0200, 0u);
    EXPECT_EQ(raw.st_mtim.tv_sec, 1300000000);
    EXPECT_EQ(raw.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(raw.st_atim.tv_nsec, 123456789);
    // A time given by the caller is set.
    st.m_mtime = 1000000000;
    CFile::SetStatus(Path("b").c_str(), st);
    ASSERT_TRUE(CFile::GetStatus(Path("b").c_str(), st));
    EXPECT_EQ(st.m_mtime, 1000000000);
    EXPECT_THROW(CFile::SetStatus(Path("none").c_str(), st), CFileException);
}

TEST_F(FileTest, StdioTextModeWritesCrLf)
{
    const std::string text = Path("t.txt"), bin = Path("b.txt"), plain = Path("p.txt");
    {
        CStdioFile t, b, p;
        ASSERT_TRUE(t.Open(text.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeText));
        ASSERT_TRUE(b.Open(bin.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        ASSERT_TRUE(p.Open(plain.c_str(), CFile::modeCreate | CFile::modeWrite));
        for (CStdioFile* f : {&t, &b, &p}) {
            f->WriteString("a\nb\n");
            f->Write("\n", 1);
        }
    }
    EXPECT_EQ(ReadAll(text), Text("a\r\nb\r\n\r\n"));
    EXPECT_EQ(ReadAll(bin), Text("a\nb\n\n"));
    EXPECT_EQ(ReadAll(plain), Text("a\r\nb\r\n\r\n")) << "text mode is the default";

    CStdioFile r;
    ASSERT_TRUE(r.Open(text.c_str(), CFile::modeRead | CFile::typeText));
    CString line;
    ASSERT_TRUE(r.ReadString(line));
    EXPECT_EQ(line, "a");
    ASSERT_TRUE(r.ReadString(line));
    EXPECT_EQ(line, "b");
    ASSERT_TRUE(r.ReadString(line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(r.ReadString(line));
}

// ---- share modes ----------------------------------------------------------------------

const UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kRW = CFile::modeReadWrite;
const UINT kDenyNone = CFile::shareDenyNone, kDenyWrite = CFile::shareDenyWrite,
           kDenyRead = CFile::shareDenyRead, kExclusive = CFile::shareExclusive;

struct ShareCase {
    UINT holder;   // the mode of the open that is already there
    UINT request;  // the mode of the second open
    bool allowed;  // Windows: each open's access must be allowed by the other's share mode
};

// Worked out by hand: (held access ⊆ requested sharing) and (requested access ⊆ held sharing).
const ShareCase kShareCases[] = {
    // A recording log: read-write, deny-write.
    {kRW | kDenyWrite, kRW | kDenyWrite, false},
    {kRW | kDenyWrite, kWrite | kDenyNone, false},
    {kRW | kDenyWrite, kRW | kDenyNone, false},
    {kRW | kDenyWrite, kRead | kDenyWrite, false},  // would deny the writer it meets
    {kRW | kDenyWrite, kRead | kDenyNone, true},
    {kRW | kDenyWrite, kRead | kDenyRead, false},
    // A reader: read, deny-none.
    {kRead | kDenyNone, kRW | kDenyNone, true},
    {kRead | kDenyNone, kRW | kDenyWrite, true},
    {kRead | kDenyNone, kRead | kDenyWrite, true},
    {kRead | kDenyNone, kWrite | kDenyNone, true},
    {kRead | kDenyNone, kRead | kDenyRead, false},
    {kRead | kDenyNone, kWrite | kDenyRead, false},
    {kRead | kDenyNone, kRW | kExclusive, false},
    // A reader that denies writing.
    {kRead | kDenyWrite, kRead | kDenyWrite, true},
    {kRead | kDenyWrite, kRead | kDenyNone, true},
    {kRead | kDenyWrite, kWrite | kDenyNone, false},
    // A writer that denies reading.
    {kWrite | kDenyRead, kWrite | kDenyNone, true},
    {kWrite | kDenyRead, kRead | kDenyNone, false},
    {kWrite | kDenyRead, kWrite | kDenyWrite, false},
    // Read-write sharing everything.
    {kRW | kDenyNone, kRW | kDenyNone, true},
    {kRW | kDenyNone, kRead | kDenyWrite, false},
    // Compatibility mode shares nothing, like exclusive.
    {kRead | CFile::shareCompat, kWrite | kDenyNone, false},
    {kRead | CFile::shareCompat, kRead | kDenyNone, false},
    // Exclusive holders refuse everyone.
    {kRead | kExclusive, kRead | kDenyNone, false},
    {kRW | kExclusive, kRead | kDenyNone, false},
};

std::string Describe(UINT mode)
{
    static const char* access[] = {"read", "write", "read-write"};
    std::string s = access[mode & 3];
    switch (mode & 0x70) {
    case CFile::shareDenyNone: return s + "+deny-none";
    case CFile::shareDenyWrite: return s + "+deny-write";
    case CFile::shareDenyRead: return s + "+deny-read";
    case CFile::shareExclusive: return s + "+exclusive";
    default: return s + "+compat";
    }
}

// A child process that opens the file in one mode, reports, and holds it until told.
class ChildHolder {
public:
    ChildHolder(const std::string& path, UINT mode)
    {
        int up[2], down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0) throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            char ok = '0';
            {
                CFile f;
                if (f.Open(path.c_str(), mode)) ok = '1';
                (void)!::write(up[1], &ok, 1);
                char c;
                while (::read(down[0], &c, 1) > 0) {
                }
            }
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        m_release = down[1];
        char c = 0;
        m_opened = ::read(up[0], &c, 1) == 1 && c == '1';
        ::close(up[0]);
    }
    ~ChildHolder() { Release(); }
    bool Opened() const { return m_opened; }
    void Release()
    {
        if (m_release < 0) return;
        ::close(m_release);  // end of file on the child's pipe: it closes and exits
        m_release = -1;
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_opened = false;
};

class ShareModeTest : public FileTest {
protected:
    void SetUp() override { WriteAll(Path(), Text("content")); }
    bool TryOpen(UINT mode, CFileException* e = nullptr)
    {
        CFile f;
        return f.Open(Path().c_str(), mode, e) != FALSE;
    }
};

TEST_F(ShareModeTest, AcrossTwoProcesses)
{
    for (const ShareCase& c : kShareCases) {
        SCOPED_TRACE("held " + Describe(c.holder) + ", asked " + Describe(c.request));
        ChildHolder child(Path(), c.holder);
        ASSERT_TRUE(child.Opened());
        CFileException e;
        EXPECT_EQ(TryOpen(c.request, &e), c.allowed);
        if (!c.allowed) {
            EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
        }
        child.Release();
        EXPECT_TRUE(TryOpen(c.request)) << "the holder's exit lifts its sharing";
    }
}

TEST_F(ShareModeTest, BetweenTwoObjectsOfOneProcess)
{
    for (const ShareCase& c : kShareCases) {
        SCOPED_TRACE("held " + Describe(c.holder) + ", asked " + Describe(c.request));
        auto holder = std::make_unique<CFile>(Path().c_str(), c.holder);
        EXPECT_EQ(TryOpen(c.request), c.allowed);
        holder.reset();
        EXPECT_TRUE(TryOpen(c.request));
    }
}

TEST_F(ShareModeTest, RefusedCreateDoesNotTruncateAndCloseReleases)
{
    CFile writer(Path().c_str(), kRW | kDenyWrite);
    EXPECT_FALSE(TryOpen(CFile::modeCreate | kRW | kDenyNone));
    EXPECT_EQ(ReadAll(Path()), Text("content")) << "a refused open must not cut the file";

    // Compatibility mode is exclusive.
    EXPECT_FALSE(TryOpen(kRead | CFile::shareCompat));
    writer.Close();
    EXPECT_TRUE(TryOpen(kRead | CFile::shareCompat));
    // Reopening the same object drops its previous sharing.
    ASSERT_TRUE(writer.Open(Path().c_str(), kRW | kDenyWrite));
    ASSERT_TRUE(writer.Open(Path().c_str(), kRead | kDenyNone));
    EXPECT_TRUE(TryOpen(kRW | kDenyWrite));
}

}  // namespace

TEST_F(FileTest, ReadDirectHandsOutContiguousRuns)
{
    Bytes data(100000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 253);
    WriteAll(Path(), data);
    CFile f(Path().c_str(), CFile::modeRead | CFile::shareDenyNone);
    const BYTE* p = nullptr;
    ASSERT_EQ(f.ReadDirect(p, 1), 1u);  // the first block is now cached
    EXPECT_EQ(*p, data[0]);
    f.Seek(65000, CFile::begin);
    // A run that crosses the end of the cached block still arrives in one piece.
    ASSERT_EQ(f.ReadDirect(p, 4096), 4096u);
    EXPECT_EQ(0, std::memcmp(p, data.data() + 65000, 4096));
    EXPECT_EQ(f.GetPosition(), 69096u);
    f.Seek(-10, CFile::end);
    ASSERT_EQ(f.ReadDirect(p, 4096), 10u);
    EXPECT_EQ(0, std::memcmp(p, data.data() + 99990, 10));
    EXPECT_EQ(f.ReadDirect(p, 4096), 0u);
}

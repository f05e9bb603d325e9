#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/File.h"
#include "tests/support/TestEnv.h"

namespace {
using Bytes = std::vector<uint8_t>;

// Holds the file open in a child process with `flags` until told to let go.
class Holder {
public:
    Holder(const std::string& path, UINT flags)
    {
        if (pipe(m_toChild) != 0 || pipe(m_toParent) != 0) throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            CFile f;
            const char c = f.Open(path.c_str(), flags) ? 'y' : 'n';
            (void)!write(m_toParent[1], &c, 1);
            char x;
            (void)!read(m_toChild[0], &x, 1);
            _exit(0);
        }
        char c = 0;
        if (read(m_toParent[0], &c, 1) != 1) throw std::runtime_error("child");
        m_opened = c == 'y';
    }
    ~Holder()
    {
        const char c = 'x';
        (void)!write(m_toChild[1], &c, 1);
        int status = 0;
        waitpid(m_pid, &status, 0);
        for (int fd : {m_toChild[0], m_toChild[1], m_toParent[0], m_toParent[1]}) close(fd);
    }
    bool Opened() const { return m_opened; }

private:
    int m_toChild[2], m_toParent[2];
    pid_t m_pid = 0;
    bool m_opened = false;
};

bool CanOpen(const std::string& path, UINT flags)
{
    CFile f;
    return f.Open(path.c_str(), flags) != 0;
}
}  // namespace

TEST(File, ShareModesAcrossProcesses)
{
    TempDir tmp;
    const std::string p = tmp / "shared";
    WriteAll(p, {1, 2, 3});
    const UINT readNone = CFile::modeRead | CFile::shareDenyNone;
    const UINT rwNone = CFile::modeReadWrite | CFile::shareDenyNone;
    const UINT readDenyWrite = CFile::modeRead | CFile::shareDenyWrite;
    const UINT rwDenyWrite = CFile::modeReadWrite | CFile::shareDenyWrite;
    const UINT rwExclusive = CFile::modeReadWrite | CFile::shareExclusive;
    {
        // A writer that denies writing (a recording): readers come in, writers do not.
        Holder writer(p, rwDenyWrite);
        ASSERT_TRUE(writer.Opened());
        EXPECT_TRUE(CanOpen(p, readNone));
        EXPECT_FALSE(CanOpen(p, rwNone));
        EXPECT_FALSE(CanOpen(p, rwDenyWrite));
        EXPECT_FALSE(CanOpen(p, readDenyWrite));  // it would deny the writer it cannot deny
        EXPECT_FALSE(CanOpen(p, CFile::modeWrite | CFile::shareDenyNone));
    }
    {
        // A reader that allows everything: writers come in, unless they deny writing.
        Holder reader(p, readNone);
        ASSERT_TRUE(reader.Opened());
        EXPECT_TRUE(CanOpen(p, rwNone));
        EXPECT_TRUE(CanOpen(p, rwDenyWrite));
        EXPECT_TRUE(CanOpen(p, readDenyWrite));
        EXPECT_FALSE(CanOpen(p, rwExclusive));
    }
    {
        // A read-write opener that allows everything blocks those who deny writing.
        Holder rw(p, rwNone);
        ASSERT_TRUE(rw.Opened());
        EXPECT_TRUE(CanOpen(p, readNone));
        EXPECT_FALSE(CanOpen(p, rwDenyWrite));
        EXPECT_FALSE(CanOpen(p, readDenyWrite));
    }
    EXPECT_TRUE(CanOpen(p, rwExclusive));  // all let go
    // Within one process, between two objects, the same rules hold.
    CFile first;
    ASSERT_TRUE(first.Open(p.c_str(), rwDenyWrite));
    EXPECT_FALSE(CanOpen(p, rwNone));
    EXPECT_TRUE(CanOpen(p, readNone));
    first.Close();
    EXPECT_TRUE(CanOpen(p, rwNone));
}

TEST(File, TextModeWritesCarriageReturnLineFeed)
{
    TempDir tmp;
    CStdioFile text;
    ASSERT_TRUE(text.Open((tmp / "t.txt").c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeText));
    text.WriteString("a\nb\n");
    text.Close();
    EXPECT_EQ(ReadAll(tmp / "t.txt"), (Bytes{'a', '\r', '\n', 'b', '\r', '\n'}));
    CStdioFile binary;
    ASSERT_TRUE(binary.Open((tmp / "b.txt").c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    binary.WriteString("a\nb\n");
    binary.Close();
    EXPECT_EQ(ReadAll(tmp / "b.txt"), (Bytes{'a', '\n', 'b', '\n'}));
    CStdioFile in;
    ASSERT_TRUE(in.Open((tmp / "t.txt").c_str(), CFile::modeRead | CFile::shareDenyNone | CFile::typeText));
    CString line;
    ASSERT_TRUE(in.ReadString(line));
    EXPECT_EQ(line, "a");
    ASSERT_TRUE(in.ReadString(line));
    EXPECT_EQ(line, "b");
    EXPECT_FALSE(in.ReadString(line));
}

TEST(File, PositionsLengthsAndTheReadCache)
{
    TempDir tmp;
    const std::string p = tmp / "f";
    CFile f;
    ASSERT_TRUE(f.Open(p.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite));
    EXPECT_EQ(f.GetLength(), 0u);
    const Bytes data = {10, 20, 30, 40, 50};
    f.Write(data.data(), 5);
    EXPECT_EQ(f.GetLength(), 5u);
    EXPECT_EQ(f.Seek(-2, CFile::current), 3u);
    EXPECT_EQ(f.Seek(-1, CFile::end), 4u);
    EXPECT_EQ(f.Seek(1, CFile::begin), 1u);
    EXPECT_THROW(f.Seek(-5, CFile::current), CFileException);
    BYTE buf[5] = {};
    EXPECT_EQ(f.Read(buf, 2), 2u);
    EXPECT_EQ(buf[1], 30);
    // A write over cached bytes is seen by the next read.
    f.Seek(2, CFile::begin);
    const BYTE x = 99;
    f.Write(&x, 1);
    f.Seek(0, CFile::begin);
    EXPECT_EQ(f.Read(buf, 5), 5u);
    EXPECT_EQ(buf[2], 99);
    EXPECT_EQ(f.Read(buf, 5), 0u);
    f.SetLength(2);
    EXPECT_EQ(f.GetLength(), 2u);
    EXPECT_EQ(f.SeekToEnd(), 2u);
    // Far past 2 GiB on a sparse file.
    EXPECT_EQ(f.SeekAbsolute(3000000000ull), 3000000000ull);
    f.Write(&x, 1);
    EXPECT_EQ(f.GetLength(), 3000000001ull);
    f.SeekAbsolute(3000000000ull);
    BYTE back = 0;
    EXPECT_EQ(f.Read(&back, 1), 1u);
    EXPECT_EQ(back, 99);
    f.SetLength(0);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.m_hFile, CFile::hFileNull);
}

TEST(File, NamesStatusRenameAndRemove)
{
    TempDir tmp;
    const std::string dir = tmp.path();
    CFile f;
    // Backslashes turn into '/' at the operating system.
    ASSERT_TRUE(f.Open((dir + "\\log.one.vkl").c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(f.GetFileName(), "log.one.vkl");
    EXPECT_EQ(f.GetFileTitle(), "log.one");
    EXPECT_EQ(f.GetFilePath(), (dir + "\\log.one.vkl").c_str());
    f.Close();
    EXPECT_TRUE(FileExists(dir + "/log.one.vkl"));

    CFileStatus st;
    ASSERT_TRUE(CFile::GetStatus((dir + "/log.one.vkl").c_str(), st));
    EXPECT_FALSE(st.m_attribute & CFile::readOnly);
    struct stat before {};
    stat((dir + "/log.one.vkl").c_str(), &before);
    st.m_attribute |= CFile::readOnly;
    CFile::SetStatus((dir + "/log.one.vkl").c_str(), st);
    ASSERT_TRUE(CFile::GetStatus((dir + "/log.one.vkl").c_str(), st));
    EXPECT_TRUE(st.m_attribute & CFile::readOnly);
    st.m_attribute &= static_cast<BYTE>(~CFile::readOnly);
    CFile::SetStatus((dir + "/log.one.vkl").c_str(), st);
    struct stat after {};
    stat((dir + "/log.one.vkl").c_str(), &after);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
    EXPECT_TRUE(after.st_mode & S_IWUSR);

    CFile::Rename((dir + "\\log.one.vkl").c_str(), (dir + "\\two.vkl").c_str());
    EXPECT_TRUE(FileExists(dir + "/two.vkl"));
    CFile::Remove((dir + "/two.vkl").c_str());
    EXPECT_FALSE(FileExists(dir + "/two.vkl"));
    EXPECT_THROW(CFile::Remove((dir + "/two.vkl").c_str()), CFileException);
    CFileException e;
    EXPECT_FALSE(f.Open((dir + "/missing").c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
}

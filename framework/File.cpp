#include "framework/File.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/Path.h"
#include "framework/WriteFault.h"

namespace {

// Sentinel bytes for the share-mode emulation, far past any real file offset.
constexpr off_t kLockBase = 0x4000000000000000LL;
enum LockByte : off_t { kHasRead = 0, kHasWrite = 1, kDenyRead = 2, kDenyWrite = 3 };

bool TakeSharedLock(int fd, off_t which, int& err)
{
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockBase + which;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    err = errno;
    return false;
}

// True when another open file description holds a lock on the byte.
bool OthersHold(int fd, off_t which)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockBase + which;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

// Opens the pipe (FIFO) of this user's own that takes up a name; -1 with errno EEXIST for
// anything else there. Looked at before it is opened: opening someone else's pipe would
// wake its reader.
int OpenOwnFifo(const std::string& path, int oflags)
{
    struct stat before {}, after {};
    if (::lstat(path.c_str(), &before) != 0 || !S_ISFIFO(before.st_mode) || before.st_uid != ::geteuid()) {
        errno = EEXIST;
        return -1;
    }
    const int fd = ::open(path.c_str(), oflags | O_NOFOLLOW);
    if (fd < 0) return -1;
    if (::fstat(fd, &after) != 0 || after.st_dev != before.st_dev || after.st_ino != before.st_ino) {
        ::close(fd);
        errno = EEXIST;
        return -1;
    }
    return fd;
}

}  // namespace

CFile::CFile() = default;

CFile::CFile(const char* path, UINT flags)
{
    CFileException e;
    if (!Open(path, flags, &e)) throw e;
}

CFile::~CFile()
{
    if (m_hFile != hFileNull) Abort();
}

std::string CFile::OsPath(const char* path)
{
    std::string s(path ? path : "");
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

void CFile::ResetState()
{
    m_cacheStart = 0;
    m_cacheLen = 0;
    m_pos = 0;
    m_bSoleWriter = false;
    m_bStream = false;
    m_cachedLength = -1;
}

void CFile::ThrowOsError(int err) const
{
    throw CFileException(CFileException::OsErrorToCause(err), err, m_strFileName);
}

bool CFile::ApplyShareMode(UINT flags, int& err)
{
    const UINT access = flags & 0x3;
    const UINT share = flags & 0x70;
    const bool hasRead = access != modeWrite;
    const bool hasWrite = access != modeRead;
    const bool denyWrite = share == shareDenyWrite || share == shareExclusive || share == shareCompat;
    const bool denyRead = share == shareDenyRead || share == shareExclusive || share == shareCompat;

    int lockErr = 0;
    bool ok = true;
    if (hasRead) ok = ok && TakeSharedLock(m_hFile, kHasRead, lockErr);
    if (hasWrite) ok = ok && TakeSharedLock(m_hFile, kHasWrite, lockErr);
    if (denyRead) ok = ok && TakeSharedLock(m_hFile, kDenyRead, lockErr);
    if (denyWrite) ok = ok && TakeSharedLock(m_hFile, kDenyWrite, lockErr);
    if (!ok) {
        // A file system without lock support cannot emulate sharing, nor can a descriptor
        // that could only be opened for writing (shared locks need read access): open anyway.
        if (lockErr == EINVAL || lockErr == ENOLCK || lockErr == EOPNOTSUPP || lockErr == EBADF) return true;
        err = lockErr;
        return false;
    }
    const bool violation = (hasRead && OthersHold(m_hFile, kDenyRead)) ||
                           (hasWrite && OthersHold(m_hFile, kDenyWrite)) ||
                           (denyRead && OthersHold(m_hFile, kHasRead)) ||
                           (denyWrite && OthersHold(m_hFile, kHasWrite));
    if (violation) {
        err = EBUSY;
        return false;
    }
    m_bSoleWriter = hasWrite && denyWrite;
    return true;
}

BOOL CFile::Open(const char* path, UINT flags, CFileException* pError)
{
    if (m_hFile != hFileNull) Abort();
    ResetState();
    m_strFileName = path ? path : "";
    m_nOpenFlags = flags;

    const UINT access = flags & 0x3;
    // Write-only access still opens the descriptor for reading where it can, because the
    // share-mode locks are shared (read) locks.
    int oflags = access == modeRead ? O_RDONLY : O_RDWR;
    if (flags & modeCreate) {
        oflags |= O_CREAT;
        if (flags & modeCreateNew)
            oflags |= O_EXCL;
        else if (!(flags & modeNoTruncate))
            oflags |= O_TRUNC;
    }
    if (flags & modeNoFollow) oflags |= O_NOFOLLOW;
    // Non-blocking while opening, so that a pipe at the path cannot hang the open.
    oflags |= O_CLOEXEC | O_NONBLOCK;
    const std::string os = OsPath(path);
    auto fail = [&](int err) {
        if (pError) *pError = CFileException(CFileException::OsErrorToCause(err), err, m_strFileName);
        return FALSE;
    };
    if (os.empty()) return fail(ENOENT);

    // Truncation must wait until the share check has passed, so open without O_TRUNC
    // and cut afterwards.
    const bool truncate = (oflags & O_TRUNC) != 0;
    oflags &= ~O_TRUNC;
    int fd = ::open(os.c_str(), oflags, 0666);
    if (fd < 0 && access == modeWrite && errno == EACCES) fd = ::open(os.c_str(), (oflags & ~O_RDWR) | O_WRONLY, 0666);
    if (fd < 0 && errno == EEXIST && (flags & modeCreateNew)) fd = OpenOwnFifo(os, oflags & ~(O_CREAT | O_EXCL));
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(EISDIR);
    }
    m_bStream = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode);
    if (const int fl = ::fcntl(fd, F_GETFL); fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    m_hFile = fd;
    int err = 0;
    if (!ApplyShareMode(flags, err)) {
        ::close(fd);
        m_hFile = hFileNull;
        return fail(err);
    }
    if (truncate && ::ftruncate(fd, 0) != 0) {
        err = errno;
        ::close(fd);
        m_hFile = hFileNull;
        return fail(err);
    }
    if (!m_cache) m_cache = std::make_unique<BYTE[]>(kCacheSize);
    return TRUE;
}

bool CFile::IsRegularFile() const
{
    struct stat st {};
    return m_hFile != hFileNull && ::fstat(m_hFile, &st) == 0 && S_ISREG(st.st_mode);
}

void CFile::Close()
{
    if (m_hFile == hFileNull) return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    ResetState();
    if (::close(fd) != 0 && errno != EINTR) ThrowOsError(errno);
}

void CFile::Abort()
{
    if (m_hFile == hFileNull) return;
    ::close(m_hFile);
    m_hFile = hFileNull;
    ResetState();
}

UINT CFile::ReadDirectSlow(const BYTE*& p, UINT count)
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    if (count == 0) return 0;
    const bool inCache = m_pos >= m_cacheStart && m_pos < m_cacheStart + m_cacheLen;
    size_t avail = inCache ? static_cast<size_t>(m_cacheStart + m_cacheLen - m_pos) : 0;
    if (avail < count && avail < kCacheSize) {
        // Refill so that the cache starts at the position: the caller gets a contiguous run.
        ssize_t n;
        do {
            n = ::pread(m_hFile, m_cache.get(), kCacheSize, static_cast<off_t>(m_pos));
        } while (n < 0 && errno == EINTR);
        if (n < 0) ThrowOsError(errno);
        m_cacheStart = m_pos;
        m_cacheLen = static_cast<size_t>(n);
        avail = m_cacheLen;
    }
    const UINT got = static_cast<UINT>(std::min<size_t>(avail, count));
    p = m_cache.get() + (m_pos - m_cacheStart);
    m_pos += got;
    return got;
}

UINT CFile::Read(void* buf, UINT count)
{
    BYTE* out = static_cast<BYTE*>(buf);
    UINT done = 0;
    while (done < count) {
        const UINT want = count - done;
        const bool inCache = m_pos >= m_cacheStart && m_pos < m_cacheStart + m_cacheLen;
        if (!inCache && want >= kCacheSize) {
            if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
            ssize_t n;
            do {
                n = ::pread(m_hFile, out + done, want, static_cast<off_t>(m_pos));
            } while (n < 0 && errno == EINTR);
            if (n < 0) ThrowOsError(errno);
            if (n == 0) break;
            m_pos += static_cast<ULONGLONG>(n);
            done += static_cast<UINT>(n);
            continue;
        }
        const BYTE* p = nullptr;
        const UINT got = ReadDirect(p, want);
        if (got == 0) break;
        std::memcpy(out + done, p, got);
        done += got;
    }
    return done;
}

void CFile::Write(const void* buf, UINT count)
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    if (count == 0) return;
    if (m_cacheLen && m_pos < m_cacheStart + m_cacheLen && m_pos + count > m_cacheStart) InvalidateCache();
    const BYTE* in = static_cast<const BYTE*>(buf);
    int fault = 0;
    if (IsWriteFaultArmed()) [[unlikely]]
        fault = TakeWriteFault(m_strFileName, m_pos, count, count);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = m_bStream ? ::write(m_hFile, in + done, count - done)
                                    : ::pwrite(m_hFile, in + done, count - done, static_cast<off_t>(m_pos));
        if (n < 0) {
            if (errno == EINTR) continue;
            // Writing through a read-only handle is a denied access, not an invalid file.
            if (errno == EBADF && (m_nOpenFlags & 0x3) == modeRead)
                throw CFileException(CFileException::accessDenied, EBADF, m_strFileName);
            ThrowOsError(errno);
        }
        if (n == 0) ThrowOsError(ENOSPC);
        done += static_cast<UINT>(n);
        m_pos += static_cast<ULONGLONG>(n);
    }
    if (m_cachedLength >= 0 && static_cast<LONGLONG>(m_pos) > m_cachedLength) m_cachedLength = static_cast<LONGLONG>(m_pos);
    if (fault) ThrowOsError(fault);
}

ULONGLONG CFile::Seek(LONG off, UINT from)
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    LONGLONG base = 0;
    switch (from) {
    case begin: base = 0; break;
    case current: base = static_cast<LONGLONG>(m_pos); break;
    case end: base = static_cast<LONGLONG>(GetLength()); break;
    default: throw CFileException(CFileException::badSeek, EINVAL, m_strFileName);
    }
    const LONGLONG target = base + off;
    if (target < 0) throw CFileException(CFileException::badSeek, EINVAL, m_strFileName);
    m_pos = static_cast<ULONGLONG>(target);
    return m_pos;
}

ULONGLONG CFile::SeekAbsolute(ULONGLONG pos)
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    m_pos = pos;
    return m_pos;
}

ULONGLONG CFile::GetLengthSlow() const
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    if (m_cachedLength >= 0) return static_cast<ULONGLONG>(m_cachedLength);
    struct stat st {};
    if (::fstat(m_hFile, &st) != 0) ThrowOsError(errno);
    if (m_bSoleWriter) m_cachedLength = st.st_size;
    return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG length)
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    if (::ftruncate(m_hFile, static_cast<off_t>(length)) != 0) ThrowOsError(errno);
    InvalidateCache();
    if (m_bSoleWriter) m_cachedLength = static_cast<LONGLONG>(length);
}

ULONGLONG CFile::GetPosition() const
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    return m_pos;
}

void CFile::Flush()
{
    // Writes are not buffered here: every Write has reached the operating system,
    // so a killed process loses nothing. Durability across power loss is not asked.
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
}

CString CFile::GetFileName() const
{
    return PathFileName(m_strFileName);
}

CString CFile::GetFileTitle() const
{
    CString name = GetFileName();
    const int dot = name.ReverseFind('.');
    return dot < 0 ? name : name.Left(dot);
}

void CFile::Rename(const char* oldName, const char* newName)
{
    // As on the host, renaming never replaces an existing file.
    const std::string from = OsPath(oldName);
    const std::string to = OsPath(newName);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // A file system without the no-replace flag: check first (not atomic, but rare).
        struct stat st {};
        if (::lstat(to.c_str(), &st) == 0)
            err = EEXIST;
        else if (::rename(from.c_str(), to.c_str()) == 0)
            return;
        else
            err = errno;
    }
    throw CFileException(err == EEXIST ? CFileException::accessDenied : CFileException::OsErrorToCause(err), err, oldName);
}

void CFile::Remove(const char* fileName)
{
    if (::unlink(OsPath(fileName).c_str()) != 0)
        throw CFileException(CFileException::OsErrorToCause(errno), errno, fileName);
}

BOOL CFile::GetStatus(const char* fileName, CFileStatus& status)
{
    struct stat st {};
    if (::stat(OsPath(fileName).c_str(), &st) != 0) return FALSE;
    status.m_ctime = st.st_ctime;
    status.m_mtime = st.st_mtime;
    status.m_atime = st.st_atime;
    status.m_size = static_cast<uint64_t>(st.st_size);
    status.m_attribute = 0;
    if (S_ISDIR(st.st_mode)) status.m_attribute |= directory;
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) status.m_attribute |= readOnly;
    status.m_szFullName = fileName;
    return TRUE;
}

void CFile::SetStatus(const char* fileName, const CFileStatus& status)
{
    const std::string os = OsPath(fileName);
    struct stat st {};
    if (::stat(os.c_str(), &st) != 0) throw CFileException(CFileException::OsErrorToCause(errno), errno, fileName);
    mode_t mode = st.st_mode & 07777;
    if (status.m_attribute & readOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else if (!(mode & S_IWUSR))
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && ::chmod(os.c_str(), mode) != 0)
        throw CFileException(CFileException::OsErrorToCause(errno), errno, fileName);
    // The times are written back as they were (or as the caller gave them); a time given
    // as the same second the file already has keeps its sub-second part.
    auto pick = [](time_t wanted, const struct timespec& now) {
        struct timespec t = now;
        if (wanted && wanted != now.tv_sec) {
            t.tv_sec = wanted;
            t.tv_nsec = 0;
        }
        return t;
    };
    const struct timespec times[2] = {pick(status.m_atime, st.st_atim), pick(status.m_mtime, st.st_mtim)};
    if (::utimensat(AT_FDCWD, os.c_str(), times, 0) != 0)
        throw CFileException(CFileException::OsErrorToCause(errno), errno, fileName);
}

CStdioFile::~CStdioFile()
{
    CStdioFile::Abort();
}

BOOL CStdioFile::Open(const char* path, UINT flags, CFileException* pError)
{
    m_buffer.clear();
    m_bText = !(flags & typeBinary);
    return CFile::Open(path, flags & ~static_cast<UINT>(typeText | typeBinary), pError);
}

void CStdioFile::WriteBuffer()
{
    if (m_buffer.empty()) return;
    std::string pending;
    pending.swap(m_buffer);  // dropped even when the write fails
    CFile::Write(pending.data(), static_cast<UINT>(pending.size()));
    pending.clear();
    if (m_buffer.capacity() < pending.capacity()) m_buffer.swap(pending);  // keep the capacity
}

void CStdioFile::Write(const void* buf, UINT count)
{
    if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    const char* in = static_cast<const char*>(buf);
    const char* const end = in + count;
    if (m_buffer.capacity() < kBufferSize) m_buffer.reserve(kBufferSize);
    while (in < end) {
        const char* nl = m_bText ? static_cast<const char*>(std::memchr(in, '\n', static_cast<size_t>(end - in))) : nullptr;
        const char* stop = nl ? nl : end;
        m_buffer.append(in, static_cast<size_t>(stop - in));
        if (nl) m_buffer.append("\r\n", 2);
        in = nl ? nl + 1 : end;
        if (m_buffer.size() >= kBufferSize) WriteBuffer();
    }
}

void CStdioFile::Flush()
{
    WriteBuffer();
    CFile::Flush();
}

void CStdioFile::Close()
{
    if (m_hFile == hFileNull) return;
    try {
        WriteBuffer();
    } catch (...) {
        CFile::Abort();
        throw;
    }
    CFile::Close();
}

void CStdioFile::Abort()
{
    if (m_hFile == hFileNull) return;
    try {
        WriteBuffer();
    } catch (const CException&) {
        // As closing a stream: what cannot be written is lost, quietly.
    }
    CFile::Abort();
}

UINT CStdioFile::Read(void* buf, UINT count)
{
    WriteBuffer();
    return CFile::Read(buf, count);
}

ULONGLONG CStdioFile::Seek(LONG off, UINT from)
{
    WriteBuffer();
    return CFile::Seek(off, from);
}

void CStdioFile::SetLength(ULONGLONG length)
{
    WriteBuffer();
    CFile::SetLength(length);
}

ULONGLONG CStdioFile::GetPosition() const
{
    return CFile::GetPosition() + m_buffer.size();
}

ULONGLONG CStdioFile::GetLength() const
{
    return std::max<ULONGLONG>(CFile::GetLength(), GetPosition());
}

void CStdioFile::WriteString(const char* text)
{
    if (text) Write(text, static_cast<UINT>(std::strlen(text)));
}

bool CStdioFile::ReadString(CString& line)
{
    std::string s;
    char ch = 0;
    bool any = false;
    while (Read(&ch, 1) == 1) {
        any = true;
        if (ch == '\n') break;
        s += ch;
    }
    if (m_bText && !s.empty() && s.back() == '\r') s.pop_back();
    line = CString(std::move(s));
    return any;
}

#pragma once
// CFile: the framework's binary file over a POSIX descriptor.
//
// - Paths keep the host's backslashes; they become '/' at the OS boundary.
// - Share modes (deny-write, deny-read, exclusive, deny-none) are emulated with
//   open-file-description locks on sentinel bytes far past any real offset, so they
//   hold between processes and between two CFile objects of one process.
// - Reads go through a read cache: many small reads and backward seeks cost no
//   system call each. The file position is kept here, and every transfer uses
//   pread/pwrite at it. Writes go straight to the operating system. This object's own
//   writes and length changes are seen by its next read; bytes that another handle
//   changes inside the cached block are seen once the block is read again (a read past
//   the block, or after SetLength).
#include <cstddef>
#include <ctime>
#include <memory>
#include <string>

#include "framework/Exceptions.h"
#include "framework/String.h"
#include "framework/Types.h"

struct CFileStatus {
    time_t m_ctime = 0;
    time_t m_mtime = 0;
    time_t m_atime = 0;
    uint64_t m_size = 0;
    BYTE m_attribute = 0;  // CFile::Attribute bits
    CString m_szFullName;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        // Our own: with modeCreate, fail when the file exists (nothing is ever replaced by
        // accident, and a symbolic link planted at the name is never followed). A pipe
        // (FIFO) of this user's own at the name is written to: it replaces nothing, and it
        // is how a host streams a new file elsewhere.
        modeCreateNew = 0x10000,
        // Our own: refuse a symbolic link at the last component of the path.
        modeNoFollow = 0x20000,
    };
    enum Attribute : BYTE { normal = 0x00, readOnly = 0x01, hidden = 0x02, system = 0x04, volume = 0x08, directory = 0x10, archive = 0x20 };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
    static constexpr int hFileNull = -1;

    CFile();
    CFile(const char* path, UINT flags);  // throws CFileException
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    virtual BOOL Open(const char* path, UINT flags, CFileException* pError = nullptr);
    virtual void Close();
    virtual void Abort();
    virtual UINT Read(void* buf, UINT count);
    virtual void Write(const void* buf, UINT count);
    virtual ULONGLONG Seek(LONG off, UINT from);
    // The length a sole writer knows costs no call.
    virtual ULONGLONG GetLength() const
    {
        if (m_hFile != hFileNull && m_cachedLength >= 0) [[likely]]
            return static_cast<ULONGLONG>(m_cachedLength);
        return GetLengthSlow();
    }
    virtual void SetLength(ULONGLONG length);
    virtual ULONGLONG GetPosition() const;
    virtual void Flush();

    // Hands out up to `count` bytes at the position without copying, and advances the
    // position past them. The pointer stays valid until the next transfer on this file.
    // Returns 0 at the end of the file. The archive's loading mode reads through this.
    UINT ReadDirect(const BYTE*& p, UINT count)
    {
        // The common case, a run already in the cache, costs no call.
        // (Written so that no sum can wrap, whatever position a caller seeks to.)
        if (m_pos >= m_cacheStart && m_pos - m_cacheStart <= m_cacheLen && count <= m_cacheLen - (m_pos - m_cacheStart) &&
            m_hFile != hFileNull) [[likely]] {
            p = m_cache.get() + (m_pos - m_cacheStart);
            m_pos += count;
            return count;
        }
        return ReadDirectSlow(p, count);
    }
    // Steps the position back over bytes that ReadDirect handed out and that were not
    // used (an archive giving back its read-ahead).
    void GiveBack(UINT count)
    {
        if (count > m_pos) throw CFileException(CFileException::badSeek, 22, m_strFileName);
        m_pos -= count;
    }

    ULONGLONG SeekToEnd() { return Seek(0, end); }
    void SeekToBegin() { Seek(0, begin); }
    // Seek with a full 64-bit position (used by callers that must pass 2 GiB).
    ULONGLONG SeekAbsolute(ULONGLONG pos);

    CString GetFilePath() const { return m_strFileName; }
    CString GetFileName() const;
    CString GetFileTitle() const;
    bool IsOpen() const { return m_hFile != hFileNull; }
    // Whether the open file is a plain file (not a pipe, device or socket).
    bool IsRegularFile() const;

    static void Rename(const char* oldName, const char* newName);  // throws CFileException
    static void Remove(const char* fileName);                       // throws CFileException
    static BOOL GetStatus(const char* fileName, CFileStatus& status);
    static void SetStatus(const char* fileName, const CFileStatus& status);  // throws
    // Turns the host's backslash path into an operating-system path.
    static std::string OsPath(const char* path);

    int m_hFile = hFileNull;

protected:
    [[noreturn]] void ThrowOsError(int err) const;
    ULONGLONG GetLengthSlow() const;
    void InvalidateCache() { m_cacheLen = 0; }

    CString m_strFileName;
    UINT m_nOpenFlags = 0;

private:
    UINT ReadDirectSlow(const BYTE*& p, UINT count);
    bool ApplyShareMode(UINT flags, int& err);
    void ResetState();

    static constexpr size_t kCacheSize = 64 * 1024;
    std::unique_ptr<BYTE[]> m_cache;
    ULONGLONG m_cacheStart = 0;
    size_t m_cacheLen = 0;
    ULONGLONG m_pos = 0;
    // When this object is the only possible writer (write access with deny-write or
    // exclusive sharing), the length is tracked here instead of asked from the OS.
    bool m_bSoleWriter = false;
    // A pipe, socket or device: written in sequence, as it has no positions.
    bool m_bStream = false;
    mutable LONGLONG m_cachedLength = -1;
};

// Text-mode file: every "\n" written reaches the disk as "\r\n" in text mode.
//
// Writes are buffered, as a standard stream's are: they reach the operating system when
// the buffer is full, on Flush and Close, and before any read, seek or length change, so
// a writer of many short lines costs no system call per line. A write that fails throws
// and drops what the buffer held. Destroying or aborting the file writes what is left,
// ignoring errors, as closing a stream does.
class CStdioFile : public CFile {
public:
    static constexpr size_t kBufferSize = 64 * 1024;

    CStdioFile() = default;
    ~CStdioFile() override;
    BOOL Open(const char* path, UINT flags, CFileException* pError = nullptr) override;
    void Close() override;
    void Abort() override;
    UINT Read(void* buf, UINT count) override;
    void Write(const void* buf, UINT count) override;
    ULONGLONG Seek(LONG off, UINT from) override;
    ULONGLONG GetLength() const override;
    void SetLength(ULONGLONG length) override;
    ULONGLONG GetPosition() const override;
    void Flush() override;
    virtual void WriteString(const char* text);
    // Reads one line without its line end; false at the end of the file.
    virtual bool ReadString(CString& line);

private:
    void WriteBuffer();
    bool m_bText = true;
    std::string m_buffer;  // written bytes, line ends already turned into "\r\n"
};

#pragma once
// CArchive: the framework's binary archive over a CFile.
//
// Integers are little-endian with no alignment. A CString is a length prefix and its
// single-byte characters:
//   length < 255            1 byte length
//   length < 0xFFFE         0xFF, 16-bit length
//   otherwise               0xFF, 0xFFFF, 32-bit length
// On loading, 0xFF 0xFFFE announces 2-byte characters whose length follows in the same
// scheme; they are converted to single bytes ('?' for those that do not fit).
//
// A loading archive reads ahead in blocks of its buffer size. Flushing or closing it
// gives the unread read-ahead back to the file (a seek backwards), so the file position
// is exactly after the last byte consumed: a fresh archive per record can read records
// that carry no length of their own.
#include <cstring>
#include <memory>

#include "framework/Endian.h"
#include "framework/Exceptions.h"
#include "framework/File.h"
#include "framework/String.h"
#include "framework/Types.h"

class CArchive {
public:
    enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2 };
    static constexpr int kDefaultBufSize = 4096;

    // The common steps of a loading archive (make, read items, close, destroy) are inline
    // and cost no call: readers make one archive per record.
    CArchive(CFile* pFile, UINT nMode, int nBufSize = kDefaultBufSize)
        : m_pFile(pFile), m_nMode(nMode), m_nBufSize(ClampBufSize(nBufSize))
    {
        if (!pFile || IsStoring()) InitSlow();
    }
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;
    ~CArchive()
    {
        if (m_pFile) Destroy();
    }

    bool IsLoading() const { return (m_nMode & load) != 0; }
    bool IsStoring() const { return (m_nMode & load) == 0; }
    CFile* GetFile() const { return m_pFile; }

    UINT Read(void* buf, UINT count)
    {
        if (m_cur && static_cast<size_t>(m_max - m_cur) >= count) [[likely]] {
            std::memcpy(buf, m_cur, count);
            m_cur += count;
            return count;
        }
        return ReadSlow(buf, count);
    }
    void Write(const void* buf, UINT count)
    {
        if (m_storeBuf && count <= m_nBufSize - m_storeLen) [[likely]] {
            std::memcpy(m_storeBuf.get() + m_storeLen, buf, count);
            m_storeLen += count;
            return;
        }
        WriteSlow(buf, count);
    }
    // Storing: `count` bytes of the buffer to be filled in place, or null when they do
    // not fit in what is left of it.
    BYTE* Reserve(UINT count)
    {
        if (!m_storeBuf || count > m_nBufSize - m_storeLen) return nullptr;
        BYTE* p = m_storeBuf.get() + m_storeLen;
        m_storeLen += count;
        return p;
    }
    // Storing: writes what the buffer holds to the file. Loading: gives back the read-ahead.
    void Flush()
    {
        if (m_pFile && m_storeLen && !IsLoading()) [[likely]] {
            // The buffer is emptied however the write ends: a failed write is not
            // retried with the same bytes.
            const UINT n = m_storeLen;
            m_storeLen = 0;
            m_pFile->Write(m_storeBuf.get(), n);
            return;
        }
        FlushSlow();
    }
    // Storing: how many bytes writes can take before one goes to the file.
    UINT StoreRoom() const { return m_storeBuf ? m_nBufSize - m_storeLen : 0; }
    // Loading: gives back the read-ahead. Storing: writes the buffer. Either way the
    // archive is detached from the file afterwards, even when that fails.
    void Close()
    {
        if (m_pFile && IsLoading()) {
            CFile* file = m_pFile;
            m_pFile = nullptr;
            const UINT back = static_cast<UINT>(m_max - m_cur);
            m_cur = m_max = nullptr;
            if (back) file->GiveBack(back);
            return;
        }
        CloseSlow();
    }
    void Abort();

    CArchive& operator<<(uint8_t v) { return PutLE(v); }
    CArchive& operator<<(int8_t v) { return PutLE(static_cast<uint8_t>(v)); }
    CArchive& operator<<(uint16_t v) { return PutLE(v); }
    CArchive& operator<<(int16_t v) { return PutLE(static_cast<uint16_t>(v)); }
    CArchive& operator<<(uint32_t v) { return PutLE(v); }
    CArchive& operator<<(int32_t v) { return PutLE(static_cast<uint32_t>(v)); }
    CArchive& operator<<(uint64_t v) { return PutLE(v); }
    CArchive& operator<<(int64_t v) { return PutLE(static_cast<uint64_t>(v)); }
    CArchive& operator<<(const CString& s);

    CArchive& operator>>(uint8_t& v) { return GetLE(v); }
    CArchive& operator>>(int8_t& v) { uint8_t u; GetLE(u); v = static_cast<int8_t>(u); return *this; }
    CArchive& operator>>(uint16_t& v) { return GetLE(v); }
    CArchive& operator>>(int16_t& v) { uint16_t u; GetLE(u); v = static_cast<int16_t>(u); return *this; }
    CArchive& operator>>(uint32_t& v) { return GetLE(v); }
    CArchive& operator>>(int32_t& v) { uint32_t u; GetLE(u); v = static_cast<int32_t>(u); return *this; }
    CArchive& operator>>(uint64_t& v) { return GetLE(v); }
    CArchive& operator>>(int64_t& v) { uint64_t u; GetLE(u); v = static_cast<int64_t>(u); return *this; }
    CArchive& operator>>(CString& s);

    // Writes / reads the CString length prefix alone.
    void WriteStringLength(uint32_t length);
    // Returns the character count and sets charSize to 1 or 2.
    uint32_t ReadStringLength(int& charSize);

private:
    static UINT ClampBufSize(int n) { return n > static_cast<int>(kMinBufSize) ? static_cast<UINT>(n) : kMinBufSize; }

    template <typename T>
    CArchive& PutLE(T v)
    {
        const T le = ToLittleEndian(v);
        Write(&le, sizeof(T));
        return *this;
    }
    template <typename T>
    CArchive& GetLE(T& v)
    {
        v = LoadLittleEndian<T>(Need(sizeof(T)));
        return *this;
    }
    // Loading: makes `count` (at least 1) contiguous bytes available, consumes them and
    // returns them.
    const BYTE* Need(UINT count)
    {
        if (static_cast<size_t>(m_max - m_cur) >= count) [[likely]] {
            const BYTE* p = m_cur;
            m_cur += count;
            return p;
        }
        return NeedSlow(count);
    }
    const BYTE* NeedSlow(UINT count);
    UINT ReadSlow(void* buf, UINT count);
    void WriteSlow(const void* buf, UINT count);
    void FlushSlow();
    void CloseSlow();
    void InitSlow();
    void Destroy();

    static constexpr UINT kMinBufSize = 128;

    CFile* m_pFile;
    UINT m_nMode;
    UINT m_nBufSize;
    // storing: the buffer and how much of it is filled
    std::unique_ptr<BYTE[]> m_storeBuf;
    UINT m_storeLen = 0;
    // loading: a view into the file's read cache
    const BYTE* m_cur = nullptr;
    const BYTE* m_max = nullptr;
};

// Reads one record at the file's position through a fresh loading archive, `read(ar)`,
// and closes the archive, so that the position lands on the next record. The read-ahead
// is given back also when the read fails: the position then tells how far the record
// got. The read's exception passes on.
template <typename Read>
void ReadThroughFreshArchive(CFile& file, Read&& read)
{
    CArchive ar(&file, CArchive::load, CArchive::kDefaultBufSize);
    try {
        read(ar);
    } catch (...) {
        try {
            ar.Close();
        } catch (const CException&) {
            ar.Abort();
        }
        throw;
    }
    ar.Close();
}

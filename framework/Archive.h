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
#include <vector>

#include "framework/Exceptions.h"
#include "framework/File.h"
#include "framework/String.h"
#include "framework/Types.h"

class CArchive {
public:
    enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2 };
    static constexpr int kDefaultBufSize = 4096;

    CArchive(CFile* pFile, UINT nMode, int nBufSize = kDefaultBufSize);
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;
    ~CArchive();

    bool IsLoading() const { return (m_nMode & load) != 0; }
    bool IsStoring() const { return (m_nMode & load) == 0; }
    CFile* GetFile() const { return m_pFile; }

    UINT Read(void* buf, UINT count);
    void Write(const void* buf, UINT count);
    void Flush();
    void Close();
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
    template <typename T>
    CArchive& PutLE(T v)
    {
        uint8_t bytes[sizeof(T)];
        for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
        Write(bytes, sizeof(T));
        return *this;
    }
    template <typename T>
    CArchive& GetLE(T& v)
    {
        const BYTE* p = Need(sizeof(T));
        T out = 0;
        for (size_t i = 0; i < sizeof(T); ++i) out = static_cast<T>(out | (static_cast<T>(p[i]) << (8 * i)));
        v = out;
        return *this;
    }
    // Loading: makes `count` contiguous bytes available, consumes them and returns them.
    const BYTE* Need(UINT count);
    void FillBuffer(UINT atLeast);
    void GiveBackReadAhead();
    void CheckMode(bool wantLoading) const;

    CFile* m_pFile;
    UINT m_nMode;
    UINT m_nBufSize;
    // storing
    std::vector<BYTE> m_storeBuf;
    // loading: a view into the file's read cache
    const BYTE* m_cur = nullptr;
    const BYTE* m_max = nullptr;
};

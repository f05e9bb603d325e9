#include "framework/Archive.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr UINT kStringChunk = 64 * 1024;

// Shared by the slow paths; kept out of the class so that they are not exported and can
// be inlined into their callers.
void CheckMode(const CArchive& ar, bool wantLoading)
{
    CFile* file = ar.GetFile();
    if (!file) throw CArchiveException(CArchiveException::genericException);
    if (wantLoading && !ar.IsLoading()) throw CArchiveException(CArchiveException::writeOnly, file->GetFilePath());
    if (!wantLoading && ar.IsLoading()) throw CArchiveException(CArchiveException::readOnly, file->GetFilePath());
}
}  // namespace

void CArchive::InitSlow()
{
    if (!m_pFile) throw CArchiveException(CArchiveException::genericException);
    m_storeBuf = std::make_unique<BYTE[]>(m_nBufSize);
    m_storeLen = 0;
}

void CArchive::Destroy()
{
    if (m_nMode & bNoFlushOnDelete) {
        Abort();
        return;
    }
    try {
        Close();
    } catch (const CException&) {
        m_pFile = nullptr;
    }
}

const BYTE* CArchive::NeedSlow(UINT count)
{
    CheckMode(*this, true);
    // The unread bytes are given back first, so the next block starts with them and the
    // file's cache hands out one contiguous run.
    if (m_cur != m_max) {
        const UINT back = static_cast<UINT>(m_max - m_cur);
        m_cur = m_max = nullptr;
        m_pFile->GiveBack(back);
    }
    const BYTE* p = nullptr;
    const UINT got = m_pFile->ReadDirect(p, std::max(m_nBufSize, count));
    m_cur = p;
    m_max = p + got;
    if (got < count) {
        // Consume what is there, as a short read does, then report the end.
        m_cur = m_max;
        throw CArchiveException(CArchiveException::endOfFile, m_pFile->GetFilePath());
    }
    m_cur += count;
    return p;
}

UINT CArchive::ReadSlow(void* buf, UINT count)
{
    CheckMode(*this, true);
    BYTE* out = static_cast<BYTE*>(buf);
    UINT done = 0;
    while (done < count) {
        if (m_cur == m_max) {
            m_cur = m_max = nullptr;
            const BYTE* p = nullptr;
            const UINT got = m_pFile->ReadDirect(p, m_nBufSize);
            if (got == 0) break;
            m_cur = p;
            m_max = p + got;
        }
        const UINT n = std::min<UINT>(count - done, static_cast<UINT>(m_max - m_cur));
        std::memcpy(out + done, m_cur, n);
        m_cur += n;
        done += n;
    }
    return done;
}

void CArchive::WriteSlow(const void* buf, UINT count)
{
    CheckMode(*this, false);
    const BYTE* in = static_cast<const BYTE*>(buf);
    // Fill the buffer, write it out, and send large remainders straight to the file.
    const UINT room = m_nBufSize - m_storeLen;
    std::memcpy(m_storeBuf.get() + m_storeLen, in, room);
    m_storeLen += room;
    in += room;
    count -= room;
    Flush();
    if (count >= m_nBufSize) {
        m_pFile->Write(in, count);
        return;
    }
    std::memcpy(m_storeBuf.get(), in, count);
    m_storeLen = count;
}

// What Flush leaves to it: a loading archive gives back its read-ahead; a storing one
// has nothing to write.
void CArchive::FlushSlow()
{
    if (!m_pFile || !IsLoading()) return;
    if (m_cur != m_max) {
        const UINT back = static_cast<UINT>(m_max - m_cur);
        m_cur = m_max = nullptr;
        m_pFile->GiveBack(back);
    }
    m_cur = m_max = nullptr;
}

void CArchive::CloseSlow()
{
    if (!m_pFile) return;
    try {
        Flush();
    } catch (...) {
        m_pFile = nullptr;
        m_storeBuf.reset();
        throw;
    }
    m_pFile = nullptr;
    m_storeBuf.reset();
}

void CArchive::Abort()
{
    m_storeBuf.reset();
    m_storeLen = 0;
    m_cur = m_max = nullptr;
    m_pFile = nullptr;
}

void CArchive::WriteStringLength(uint32_t length)
{
    if (length < 0xFF) {
        *this << static_cast<uint8_t>(length);
    } else if (length < 0xFFFE) {
        *this << static_cast<uint8_t>(0xFF) << static_cast<uint16_t>(length);
    } else {
        *this << static_cast<uint8_t>(0xFF) << static_cast<uint16_t>(0xFFFF) << length;
    }
}

uint32_t CArchive::ReadStringLength(int& charSize)
{
    charSize = 1;
    uint8_t b = 0;
    *this >> b;
    if (b < 0xFF) return b;
    uint16_t w = 0;
    *this >> w;
    if (w == 0xFFFE) {
        // 2-byte characters; the length follows in the same scheme.
        charSize = 2;
        *this >> b;
        if (b < 0xFF) return b;
        *this >> w;
    }
    if (w < 0xFFFF) return w;
    uint32_t dw = 0;
    *this >> dw;
    return dw;
}

CArchive& CArchive::operator<<(const CString& s)
{
    const uint32_t n = static_cast<uint32_t>(s.GetLength());
    WriteStringLength(n);
    if (n) Write(s.GetString(), n);
    return *this;
}

CArchive& CArchive::operator>>(CString& s)
{
    int charSize = 1;
    const uint32_t n = ReadStringLength(charSize);
    const uint64_t bytes = static_cast<uint64_t>(n) * static_cast<uint64_t>(charSize);
    // The length is untrusted: grow with the data actually read, never allocate it up front.
    std::string raw;
    raw.reserve(static_cast<size_t>(std::min<uint64_t>(bytes, kStringChunk)));
    uint64_t left = bytes;
    char chunk[4096];
    while (left) {
        const UINT want = static_cast<UINT>(std::min<uint64_t>(left, sizeof(chunk)));
        const UINT got = Read(chunk, want);
        raw.append(chunk, got);
        if (got < want) throw CArchiveException(CArchiveException::endOfFile, m_pFile->GetFilePath());
        left -= got;
    }
    if (charSize == 2) {
        std::string narrow;
        narrow.reserve(n);
        for (size_t i = 0; i + 1 < raw.size(); i += 2) {
            const uint16_t ch = static_cast<uint16_t>(static_cast<uint8_t>(raw[i]) | (static_cast<uint8_t>(raw[i + 1]) << 8));
            narrow += ch < 0x100 ? static_cast<char>(ch) : '?';
        }
        raw.swap(narrow);
    }
    s = CString(std::move(raw));
    return *this;
}

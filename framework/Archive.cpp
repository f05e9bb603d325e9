#include "framework/Archive.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr UINT kMinBufSize = 128;
constexpr UINT kStringChunk = 64 * 1024;
}  // namespace

CArchive::CArchive(CFile* pFile, UINT nMode, int nBufSize)
    : m_pFile(pFile), m_nMode(nMode), m_nBufSize(std::max<UINT>(kMinBufSize, static_cast<UINT>(nBufSize > 0 ? nBufSize : 0)))
{
    if (!pFile) throw CArchiveException(CArchiveException::genericException);
    if (IsStoring()) m_storeBuf.reserve(m_nBufSize);
}

CArchive::~CArchive()
{
    if (!m_pFile) return;
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

void CArchive::CheckMode(bool wantLoading) const
{
    if (!m_pFile) throw CArchiveException(CArchiveException::genericException);
    if (wantLoading && !IsLoading()) throw CArchiveException(CArchiveException::writeOnly, m_pFile->GetFilePath());
    if (!wantLoading && IsLoading()) throw CArchiveException(CArchiveException::readOnly, m_pFile->GetFilePath());
}

void CArchive::FillBuffer(UINT atLeast)
{
    // The unread bytes are given back first, so the next block starts with them and the
    // file's cache hands out one contiguous run.
    GiveBackReadAhead();
    const BYTE* p = nullptr;
    const UINT got = m_pFile->ReadDirect(p, std::max(m_nBufSize, atLeast));
    m_cur = p;
    m_max = p + got;
}

const BYTE* CArchive::Need(UINT count)
{
    CheckMode(true);
    if (static_cast<size_t>(m_max - m_cur) < count) {
        FillBuffer(count);
        if (static_cast<size_t>(m_max - m_cur) < count) {
            // Consume what is there, as a short read does, then report the end.
            m_cur = m_max;
            throw CArchiveException(CArchiveException::endOfFile, m_pFile->GetFilePath());
        }
    }
    const BYTE* p = m_cur;
    m_cur += count;
    return p;
}

UINT CArchive::Read(void* buf, UINT count)
{
    CheckMode(true);
    BYTE* out = static_cast<BYTE*>(buf);
    UINT done = 0;
    while (done < count) {
        if (m_cur == m_max) {
            FillBuffer(0);
            if (m_cur == m_max) break;
        }
        const UINT n = std::min<UINT>(count - done, static_cast<UINT>(m_max - m_cur));
        std::memcpy(out + done, m_cur, n);
        m_cur += n;
        done += n;
    }
    return done;
}

void CArchive::Write(const void* buf, UINT count)
{
    CheckMode(false);
    const BYTE* in = static_cast<const BYTE*>(buf);
    if (m_storeBuf.size() + count <= m_nBufSize) {
        m_storeBuf.insert(m_storeBuf.end(), in, in + count);
        return;
    }
    // Fill the buffer, write it out, and send large remainders straight to the file.
    const size_t room = m_nBufSize - m_storeBuf.size();
    m_storeBuf.insert(m_storeBuf.end(), in, in + room);
    in += room;
    count -= static_cast<UINT>(room);
    Flush();
    if (count >= m_nBufSize) {
        m_pFile->Write(in, count);
        return;
    }
    m_storeBuf.insert(m_storeBuf.end(), in, in + count);
}

void CArchive::GiveBackReadAhead()
{
    if (m_cur != m_max) {
        const LONG back = static_cast<LONG>(m_max - m_cur);
        m_cur = m_max = nullptr;
        m_pFile->Seek(-back, CFile::current);
    }
    m_cur = m_max = nullptr;
}

void CArchive::Flush()
{
    if (!m_pFile) return;
    if (IsLoading()) {
        GiveBackReadAhead();
        return;
    }
    if (!m_storeBuf.empty()) {
        // The buffer is emptied however the write ends: a failed write is not retried
        // with the same bytes.
        struct Emptier {
            std::vector<BYTE>& buf;
            ~Emptier() { buf.clear(); }
        } emptier{m_storeBuf};
        m_pFile->Write(m_storeBuf.data(), static_cast<UINT>(m_storeBuf.size()));
    }
}

void CArchive::Close()
{
    if (!m_pFile) return;
    try {
        Flush();
    } catch (...) {
        m_pFile = nullptr;
        throw;
    }
    m_pFile = nullptr;
}

void CArchive::Abort()
{
    m_storeBuf.clear();
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

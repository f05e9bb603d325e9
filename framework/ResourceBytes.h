#pragma once
// Bounds-checked reading of resource bytes: little-endian integers, UTF-16 texts narrowed
// to single bytes, names or ordinals, alignment. A read past the end of the range throws
// CResourceException naming what was read and where; nothing is read beyond the range.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Resources.h"

class CResourceBytes {
public:
    // `what` names the bytes in error texts ("dialog template"); it must outlive the reader.
    CResourceBytes(const BYTE* data, size_t size, const char* what) : m_data(data), m_end(size), m_what(what) {}

    size_t Offset() const { return m_pos; }
    size_t End() const { return m_end; }
    bool AtEnd() const { return m_pos >= m_end; }

    BYTE Byte() { return Take(1)[0]; }
    WORD Word()
    {
        const BYTE* p = Take(2);
        return static_cast<WORD>(p[0] | p[1] << 8);
    }
    DWORD Dword()
    {
        const DWORD lo = Word();
        return lo | static_cast<DWORD>(Word()) << 16;
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    std::vector<BYTE> Bytes(size_t n)
    {
        const BYTE* p = Take(n);
        return std::vector<BYTE>(p, p + n);
    }
    void Skip(size_t n) { Take(n); }

    // A NUL-terminated UTF-16 text; a character above 0xFF becomes '?'. With `toEnd`, the
    // end of the range also ends the text.
    CString Text(bool toEnd = false)
    {
        std::string s;
        while (!(toEnd && AtEnd())) {
            const WORD ch = Word();
            if (ch == 0) break;
            s += ch < 0x100 ? static_cast<char>(ch) : '?';
        }
        return CString(std::move(s));
    }
    // 0xFFFF then an ordinal; else a text (a lone 0 is the empty text).
    CResourceName NameOrOrdinal()
    {
        if (Peek() == 0xFFFF) {
            Skip(2);
            return CResourceName(static_cast<int>(Word()));
        }
        return CResourceName(Text());
    }
    // Moves to the next multiple of `boundary` counted from the start of the bytes, but
    // never past the end of the range.
    void Align(size_t boundary) { m_pos = std::min(m_end, (m_pos + boundary - 1) / boundary * boundary); }
    // A reader over the next `length` bytes (same start, so alignment is unchanged); this
    // reader moves past them.
    CResourceBytes Range(size_t length)
    {
        Take(length);
        CResourceBytes sub(m_data, m_pos, m_what);
        sub.m_pos = m_pos - length;
        return sub;
    }
    [[noreturn]] void Fail(const char* why) const
    {
        CString text;
        text.Format("%s: %s at offset %zu", m_what, why, m_pos);
        throw CResourceException(text);
    }

private:
    WORD Peek() const
    {
        if (m_end - m_pos < 2) Fail("cut short");
        return static_cast<WORD>(m_data[m_pos] | m_data[m_pos + 1] << 8);
    }
    const BYTE* Take(size_t n)
    {
        if (n > m_end - m_pos) Fail("cut short");
        const BYTE* p = m_data + m_pos;
        m_pos += n;
        return p;
    }

    const BYTE* m_data;
    size_t m_pos = 0;
    size_t m_end;
    const char* m_what;
};

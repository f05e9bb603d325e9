#pragma once
// CString: the framework's single-byte (ANSI) string, as a small value class
// over std::string. Positions are int, -1 means "not found", as callers expect.
#include <string>
#include <string_view>
#include <cstdarg>
#include <cstdint>
#include <ostream>

class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}
    CString(const char* p, int nLength) : m_str(p && nLength > 0 ? std::string(p, static_cast<size_t>(nLength)) : std::string()) {}
    CString(std::string s) : m_str(std::move(s)) {}
    CString(std::string_view s) : m_str(s) {}
    CString(char ch, int nRepeat = 1) : m_str(nRepeat > 0 ? static_cast<size_t>(nRepeat) : 0, ch) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const char* GetString() const { return m_str.c_str(); }
    const char* c_str() const { return m_str.c_str(); }
    operator const char*() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }
    std::string& str() { return m_str; }

    char GetAt(int i) const { return m_str.at(static_cast<size_t>(i)); }
    void SetAt(int i, char ch) { m_str.at(static_cast<size_t>(i)) = ch; }

    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* fmt, va_list args);
    void AppendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    CString Left(int n) const;
    CString Right(int n) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char ch) const;
    int Replace(char oldCh, char newCh);
    int Replace(const char* oldStr, const char* newStr);
    int Compare(const char* other) const;
    int CompareNoCase(const char* other) const;
    CString& MakeUpper();
    CString& MakeLower();
    CString& Trim();
    CString& TrimLeft();
    CString& TrimRight();

    CString& operator+=(const CString& s) { m_str += s.m_str; return *this; }
    CString& operator+=(const char* s) { m_str += (s ? s : ""); return *this; }
    CString& operator+=(char ch) { m_str += ch; return *this; }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_str + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.m_str); }
    friend CString operator+(const CString& a, char b) { return CString(a.m_str + b); }

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator==(const char* a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(b == a); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }
    friend std::ostream& operator<<(std::ostream& os, const CString& s) { return os << s.m_str; }

private:
    std::string m_str;
};

// Appends `value` in decimal with at least `minDigits` digits (zeros in front), as
// "%.Nu" would print it, without a format call.
void AppendDecimal(std::string& out, uint64_t value, int minDigits = 1);

// FNV-1a: the keys of the framework's maps are short names, for which this inline hash
// costs a fraction of the library's general one.
template <>
struct std::hash<CString> {
    size_t operator()(const CString& s) const noexcept
    {
        uint64_t h = 14695981039346656037ull;
        for (const char c : s.str()) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        return static_cast<size_t>(h);
    }
};

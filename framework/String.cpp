#include "framework/String.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <strings.h>

void CString::FormatV(const char* fmt, va_list args)
{
    // Most texts fit a small buffer: one formatting pass then.
    char small[256];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n <= 0) {
        m_str.clear();
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        m_str.assign(small, static_cast<size_t>(n));
        return;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
    m_str = std::move(out);
}

void AppendDecimal(std::string& out, uint64_t value, int minDigits)
{
    char buf[24];
    char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    for (int n = static_cast<int>(end - buf); n < minDigits; ++n) out += '0';
    out.append(buf, static_cast<size_t>(end - buf));
}

void CString::Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    FormatV(fmt, args);
    va_end(args);
}

void CString::AppendFormat(const char* fmt, ...)
{
    CString tail;
    va_list args;
    va_start(args, fmt);
    tail.FormatV(fmt, args);
    va_end(args);
    m_str += tail.m_str;
}

CString CString::Left(int n) const
{
    if (n <= 0) return CString();
    return CString(m_str.substr(0, static_cast<size_t>(n)));
}

CString CString::Right(int n) const
{
    if (n <= 0) return CString();
    const size_t len = m_str.size();
    const size_t count = std::min(len, static_cast<size_t>(n));
    return CString(m_str.substr(len - count));
}

CString CString::Mid(int first) const
{
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const
{
    if (first < 0) first = 0;
    if (count <= 0 || first >= GetLength()) return CString();
    return CString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

int CString::Find(char ch, int start) const
{
    if (start < 0) start = 0;
    if (start >= GetLength()) return -1;
    const size_t pos = m_str.find(ch, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* sub, int start) const
{
    if (!sub) return -1;
    if (start < 0) start = 0;
    if (start > GetLength()) return -1;
    const size_t pos = m_str.find(sub, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const
{
    const size_t pos = m_str.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Replace(char oldCh, char newCh)
{
    int n = 0;
    for (char& c : m_str) {
        if (c == oldCh) {
            c = newCh;
            ++n;
        }
    }
    return n;
}

int CString::Replace(const char* oldStr, const char* newStr)
{
    if (!oldStr || !*oldStr) return 0;
    const std::string from(oldStr);
    const std::string to(newStr ? newStr : "");
    int n = 0;
    std::string out;
    size_t pos = 0;
    for (;;) {
        const size_t hit = m_str.find(from, pos);
        if (hit == std::string::npos) break;
        out.append(m_str, pos, hit - pos);
        out += to;
        pos = hit + from.size();
        ++n;
    }
    if (n) {
        out.append(m_str, pos, std::string::npos);
        m_str = std::move(out);
    }
    return n;
}

int CString::Compare(const char* other) const
{
    const int r = std::strcmp(m_str.c_str(), other ? other : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CString::CompareNoCase(const char* other) const
{
    const int r = ::strcasecmp(m_str.c_str(), other ? other : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

CString& CString::MakeUpper()
{
    for (char& c : m_str) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return *this;
}

CString& CString::MakeLower()
{
    for (char& c : m_str) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return *this;
}

CString& CString::TrimLeft()
{
    size_t i = 0;
    while (i < m_str.size() && std::isspace(static_cast<unsigned char>(m_str[i]))) ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimRight()
{
    while (!m_str.empty() && std::isspace(static_cast<unsigned char>(m_str.back()))) m_str.pop_back();
    return *this;
}

CString& CString::Trim()
{
    return TrimRight().TrimLeft();
}

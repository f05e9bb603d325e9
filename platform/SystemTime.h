#pragma once
// CSystemTime: a local time to the millisecond, as the operating system's local-time
// structure holds it. Its stored form is eight 16-bit little-endian words:
// year, month, day of week, day, hour, minute, second, milliseconds.
#include "framework/Archive.h"
#include "framework/Types.h"

struct SYSTEMTIME {
    WORD wYear = 0;
    WORD wMonth = 0;
    WORD wDayOfWeek = 0;
    WORD wDay = 0;
    WORD wHour = 0;
    WORD wMinute = 0;
    WORD wSecond = 0;
    WORD wMilliseconds = 0;
    friend bool operator==(const SYSTEMTIME&, const SYSTEMTIME&) = default;
};

class CSystemTime : public SYSTEMTIME {
public:
    CSystemTime() = default;
    CSystemTime(const SYSTEMTIME& st) : SYSTEMTIME(st) {}
    // Year, month (1-12), day, hour, minute, second, milliseconds; the day of the week
    // is computed.
    CSystemTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0);
    virtual ~CSystemTime() = default;
    CSystemTime(const CSystemTime&) = default;
    CSystemTime& operator=(const CSystemTime&) = default;

    virtual void Serialize(CArchive& ar);
    // The stored form: kStoredSize bytes at `out`.
    static constexpr int kStoredSize = 16;
    void Store(BYTE* out) const
    {
        const WORD words[] = {wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds};
        for (const WORD w : words) {
            StoreLittleEndian<WORD>(out, w);
            out += sizeof(WORD);
        }
    }
    // The same words read back from `in`.
    static CSystemTime Load(const BYTE* in);
    // The same words without a time object, for checking many records quickly.
    static SYSTEMTIME LoadWords(const BYTE* in)
    {
        SYSTEMTIME t;
        t.wYear = LoadLittleEndian<WORD>(in);
        t.wMonth = LoadLittleEndian<WORD>(in + 2);
        t.wDayOfWeek = LoadLittleEndian<WORD>(in + 4);
        t.wDay = LoadLittleEndian<WORD>(in + 6);
        t.wHour = LoadLittleEndian<WORD>(in + 8);
        t.wMinute = LoadLittleEndian<WORD>(in + 10);
        t.wSecond = LoadLittleEndian<WORD>(in + 12);
        t.wMilliseconds = LoadLittleEndian<WORD>(in + 14);
        return t;
    }
    friend bool operator==(const CSystemTime& a, const CSystemTime& b)
    {
        return static_cast<const SYSTEMTIME&>(a) == static_cast<const SYSTEMTIME&>(b);
    }
};

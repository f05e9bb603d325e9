#include "platform/SystemTime.h"

#include "framework/Endian.h"

namespace {
// Day of week, 0 = Sunday (Sakamoto's method).
int DayOfWeek(int y, int m, int d)
{
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    return (y + y / 4 - y / 100 + y / 400 + t[(m - 1) % 12] + d) % 7;
}
}  // namespace

CSystemTime::CSystemTime(int year, int month, int day, int hour, int minute, int second, int ms)
{
    wYear = static_cast<WORD>(year);
    wMonth = static_cast<WORD>(month);
    wDay = static_cast<WORD>(day);
    wHour = static_cast<WORD>(hour);
    wMinute = static_cast<WORD>(minute);
    wSecond = static_cast<WORD>(second);
    wMilliseconds = static_cast<WORD>(ms);
    wDayOfWeek = (month >= 1 && month <= 12) ? static_cast<WORD>(DayOfWeek(year, month, day)) : 0;
}

CSystemTime CSystemTime::Load(const BYTE* in)
{
    CSystemTime t;
    static_cast<SYSTEMTIME&>(t) = LoadWords(in);
    return t;
}

void CSystemTime::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        BYTE bytes[kStoredSize];
        Store(bytes);
        ar.Write(bytes, kStoredSize);
    } else {
        ar >> wYear >> wMonth >> wDayOfWeek >> wDay >> wHour >> wMinute >> wSecond >> wMilliseconds;
    }
}

#include "platform/Clock.h"

#include <chrono>
#include <ctime>

#include "platform/Services.h"

namespace {
const char* const kMonths[] = {"January", "February", "March", "April", "May", "June", "July",
                               "August", "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int DayOfYear(const CSystemTime& t)
{
    return static_cast<int>(DaysFromCivil(t.wYear, t.wMonth, t.wDay) - DaysFromCivil(t.wYear, 1, 1)) + 1;
}
}  // namespace

CSystemTime CSystemClock::LocalNow()
{
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const time_t secs = static_cast<time_t>(ms / 1000);
    struct tm tm {};
    localtime_r(&secs, &tm);
    CSystemTime t(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return t;
}

CSystemTime CFixedClock::LocalNow()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_time;
}

void CFixedClock::Set(const CSystemTime& t)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_time = t;
}

void CFixedClock::AdvanceSeconds(int64_t seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_time = UtcFromEpochSeconds(EpochSecondsFromUtc(m_time) + seconds, m_time.wMilliseconds);
}

CSystemTime LocalTimeNow()
{
    return Services::Clock()->LocalNow();
}

int64_t EpochSecondsFromUtc(const CSystemTime& t)
{
    return DaysFromCivil(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
}

CSystemTime UtcFromEpochSeconds(int64_t seconds, int milliseconds)
{
    int64_t days = seconds / 86400;
    int64_t rem = seconds % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    // civil_from_days
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return CSystemTime(static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d), static_cast<int>(rem / 3600),
                       static_cast<int>(rem % 3600 / 60), static_cast<int>(rem % 60), milliseconds);
}

CString FormatTime(const CSystemTime& t, const char* pattern)
{
    CString out;
    const int month = (t.wMonth >= 1 && t.wMonth <= 12) ? t.wMonth - 1 : 0;
    const int dow = t.wDayOfWeek <= 6 ? t.wDayOfWeek : 0;
    for (const char* p = pattern ? pattern : ""; *p; ++p) {
        if (*p != '%' || !p[1]) {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'd': out.AppendFormat("%02u", t.wDay); break;
        case 'm': out.AppendFormat("%02u", t.wMonth); break;
        case 'y': out.AppendFormat("%02u", t.wYear % 100u); break;
        case 'Y': out.AppendFormat("%u", t.wYear); break;
        case 'H': out.AppendFormat("%02u", t.wHour); break;
        case 'I': out.AppendFormat("%02u", t.wHour % 12 == 0 ? 12u : t.wHour % 12u); break;
        case 'p': out += t.wHour < 12 ? "AM" : "PM"; break;
        case 'M': out.AppendFormat("%02u", t.wMinute); break;
        case 'S': out.AppendFormat("%02u", t.wSecond); break;
        case 'L': out.AppendFormat("%03u", t.wMilliseconds); break;
        case 'b': out += CString(kMonths[month]).Left(3); break;
        case 'B': out += kMonths[month]; break;
        case 'a': out += CString(kDays[dow]).Left(3); break;
        case 'A': out += kDays[dow]; break;
        case 'j': out.AppendFormat("%03d", DayOfYear(t)); break;
        case '%': out += '%'; break;
        default: out += '%'; out += *p; break;
        }
    }
    return out;
}

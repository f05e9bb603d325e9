#pragma once
// Local time, from a clock that a test can fix, and time formatting with English month
// and day names whatever the locale.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "framework/String.h"
#include "platform/SystemTime.h"

class IClock {
public:
    virtual ~IClock() = default;
    virtual CSystemTime LocalNow() = 0;
};

// The operating system's local time.
class CSystemClock : public IClock {
public:
    CSystemTime LocalNow() override;
};

// A clock that stands still at a given time (a test moves it by hand).
class CFixedClock : public IClock {
public:
    explicit CFixedClock(const CSystemTime& t) : m_time(t) {}
    CSystemTime LocalNow() override;
    void Set(const CSystemTime& t);
    void AdvanceSeconds(int64_t seconds);

private:
    std::mutex m_mutex;
    CSystemTime m_time;
};

// The installed clock's local time.
CSystemTime LocalTimeNow();
// strftime-style patterns: %d %m %y %Y %H %M %S %b %B %a %A %j %p %I %%, plus %L for
// milliseconds (three digits). Month and day names are English.
CString FormatTime(const CSystemTime& t, const char* pattern);
// Seconds since 1970-01-01 00:00:00 UTC to a broken-down UTC time.
CSystemTime UtcFromEpochSeconds(int64_t seconds, int milliseconds = 0);
// A broken-down time (taken as UTC) to seconds since the epoch.
int64_t EpochSecondsFromUtc(const CSystemTime& t);

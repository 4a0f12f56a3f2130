#pragma once
// Time library of the hosted platform: the clock, the time-zone offset and dates.
#include "String.h"
#include <cstdint>
#include <optional>

class Time : public Object {
  public:
    // Milliseconds since the epoch shifted by `offsetMs`; the clock source is accepted as given.
    static Ref<Time> current(long long offsetMs, unsigned source);
    static Ref<Time> create(long long milliseconds, unsigned flags);
    long long milliseconds() const { return m_ms; }
    // The configured time-zone offset, on which "TIME.MODIFY" values are based too.
    static long long tzOffsetMs();

  private:
    explicit Time(long long ms) : m_ms(ms) {}
    long long m_ms;
};

namespace TimeServer {
long long tzOffset(bool includeDaylightSaving);
}

namespace Date {
// Formats "Ymd" (YYYYMMDD) or "Y-m-d"; without a time, the current (shifted) time is used.
Ref<String> currtime(const char* format, const Ref<Time>& time = {});
} // namespace Date

#pragma once
// What the time library's calls reach: one TimeService installed when the process starts (the
// host's clock, or a clock held still in unit tests).
#include "ServiceSlot.h"
#include <functional>
#include <memory>

class TimeService {
  public:
    virtual ~TimeService() = default;
    // Milliseconds since the epoch, unshifted.
    virtual long long nowMs() = 0;
    // The time-zone offset the platform is configured with, in milliseconds.
    virtual long long tzOffsetMs() = 0;
};

// The name a use before the service is installed is reported with.
template <> inline constexpr const char* serviceName<TimeService> = "time service";

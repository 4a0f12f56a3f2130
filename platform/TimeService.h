#pragma once
// What the time library's calls reach: one TimeService installed when the process starts (the
// host's clock, or a clock held still in unit tests).
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

using TimeServiceFactory = std::function<std::unique_ptr<TimeService>()>;
// Installs the service (made at its first use), or one already made.
void installTimeService(TimeServiceFactory factory);
void installTimeService(std::unique_ptr<TimeService> service);
TimeService& timeService();

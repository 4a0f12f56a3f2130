// The host's clock: the system's, or the fixed time of the configuration (for reproducible runs),
// with the configured time-zone offset.
#include "Host.h"
#include "HostServices.h"
#include "platform/TimeService.h"
#include <chrono>

namespace Host {
namespace {

class HostClock : public TimeService {
  public:
    long long nowMs() override {
        if (config().fixedClockMs) return *config().fixedClockMs;
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    long long tzOffsetMs() override { return config().tzOffsetMs; }
};

} // namespace

void installClock() {
    installService<TimeService>([] { return std::make_unique<HostClock>(); });
}

} // namespace Host

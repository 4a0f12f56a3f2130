// The host's clock: the system's, or the fixed time of the configuration (for reproducible runs),
// with the configured time-zone offset.
#include "HostPlatform.h"
#include "HostServices.h"
#include "platform/TimeService.h"
#include <chrono>

namespace Host {
namespace {

class HostClock : public TimeService {
  public:
    explicit HostClock(const Config& config) : m_config(config) {}
    long long nowMs() override {
        if (m_config.fixedClockMs) return *m_config.fixedClockMs;
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    long long tzOffsetMs() override { return m_config.tzOffsetMs; }

  private:
    const Config& m_config;
};

} // namespace

void installClock(HostPlatform& platform) {
    installService<TimeService>([&platform] { return std::make_unique<HostClock>(platform.config()); });
}

} // namespace Host

#include "HostPlatform.h"
#include "HostDialogs.h"
#include "HostEnvironment.h"
#include "HostFilesystem.h"
#include "Namespace.h"

namespace Host {

struct HostPlatform::Parts {
    const Config config = loadConfig();
    FaultRules faults{config.faultRules};
    Namespace::Tree names{config};
    FileRunState files;
    std::unique_ptr<LogRunState, LogRunStateDeleter> logState = makeLogRunState(config);
};

HostPlatform::HostPlatform() = default;

HostPlatform::~HostPlatform() = default;

HostPlatform::Parts& HostPlatform::parts() {
    // Made already: the common case, reached several times for every file an export copies.
    if (Parts* made = m_partsReady.load(std::memory_order_acquire)) return *made;
    std::call_once(m_partsMade, [this] {
        m_parts = std::make_unique<Parts>();
        m_partsReady.store(m_parts.get(), std::memory_order_release);
    });
    return *m_parts;
}

const Config& HostPlatform::config() {
    return parts().config;
}
FaultRules& HostPlatform::faults() {
    return parts().faults;
}
Namespace::Tree& HostPlatform::names() {
    return parts().names;
}
FileRunState& HostPlatform::files() {
    return parts().files;
}
LogRunState& HostPlatform::logState() {
    return *parts().logState;
}

LogExporter& HostPlatform::logs() {
    std::call_once(m_logsMade, [this] {
        m_logs = makeHostLogExporter(*this);
        if (faults().any()) m_logs = withLogFaults(std::move(m_logs), faults());
    });
    return *m_logs;
}

void installServices(HostPlatform& platform) {
    installSystem(platform);
    installFilesystem(platform);
    installDialogs(platform);
    installEnvironment(platform);
    installSysLog(platform);
    installRemote(platform);
    installClock(platform);
    installConsole();
    installCatalogue(platform);
}

} // namespace Host

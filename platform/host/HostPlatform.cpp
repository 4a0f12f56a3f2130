#include "HostPlatform.h"
#include "HostDialogs.h"
#include "HostEnvironment.h"
#include "HostFilesystem.h"

namespace Host {

HostPlatform::HostPlatform()
    : m_config(loadConfig()), m_faults(m_config.faultRules), m_names(Namespace::makeState()),
      m_files(makeFileRunState()), m_logState(makeLogRunState()) {}

HostPlatform& HostPlatform::instance() {
    static HostPlatform* platform = new HostPlatform;
    return *platform;
}

LogExporter& HostPlatform::logs() {
    std::call_once(m_logsMade, [this] {
        m_logs = makeHostLogExporter();
        if (m_faults.any()) m_logs = withLogFaults(std::move(m_logs));
    });
    return *m_logs;
}

LogExporter& logExporter() {
    return HostPlatform::instance().logs();
}

void installServices() {
    installSystem();
    installFilesystem();
    installDialogs();
    installEnvironment();
    installSysLog();
    installRemote();
    installClock();
    installConsole();
    installCatalogue();
}

} // namespace Host

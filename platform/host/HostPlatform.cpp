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

namespace {

// The backend the factory makes, wrapped in its fault decorator when the configuration has rules.
template <typename Backend, typename Make, typename Wrap>
Backend& madeOnce(std::once_flag& once, std::unique_ptr<Backend>& backend, bool faults, Make make,
                  Wrap wrap) {
    std::call_once(once, [&] {
        backend = make();
        if (faults) backend = wrap(std::move(backend));
    });
    return *backend;
}

} // namespace

LogExporter& HostPlatform::logs() {
    return madeOnce(m_logs.once, m_logs.backend, m_faults.any(), makeHostLogExporter, withLogFaults);
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

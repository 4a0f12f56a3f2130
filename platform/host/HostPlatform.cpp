#include "HostPlatform.h"

namespace Host {

HostPlatform::HostPlatform()
    : m_config(loadConfig()), m_faults(m_config.faultRules), m_names(Namespace::makeState()),
      m_files(makeFileRunState()) {}

HostPlatform& HostPlatform::instance() {
    static HostPlatform* platform = new HostPlatform;
    return *platform;
}

} // namespace Host

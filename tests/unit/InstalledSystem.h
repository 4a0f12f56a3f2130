#pragma once
// A system whose information and boot parameters the test gives, installed while this object
// lives; the host's own is put back after it.
#include "UnitPlatform.h"
#include "platform/host/HostServices.h"
#include "support/memory/MemorySystem.h"

class InstalledSystem {
  public:
    InstalledSystem() {
        auto service = std::make_unique<MemorySystem>(Host::makeHostSystem(unitPlatform()));
        m_system = service.get();
        installService<SystemService>(std::move(service));
    }
    ~InstalledSystem() { Host::installSystem(unitPlatform()); }
    InstalledSystem(const InstalledSystem&) = delete;
    InstalledSystem& operator=(const InstalledSystem&) = delete;

    MemorySystem* operator->() const { return m_system; }

  private:
    MemorySystem* m_system = nullptr;
};

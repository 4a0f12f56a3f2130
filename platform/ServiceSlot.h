#pragma once
// Where a platform service is installed: a factory given once at start-up, called at the service's
// first use (so that a run that never uses it never sets it up), or a service already made. The
// handles of each service reach it through its slot.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>

template <typename Service> class ServiceSlot {
  public:
    using Factory = std::function<std::unique_ptr<Service>()>;

    explicit ServiceSlot(const char* name) : m_name(name) {}

    // Replaces what was installed before (the service it made must no longer be in use).
    void install(Factory factory) { m_installed = std::make_unique<Installed>(std::move(factory), nullptr); }
    void install(std::unique_ptr<Service> service) {
        m_installed = std::make_unique<Installed>(nullptr, std::move(service));
    }

    // The installed service; the process stops with a message when none is.
    Service& get() {
        if (!m_installed || (!m_installed->factory && !m_installed->service)) {
            std::fprintf(stderr, "scrivletv2: no %s was installed before its first use\n", m_name);
            std::abort();
        }
        Installed& installed = *m_installed;
        std::call_once(installed.made, [&installed] {
            if (!installed.service) installed.service = installed.factory();
        });
        return *installed.service;
    }

  private:
    struct Installed {
        Installed(Factory f, std::unique_ptr<Service> s) : factory(std::move(f)), service(std::move(s)) {}
        Factory factory;
        std::unique_ptr<Service> service;
        std::once_flag made;
    };
    const char* m_name;
    std::unique_ptr<Installed> m_installed;
};

// The slot of a service, made at its first use and never destroyed: a thread still running while the
// process ends reaches its service to the last, instead of a slot already torn down.
template <typename Service> ServiceSlot<Service>& slotFor(const char* name) {
    static auto* slot = new ServiceSlot<Service>(name);
    return *slot;
}

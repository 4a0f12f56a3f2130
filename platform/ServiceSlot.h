#pragma once
// Where the platform's services are installed, one of each kind: a factory given once at start-up,
// called at the service's first use (so that a run that never uses it never sets it up), or a
// service already made. Every facade reaches its service through service<Kind>().
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

template <typename Service> class ServiceSlot {
  public:
    using Factory = std::function<std::unique_ptr<Service>()>;

    explicit ServiceSlot(const char* name) : m_name(name) {}

    // Puts a service in place of what was installed before. The one replaced is kept, not
    // destroyed: a thread still running with it (a mode's dialog thread, a transfer) goes on using
    // it safely, so that whoever replaces a service never has to wait for threads it did not start.
    void install(Factory factory) { keep(std::make_unique<Installed>(std::move(factory), nullptr)); }
    void install(std::unique_ptr<Service> service) {
        keep(std::make_unique<Installed>(nullptr, std::move(service)));
    }

    // The installed service; the process stops with a message when none is.
    Service& get() {
        Installed* installed = m_current.load(std::memory_order_acquire);
        // Made already: the common case, reached several times for every file an export copies.
        if (installed)
            if (Service* made = installed->made.load(std::memory_order_acquire)) return *made;
        if (!installed || (!installed->factory && !installed->service)) {
            std::fprintf(stderr, "scrivletv2: no %s was installed before its first use\n", m_name);
            std::abort();
        }
        std::call_once(installed->once, [installed] {
            if (!installed->service) installed->service = installed->factory();
            installed->made.store(installed->service.get(), std::memory_order_release);
        });
        return *installed->service;
    }

  private:
    struct Installed {
        Installed(Factory f, std::unique_ptr<Service> s) : factory(std::move(f)), service(std::move(s)) {}
        Factory factory;
        std::unique_ptr<Service> service;
        std::once_flag once;
        std::atomic<Service*> made{nullptr}; // the service, once made
    };
    void keep(std::unique_ptr<Installed> installed) {
        std::lock_guard lock(m_mutex);
        m_every.push_back(std::move(installed));
        m_current.store(m_every.back().get(), std::memory_order_release);
    }
    const char* m_name;
    std::atomic<Installed*> m_current{nullptr};
    std::mutex m_mutex; // guards m_every
    // Every service installed in the process, the current one last; a program installs each once,
    // tests a few times over.
    std::vector<std::unique_ptr<Installed>> m_every;
};

// What each service is called in the message of a use before it was installed: every service's
// header names its own.
template <typename Service> inline constexpr const char* serviceName = "service";

// The slot of a service, made at its first use and never destroyed: a thread still running while the
// process ends reaches its service to the last, instead of a slot already torn down.
template <typename Service> ServiceSlot<Service>& slotFor() {
    static auto* slot = new ServiceSlot<Service>(serviceName<Service>);
    return *slot;
}

// Installs a service behind its facade (made at its first use), in place of the one before.
template <typename Service> void installService(typename ServiceSlot<Service>::Factory factory) {
    slotFor<Service>().install(std::move(factory));
}
// Installs a service already made (a test that keeps a pointer to it to tell it what to answer).
template <typename Service> void installService(std::unique_ptr<Service> service) {
    slotFor<Service>().install(std::move(service));
}
// The installed service; the process stops with a message when none is.
template <typename Service> Service& service() {
    return slotFor<Service>().get();
}

#pragma once
// What the system core's calls reach: one SystemService installed when the process starts (the
// host's), which a unit test may wrap to give system information and boot parameters of its own.
#include "ServiceSlot.h"
#include "System.h"
#include <functional>
#include <memory>
#include <string>

class SystemService {
  public:
    virtual ~SystemService() = default;
    // A key's value; for a text value, the character at `index` (0 past its end).
    virtual long long info(unsigned key, unsigned index) = 0;
    // The boot parameters: blank-separated "key=value" parts.
    virtual std::string bootParameters() = 0;
    // null with the reason in Error::get.
    virtual Ref<Thd> createThread(const Ref<Exec>& exec, const std::string& name) = 0;
    // Waits until every thread this service made and started has returned; false when the time ran
    // out.
    virtual bool waitForThreads(unsigned timeoutMs) = 0;
    virtual Ref<Sem> createSemaphore(unsigned count) = 0;
    virtual Ref<ShMem> createSharedMemory(size_t bytes) = 0;
    // The command-line library's start; false when it cannot print.
    virtual bool initCommandline() = 0;
};

// Forwards every call to the service it wraps; a decorator overrides the calls it watches.
class SystemServiceProxy : public SystemService {
  public:
    explicit SystemServiceProxy(std::unique_ptr<SystemService> inner) : m_inner(std::move(inner)) {}
    long long info(unsigned key, unsigned index) override { return m_inner->info(key, index); }
    std::string bootParameters() override { return m_inner->bootParameters(); }
    Ref<Thd> createThread(const Ref<Exec>& exec, const std::string& name) override {
        return m_inner->createThread(exec, name);
    }
    bool waitForThreads(unsigned timeoutMs) override { return m_inner->waitForThreads(timeoutMs); }
    Ref<Sem> createSemaphore(unsigned count) override { return m_inner->createSemaphore(count); }
    Ref<ShMem> createSharedMemory(size_t bytes) override { return m_inner->createSharedMemory(bytes); }
    bool initCommandline() override { return m_inner->initCommandline(); }

  private:
    std::unique_ptr<SystemService> m_inner;
};

// The name a use before the service is installed is reported with.
template <> inline constexpr const char* serviceName<SystemService> = "system service";

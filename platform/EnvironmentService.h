#pragma once
// What the environment's calls reach: one EnvironmentService installed when the process starts
// (the host's, or an in-memory one in unit tests), possibly wrapped by decorators
// (EnvironmentServiceProxy) that fail its calls on purpose.
#include "ServiceSlot.h"
#include "String.h"
#include <functional>
#include <memory>

namespace PlatformEnvironment {

class EnvironmentService {
  public:
    virtual ~EnvironmentService() = default;
    // The node holding a well-known path, and the path itself; null with the reason in Error::get.
    virtual Ref<String> pathNode(unsigned pathId) = 0;
    virtual Ref<String> path(unsigned pathId) = 0;
    // false with the reason in Error::get.
    virtual bool ensureHostPathHierarchy(const Ref<String>& path, bool create) = 0;
    // Whether the installation has a product description; false with the reason in Error::get.
    virtual bool hasProductDescription() = 0;
    // A value of the description; null when it has none.
    virtual Ref<String> productValue(const char* group, const char* key) = 0;
};

// Forwards every call to the service it wraps; a decorator overrides the calls it watches.
class EnvironmentServiceProxy : public EnvironmentService {
  public:
    explicit EnvironmentServiceProxy(std::unique_ptr<EnvironmentService> inner) : m_inner(std::move(inner)) {}
    Ref<String> pathNode(unsigned pathId) override { return m_inner->pathNode(pathId); }
    Ref<String> path(unsigned pathId) override { return m_inner->path(pathId); }
    bool ensureHostPathHierarchy(const Ref<String>& path, bool create) override {
        return m_inner->ensureHostPathHierarchy(path, create);
    }
    bool hasProductDescription() override { return m_inner->hasProductDescription(); }
    Ref<String> productValue(const char* group, const char* key) override {
        return m_inner->productValue(group, key);
    }

  private:
    std::unique_ptr<EnvironmentService> m_inner;
};

} // namespace PlatformEnvironment

// The name a use before the service is installed is reported with.
template <>
inline constexpr const char* serviceName<PlatformEnvironment::EnvironmentService> = "environment service";

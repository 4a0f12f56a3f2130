#include "HostEnvironment.h"
#include "HostPlatform.h"
#include "Namespace.h"
#include "platform/Error.h"
#include <cerrno>
#include <string>

namespace Host {
namespace {

using PlatformEnvironment::EnvironmentService;
using PlatformEnvironment::EnvironmentServiceProxy;

class HostEnvironment : public EnvironmentService {
  public:
    explicit HostEnvironment(HostPlatform& platform) : m_platform(platform) {}

    Ref<String> pathNode(unsigned pathId) override {
        const PathConfig* p = pathConfig(pathId);
        if (!p || !m_platform.names().findNode(p->node)) {
            Error::set(Errors::NotFound);
            return {};
        }
        return String::create(p->node);
    }

    Ref<String> path(unsigned pathId) override {
        const PathConfig* p = pathConfig(pathId);
        if (!p) {
            Error::set(Errors::NotFound);
            return {};
        }
        for (const Namespace::Mounted& m : m_platform.names().mounts())
            if (m.node == p->node)
                return String::create(p->relative.empty() ? m.mountPoint : m.mountPoint + "/" + p->relative);
        Error::set(Errors::NotFound);
        return {};
    }

    bool ensureHostPathHierarchy(const Ref<String>& path, bool) override {
        unsigned error = 0;
        auto resolved = m_platform.names().resolve(path, error);
        if (!resolved) {
            Error::set(error);
            return false;
        }
        int err = 0;
        if (m_platform.names().makeDirectories(*resolved, err)) return true;
        Error::set(err == EXDEV || err == ELOOP ? Errors::InvalidPath : Errors::NotWritable);
        return false;
    }

    bool hasProductDescription() override {
        if (m_platform.config().product) return true;
        Error::set(Errors::NotFound);
        return false;
    }

    Ref<String> productValue(const char* group, const char* key) override {
        if (std::string(group) != "product" || !m_platform.config().product) return {};
        const auto& product = *m_platform.config().product;
        auto it = product.find(key);
        return it == product.end() ? Ref<String>() : String::create(it->second);
    }

  private:
    const PathConfig* pathConfig(unsigned id) {
        const auto& paths = m_platform.config().paths;
        auto it = paths.find(id);
        return it == paths.end() ? nullptr : &it->second;
    }

    HostPlatform& m_platform;
};

class EnvironmentFaults : public EnvironmentServiceProxy {
  public:
    EnvironmentFaults(std::unique_ptr<EnvironmentService> inner, FaultRules& rules)
        : EnvironmentServiceProxy(std::move(inner)), m_rules(rules) {}

    Ref<String> pathNode(unsigned pathId) override {
        if (m_rules.failsNow("PlatformEnvironment::getPathNode", std::to_string(pathId))) return {};
        return EnvironmentServiceProxy::pathNode(pathId);
    }
    Ref<String> path(unsigned pathId) override {
        if (m_rules.failsNow("PlatformEnvironment::getPath", std::to_string(pathId))) return {};
        return EnvironmentServiceProxy::path(pathId);
    }
    bool ensureHostPathHierarchy(const Ref<String>& path, bool create) override {
        if (m_rules.failsNow("PlatformEnvironment::ensureHostPathHierarchy", stdString(path))) return false;
        return EnvironmentServiceProxy::ensureHostPathHierarchy(path, create);
    }
    bool hasProductDescription() override {
        // An installation whose description cannot be opened has none, as far as its callers know.
        if (m_rules.fault("ProductDescription::open")) {
            Error::set(Errors::NotFound);
            return false;
        }
        return EnvironmentServiceProxy::hasProductDescription();
    }

  private:
    FaultRules& m_rules;
};

} // namespace

std::unique_ptr<EnvironmentService> makeHostEnvironment(HostPlatform& platform) {
    return std::make_unique<HostEnvironment>(platform);
}

std::unique_ptr<EnvironmentService> withEnvironmentFaults(std::unique_ptr<EnvironmentService> inner,
                                                          FaultRules& rules) {
    return std::make_unique<EnvironmentFaults>(std::move(inner), rules);
}

void installEnvironment(HostPlatform& platform) {
    installService<PlatformEnvironment::EnvironmentService>([&platform] {
        std::unique_ptr<EnvironmentService> service = makeHostEnvironment(platform);
        if (platform.faults().any()) service = withEnvironmentFaults(std::move(service), platform.faults());
        return service;
    });
}

} // namespace Host

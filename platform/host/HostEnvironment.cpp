#include "HostEnvironment.h"
#include "Host.h"
#include "Namespace.h"
#include "platform/Error.h"
#include <cerrno>
#include <string>

namespace Host {
namespace {

using PlatformEnvironment::EnvironmentService;
using PlatformEnvironment::EnvironmentServiceProxy;

const PathConfig* pathConfig(unsigned id) {
    const auto& paths = config().paths;
    auto it = paths.find(id);
    return it == paths.end() ? nullptr : &it->second;
}

class HostEnvironment : public EnvironmentService {
  public:
    Ref<String> pathNode(unsigned pathId) override {
        const PathConfig* p = pathConfig(pathId);
        if (!p || !Namespace::findNode(p->node)) {
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
        for (const Namespace::Mounted& m : Namespace::mounts())
            if (m.node == p->node)
                return String::create(p->relative.empty() ? m.mountPoint : m.mountPoint + "/" + p->relative);
        Error::set(Errors::NotFound);
        return {};
    }

    bool ensureHostPathHierarchy(const Ref<String>& path, bool) override {
        unsigned error = 0;
        auto resolved = Namespace::resolve(stdString(path), error);
        if (!resolved) {
            Error::set(error);
            return false;
        }
        int err = 0;
        if (Namespace::makeDirectories(*resolved, err)) return true;
        Error::set(err == EXDEV || err == ELOOP ? Errors::InvalidPath : Errors::NotWritable);
        return false;
    }

    bool hasProductDescription() override {
        if (config().product) return true;
        Error::set(Errors::NotFound);
        return false;
    }

    Ref<String> productValue(const char* group, const char* key) override {
        if (std::string(group) != "product" || !config().product) return {};
        const auto& product = *config().product;
        auto it = product.find(key);
        return it == product.end() ? Ref<String>() : String::create(it->second);
    }
};

class EnvironmentFaults : public EnvironmentServiceProxy {
  public:
    using EnvironmentServiceProxy::EnvironmentServiceProxy;

    Ref<String> pathNode(unsigned pathId) override {
        if (failsNow("PlatformEnvironment::getPathNode", std::to_string(pathId))) return {};
        return EnvironmentServiceProxy::pathNode(pathId);
    }
    Ref<String> path(unsigned pathId) override {
        if (failsNow("PlatformEnvironment::getPath", std::to_string(pathId))) return {};
        return EnvironmentServiceProxy::path(pathId);
    }
    bool ensureHostPathHierarchy(const Ref<String>& path, bool create) override {
        if (failsNow("PlatformEnvironment::ensureHostPathHierarchy", stdString(path))) return false;
        return EnvironmentServiceProxy::ensureHostPathHierarchy(path, create);
    }
    bool hasProductDescription() override {
        // An installation whose description cannot be opened has none, as far as its callers know.
        if (fault("ProductDescription::open")) {
            Error::set(Errors::NotFound);
            return false;
        }
        return EnvironmentServiceProxy::hasProductDescription();
    }
};

} // namespace

std::unique_ptr<EnvironmentService> makeHostEnvironment() {
    return std::make_unique<HostEnvironment>();
}

std::unique_ptr<EnvironmentService> withEnvironmentFaults(std::unique_ptr<EnvironmentService> inner) {
    return std::make_unique<EnvironmentFaults>(std::move(inner));
}

void installEnvironment() {
    installService<PlatformEnvironment::EnvironmentService>([] {
        std::unique_ptr<EnvironmentService> service = makeHostEnvironment();
        if (hasFaultRules()) service = withEnvironmentFaults(std::move(service));
        return service;
    });
}

} // namespace Host

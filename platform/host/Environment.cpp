#include "platform/Environment.h"
#include "Host.h"
#include "Namespace.h"
#include "platform/Error.h"
#include <cerrno>
#include <string>

namespace PlatformEnvironment {
namespace {
const Host::PathConfig* pathConfig(unsigned id) {
    const auto& paths = Host::config().paths;
    auto it = paths.find(id);
    return it == paths.end() ? nullptr : &it->second;
}
} // namespace

Ref<String> getPathNode(unsigned pathId) {
    const Host::PathConfig* p = pathConfig(pathId);
    if (auto code = Host::fault("PlatformEnvironment::getPathNode", std::to_string(pathId))) {
        Error::set(*code);
        return {};
    }
    if (!p || !Namespace::findNode(p->node)) {
        Error::set(Errors::NotFound);
        return {};
    }
    return String::create(p->node);
}

Ref<String> getPath(unsigned pathId) {
    const Host::PathConfig* p = pathConfig(pathId);
    if (auto code = Host::fault("PlatformEnvironment::getPath", std::to_string(pathId))) {
        Error::set(*code);
        return {};
    }
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

bool ensureHostPathHierarchy(const Ref<String>& path, bool) {
    if (auto code = Host::fault("PlatformEnvironment::ensureHostPathHierarchy", stdString(path))) {
        Error::set(*code);
        return false;
    }
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
} // namespace PlatformEnvironment

Ref<ProductDescription> ProductDescription::open() {
    if (!Host::config().product || Host::fault("ProductDescription::open")) {
        Error::set(Errors::NotFound);
        return {};
    }
    return Ref<ProductDescription>(new ProductDescription);
}

Ref<String> ProductDescription::lookup(const char* group, const char* key) const {
    if (std::string(group) != "product") return {};
    const auto& product = *Host::config().product;
    auto it = product.find(key);
    return it == product.end() ? Ref<String>() : String::create(it->second);
}

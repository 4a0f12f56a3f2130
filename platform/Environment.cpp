// The environment's calls, each to the installed EnvironmentService.
#include "Environment.h"
#include "EnvironmentService.h"

namespace PlatformEnvironment {

Ref<String> getPathNode(unsigned pathId) {
    return service<EnvironmentService>().pathNode(pathId);
}

Ref<String> getPath(unsigned pathId) {
    return service<EnvironmentService>().path(pathId);
}

bool ensureHostPathHierarchy(const Ref<String>& path, bool create) {
    return service<EnvironmentService>().ensureHostPathHierarchy(path, create);
}

} // namespace PlatformEnvironment

Ref<ProductDescription> ProductDescription::open() {
    if (!service<PlatformEnvironment::EnvironmentService>().hasProductDescription()) return {};
    return Ref<ProductDescription>(new ProductDescription);
}

Ref<String> ProductDescription::lookup(const char* group, const char* key) const {
    return service<PlatformEnvironment::EnvironmentService>().productValue(group, key);
}

// The environment's calls, each to the installed EnvironmentService.
#include "Environment.h"
#include "EnvironmentService.h"
#include "ServiceSlot.h"

namespace PlatformEnvironment {
namespace {
ServiceSlot<EnvironmentService>& installed() {
    return slotFor<EnvironmentService>("environment service");
}
} // namespace

void installEnvironmentService(EnvironmentServiceFactory factory) {
    installed().install(std::move(factory));
}

void installEnvironmentService(std::unique_ptr<EnvironmentService> service) {
    installed().install(std::move(service));
}

EnvironmentService& environmentService() {
    return installed().get();
}

Ref<String> getPathNode(unsigned pathId) {
    return environmentService().pathNode(pathId);
}

Ref<String> getPath(unsigned pathId) {
    return environmentService().path(pathId);
}

bool ensureHostPathHierarchy(const Ref<String>& path, bool create) {
    return environmentService().ensureHostPathHierarchy(path, create);
}

} // namespace PlatformEnvironment

Ref<ProductDescription> ProductDescription::open() {
    if (!PlatformEnvironment::environmentService().hasProductDescription()) return {};
    return Ref<ProductDescription>(new ProductDescription);
}

Ref<String> ProductDescription::lookup(const char* group, const char* key) const {
    return PlatformEnvironment::environmentService().productValue(group, key);
}

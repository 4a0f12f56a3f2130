#pragma once
// The host's environment: the well-known paths and the product description of the configuration,
// and the decorator that fails their calls by the fault rules.
#include "platform/EnvironmentService.h"
#include <memory>

namespace Host {

class FaultRules;
class HostPlatform;

std::unique_ptr<PlatformEnvironment::EnvironmentService> makeHostEnvironment(HostPlatform& platform);
// Fails "PlatformEnvironment::getPathNode", "PlatformEnvironment::getPath",
// "PlatformEnvironment::ensureHostPathHierarchy" and "ProductDescription::open".
std::unique_ptr<PlatformEnvironment::EnvironmentService>
withEnvironmentFaults(std::unique_ptr<PlatformEnvironment::EnvironmentService> inner, FaultRules& rules);
// Installs the host's environment, with the fault rules when there are any, made at its first use.
void installEnvironment(HostPlatform& platform);

} // namespace Host

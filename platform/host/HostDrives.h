#pragma once
// The removable drives the host has mounted: local filesystems on block devices below the drive
// roots (for example /media/alice/KEY), read from the host mount table, one for each device, named
// by their filesystem labels.
#include "Host.h"
#include <vector>

namespace HostDrives {

// The node names of host drives: this prefix and the host mount point.
inline constexpr const char* nodePrefix = "/devices/host";

std::vector<Host::NodeConfig> discover(const Host::Config& config);

} // namespace HostDrives

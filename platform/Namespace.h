#pragma once
// The platform namespace: which nodes exist, which are mounted where, and how a platform path maps
// onto a host path without ever leaving its mount.
#include "Host.h"
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace Namespace {

struct Resolved {
    std::string hostPath;
    std::string platformPath; // normalised
    bool readOnly = false;
    // What resolving learnt of the path itself, when it looked: its status (not a symbolic link,
    // so stat and lstat agree), or leafErrno ENOENT when it does not exist.
    bool leafKnown = false;
    int leafErrno = 0;
    struct stat leaf {};
};

// Every node the platform knows: the configured ones and the removable host drives.
const std::vector<Host::NodeConfig>& nodes();
const Host::NodeConfig* findNode(const std::string& name);

// Normalises a platform path (relative paths are taken from the working directory). Fails with
// 0x21 for ".." components.
std::optional<std::string> normalise(const std::string& path, unsigned& error);
// Maps a platform path onto the host; fails with 0x21 when the path or a link in it escapes its
// mount, 0x20 when no mount covers it.
std::optional<Resolved> resolve(const std::string& path, unsigned& error);

struct Mounted {
    std::string node;
    std::string mountPoint;
};
std::vector<Mounted> mounts();
// Mounts (or shares the mount of) a node; returns its mount point.
std::optional<std::string> mount(const std::string& node, unsigned& error);
void unmount(const std::string& node);
bool isMounted(const std::string& node);

} // namespace Namespace

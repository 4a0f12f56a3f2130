#pragma once
// The platform namespace: which nodes exist, which are mounted where, and how a platform path maps
// onto a host path without ever leaving its mount.
#include "Host.h"
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace Namespace {

// A host directory held open (O_PATH) for looking names up in it: one component per lookup instead
// of the whole host path. Shared, so that dropping it from the cache never closes it under a user.
class DirectoryHandle {
  public:
    explicit DirectoryHandle(int fd) : m_fd(fd) {}
    ~DirectoryHandle();
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};
using Handle = std::shared_ptr<const DirectoryHandle>;

struct Resolved {
    std::string hostPath;
    std::string platformPath;               // normalised
    const std::string* mountBase = nullptr; // the real host directory of the mount that holds it
    bool readOnly = false;
    // What resolving learnt of the path itself, when it looked: its status (not a symbolic link,
    // so stat and lstat agree), or leafErrno ENOENT when it does not exist.
    bool leafKnown = false;
    int leafErrno = 0;
    struct stat leaf {};
    // The checked directory holding the path, and where the path's name in it starts in hostPath;
    // absent for a mount's own directory and below a directory that is missing.
    Handle parent;
    size_t leafAt = 0;
    // Resolved for an open that does not follow a link at the name (Leaf::Open): the name was
    // not looked at, and an open that meets a link there asks followLink.
    bool leafUnchecked = false;

    // Where a *at() call finds the path: its name in the held parent when the name is known to be
    // no symbolic link or left for the open to find out (calls then add O_NOFOLLOW, so a link
    // planted since cannot be followed), else the host path, whose links were checked to stay inside.
    bool relative() const { return parent && (leafKnown || leafUnchecked); }
    int at() const { return relative() ? parent->fd() : AT_FDCWD; }
    const char* name() const { return hostPath.c_str() + (relative() ? leafAt : 0); }
};

// Every node the platform knows: the configured ones and the removable host drives.
const std::vector<Host::NodeConfig>& nodes();
const Host::NodeConfig* findNode(const std::string& name);

// Normalises a platform path (relative paths are taken from the working directory). Fails with
// 0x21 for ".." components.
std::optional<std::string> normalise(const std::string& path, unsigned& error);
// What resolving learns of the path itself: its status (Stat), or nothing, for a caller that opens
// it without following a link (Open) and saves the lookup.
enum class Leaf { Stat, Open };
// Maps a platform path onto the host; fails with 0x21 when the path or a link in it escapes its
// mount, 0x20 when no mount covers it.
std::optional<Resolved> resolve(const std::string& path, unsigned& error, Leaf leaf = Leaf::Stat);
// For a path resolved with Leaf::Open whose name turned out to be a symbolic link: whether the link
// stays inside the mount, after which the path is used by its host path.
bool followLink(Resolved& resolved);

// A handle of a host directory that resolving has checked (a Directory's own path): the held one,
// or one of the caller's own.
Handle directoryHandle(const std::string& hostPath);
// Forgets what was learnt of a host directory and everything below it, once it was removed.
void forgetDirectory(const std::string& hostPath);

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

#pragma once
// The platform namespace: which nodes exist, which are mounted where, and how a platform path maps
// onto a host path without ever leaving its mount.
//
// Every mount holds its host directory open. A platform path becomes that root and the path below
// it, and is only ever opened relative to the root, by the kernel (openat2 with RESOLVE_BENEATH):
// whatever changes on the host while a run goes on, no lookup can leave the mount. Objects made
// from an opened path (files, directories) keep working on their descriptors and never look the
// path up by name again.
#include "Host.h"
#include "platform/String.h"
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace Namespace {

// A host directory held open: a mount's root, or a directory the filesystem service works in.
class DirectoryHandle {
  public:
    explicit DirectoryHandle(int fd) : m_fd(fd) {}
    ~DirectoryHandle();
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    int fd() const { return m_fd; }
    // Whether the run may make and remove names in it, asked of the kernel once: a directory found
    // writable is not asked again. Should that change meanwhile, the kernel still refuses what may
    // not be made there, with the same error.
    bool writable() const;

  private:
    int m_fd;
    mutable std::atomic<bool> m_foundWritable{false};
};
using Handle = std::shared_ptr<const DirectoryHandle>;

// A platform path mapped onto its mount.
struct Resolved {
    Ref<String> platformPath; // normalised: the caller's own text when it was normal already
    Handle root;              // the mount's host directory
    bool readOnly = false;
    bool confined = true; // false for a mount of the host's own root, which nothing can leave

    // The path below the root, "" for the root itself: always the platform path's last names, so it
    // is kept as where they begin rather than copied (and, ending where the path ends, it is a C
    // string as it is).
    std::string_view below() const { return platformPath->str().substr(m_belowAt); }
    void setBelowLength(size_t length) { m_belowAt = platformPath->length() - length; }
    // A resolution made by hand, as tests and the directory walk make them: `below` its root.
    static Resolved at(Handle root, std::string_view below) {
        Resolved made;
        made.platformPath = String::create("/" + std::string(below));
        made.root = std::move(root);
        made.setBelowLength(below.size());
        return made;
    }

  private:
    size_t m_belowAt = 0;
};

// What statInHeldParent found.
enum class HeldLookup { NotHeld, Found, Missing };

// What takeCreated hands over.
struct Created {
    int fd = -1;
    dev_t device = 0;
};

// How paths are opened beneath a root (setResolver).
enum class Resolver { Openat2, Walk };

struct Mounted {
    std::string node;
    std::string mountPoint;
};

struct State;

// The platform namespace of a run: its nodes, its mounts, the directories it holds open and the
// paths it resolved lately. Made once, with the configuration it reads the nodes and the working
// directory from, which outlives it.
class Tree {
  public:
    explicit Tree(const Host::Config& config);
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // Every node the platform knows: the configured ones and the removable host drives.
    std::vector<Host::NodeConfig> nodes();
    // The node of that name; it stays valid for the run (nodes are never removed, only updated).
    const Host::NodeConfig* findNode(std::string_view name);
    // Reads the host mount table again: drives plugged in since appear, drives gone are no longer
    // offered. Returns whether the drives changed.
    bool refreshHostDrives();

    // Normalises a platform path (relative paths are taken from the working directory). Fails with
    // 0x21 for ".." components.
    std::optional<std::string> normalise(const std::string& path, unsigned& error);
    // Maps a platform path onto its mount; fails (no value) with 0x20 when no mount covers it or the mount's
    // directory is gone. Nothing is looked up on the host yet. The same path asked again while the
    // mounts stay as they are is answered from the last few resolved, not resolved again.
    std::optional<Resolved> resolve(const Ref<String>& path, unsigned& error);

    // Opens a resolved path relative to its mount's root (open(2) flags; O_CLOEXEC is added). A symbolic
    // link is followed only where the kernel finds its target beneath the mount's root: relative links
    // that stay inside. An absolute link, a link that climbs out, or a /proc "magic" link fails with
    // EXDEV or ELOOP. Returns the descriptor, or -1 with errno set.
    int openBeneath(const Resolved& resolved, int flags, mode_t mode = 0);
    // Directories opened beneath a mount (without following a link) stay held for a while, and a path
    // below one of them is opened from it, one component: the kernel keeps that lookup beneath the held
    // directory as it keeps the others beneath the root. The held directory of exactly this path, if
    // any (and not removed since):
    Handle heldDirectory(const Resolved& resolved);
    // The status of a path's own name (a link is not followed) looked up in its held parent, without
    // opening it. NotHeld: the parent is not held (the caller opens the path instead).
    HeldLookup statInHeldParent(const Resolved& resolved, struct stat& st, Handle& parent,
                                std::string_view& name);
    // A file just created in a held directory keeps the descriptor that created it until the file is
    // opened for writing, which then takes it instead of looking the name up again (fd -1: none kept),
    // with the device of the directory it was made in, which is the new file's.
    void keepCreated(const Handle& directory, std::string_view name, int fd);
    Created takeCreated(const Resolved& resolved);

    // Makes the directories of a resolved path that do not exist yet, each beneath the mount's root.
    bool makeDirectories(const Resolved& resolved, int& err);

    // How paths are opened beneath a root: by the kernel's openat2, or, on kernels without it (before
    // 5.6), by a walk of one openat per component with O_NOFOLLOW, which follows no link at all. The
    // walk is chosen by itself when openat2 is missing; tests choose it to check that it confines too.
    void setResolver(Resolver resolver);

    std::vector<Mounted> mounts();
    // Mounts (or shares the mount of) a node; returns its mount point.
    std::optional<std::string> mount(std::string_view node, unsigned& error);
    void unmount(std::string_view node);

  private:
    std::unique_ptr<State> m_state;
};

} // namespace Namespace

// Opening beneath a mount: by the kernel's openat2, or by a walk of one component at a time where
// it is missing; and the directories held open for the next paths below them.
#include "NamespaceState.h"
#include "platform/String.h"
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Namespace {
namespace {

// openat2 with the kernel keeping the walk beneath `root`. EAGAIN means a rename elsewhere raced the
// walk and the kernel could not prove it stayed beneath: the walk is simply made again.
int openat2Beneath(int root, const char* below, int flags, mode_t mode, bool confined) {
    struct open_how how {};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;
    how.resolve = RESOLVE_NO_MAGICLINKS | (confined ? RESOLVE_BENEATH : 0);
    constexpr int maxRetries = 16;
    long fd = -1;
    for (int attempt = 0; attempt < maxRetries; attempt++) {
        fd = syscall(SYS_openat2, root, below, &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) break;
    }
    return static_cast<int>(fd);
}

// The same guarantee without openat2: one component at a time, none of them a link. Each name is
// copied into a buffer of the longest a name can be, not into a string of its own: on a kernel
// without openat2 this is the walk of every file a run opens. `below` ends where its string does.
int walkBeneath(int root, std::string_view below, int flags, mode_t mode, bool confined) {
    if (!confined) return ::openat(root, below.empty() ? "." : below.data(), flags, mode);
    char name[NAME_MAX + 1];
    auto copyName = [&](std::string_view part) {
        if (part.size() > NAME_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        *std::copy(part.begin(), part.end(), name) = '\0';
        return true;
    };
    int dir = root;
    auto release = [&] {
        if (dir != root) ::close(dir);
    };
    // A component is opened as a directory once another follows it; the last is opened as asked.
    std::string_view pending;
    bool failed = false;
    forEachComponent(below, [&](std::string_view part) {
        if (failed) return;
        if (!pending.empty()) {
            int next =
                copyName(pending) ? ::openat(dir, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            int err = errno;
            release();
            dir = next < 0 ? root : next;
            failed = next < 0;
            errno = err;
        }
        pending = part;
    });
    if (failed) return -1;
    if (pending.empty()) return ::openat(root, ".", flags, mode);
    int fd = copyName(pending) ? ::openat(dir, name, flags | O_NOFOLLOW, mode) : -1;
    int err = errno;
    release();
    errno = err;
    return fd;
}

// Opens `below` relative to `base` with the resolver in use.
// `below` ends where its string does (a whole path below a root, or the last name of one), so its
// text is a C string as it is.
int openFrom(State& s, int base, std::string_view below, int flags, mode_t mode, bool confined) {
    if (s.activeResolver.load() == Resolver::Openat2) {
        int fd = openat2Beneath(base, below.empty() ? "." : below.data(), flags, mode, confined);
        if (fd >= 0 || errno != ENOSYS) return fd;
        s.activeResolver = Resolver::Walk;
    }
    return walkBeneath(base, below, flags, mode, confined);
}

// The held directory at `below` of `root`, the newest first; called with heldMutex held.
HeldDirectory* findHeld(State& s, const Handle& root, std::string_view below) {
    for (auto it = s.held.rbegin(); it != s.held.rend(); ++it)
        if (it->root == root && it->below == below) return &*it;
    return nullptr;
}

// A path below its mount as its parent and its name; false when the parent is the root itself.
bool splitParent(std::string_view below, std::string_view& parent, std::string_view& name) {
    size_t slash = findLastByte(below, '/');
    if (slash == std::string_view::npos) return false;
    parent = below.substr(0, slash);
    name = below.substr(slash + 1);
    return true;
}

// The held directory of a path's parent, and the path's last name (a view into `resolved`).
Handle heldParent(State& s, const Resolved& resolved, std::string_view& name) {
    std::string_view parent, last;
    if (!splitParent(resolved.below(), parent, last)) return {};
    std::lock_guard lock(s.heldMutex);
    HeldDirectory* entry = findHeld(s, resolved.root, parent);
    if (!entry) return {};
    name = last;
    return entry->directory;
}

HeldDirectory* heldEntryOf(State& s, const Handle& directory) {
    for (HeldDirectory& h : s.held)
        if (h.directory == directory) return &h;
    return nullptr;
}

void hold(State& s, const Resolved& resolved, int fd) {
    std::lock_guard lock(s.heldMutex);
    if (findHeld(s, resolved.root, resolved.below())) return;
    struct stat st {};
    if (fstat(fd, &st) != 0) return;
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    s.held.push_back({resolved.root,
                      std::string(resolved.below()),
                      std::make_shared<DirectoryHandle>(copy),
                      st.st_dev,
                      st.st_ino,
                      false,
                      {},
                      {}});
    if (s.held.size() > mostHeld) s.held.pop_front();
}

void forget(State& s, const Handle& directory) {
    std::lock_guard lock(s.heldMutex);
    std::erase_if(s.held, [&](const HeldDirectory& h) { return h.directory == directory; });
}

// A directory removed while held can hold nothing any more: a lookup in it finds nothing.
bool removed(const Handle& directory) {
    struct stat st {};
    return fstat(directory->fd(), &st) != 0 || st.st_nlink == 0;
}

} // namespace

void forgetBelow(State& s, const Handle& root) {
    std::lock_guard lock(s.heldMutex);
    std::erase_if(s.held, [&](const HeldDirectory& h) { return h.root == root; });
}

int Tree::openBeneath(const Resolved& resolved, int flags, mode_t mode) {
    State& s = *m_state;
    flags |= O_CLOEXEC;
    // Only directories reached without following a link are held: one reached through a link must
    // be known as such whenever it is opened again.
    bool directory = (flags & O_DIRECTORY) && (flags & O_NOFOLLOW) && !resolved.below().empty();
    std::string_view name;
    if (Handle parent = heldParent(s, resolved, name)) {
        int fd = openFrom(s, parent->fd(), name, flags, mode, resolved.confined);
        if (fd >= 0 && directory) hold(s, resolved, fd);
        if (fd >= 0) return fd;
        int err = errno;
        // A name the held directory lacks is missing, unless the directory itself was removed; a
        // link leading out of it may still stay beneath the mount. The mount's root decides those.
        bool askTheRoot = err == EXDEV || err == ELOOP || (err == ENOENT && removed(parent));
        if (!askTheRoot) {
            errno = err;
            return -1;
        }
        if (err == ENOENT) forget(s, parent);
    }
    int fd = openFrom(s, resolved.root->fd(), resolved.below(), flags, mode, resolved.confined);
    if (fd >= 0 && directory) hold(s, resolved, fd);
    return fd;
}

void Tree::keepCreated(const Handle& directory, std::string_view name, int fd) {
    State& s = *m_state;
    std::lock_guard lock(s.heldMutex);
    HeldDirectory* entry = heldEntryOf(s, directory);
    if (!entry) {
        ::close(fd);
        return;
    }
    entry->createdName = name;
    entry->created.reset(fd);
}

Created Tree::takeCreated(const Resolved& resolved) {
    State& s = *m_state;
    std::string_view parent, name;
    if (!splitParent(resolved.below(), parent, name)) return {};
    std::lock_guard lock(s.heldMutex);
    HeldDirectory* entry = findHeld(s, resolved.root, parent);
    if (!entry || entry->createdName != name) return {};
    entry->createdName.clear();
    return {entry->created.release(), entry->device};
}

Handle Tree::heldDirectory(const Resolved& resolved) {
    State& s = *m_state;
    Handle found;
    {
        std::lock_guard lock(s.heldMutex);
        HeldDirectory* entry = findHeld(s, resolved.root, resolved.below());
        if (!entry) return {};
        found = entry->directory;
        if (std::exchange(entry->seenLinked, false)) return found;
    }
    if (!removed(found)) return found;
    forget(s, found);
    return {};
}

HeldLookup Tree::statInHeldParent(const Resolved& resolved, struct stat& st, Handle& parent,
                                  std::string_view& name) {
    State& s = *m_state;
    std::string_view last;
    parent = heldParent(s, resolved, last);
    if (!parent) return HeldLookup::NotHeld;
    if (fstatat(parent->fd(), last.data(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        name = last;
        // A directory held itself that its name still leads to is not removed; asking whether a
        // directory is there before opening it (as making a path does) then costs one look.
        if (S_ISDIR(st.st_mode)) {
            std::lock_guard lock(s.heldMutex);
            HeldDirectory* self = findHeld(s, resolved.root, resolved.below());
            if (self && self->device == st.st_dev && self->inode == st.st_ino) self->seenLinked = true;
        }
        return HeldLookup::Found;
    }
    // A parent removed since it was held answers "missing" too; whatever is made there next is
    // made through heldDirectory or openBeneath, which look at the directory again.
    return errno == ENOENT ? HeldLookup::Missing : HeldLookup::NotHeld;
}

bool Tree::makeDirectories(const Resolved& resolved, int& err) {
    std::string_view below = resolved.below();
    // The first `length` bytes of the path below the root, confined as the whole path is.
    auto upTo = [&](size_t length) {
        Resolved step = Resolved::at(resolved.root, below.substr(0, length));
        step.confined = resolved.confined;
        return step;
    };
    Resolved step = upTo(0);
    bool ok = true;
    forEachComponent(below, [&](std::string_view part) {
        if (!ok) return;
        int parent = openBeneath(step, O_PATH | O_DIRECTORY);
        if (parent < 0) {
            err = errno, ok = false;
            return;
        }
        std::string name(part);
        if (mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) err = errno, ok = false;
        ::close(parent);
        // The names made so far: up to the end of this one.
        step = upTo(static_cast<size_t>(part.data() + part.size() - below.data()));
    });
    if (!ok) return false;
    // What exists at the path now must be a directory beneath the root.
    int fd = openBeneath(resolved, O_PATH | O_DIRECTORY);
    if (fd < 0) {
        err = errno;
        return false;
    }
    ::close(fd);
    return true;
}

void Tree::setResolver(Resolver resolver) {
    m_state->activeResolver = resolver;
}

} // namespace Namespace

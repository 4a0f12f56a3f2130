#include "Namespace.h"
#include "HostDrives.h"
#include "HostPlatform.h"
#include "platform/Error.h"
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <linux/openat2.h>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace Namespace {
namespace {

struct MountState {
    std::string node;
    std::string mountPoint;
    std::string hostDir;
    bool readOnly;
    int refs;           // -1: mounted for the whole run
    std::string prefix; // the mount point normalised, "" for the root
    Handle root;        // the host directory, held open from the moment of mounting
    bool confined;
};

// How a path names what it names: paths whose first component belongs to the platform (a mount
// point's first component, or an entry of the platform tree's root) are platform paths; any other
// absolute path is a host path, below the mount of the host's own root. Fixed once at start.
struct Spelling {
    std::string hostRoot; // mount point of the host's own root, "" when the platform has none
    std::unordered_set<std::string> platformNames;
};

// Directories opened beneath a mount, kept open for the next paths below them: a path whose parent
// is held is opened from it, one component, and the kernel keeps that lookup beneath the held
// directory (and so beneath the mount) as it keeps every other beneath the root. A held directory
// is the directory that was opened, wherever it is moved afterwards, as every open descriptor is.
// The newest few are kept.
// A descriptor owned alone, closed with its owner.
class OwnedDescriptor {
  public:
    OwnedDescriptor() = default;
    OwnedDescriptor(OwnedDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    ~OwnedDescriptor() { reset(); }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }
    int release() { return std::exchange(m_fd, -1); }

  private:
    int m_fd = -1;
};

struct HeldDirectory {
    Handle root;
    std::string below;
    Handle directory;
    dev_t device; // of the filesystem it is on
    ino_t inode;
    // Found by its name a moment ago, so not removed: the next look at it need not ask again.
    bool seenLinked = false;
    // The file last created in it and the descriptor that created it, for the open that follows.
    std::string createdName;
    OwnedDescriptor created;
};
constexpr size_t mostHeld = 32;

// A path resolved lately, as its caller spelt it ("" when that was its normal form). Making a
// file asks about the same path and its directory two or three times in a row (whether it exists,
// its directory, opening it).
struct RecentResolution {
    std::string given;
    std::shared_ptr<const Resolved> resolved;

    bool answers(const std::string& path) const {
        return resolved && (given.empty() ? resolved->platformPath == path : given == path);
    }
};
constexpr size_t mostRecent = 4;
// The directories whose files were resolved lately, with no mount below them: a normal path
// directly in one is resolved by appending its name, as a walk of the same directory asks about
// each of its files in turn.
constexpr size_t mostParents = 4;

// A fixed number of the latest answers, the oldest replaced first.
template <typename Entry, size_t Count> struct RecentList {
    std::array<Entry, Count> entries;
    size_t next = 0;

    void add(Entry entry) {
        entries[next] = std::move(entry);
        next = (next + 1) % Count;
    }
    void clear() {
        for (Entry& e : entries)
            e = {};
    }
};

} // namespace

// The namespace's part of the run's state (HostPlatform holds it).
struct State {
    std::mutex mutex;
    std::vector<MountState> table;
    // A deque, so that a node found stays where it is when drives are added.
    std::deque<Host::NodeConfig> allNodes;
    Handle fsRoot;
    bool fsRootConfined = true;
    bool ready = false;
    std::atomic<Resolver> activeResolver{Resolver::Openat2};
    Spelling spelling;
    // Answers of resolve while the mount table stays as it is; emptied whenever it changes.
    RecentList<RecentResolution, mostRecent> recent;
    RecentList<std::shared_ptr<const Resolved>, mostParents> parents;
    std::mutex heldMutex;
    std::deque<HeldDirectory> held;
};

void StateDeleter::operator()(State* state) const {
    delete state;
}

std::unique_ptr<State, StateDeleter> makeState() {
    return std::unique_ptr<State, StateDeleter>(new State);
}

namespace {

State& state() {
    return Host::HostPlatform::instance().names();
}

// Calls `visit` with each component of a path, without empty ones and ".", as views into the path.
template <typename Visit> void forEachComponent(std::string_view path, Visit visit) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".") visit(part);
        start = end + 1;
    }
}

// The components of a path joined again, each behind a "/" ("" for no components).
std::string joined(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    forEachComponent(path, [&](std::string_view part) {
        out += '/';
        out += part;
    });
    return out;
}

// Whether a path is absolute with no empty, "." or ".." component: normalised as it is.
bool isNormal(std::string_view path) {
    if (path.empty() || path[0] != '/') return false;
    if (path.size() == 1) return true;
    for (size_t start = 1; start <= path.size();) {
        size_t end = std::min(path.find('/', start), path.size());
        std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

// Opens a host directory that becomes a root; whether it is the host's own root, which no path can
// leave, is decided by what it is, not by how it was named.
Handle openRoot(const std::string& hostDir, bool& confined) {
    int fd = ::open(hostDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat self {
    }, hostRoot{};
    confined = !(fstat(fd, &self) == 0 && stat("/", &hostRoot) == 0 && self.st_dev == hostRoot.st_dev &&
                 self.st_ino == hostRoot.st_ino);
    return std::make_shared<const DirectoryHandle>(fd);
}

std::optional<MountState> mountState(const Host::NodeConfig& n, int refs) {
    MountState m{n.name, n.mountPoint, n.hostDir, n.readOnly, refs, joined(n.mountPoint), {}, true};
    m.root = openRoot(n.hostDir, m.confined);
    if (!m.root) return std::nullopt;
    return m;
}

// The first component of a path ("" for "/").
std::string_view firstComponent(std::string_view path) {
    size_t start = 0;
    while (start < path.size()) {
        size_t end = std::min(path.find('/', start), path.size());
        std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".") return part;
        start = end + 1;
    }
    return {};
}

void learnSpelling(const Host::Config& c) {
    State& s = state();
    for (const Host::NodeConfig& n : s.allNodes)
        if (!n.mountPoint.empty()) s.spelling.platformNames.insert(std::string(firstComponent(n.mountPoint)));
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(c.fsRoot, ec))
        s.spelling.platformNames.insert(entry.path().filename().string());
    for (const MountState& m : s.table)
        if (!m.confined && !m.prefix.empty()) s.spelling.hostRoot = m.prefix;
}

// Called with the lock held.
void init() {
    State& s = state();
    if (s.ready) return;
    s.ready = true;
    const Host::Config& c = Host::config();
    s.allNodes.assign(c.nodes.begin(), c.nodes.end());
    for (Host::NodeConfig& drive : HostDrives::discover(c))
        s.allNodes.push_back(std::move(drive));
    s.fsRoot = openRoot(c.fsRoot, s.fsRootConfined);
    for (const Host::NodeConfig& n : s.allNodes)
        if (n.mountedAtStart)
            if (auto m = mountState(n, -1)) s.table.push_back(std::move(*m));
    learnSpelling(c);
}

const Host::NodeConfig* findNodeLocked(const std::string& name) {
    for (const Host::NodeConfig& n : state().allNodes)
        if (n.name == name) return &n;
    return nullptr;
}

// Whether a normalised path is a mount's point or below it.
bool isBelow(std::string_view path, const std::string& prefix) {
    return path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

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

// The same guarantee without openat2: one component at a time, none of them a link.
int walkBeneath(int root, std::string_view below, int flags, mode_t mode, bool confined) {
    if (!confined) return ::openat(root, below.empty() ? "." : std::string(below).c_str(), flags, mode);
    std::vector<std::string_view> parts;
    forEachComponent(below, [&](std::string_view part) { parts.push_back(part); });
    if (parts.empty()) return ::openat(root, ".", flags, mode);
    int dir = root;
    auto release = [&] {
        if (dir != root) ::close(dir);
    };
    for (size_t i = 0; i + 1 < parts.size(); i++) {
        int next =
            ::openat(dir, std::string(parts[i]).c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int err = errno;
        release();
        if (next < 0) {
            errno = err;
            return -1;
        }
        dir = next;
    }
    int fd = ::openat(dir, std::string(parts.back()).c_str(), flags | O_NOFOLLOW, mode);
    int err = errno;
    release();
    errno = err;
    return fd;
}

} // namespace

DirectoryHandle::~DirectoryHandle() {
    if (m_fd >= 0) ::close(m_fd);
}

// access() also answers EROFS for a read-only filesystem, so it covers a drive mounted read-only.
bool DirectoryHandle::writable() const {
    if (m_foundWritable.load(std::memory_order_relaxed)) return true;
    bool writable = faccessat(m_fd, ".", W_OK, 0) == 0;
    if (writable) m_foundWritable.store(true, std::memory_order_relaxed);
    return writable;
}

std::vector<Host::NodeConfig> nodes() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    init();
    return {s.allNodes.begin(), s.allNodes.end()};
}

bool refreshHostDrives() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    init();
    std::vector<Host::NodeConfig> found = HostDrives::discover(Host::config());
    bool changed = false;
    for (Host::NodeConfig& node : s.allNodes) {
        if (!node.drive || !node.name.starts_with(HostDrives::nodePrefix)) continue;
        bool present =
            std::any_of(found.begin(), found.end(), [&](const auto& f) { return f.name == node.name; });
        // A drive gone from the table is no longer offered; its node stays for whoever holds it.
        if (!present) node.drive = false, changed = true;
    }
    for (Host::NodeConfig& drive : found) {
        auto known = std::find_if(s.allNodes.begin(), s.allNodes.end(),
                                  [&](const auto& n) { return n.name == drive.name; });
        if (known == s.allNodes.end()) {
            s.allNodes.push_back(std::move(drive));
            changed = true;
        } else if (!known->drive || known->attributes != drive.attributes ||
                   known->readOnly != drive.readOnly) {
            *known = std::move(drive);
            changed = true;
        }
    }
    return changed;
}

const Host::NodeConfig* findNode(const std::string& name) {
    std::lock_guard lock(state().mutex);
    init();
    return findNodeLocked(name);
}

namespace {

// A host path as a platform path: below the mount of the host's own root.
bool isHostPath(std::string_view absolute) {
    State& s = state();
    if (s.spelling.hostRoot.empty()) return false;
    std::string_view first = firstComponent(absolute);
    return !first.empty() && !s.spelling.platformNames.count(std::string(first));
}

// Joins the components of `path`, resolving ".." by name. Only below the host's own root, where no
// path can leave the host and none can climb out of the mount (a ".." there stays there); anywhere
// else in the platform a ".." is an invalid path.
std::optional<std::string> collapse(std::string_view path) {
    State& s = state();
    std::vector<std::string_view> parts, floor;
    forEachComponent(s.spelling.hostRoot, [&](std::string_view part) { floor.push_back(part); });
    bool belowHost = !s.spelling.hostRoot.empty() && isBelow(joined(path), s.spelling.hostRoot);
    bool invalid = false;
    forEachComponent(path, [&](std::string_view part) {
        if (part != "..") return parts.push_back(part);
        if (!belowHost)
            invalid = true;
        else if (parts.size() > floor.size())
            parts.pop_back();
    });
    if (invalid) return std::nullopt;
    std::string out;
    for (std::string_view part : parts)
        out.append(1, '/').append(part);
    return out.empty() ? "/" : out;
}

} // namespace

namespace {

// Called with the lock held (the spelling is fixed by init).
std::optional<std::string> normaliseLocked(const std::string& path, unsigned& error) {
    State& s = state();
    if (path.empty()) {
        error = Errors::InvalidPath;
        return std::nullopt;
    }
    init();
    std::string full = path[0] == '/' ? path : Host::config().hostCwd + "/" + path;
    if (isHostPath(full)) full = s.spelling.hostRoot + full;
    if (isNormal(full)) return full;
    auto out = collapse(full);
    if (!out) error = Errors::InvalidPath;
    return out;
}

// Called with the lock held, like everything that changes the mount table.
void forgetRecentResolutions() {
    State& s = state();
    s.recent.clear();
    s.parents.clear();
}

// Called with the lock held.
std::shared_ptr<const Resolved> resolveLocked(const std::string& path, unsigned& error) {
    State& s = state();
    auto normal = normaliseLocked(path, error);
    if (!normal) return {};
    const MountState* best = nullptr;
    for (const MountState& m : s.table)
        if (isBelow(*normal, m.prefix) && (!best || m.prefix.size() > best->prefix.size())) best = &m;
    auto resolved = std::make_shared<Resolved>();
    resolved->root = best ? best->root : s.fsRoot;
    if (!resolved->root) {
        error = Errors::NotFound;
        return {};
    }
    std::string_view below = std::string_view(*normal).substr(best ? best->prefix.size() : 0);
    if (below == "/") below = {};
    if (!below.empty()) resolved->below.assign(below.substr(1));
    resolved->platformPath = std::move(*normal);
    resolved->readOnly = best && best->readOnly;
    resolved->confined = best ? best->confined : s.fsRootConfined;
    return resolved;
}

} // namespace

std::optional<std::string> normalise(const std::string& path, unsigned& error) {
    std::lock_guard lock(state().mutex);
    return normaliseLocked(path, error);
}

namespace {

// Whether a mount's point lies below a normalised path (not at it): a name there may be another
// mount's. Called with the lock held.
bool hasMountBelow(const std::string& path) {
    for (const MountState& m : state().table)
        if (m.prefix.size() > path.size() && isBelow(m.prefix, path)) return true;
    return false;
}

// A normal path resolved from the resolution of its directory, when that directory was resolved
// lately and has no mount below it: the same mount, one name further. (A normal absolute path
// below a normalised directory is normalised as it is: its first component is the directory's.)
// Null when the directory is not known. Called with the lock held.
std::shared_ptr<const Resolved> fromParent(const std::string& path, std::string_view parentPath,
                                           std::string_view name) {
    for (const auto& parent : state().parents.entries) {
        if (!parent || parent->platformPath != parentPath) continue;
        auto resolved = std::make_shared<Resolved>();
        resolved->platformPath = path;
        resolved->root = parent->root;
        resolved->below.reserve(parent->below.size() + 1 + name.size());
        resolved->below = parent->below;
        if (!resolved->below.empty()) resolved->below += '/';
        resolved->below += name;
        resolved->readOnly = parent->readOnly;
        resolved->confined = parent->confined;
        return resolved;
    }
    return {};
}

// Keeps the resolution of a path's directory for the other files in it. Called with the lock held.
void learnParent(std::string_view parentPath) {
    State& s = state();
    std::string parent(parentPath);
    if (hasMountBelow(parent)) return;
    unsigned ignored = 0;
    if (auto resolved = resolveLocked(parent, ignored)) s.parents.add(std::move(resolved));
}

} // namespace

std::shared_ptr<const Resolved> resolve(const std::string& path, unsigned& error) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (const RecentResolution& r : s.recent.entries)
        if (r.answers(path)) return r.resolved;
    // A normal path below a directory that is not the root: the directory's answer, one name on.
    size_t slash = path.rfind('/');
    bool inDirectory = slash != std::string::npos && slash > 0 && isNormal(path);
    std::string_view parentPath = inDirectory ? std::string_view(path).substr(0, slash) : std::string_view();
    std::string_view name = inDirectory ? std::string_view(path).substr(slash + 1) : std::string_view();
    auto resolved = inDirectory ? fromParent(path, parentPath, name) : nullptr;
    if (!resolved) {
        resolved = resolveLocked(path, error);
        if (!resolved) return {};
        // Only a path that was its own normal form has a directory whose answer can be extended.
        if (inDirectory && resolved->platformPath == path) learnParent(parentPath);
    }
    s.recent.add({resolved->platformPath == path ? std::string() : path, resolved});
    return resolved;
}

namespace {

// Opens `below` relative to `base` with the resolver in use.
// `below` ends where its string does (a whole path below a root, or the last name of one), so its
// text is a C string as it is.
int openFrom(int base, std::string_view below, int flags, mode_t mode, bool confined) {
    State& s = state();
    if (s.activeResolver.load() == Resolver::Openat2) {
        int fd = openat2Beneath(base, below.empty() ? "." : below.data(), flags, mode, confined);
        if (fd >= 0 || errno != ENOSYS) return fd;
        s.activeResolver = Resolver::Walk;
    }
    return walkBeneath(base, below, flags, mode, confined);
}

// The held directory at `below` of `root`, the newest first; called with heldMutex held.
HeldDirectory* findHeld(const Handle& root, std::string_view below) {
    State& s = state();
    for (auto it = s.held.rbegin(); it != s.held.rend(); ++it)
        if (it->root == root && it->below == below) return &*it;
    return nullptr;
}

// A path below its mount as its parent and its name; false when the parent is the root itself.
bool splitParent(std::string_view below, std::string_view& parent, std::string_view& name) {
    size_t slash = below.rfind('/');
    if (slash == std::string_view::npos) return false;
    parent = below.substr(0, slash);
    name = below.substr(slash + 1);
    return true;
}

// The held directory of a path's parent, and the path's last name (a view into `resolved`).
Handle heldParent(const Resolved& resolved, std::string_view& name) {
    std::string_view parent, last;
    if (!splitParent(resolved.below, parent, last)) return {};
    std::lock_guard lock(state().heldMutex);
    HeldDirectory* entry = findHeld(resolved.root, parent);
    if (!entry) return {};
    name = last;
    return entry->directory;
}

HeldDirectory* heldEntryOf(const Handle& directory) {
    for (HeldDirectory& h : state().held)
        if (h.directory == directory) return &h;
    return nullptr;
}

void hold(const Resolved& resolved, int fd) {
    State& s = state();
    std::lock_guard lock(s.heldMutex);
    if (findHeld(resolved.root, resolved.below)) return;
    struct stat st {};
    if (fstat(fd, &st) != 0) return;
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    s.held.push_back({resolved.root,
                      resolved.below,
                      std::make_shared<DirectoryHandle>(copy),
                      st.st_dev,
                      st.st_ino,
                      false,
                      {},
                      {}});
    if (s.held.size() > mostHeld) s.held.pop_front();
}

void forget(const Handle& directory) {
    State& s = state();
    std::lock_guard lock(s.heldMutex);
    std::erase_if(s.held, [&](const HeldDirectory& h) { return h.directory == directory; });
}

void forgetBelow(const Handle& root) {
    State& s = state();
    std::lock_guard lock(s.heldMutex);
    std::erase_if(s.held, [&](const HeldDirectory& h) { return h.root == root; });
}

// A directory removed while held can hold nothing any more: a lookup in it finds nothing.
bool removed(const Handle& directory) {
    struct stat st {};
    return fstat(directory->fd(), &st) != 0 || st.st_nlink == 0;
}

} // namespace

int openBeneath(const Resolved& resolved, int flags, mode_t mode) {
    flags |= O_CLOEXEC;
    // Only directories reached without following a link are held: one reached through a link must
    // be known as such whenever it is opened again.
    bool directory = (flags & O_DIRECTORY) && (flags & O_NOFOLLOW) && !resolved.below.empty();
    std::string_view name;
    if (Handle parent = heldParent(resolved, name)) {
        int fd = openFrom(parent->fd(), name, flags, mode, resolved.confined);
        if (fd >= 0 && directory) hold(resolved, fd);
        if (fd >= 0) return fd;
        int err = errno;
        // A name the held directory lacks is missing, unless the directory itself was removed; a
        // link leading out of it may still stay beneath the mount. The mount's root decides those.
        bool askTheRoot = err == EXDEV || err == ELOOP || (err == ENOENT && removed(parent));
        if (!askTheRoot) {
            errno = err;
            return -1;
        }
        if (err == ENOENT) forget(parent);
    }
    int fd = openFrom(resolved.root->fd(), resolved.below, flags, mode, resolved.confined);
    if (fd >= 0 && directory) hold(resolved, fd);
    return fd;
}

void keepCreated(const Handle& directory, const std::string& name, int fd) {
    std::lock_guard lock(state().heldMutex);
    HeldDirectory* entry = heldEntryOf(directory);
    if (!entry) {
        ::close(fd);
        return;
    }
    entry->createdName = name;
    entry->created.reset(fd);
}

Created takeCreated(const Resolved& resolved) {
    std::string_view parent, name;
    if (!splitParent(resolved.below, parent, name)) return {};
    std::lock_guard lock(state().heldMutex);
    HeldDirectory* entry = findHeld(resolved.root, parent);
    if (!entry || entry->createdName != name) return {};
    entry->createdName.clear();
    return {entry->created.release(), entry->device};
}

Handle heldDirectory(const Resolved& resolved) {
    Handle found;
    {
        std::lock_guard lock(state().heldMutex);
        HeldDirectory* entry = findHeld(resolved.root, resolved.below);
        if (!entry) return {};
        found = entry->directory;
        if (std::exchange(entry->seenLinked, false)) return found;
    }
    if (!removed(found)) return found;
    forget(found);
    return {};
}

HeldLookup statInHeldParent(const Resolved& resolved, struct stat& st, Handle& parent, std::string& name) {
    std::string_view last;
    parent = heldParent(resolved, last);
    if (!parent) return HeldLookup::NotHeld;
    if (fstatat(parent->fd(), last.data(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        name = last;
        // A directory held itself that its name still leads to is not removed; asking whether a
        // directory is there before opening it (as making a path does) then costs one look.
        if (S_ISDIR(st.st_mode)) {
            std::lock_guard lock(state().heldMutex);
            HeldDirectory* self = findHeld(resolved.root, resolved.below);
            if (self && self->device == st.st_dev && self->inode == st.st_ino) self->seenLinked = true;
        }
        return HeldLookup::Found;
    }
    // A parent removed since it was held answers "missing" too; whatever is made there next is
    // made through heldDirectory or openBeneath, which look at the directory again.
    return errno == ENOENT ? HeldLookup::Missing : HeldLookup::NotHeld;
}

bool makeDirectories(const Resolved& resolved, int& err) {
    Resolved step = resolved;
    step.below.clear();
    bool ok = true;
    forEachComponent(resolved.below, [&](std::string_view part) {
        if (!ok) return;
        int parent = openBeneath(step, O_PATH | O_DIRECTORY);
        if (parent < 0) {
            err = errno, ok = false;
            return;
        }
        std::string name(part);
        if (mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) err = errno, ok = false;
        ::close(parent);
        if (!step.below.empty()) step.below += '/';
        step.below += name;
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

void setResolver(Resolver resolver) {
    state().activeResolver = resolver;
}

std::vector<Mounted> mounts() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    init();
    std::vector<Mounted> list;
    for (const MountState& m : s.table)
        list.push_back({m.node, m.mountPoint});
    return list;
}

std::optional<std::string> mount(const std::string& node, unsigned& error) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    init();
    for (MountState& m : s.table) {
        if (m.node != node) continue;
        if (m.refs >= 0) m.refs++;
        return m.mountPoint;
    }
    const Host::NodeConfig* config = findNodeLocked(node);
    std::optional<MountState> mounted;
    if (config && !config->mountPoint.empty()) mounted = mountState(*config, 1);
    if (!mounted) {
        error = Errors::NotFound;
        return std::nullopt;
    }
    s.table.push_back(std::move(*mounted));
    forgetRecentResolutions();
    return config->mountPoint;
}

void unmount(const std::string& node) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (auto it = s.table.begin(); it != s.table.end(); ++it) {
        if (it->node != node || it->refs < 0) continue;
        if (--it->refs > 0) return;
        // Nothing of an unmounted drive stays open: it can be taken away while the run goes on.
        forgetBelow(it->root);
        s.table.erase(it);
        forgetRecentResolutions();
        return;
    }
}

} // namespace Namespace

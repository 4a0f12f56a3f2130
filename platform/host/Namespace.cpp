// The platform namespace: the nodes, what is mounted where, and how a platform path maps onto its
// mount (opening beneath the mount is NamespaceOpen.cpp's).
#include "Namespace.h"
#include "HostDrives.h"
#include "NamespaceState.h"
#include "platform/Error.h"
#include "platform/String.h"
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace Namespace {

Tree::Tree(const Host::Config& config) : m_state(std::make_unique<State>(config)) {}

Tree::~Tree() = default;

namespace {

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

void learnSpelling(State& s, const Host::Config& c) {
    for (const Host::NodeConfig& n : s.allNodes)
        if (!n.mountPoint.empty()) s.spelling.platformNames.insert(std::string(firstComponent(n.mountPoint)));
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(c.fsRoot, ec))
        s.spelling.platformNames.insert(entry.path().filename().string());
    for (const MountState& m : s.table)
        if (!m.confined && !m.prefix.empty()) s.spelling.hostRoot = m.prefix;
}

// Called with the lock held.
void init(State& s) {
    if (s.ready) return;
    s.ready = true;
    const Host::Config& c = s.config;
    s.allNodes.assign(c.nodes.begin(), c.nodes.end());
    for (Host::NodeConfig& drive : HostDrives::discover(c))
        s.allNodes.push_back(std::move(drive));
    s.fsRoot = openRoot(c.fsRoot, s.fsRootConfined);
    for (const Host::NodeConfig& n : s.allNodes)
        if (n.mountedAtStart)
            if (auto m = mountState(n, -1)) s.table.push_back(std::move(*m));
    learnSpelling(s, c);
}

const Host::NodeConfig* findNodeLocked(State& s, std::string_view name) {
    for (const Host::NodeConfig& n : s.allNodes)
        if (n.name == name) return &n;
    return nullptr;
}

// Whether a normalised path is a mount's point or below it.
bool isBelow(std::string_view path, const std::string& prefix) {
    return path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '/');
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

std::vector<Host::NodeConfig> Tree::nodes() {
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    init(s);
    return {s.allNodes.begin(), s.allNodes.end()};
}

bool Tree::refreshHostDrives() {
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    init(s);
    std::vector<Host::NodeConfig> found = HostDrives::discover(s.config);
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

const Host::NodeConfig* Tree::findNode(std::string_view name) {
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    init(s);
    return findNodeLocked(s, name);
}

namespace {

// A host path as a platform path: below the mount of the host's own root.
bool isHostPath(const State& s, std::string_view absolute) {
    if (s.spelling.hostRoot.empty()) return false;
    std::string_view first = firstComponent(absolute);
    return !first.empty() && !s.spelling.platformNames.count(std::string(first));
}

// Joins the components of `path`, resolving ".." by name. Only below the host's own root, where no
// path can leave the host and none can climb out of the mount (a ".." there stays there); anywhere
// else in the platform a ".." is an invalid path.
std::optional<std::string> collapse(const State& s, std::string_view path) {
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
std::optional<std::string> normaliseLocked(State& s, std::string_view path, unsigned& error) {
    if (path.empty()) {
        error = Errors::InvalidPath;
        return std::nullopt;
    }
    init(s);
    std::string full = path[0] == '/' ? std::string(path) : s.config.hostCwd + "/" + std::string(path);
    if (isHostPath(s, full)) full = s.spelling.hostRoot + full;
    if (isNormal(full)) return full;
    auto out = collapse(s, full);
    if (!out) error = Errors::InvalidPath;
    return out;
}

// Called with the lock held, like everything that changes the mount table.
void forgetRecentResolutions(State& s) {
    s.recent.clear();
    s.parents.clear();
}

// Called with the lock held.
// `given`, when there is one, is the caller's text of `path`: kept as the answer's path when it is
// normal already.
std::optional<Resolved> resolveLocked(State& s, std::string_view path, const Ref<String>& given,
                                      unsigned& error) {
    auto normal = normaliseLocked(s, path, error);
    if (!normal) return {};
    const MountState* best = nullptr;
    for (const MountState& m : s.table)
        if (isBelow(*normal, m.prefix) && (!best || m.prefix.size() > best->prefix.size())) best = &m;
    Resolved resolved;
    resolved.root = best ? best->root : s.fsRoot;
    if (!resolved.root) {
        error = Errors::NotFound;
        return {};
    }
    std::string_view below = std::string_view(*normal).substr(best ? best->prefix.size() : 0);
    if (below == "/") below = {};
    size_t belowLength = below.empty() ? 0 : below.size() - 1;
    resolved.platformPath = given && given->equals(*normal) ? given : String::create(*normal);
    resolved.setBelowLength(belowLength);
    resolved.readOnly = best && best->readOnly;
    resolved.confined = best ? best->confined : s.fsRootConfined;
    return resolved;
}

} // namespace

std::optional<std::string> Tree::normalise(const std::string& path, unsigned& error) {
    std::lock_guard lock(m_state->mutex);
    return normaliseLocked(*m_state, path, error);
}

namespace {

// Whether a mount's point lies below a normalised path (not at it): a name there may be another
// mount's. Called with the lock held.
bool hasMountBelow(const State& s, const std::string& path) {
    for (const MountState& m : s.table)
        if (m.prefix.size() > path.size() && isBelow(m.prefix, path)) return true;
    return false;
}

// A normal path resolved from the resolution of its directory, when that directory was resolved
// lately and has no mount below it: the same mount, one name further. (A normal absolute path
// below a normalised directory is normalised as it is: its first component is the directory's.)
// None when the directory is not known. Called with the lock held.
std::optional<Resolved> fromParent(const State& s, const Ref<String>& path, std::string_view parentPath,
                                   std::string_view name) {
    for (const auto& parent : s.parents.entries) {
        if (!parent || !parent->platformPath->equals(parentPath)) continue;
        Resolved resolved;
        resolved.platformPath = path;
        resolved.root = parent->root;
        size_t parentBelow = parent->below().size();
        resolved.setBelowLength(parentBelow == 0 ? name.size() : parentBelow + 1 + name.size());
        resolved.readOnly = parent->readOnly;
        resolved.confined = parent->confined;
        return resolved;
    }
    return {};
}

// Keeps the resolution of a path's directory for the other files in it. Called with the lock held.
void learnParent(State& s, std::string_view parentPath) {
    std::string parent(parentPath);
    if (hasMountBelow(s, parent)) return;
    unsigned ignored = 0;
    if (auto resolved = resolveLocked(s, parent, nullptr, ignored)) s.parents.add(std::move(resolved));
}

} // namespace

std::optional<Resolved> Tree::resolve(const Ref<String>& given, unsigned& error) {
    std::string_view path = given ? given->str() : std::string_view();
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    for (const RecentResolution& r : s.recent.entries)
        if (r.answers(path)) return r.resolved;
    // A directory whose files were resolved lately is asked about between them (an export checks
    // each file's directory before it makes the file): its own answer is kept.
    for (const auto& parent : s.parents.entries)
        if (parent && parent->platformPath->equals(path)) return parent;
    // A name in a directory (not the root) whose answer is known: that answer, one name on. The
    // directory's path is normal, so the whole path is when the name is.
    size_t slash = findLastByte(path, '/');
    bool inDirectory = slash != std::string::npos && slash > 0;
    std::string_view parentPath = inDirectory ? path.substr(0, slash) : std::string_view();
    std::string_view name = inDirectory ? path.substr(slash + 1) : std::string_view();
    bool normalName = !name.empty() && name != "." && name != "..";
    std::optional<Resolved> resolved;
    if (inDirectory && normalName) resolved = fromParent(s, given, parentPath, name);
    if (!resolved) {
        resolved = resolveLocked(s, path, given, error);
        if (!resolved) return {};
        // Only a path that was its own normal form has a directory whose answer can be extended.
        if (inDirectory && resolved->platformPath->equals(path)) learnParent(s, parentPath);
    }
    if (given) s.recent.add({given, *resolved});
    return resolved;
}

std::vector<Mounted> Tree::mounts() {
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    init(s);
    std::vector<Mounted> list;
    for (const MountState& m : s.table)
        list.push_back({m.node, m.mountPoint});
    return list;
}

std::optional<std::string> Tree::mount(std::string_view node, unsigned& error) {
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    init(s);
    for (MountState& m : s.table) {
        if (m.node != node) continue;
        if (m.refs >= 0) m.refs++;
        return m.mountPoint;
    }
    const Host::NodeConfig* config = findNodeLocked(s, node);
    std::optional<MountState> mounted;
    if (config && !config->mountPoint.empty()) mounted = mountState(*config, 1);
    if (!mounted) {
        error = Errors::NotFound;
        return std::nullopt;
    }
    s.table.push_back(std::move(*mounted));
    forgetRecentResolutions(s);
    return config->mountPoint;
}

void Tree::unmount(std::string_view node) {
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    for (auto it = s.table.begin(); it != s.table.end(); ++it) {
        if (it->node != node || it->refs < 0) continue;
        if (--it->refs > 0) return;
        // Nothing of an unmounted drive stays open: it can be taken away while the run goes on.
        forgetBelow(s, it->root);
        s.table.erase(it);
        forgetRecentResolutions(s);
        return;
    }
}

} // namespace Namespace

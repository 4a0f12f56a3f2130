#include "Namespace.h"
#include "Error.h"
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <libmount/libmount.h>
#include <map>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

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
};

std::string joined(std::string_view path);

MountState mountState(const Host::NodeConfig& n, int refs) {
    return {n.name, n.mountPoint, n.hostDir, n.readOnly, refs, joined(n.mountPoint)};
}

std::recursive_mutex mutex;
std::vector<MountState> table;
std::vector<Host::NodeConfig> allNodes;
bool ready = false;

std::string labelFor(const std::string& target) {
    std::string label = fs::path(target).filename().string();
    return label.empty() ? "DRIVE" : label;
}

// Removable drives the host has mounted below one of the configured roots (for example
// /media/USER/LABEL), read from the host mount table.
void discoverHostDrives(const Host::Config& c) {
    if (!c.hostDrives) return;
    struct libmnt_table* tab = mnt_new_table();
    if (!tab) return;
    if (mnt_table_parse_file(tab, c.hostMountTable.c_str()) == 0) {
        struct libmnt_iter* it = mnt_new_iter(MNT_ITER_FORWARD);
        struct libmnt_fs* entry = nullptr;
        while (it && mnt_table_next_fs(tab, it, &entry) == 0) {
            const char* target = mnt_fs_get_target(entry);
            if (!target) continue;
            std::string t = target;
            bool below = false;
            for (const std::string& root : c.hostDriveRoots)
                below = below || (t.size() > root.size() + 1 && t.rfind(root + "/", 0) == 0);
            if (!below) continue;
            Host::NodeConfig node;
            node.name = "/devices/host" + t;
            node.hostDir = t;
            node.mountPoint = "/media/" + labelFor(t);
            node.drive = true;
            node.readOnly = mnt_fs_match_options(entry, "ro") == 1;
            node.attributes = {{"SUBST_NAME", labelFor(t)}};
            allNodes.push_back(node);
        }
        mnt_free_iter(it);
    }
    mnt_free_table(tab);
}

void init() {
    if (ready) return;
    ready = true;
    const Host::Config& c = Host::config();
    allNodes = c.nodes;
    discoverHostDrives(c);
    for (const Host::NodeConfig& n : allNodes)
        if (n.mountedAtStart) table.push_back(mountState(n, -1));
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

std::vector<std::string_view> views(std::string_view path) {
    std::vector<std::string_view> parts;
    forEachComponent(path, [&](std::string_view part) { parts.push_back(part); });
    return parts;
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

// Whether a normalised path is a mount's point or below it.
bool isBelow(std::string_view path, const std::string& prefix) {
    return path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// The real host path of a mount's directory, resolved once; empty when it does not exist.
// Called with the namespace lock held.
const std::string& realDirectory(const std::string& hostDir) {
    static std::map<std::string, std::string> known;
    auto found = known.find(hostDir);
    if (found != known.end() && !found->second.empty()) return found->second;
    char real[PATH_MAX];
    return known[hostDir] = realpath(hostDir.c_str(), real) ? real : "";
}

bool inside(const std::string& real, const std::string& base) {
    return base == "/" || real == base || real.rfind(base + "/", 0) == 0;
}

// Host paths are looked up by views, without making strings of them.
struct PathHash {
    using is_transparent = void;
    size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
};

// Directories found to stay inside, remembered for the run, so that a file among thousands in one
// directory costs one lookup of its own name; like any check before an open by name, it cannot see
// a directory swapped afterwards. The directories that hold resolved paths are also held open.
std::unordered_set<std::string, PathHash, std::equal_to<>> checkedDirectories;
std::unordered_map<std::string, Handle, PathHash, std::equal_to<>> heldDirectories;
constexpr size_t maxHeldDirectories = 64;

Handle holdDirectory(const std::string& hostPath) {
    auto found = heldDirectories.find(hostPath);
    if (found != heldDirectories.end()) return found->second;
    int fd = ::open(hostPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {};
    // Users keep their handles alive; the cache only bounds how many stay open for the run.
    if (heldDirectories.size() >= maxHeldDirectories) heldDirectories.clear();
    return heldDirectories[hostPath] = std::make_shared<const DirectoryHandle>(fd);
}

// Forgets a removed directory and everything below it.
void forgetHeld(const std::string& hostPath) {
    auto below = [&](const std::string& path) {
        return path == hostPath || (path.size() > hostPath.size() && path.rfind(hostPath + "/", 0) == 0);
    };
    std::erase_if(checkedDirectories, below);
    std::erase_if(heldDirectories, [&](const auto& entry) { return below(entry.first); });
}

struct Walk {
    bool missing = false; // a directory on the way does not exist
    bool linked = false;  // the way passes a symbolic link (that stays inside)
};

// Whether the directories from the mount down to the path's parent stay inside the mount: none of
// them is a symbolic link that leads out.
bool directoriesStayInside(const std::string& base, const std::string& hostDir,
                           const std::vector<std::string_view>& parts, Walk& walk) {
    std::string probe = hostDir;
    for (size_t i = 0; i + 1 < parts.size(); i++) {
        probe += '/';
        probe += parts[i];
        if (checkedDirectories.count(probe)) continue;
        struct stat st {};
        if (lstat(probe.c_str(), &st) != 0) {
            // Nothing below a missing name can be a link, and nothing below it exists.
            walk.missing = errno == ENOENT;
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            char real[PATH_MAX];
            if (!realpath(probe.c_str(), real) || !inside(real, base)) return false;
            walk.linked = true;
        } else if (S_ISDIR(st.st_mode)) {
            checkedDirectories.insert(probe);
        }
    }
    return true;
}

// A held directory that was removed (by another process, or a drive pulled) answers every name
// with ENOENT; a directory made anew at its path must be found again by name.
bool removedSinceHeld(const Handle& held) {
    struct stat st {};
    return fstat(held->fd(), &st) == 0 && st.st_nlink == 0;
}

// The checked, held directory at `parent` (a host path below the mount's directory), or none when
// the way there passes a link or a directory on the way is missing (`walk` says which). Fails
// when a link on the way leads out.
bool parentDirectory(const std::string& base, const std::string& hostDir, const std::string& hostPath,
                     std::string_view parent, Walk& walk, Handle& held) {
    auto found = heldDirectories.find(parent);
    if (found != heldDirectories.end()) {
        held = found->second;
        return true;
    }
    std::vector<std::string_view> parts = views(std::string_view(hostPath).substr(hostDir.size()));
    if (!directoriesStayInside(base, hostDir, parts, walk)) return false;
    // A way through links is checked again every time: what a link names can change.
    if (!walk.missing && !walk.linked) held = holdDirectory(std::string(parent));
    return true;
}

// A host path below a mount's directory stays inside it unless one of its components is a
// symbolic link that leads out (or nowhere, where creating the file would follow it out).
// Components are checked from the mount down; the path's own name is looked up in its held parent.
bool staysInside(const std::string& hostPath, const std::string& hostDir, Resolved& resolved, Leaf leaf) {
    const std::string& base = realDirectory(hostDir);
    if (base.empty()) return false;
    if (base == "/") return true;
    if (hostPath.size() == hostDir.size()) return true; // the mount's own directory
    size_t slash = hostPath.rfind('/');
    std::string_view parent = std::string_view(hostPath).substr(0, slash);
    const char* leafName = hostPath.c_str() + slash + 1;
    resolved.leafAt = slash + 1;
    resolved.mountBase = &base;
    Walk walk;
    Handle held;
    if (!parentDirectory(base, hostDir, hostPath, parent, walk, held)) return false;
    if (walk.missing) {
        resolved.leafErrno = ENOENT, resolved.leafKnown = true;
        return true;
    }
    if (held && leaf == Leaf::Open) {
        resolved.leafUnchecked = true;
        resolved.parent = std::move(held);
        return true;
    }
    struct stat st {};
    int rc = held ? fstatat(held->fd(), leafName, &st, AT_SYMLINK_NOFOLLOW) : lstat(hostPath.c_str(), &st);
    if (rc != 0 && errno == ENOENT && held && removedSinceHeld(held)) {
        forgetHeld(std::string(parent));
        return staysInside(hostPath, hostDir, resolved, leaf);
    }
    if (rc != 0) {
        if (errno == ENOENT) resolved.leafErrno = ENOENT, resolved.leafKnown = true;
    } else if (S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (!realpath(hostPath.c_str(), real) || !inside(real, base)) return false;
    } else {
        // The status of the path itself, when no link decides what it names, saves the caller a lookup.
        resolved.leaf = st, resolved.leafKnown = true;
    }
    resolved.parent = std::move(held);
    return true;
}

} // namespace

const std::vector<Host::NodeConfig>& nodes() {
    std::lock_guard lock(mutex);
    init();
    return allNodes;
}

const Host::NodeConfig* findNode(const std::string& name) {
    for (const Host::NodeConfig& n : nodes())
        if (n.name == name) return &n;
    return nullptr;
}

std::optional<std::string> normalise(const std::string& path, unsigned& error) {
    if (path.empty()) {
        error = Errors::InvalidPath;
        return std::nullopt;
    }
    if (isNormal(path)) return path;
    std::string relativeJoined;
    if (path[0] != '/') relativeJoined = Host::config().hostCwd + "/" + path;
    std::string_view full = path[0] == '/' ? std::string_view(path) : std::string_view(relativeJoined);
    bool climbs = false;
    forEachComponent(full, [&](std::string_view part) { climbs = climbs || part == ".."; });
    if (climbs) {
        error = Errors::InvalidPath;
        return std::nullopt;
    }
    std::string out = joined(full);
    return out.empty() ? "/" : out;
}

std::optional<Resolved> resolve(const std::string& path, unsigned& error, Leaf leaf) {
    auto normal = normalise(path, error);
    if (!normal) return std::nullopt;
    std::lock_guard lock(mutex);
    init();
    const MountState* best = nullptr;
    for (const MountState& m : table)
        if (isBelow(*normal, m.prefix) && (!best || m.prefix.size() > best->prefix.size())) best = &m;
    const std::string& hostDir = best ? best->hostDir : Host::config().fsRoot;
    std::string_view below = std::string_view(*normal).substr(best ? best->prefix.size() : 0);
    if (below == "/") below = {};
    std::string host;
    host.reserve(hostDir.size() + below.size());
    host.append(hostDir).append(below);
    Resolved resolved;
    resolved.hostPath = std::move(host);
    resolved.platformPath = std::move(*normal);
    resolved.readOnly = best && best->readOnly;
    if (!staysInside(resolved.hostPath, hostDir, resolved, leaf)) {
        error = Errors::InvalidPath;
        return std::nullopt;
    }
    return resolved;
}

bool followLink(Resolved& resolved) {
    std::lock_guard lock(mutex);
    char real[PATH_MAX];
    if (!resolved.mountBase || !realpath(resolved.hostPath.c_str(), real) ||
        !inside(real, *resolved.mountBase))
        return false;
    resolved.leafUnchecked = false;
    return true;
}

DirectoryHandle::~DirectoryHandle() {
    if (m_fd >= 0) ::close(m_fd);
}

Handle directoryHandle(const std::string& hostPath) {
    std::lock_guard lock(mutex);
    auto found = heldDirectories.find(hostPath);
    if (found != heldDirectories.end()) return found->second;
    // Not held: resolving did not check the way there for links, so the handle is the caller's alone.
    int fd = ::open(hostPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? Handle() : std::make_shared<const DirectoryHandle>(fd);
}

void forgetDirectory(const std::string& hostPath) {
    std::lock_guard lock(mutex);
    forgetHeld(hostPath);
}

std::vector<Mounted> mounts() {
    std::lock_guard lock(mutex);
    init();
    std::vector<Mounted> list;
    for (const MountState& m : table)
        list.push_back({m.node, m.mountPoint});
    return list;
}

bool isMounted(const std::string& node) {
    for (const Mounted& m : mounts())
        if (m.node == node) return true;
    return false;
}

std::optional<std::string> mount(const std::string& node, unsigned& error) {
    std::lock_guard lock(mutex);
    init();
    for (MountState& m : table) {
        if (m.node != node) continue;
        if (m.refs >= 0) m.refs++;
        return m.mountPoint;
    }
    const Host::NodeConfig* config = findNode(node);
    if (!config || config->mountPoint.empty()) {
        error = Errors::NotFound;
        return std::nullopt;
    }
    std::error_code ec;
    if (!fs::is_directory(config->hostDir, ec)) {
        error = Errors::NotFound;
        return std::nullopt;
    }
    table.push_back(mountState(*config, 1));
    return config->mountPoint;
}

void unmount(const std::string& node) {
    std::lock_guard lock(mutex);
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->node != node || it->refs < 0) continue;
        if (--it->refs == 0) table.erase(it);
        return;
    }
}

} // namespace Namespace

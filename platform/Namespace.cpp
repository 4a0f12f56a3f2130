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
#include <unordered_set>

namespace fs = std::filesystem;

namespace Namespace {
namespace {

struct MountState {
    std::string node;
    std::string mountPoint;
    std::string hostDir;
    bool readOnly;
    int refs;                       // -1: mounted for the whole run
    std::vector<std::string> parts; // the mount point's components, split once
};

std::vector<std::string> components(const std::string& path);

MountState mountState(const Host::NodeConfig& n, int refs) {
    return {n.name, n.mountPoint, n.hostDir, n.readOnly, refs, components(n.mountPoint)};
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

// The components of a path, without empty ones and ".", as views into the path.
std::vector<std::string_view> views(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    for (std::string_view part : views(path))
        parts.emplace_back(part);
    return parts;
}

bool isPrefix(const std::vector<std::string>& prefix, const std::vector<std::string_view>& path) {
    if (prefix.size() > path.size()) return false;
    for (size_t i = 0; i < prefix.size(); i++)
        if (prefix[i] != path[i]) return false;
    return true;
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

// A host path below a mount's directory stays inside it unless one of its components is a
// symbolic link that leads out (or nowhere, where creating the file would follow it out).
// Components are checked from the mount down. Directories found to stay inside are remembered
// for the run, so that a file among thousands in one directory costs one lstat of its own name;
// the check, like any check before an open by name, cannot see a directory swapped afterwards.
bool staysInside(const std::string& hostPath, const std::string& hostDir, Resolved& resolved) {
    static std::unordered_set<std::string> checkedDirectories;
    const std::string& base = realDirectory(hostDir);
    if (base.empty()) return false;
    if (base == "/") return true;
    std::string probe = hostDir;
    probe.reserve(hostPath.size());
    std::vector<std::string_view> parts = views(std::string_view(hostPath).substr(hostDir.size()));
    for (size_t i = 0; i < parts.size(); i++) {
        probe += '/';
        probe += parts[i];
        if (checkedDirectories.count(probe)) continue;
        struct stat st {};
        if (lstat(probe.c_str(), &st) != 0) {
            // Nothing below a missing name can be a link, and nothing below it exists.
            if (errno == ENOENT) resolved.leafErrno = ENOENT, resolved.leafKnown = true;
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            char real[PATH_MAX];
            if (!realpath(probe.c_str(), real) || !inside(real, base)) return false;
        } else if (S_ISDIR(st.st_mode)) {
            checkedDirectories.insert(probe);
        }
        // The status of the path itself, when no link decides what it names, saves the caller a lookup.
        if (i + 1 == parts.size() && !S_ISLNK(st.st_mode)) resolved.leaf = st, resolved.leafKnown = true;
    }
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
    std::string full = path[0] == '/' ? path : Host::config().hostCwd + "/" + path;
    std::string out;
    out.reserve(full.size());
    for (std::string_view part : views(full)) {
        if (part == "..") {
            error = Errors::InvalidPath;
            return std::nullopt;
        }
        out += '/';
        out += part;
    }
    return out.empty() ? "/" : out;
}

std::optional<Resolved> resolve(const std::string& path, unsigned& error) {
    auto normal = normalise(path, error);
    if (!normal) return std::nullopt;
    std::vector<std::string_view> parts = views(*normal);
    std::lock_guard lock(mutex);
    init();
    const MountState* best = nullptr;
    size_t bestLength = 0;
    for (const MountState& m : table) {
        if (isPrefix(m.parts, parts) && (!best || m.parts.size() > bestLength)) {
            best = &m;
            bestLength = m.parts.size();
        }
    }
    std::string hostDir = best ? best->hostDir : Host::config().fsRoot;
    std::string host = hostDir;
    host.reserve(hostDir.size() + normal->size());
    for (size_t i = best ? bestLength : 0; i < parts.size(); i++) {
        host += '/';
        host += parts[i];
    }
    Resolved resolved{host, *normal, best && best->readOnly};
    if (!staysInside(host, hostDir, resolved)) {
        error = Errors::InvalidPath;
        return std::nullopt;
    }
    return resolved;
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

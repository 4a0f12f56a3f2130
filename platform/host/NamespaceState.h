#pragma once
// What the namespace's two halves share (Namespace.cpp: nodes, mounts and the resolution of
// paths; NamespaceOpen.cpp: opening beneath a mount, and the directories held open): the run's
// state of the namespace and the records in it.
#include "Namespace.h"
#include <array>
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace Namespace {

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

// A path resolved lately, as its caller spelt it. Making a file asks about the same path and its
// directory two or three times in a row (whether it exists, its directory, opening it).
struct RecentResolution {
    Ref<String> given;
    Resolved resolved;

    bool answers(std::string_view path) const { return given && given->equals(path); }
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

// The namespace's part of the run's state (its Tree holds it).
struct State {
    explicit State(const Host::Config& c) : config(c) {}
    const Host::Config& config;
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
    RecentList<std::optional<Resolved>, mostParents> parents;
    std::mutex heldMutex;
    std::deque<HeldDirectory> held;
};

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

// Forgets the directories held below a root (its mount has ended).
void forgetBelow(State& s, const Handle& root);

} // namespace Namespace

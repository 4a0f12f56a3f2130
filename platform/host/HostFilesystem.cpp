// The host's file service: platform paths resolved in the namespace and opened beneath their
// mounts, the nodes and their mounts, and what the run has written and removed.
#include "HostFilesystem.h"
#include "HostFiles.h"
#include "HostPlatform.h"
#include "Namespace.h"
#include "RunResults.h"
#include "platform/SysLog.h"
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

using namespace Services::Filesystem::Client;

namespace Host {

namespace {

// Resolves a platform path in the namespace.
std::optional<Namespace::Resolved> resolvePath(Namespace::Tree& names, const Ref<String>& path) {
    unsigned error = Errors::InvalidPath;
    if (isEmpty(path)) {
        Error::set(error);
        return {};
    }
    auto resolved = names.resolve(path, error);
    if (!resolved) Error::set(error);
    return resolved;
}

int failOpen(int fd, unsigned code) {
    if (fd >= 0) ::close(fd);
    Error::set(code);
    return -1;
}

// A file the kernel makes up as it is read (/proc, /sys): its size says 0 (or a page) whatever it
// holds, so a copy would be empty or fail half-way. It is refused as the other special files are.
// Only files of those sizes are asked about, so that other files cost no extra call.
bool isGenerated(int fd, const struct stat& st) {
    constexpr off_t generatedSizes[] = {0, 4096};
    if (std::find(std::begin(generatedSizes), std::end(generatedSizes), st.st_size) ==
        std::end(generatedSizes))
        return false;
    struct statfs fs {};
    if (fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP2_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// Opens the host file for a File::open mode and checks that it is a regular file; `st` is its
// status afterwards. Devices, pipes and sockets are opened without waiting (a pipe with no writer
// would block forever) and then refused. Returns the descriptor, or -1 with the error set.
int openFor(Namespace::Tree& names, const Namespace::Resolved& resolved, unsigned mode, bool& existed,
            struct stat& st) {
    constexpr int common = O_NONBLOCK | O_NOCTTY;
    int fd = -1;
    if (mode == OpenMode::Destination) {
        // The file this run has just created there is written through the descriptor that made it;
        // made exclusively a moment ago, it is known without asking: an empty regular file on
        // its directory's filesystem.
        if (Namespace::Created created = names.takeCreated(resolved); created.fd >= 0) {
            st = {};
            st.st_mode = S_IFREG | 0644;
            st.st_nlink = 1;
            st.st_dev = created.device;
            return created.fd;
        }
        fd = names.openBeneath(resolved, O_WRONLY | O_CREAT | common, 0644);
    } else if (mode == OpenMode::Exclusive) {
        fd = names.openBeneath(resolved, O_RDWR | O_CREAT | O_EXCL | common, 0644);
        existed = fd < 0 && errno == EEXIST;
        if (existed) fd = names.openBeneath(resolved, O_RDWR | common);
    } else {
        fd = names.openBeneath(resolved, O_RDONLY | common);
    }
    if (fd < 0) return failOpen(fd, errno == EISDIR ? Errors::AlreadyExists : errorFromErrno(errno));
    if (fstat(fd, &st) != 0) return failOpen(fd, errorFromErrno(errno));
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return failOpen(fd, mode == OpenMode::Destination || mode == OpenMode::Exclusive
                                ? Errors::AlreadyExists
                                : Errors::NotFound);
    }
    if (!S_ISREG(st.st_mode) || isGenerated(fd, st)) return failOpen(fd, Errors::NotARegularFile);
    // O_NONBLOCK, kept on, changes nothing for a regular file.
    // Truncating makes ext4 flush the file when it is closed (its guard for files replaced by
    // truncation), which costs a disk write per file; a file found empty is left as it is.
    if (mode == OpenMode::Destination && st.st_size > 0) {
        if (ftruncate(fd, 0) != 0) return failOpen(fd, errorFromErrno(errno));
        st.st_size = 0;
    }
    return fd;
}

// Why a file could not be opened, in the host's words.
std::string openFailureText(int err, unsigned code) {
    if (code == Errors::NotARegularFile)
        return "not a regular file (a device, a pipe, a socket, or made up by the kernel as it is read)";
    return std::strerror(err);
}

// Whether the path's own name is a symbolic link (restoring errno, for the caller's report).
bool isLink(Namespace::Tree& names, const Namespace::Resolved& resolved) {
    int err = errno;
    int fd = names.openBeneath(resolved, O_PATH | O_NOFOLLOW);
    struct stat st {};
    bool link = fd >= 0 && fstat(fd, &st) == 0 && S_ISLNK(st.st_mode);
    if (fd >= 0) ::close(fd);
    errno = err;
    return link;
}

} // namespace

// ---- The service's opening calls

bool HostFilesystem::flushWritten() {
    return m_platform.files().flushWrittenFiles();
}

bool HostFilesystem::foundFree(const Ref<String>& path) {
    auto resolved = resolvePath(m_platform.names(), path);
    return resolved && m_platform.files().foundFree(resolved->platformPath->str());
}

Ref<String> HostFilesystem::platformPath(const Ref<String>& path) {
    Namespace::Tree& names = m_platform.names();
    auto resolved = resolvePath(names, path);
    return resolved ? resolved->platformPath : Ref<String>();
}

// The item itself, not what a link there names.
Ref<FSItem> HostFilesystem::openItem(const Ref<String>& path) {
    Namespace::Tree& names = m_platform.names();
    auto resolved = resolvePath(names, path);
    if (!resolved) return {};
    struct stat st; // filled before it is read
    Namespace::Handle parent;
    std::string_view name;
    switch (names.statInHeldParent(*resolved, st, parent, name)) {
    case Namespace::HeldLookup::Found: {
        // The item's path is the resolved path, which ends with the name found.
        Ref<String> platformPath = resolved->platformPath;
        return Ref<FSItem>(new HostItem(platformPath, st, std::move(parent), platformPath, name.size()));
    }
    case Namespace::HeldLookup::Missing:
        m_platform.files().noteFoundFree(resolved->platformPath->str());
        Error::set(errorFromErrno(ENOENT));
        return {};
    case Namespace::HeldLookup::NotHeld:
        break;
    }
    int fd = names.openBeneath(*resolved, O_PATH | O_NOFOLLOW);
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd < 0 && errno == ENOENT) m_platform.files().noteFoundFree(resolved->platformPath->str());
        failOpen(fd, errorFromErrno(errno));
        return {};
    }
    return Ref<FSItem>(new HostItem(resolved->platformPath, st, fd));
}

Ref<File> HostFilesystem::openFile(const Ref<String>& path, unsigned mode) {
    Namespace::Tree& names = m_platform.names();
    auto resolved = resolvePath(names, path);
    if (!resolved) return {};
    Ref<String> platformPath = resolved->platformPath;
    struct stat st; // filled before it is read
    if (mode == OpenMode::Probe) {
        // An existence probe: whatever the name leads to beneath the mount.
        int fd = names.openBeneath(*resolved, O_PATH);
        if (fd < 0 || fstat(fd, &st) != 0) {
            failOpen(fd, errorFromErrno(errno));
            return {};
        }
        // Found: a save that must not overwrite it fails; say how to save all the same.
        m_platform.notes().noteFailureCause(
            stdString(resolved->platformPath) +
            " is there already: --add-index saves under a new numbered name, --reuse-name "
            "writes again the file an earlier --reuse-name run chose");
        return Ref<File>(new HostFile(std::move(platformPath), st, fd));
    }
    bool writing = mode == OpenMode::Destination || mode == OpenMode::Exclusive;
    // A file that may not be written fails its open with EACCES or EROFS, which read as not writable.
    if (writing && resolved->readOnly) {
        m_platform.notes().noteFailureCause(stdString(platformPath) + ": the drive is read-only");
        Error::set(Errors::NotWritable);
        return {};
    }
    bool existed = false;
    int fd = openFor(names, *resolved, mode, existed, st);
    if (fd < 0) {
        // Why, for the message that follows. A name that is taken is not a failure yet: the search
        // for a free indexed name goes on to the next one, and a save reports the name itself.
        if (!writing || Error::get() != Errors::AlreadyExists)
            m_platform.notes().noteFailureCause(stdString(platformPath) + ": " +
                                                openFailureText(errno, Error::get()));
        return {};
    }
    // A file this open created is ours: whoever else holds it found it by name a moment ago and
    // is about to give it up as claimed, so wait for that instead of abandoning an empty file.
    bool exclusive = mode == OpenMode::Exclusive;
    int lockMode = existed ? LOCK_EX | LOCK_NB : LOCK_EX;
    if (exclusive && (flock(fd, lockMode) != 0 || (existed && m_platform.files().claimedByAnotherRun(st)))) {
        failOpen(fd, Errors::AlreadyOpened);
        return {};
    }
    if (exclusive) m_platform.files().claimForThisRun(st);
    if (exclusive && !existed) {
        m_platform.files().noteMadeFile(st);
        m_platform.notes().noteSavedFile(fd, stdString(resolved->platformPath));
    }
    Ref<HostFile> file(new HostFile(std::move(platformPath), st, fd));
    file->reportFailuresTo(m_platform.notes());
    if (writing)
        file->markWritten(st, exclusive, m_platform.files());
    else
        file->keepModifiedTime(st);
    return file;
}

Ref<Directory> HostFilesystem::openDirectory(const Ref<String>& path, unsigned mode) {
    Namespace::Tree& names = m_platform.names();
    auto resolved = resolvePath(names, path);
    if (!resolved) return {};
    bool wantsWrite = mode == DirectoryMode::ReadWrite;
    // A directory held since it was last opened is that directory still.
    if (Namespace::Handle held = names.heldDirectory(*resolved)) {
        if (wantsWrite && (resolved->readOnly || !held->writable())) {
            Error::set(Errors::NotWritable);
            return {};
        }
        return Ref<Directory>(
            new HostDirectory(resolved->platformPath, std::move(held), wantsWrite, false, m_platform));
    }
    // The directory itself first; a name that is a link is followed (beneath the mount) only then,
    // so that the directory is known to have been reached through one.
    bool throughLink = false;
    int fd = names.openBeneath(*resolved, O_PATH | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0 && (errno == ELOOP || errno == ENOTDIR) && isLink(names, *resolved)) {
        fd = names.openBeneath(*resolved, O_PATH | O_DIRECTORY);
        throughLink = fd >= 0;
        // A link that leads nowhere, or nowhere on the drive, is an invalid path like any escape.
        if (fd < 0 && errno != ENOTDIR) errno = ELOOP;
    }
    if (fd < 0) {
        int error = errno;
        // A folder that is not there (or is a file) is often no failure: a category with nothing in
        // it yet. One that is there and cannot be opened is, and the host says why ("Permission
        // denied"). A link that leads off the drive is refused as any path that leaves it.
        if (error != ENOENT && error != ENOTDIR && error != ELOOP && error != EXDEV)
            m_platform.notes().noteFailureCause(stdString(resolved->platformPath) + ": " +
                                                std::strerror(error));
        Error::set(error == ENOTDIR ? Errors::NotADirectory : errorFromErrno(error));
        return {};
    }
    // Opened without a link, the directory is held now: the held handle is the one later opens
    // get, so it is the one that learns whether the run may write there.
    Namespace::Handle handle = throughLink ? nullptr : names.heldDirectory(*resolved);
    if (handle)
        ::close(fd);
    else
        handle = std::make_shared<const Namespace::DirectoryHandle>(fd);
    if (wantsWrite && (resolved->readOnly || !handle->writable())) {
        // A drive's own top directory that may not be written to is a drive nothing can be saved
        // to; the message that follows says so. (A folder that may not be written to is often no
        // failure: an export copies a read-only category and only leaves it uncleared.)
        if (resolved->below().empty())
            m_platform.notes().noteFailureCause(
                stdString(resolved->platformPath) +
                ": the drive may not be written to (it is read-only, or there is no permission)");
        Error::set(Errors::NotWritable);
        return {};
    }
    return Ref<Directory>(
        new HostDirectory(resolved->platformPath, std::move(handle), wantsWrite, throughLink, m_platform));
}

// ---- Mounts and nodes

bool HostFilesystem::mountInfo(std::vector<Services::Mount::Client::MountNode>& list) {
    for (const Namespace::Mounted& m : m_platform.names().mounts())
        list.push_back({String::create(m.node), {String::create(m.mountPoint)}});
    return true;
}

Ref<Services::Mount::Client::Entry> HostFilesystem::mount(const Ref<String>& node) {
    unsigned error = 0;
    auto mountPoint = m_platform.names().mount(node->str(), error);
    if (!mountPoint) {
        Error::set(error);
        return {};
    }
    return Ref<Services::Mount::Client::Entry>(
        new HostEntry(node, String::create(*mountPoint), m_platform.names()));
}

bool HostFilesystem::openNode(const Ref<String>& node) {
    if (m_platform.names().findNode(node->str())) return true;
    Error::set(Errors::NotFound);
    return false;
}

// A node opened has both providers.
bool HostFilesystem::openProvider(const Ref<String>&) {
    return true;
}

bool HostFilesystem::openGenericProvider(const Ref<String>&) {
    return true;
}

Ref<Variant> HostFilesystem::nodeAttribute(const Ref<String>& nodeName, const char* name) {
    Ref<Variant> value = Variant::create();
    const NodeConfig* node = m_platform.names().findNode(nodeName->str());
    if (!node || !node->attributes.contains(name)) return value;
    const nlohmann::json& a = node->attributes[name];
    if (a.is_string())
        value->append({2, 0, String::create(a.get<std::string>())});
    else if (a.is_number_integer())
        value->append({1, a.get<long long>(), {}});
    return value;
}

} // namespace Host

// The host's file service: platform paths resolved in the namespace and opened beneath their
// mounts, the nodes and their mounts, and what the run has written and removed.
#include "HostFilesystem.h"
#include "HostFiles.h"
#include "HostPlatform.h"
#include "Namespace.h"
#include "RunResults.h"
#include "platform/SysLog.h"
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <tuple>
#include <unistd.h>

using namespace Services::Filesystem::Client;

namespace Host {

// The file service's part of the run's state (HostPlatform holds it).
struct FileRunState {
    // When the run started, on the coarse clock file times are stamped with.
    struct timespec runStart = [] {
        struct timespec t {};
        clock_gettime(CLOCK_REALTIME_COARSE, &t);
        return t;
    }();
    // The files this run has created or opened exclusively, by device and inode.
    std::mutex claimedMutex;
    std::set<std::pair<dev_t, ino_t>> claimedByThisRun;
    // The files this run made (created, or published under a name), and the names it aimed a
    // write at, each in its directory known by device and inode.
    std::mutex madeMutex;
    std::set<std::pair<dev_t, ino_t>> madeByThisRun;
    std::set<std::tuple<dev_t, ino_t, std::string>> targetNames;
    // The platform paths this run looked for and found free.
    std::set<std::string> foundFree;
    // One descriptor on each filesystem written to since the last flush.
    std::mutex writtenMutex;
    std::map<dev_t, int> writtenFilesystems;
    std::atomic<unsigned long> removedFiles{0};
};

void FileRunStateDeleter::operator()(FileRunState* state) const {
    delete state;
}

std::unique_ptr<FileRunState, FileRunStateDeleter> makeFileRunState() {
    return std::unique_ptr<FileRunState, FileRunStateDeleter>(new FileRunState);
}

namespace {

FileRunState& runState() {
    return HostPlatform::instance().files();
}

// Resolves a platform path in the namespace.
std::shared_ptr<const Namespace::Resolved> resolvePath(const Ref<String>& path) {
    unsigned error = Errors::InvalidPath;
    if (isEmpty(path)) {
        Error::set(error);
        return {};
    }
    auto resolved = Namespace::resolve(path->str(), error);
    if (!resolved) Error::set(error);
    return resolved;
}

// An item's platform path: the caller's own text when it was normal already, which saves a copy.
Ref<String> platformPathOf(const Ref<String>& given, const std::string& normal) {
    return given->equals(normal) ? given : String::create(normal);
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
int openFor(const Namespace::Resolved& resolved, unsigned mode, bool& existed, struct stat& st) {
    constexpr int common = O_NONBLOCK | O_NOCTTY;
    int fd = -1;
    if (mode == OpenMode::Destination) {
        // The file this run has just created there is written through the descriptor that made it;
        // made exclusively a moment ago, it is known without asking: an empty regular file on
        // its directory's filesystem.
        if (Namespace::Created created = Namespace::takeCreated(resolved); created.fd >= 0) {
            st = {};
            st.st_mode = S_IFREG | 0644;
            st.st_nlink = 1;
            st.st_dev = created.device;
            return created.fd;
        }
        fd = Namespace::openBeneath(resolved, O_WRONLY | O_CREAT | common, 0644);
    } else if (mode == OpenMode::Exclusive) {
        fd = Namespace::openBeneath(resolved, O_RDWR | O_CREAT | O_EXCL | common, 0644);
        existed = fd < 0 && errno == EEXIST;
        if (existed) fd = Namespace::openBeneath(resolved, O_RDWR | common);
    } else {
        fd = Namespace::openBeneath(resolved, O_RDONLY | common);
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
bool isLink(const Namespace::Resolved& resolved) {
    int err = errno;
    int fd = Namespace::openBeneath(resolved, O_PATH | O_NOFOLLOW);
    struct stat st {};
    bool link = fd >= 0 && fstat(fd, &st) == 0 && S_ISLNK(st.st_mode);
    if (fd >= 0) ::close(fd);
    errno = err;
    return link;
}

// A file another run opens for writing is "opened elsewhere" only while that run holds it. A run
// that searched for a free name and then finds the name taken by a run that has already finished
// with it must not write into that file either, so a file created or changed by another process
// since this run started counts as opened elsewhere too. The coarse clock is the one file times
// are stamped with. Files are known by device and inode, whatever path reached them.

bool claimedByAnotherRun(const struct stat& st) {
    FileRunState& run = runState();
    const struct timespec& start = run.runStart;
    bool changedSinceStart = st.st_ctim.tv_sec > start.tv_sec ||
                             (st.st_ctim.tv_sec == start.tv_sec && st.st_ctim.tv_nsec >= start.tv_nsec);
    std::lock_guard lock(run.claimedMutex);
    return changedSinceStart && !run.claimedByThisRun.count({st.st_dev, st.st_ino});
}

void claimForThisRun(const struct stat& st) {
    FileRunState& run = runState();
    std::lock_guard lock(run.claimedMutex);
    run.claimedByThisRun.insert({st.st_dev, st.st_ino});
}

} // namespace

// ---- What the run has made, written and removed

void noteMadeFile(const struct stat& st) {
    FileRunState& run = runState();
    std::lock_guard lock(run.madeMutex);
    run.madeByThisRun.insert({st.st_dev, st.st_ino});
}

bool madeByThisRun(const struct stat& st) {
    FileRunState& run = runState();
    std::lock_guard lock(run.madeMutex);
    return run.madeByThisRun.count({st.st_dev, st.st_ino}) != 0;
}

void noteTargetName(int directoryFd, const std::string& name) {
    struct stat directory {};
    if (fstat(directoryFd, &directory) != 0) return;
    FileRunState& run = runState();
    std::lock_guard lock(run.madeMutex);
    run.targetNames.insert({directory.st_dev, directory.st_ino, name});
}

bool isTargetName(int directoryFd, const std::string& name) {
    struct stat directory {};
    if (fstat(directoryFd, &directory) != 0) return false;
    FileRunState& run = runState();
    std::lock_guard lock(run.madeMutex);
    return run.targetNames.count({directory.st_dev, directory.st_ino, name}) != 0;
}

void noteFoundFree(const std::string& platformPath) {
    FileRunState& run = runState();
    std::lock_guard lock(run.madeMutex);
    run.foundFree.insert(platformPath);
}

bool foundFree(const Ref<String>& path) {
    auto resolved = resolvePath(path);
    if (!resolved) return false;
    FileRunState& run = runState();
    std::lock_guard lock(run.madeMutex);
    return run.foundFree.count(resolved->platformPath) != 0;
}

void noteWrittenFile(int fd, dev_t device) {
    FileRunState& run = runState();
    std::lock_guard lock(run.writtenMutex);
    if (run.writtenFilesystems.count(device)) return;
    int kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0) run.writtenFilesystems[device] = kept;
}

bool flushWrittenFiles() {
    std::map<dev_t, int> written;
    {
        std::lock_guard lock(runState().writtenMutex);
        written.swap(runState().writtenFilesystems);
    }
    bool flushed = true;
    for (const auto& [device, fd] : written) {
        if (syncfs(fd) != 0) {
            flushed = false;
            int err = errno;
            SysLogStream& line = SysLogStream::stdOutPrinter();
            line.setLevel(4).setTag(SysLogFilter::id(0));
            (line << "Failed to flush written files to their medium; error: ").writeHex(errorFromErrno(err))
                << "h (" << std::to_string(errorFromErrno(err)) << ")";
            line.end();
        }
        ::close(fd);
    }
    return flushed;
}

void noteRemovedFile() {
    runState().removedFiles++;
}

unsigned long removedFileCount() {
    return runState().removedFiles.load();
}

// ---- The service's opening calls

Ref<String> HostFilesystem::platformPath(const Ref<String>& path) {
    auto resolved = resolvePath(path);
    return resolved ? String::create(resolved->platformPath) : Ref<String>();
}

// The item itself, not what a link there names.
Ref<FSItem> HostFilesystem::openItem(const Ref<String>& path) {
    auto resolved = resolvePath(path);
    if (!resolved) return {};
    struct stat st {};
    Namespace::Handle parent;
    std::string name;
    switch (Namespace::statInHeldParent(*resolved, st, parent, name)) {
    case Namespace::HeldLookup::Found:
        return Ref<FSItem>(new HostItem(platformPathOf(path, resolved->platformPath), st, std::move(parent),
                                        std::move(name)));
    case Namespace::HeldLookup::Missing:
        noteFoundFree(resolved->platformPath);
        Error::set(errorFromErrno(ENOENT));
        return {};
    case Namespace::HeldLookup::NotHeld:
        break;
    }
    int fd = Namespace::openBeneath(*resolved, O_PATH | O_NOFOLLOW);
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd < 0 && errno == ENOENT) noteFoundFree(resolved->platformPath);
        failOpen(fd, errorFromErrno(errno));
        return {};
    }
    return Ref<FSItem>(new HostItem(platformPathOf(path, resolved->platformPath), st, fd));
}

Ref<File> HostFilesystem::openFile(const Ref<String>& path, unsigned mode) {
    auto resolved = resolvePath(path);
    if (!resolved) return {};
    Ref<String> platformPath = platformPathOf(path, resolved->platformPath);
    struct stat st {};
    if (mode == OpenMode::Probe) {
        // An existence probe: whatever the name leads to beneath the mount.
        int fd = Namespace::openBeneath(*resolved, O_PATH);
        if (fd < 0 || fstat(fd, &st) != 0) {
            failOpen(fd, errorFromErrno(errno));
            return {};
        }
        // Found: a save that must not overwrite it fails; say how to save all the same.
        noteFailureCause(resolved->platformPath +
                         " is there already: --add-index saves under a new numbered name, --reuse-name "
                         "writes again the file an earlier --reuse-name run chose");
        return Ref<File>(new HostFile(std::move(platformPath), st, fd));
    }
    bool writing = mode == OpenMode::Destination || mode == OpenMode::Exclusive;
    // A file that may not be written fails its open with EACCES or EROFS, which read as not writable.
    if (writing && resolved->readOnly) {
        Error::set(Errors::NotWritable);
        return {};
    }
    bool existed = false;
    int fd = openFor(*resolved, mode, existed, st);
    if (fd < 0) {
        if (!writing) noteFailureCause(platformPath->str() + ": " + openFailureText(errno, Error::get()));
        return {};
    }
    // A file this open created is ours: whoever else holds it found it by name a moment ago and
    // is about to give it up as claimed, so wait for that instead of abandoning an empty file.
    bool exclusive = mode == OpenMode::Exclusive;
    int lockMode = existed ? LOCK_EX | LOCK_NB : LOCK_EX;
    if (exclusive && (flock(fd, lockMode) != 0 || (existed && claimedByAnotherRun(st)))) {
        failOpen(fd, Errors::AlreadyOpened);
        return {};
    }
    if (exclusive) claimForThisRun(st);
    if (exclusive && !existed) {
        noteMadeFile(st);
        noteSavedFile(fd, resolved->platformPath);
    }
    Ref<HostFile> file(new HostFile(std::move(platformPath), st, fd));
    if (writing)
        file->markWritten(st, exclusive);
    else
        file->keepModifiedTime(st);
    return file;
}

Ref<Directory> HostFilesystem::openDirectory(const Ref<String>& path, unsigned mode) {
    auto resolved = resolvePath(path);
    if (!resolved) return {};
    bool wantsWrite = mode == DirectoryMode::ReadWrite;
    // A directory held since it was last opened is that directory still.
    if (Namespace::Handle held = Namespace::heldDirectory(*resolved)) {
        if (wantsWrite && (resolved->readOnly || !held->writable())) {
            Error::set(Errors::NotWritable);
            return {};
        }
        return Ref<Directory>(new HostDirectory(platformPathOf(path, resolved->platformPath), std::move(held),
                                                wantsWrite, false));
    }
    // The directory itself first; a name that is a link is followed (beneath the mount) only then,
    // so that the directory is known to have been reached through one.
    bool throughLink = false;
    int fd = Namespace::openBeneath(*resolved, O_PATH | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0 && (errno == ELOOP || errno == ENOTDIR) && isLink(*resolved)) {
        fd = Namespace::openBeneath(*resolved, O_PATH | O_DIRECTORY);
        throughLink = fd >= 0;
        // A link that leads nowhere, or nowhere on the drive, is an invalid path like any escape.
        if (fd < 0 && errno != ENOTDIR) errno = ELOOP;
    }
    if (fd < 0) {
        Error::set(errno == ENOTDIR ? Errors::NotADirectory : errorFromErrno(errno));
        return {};
    }
    // Opened without a link, the directory is held now: the held handle is the one later opens
    // get, so it is the one that learns whether the run may write there.
    Namespace::Handle handle = throughLink ? nullptr : Namespace::heldDirectory(*resolved);
    if (handle)
        ::close(fd);
    else
        handle = std::make_shared<const Namespace::DirectoryHandle>(fd);
    if (wantsWrite && (resolved->readOnly || !handle->writable())) {
        Error::set(Errors::NotWritable);
        return {};
    }
    return Ref<Directory>(new HostDirectory(platformPathOf(path, resolved->platformPath), std::move(handle),
                                            wantsWrite, throughLink));
}

// ---- Mounts and nodes

bool HostFilesystem::mountInfo(std::vector<Services::Mount::Client::MountNode>& list) {
    for (const Namespace::Mounted& m : Namespace::mounts())
        list.push_back({String::create(m.node), {String::create(m.mountPoint)}});
    return true;
}

Ref<Services::Mount::Client::Entry> HostFilesystem::mount(const Ref<String>& node) {
    unsigned error = 0;
    auto mountPoint = Namespace::mount(node->str(), error);
    if (!mountPoint) {
        Error::set(error);
        return {};
    }
    return Ref<Services::Mount::Client::Entry>(new HostEntry(node, String::create(*mountPoint)));
}

bool HostFilesystem::openNode(const Ref<String>& node) {
    if (Namespace::findNode(node->str())) return true;
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
    const NodeConfig* node = Namespace::findNode(nodeName->str());
    if (!node || !node->attributes.contains(name)) return value;
    const nlohmann::json& a = node->attributes[name];
    if (a.is_string())
        value->append({2, 0, String::create(a.get<std::string>())});
    else if (a.is_number_integer())
        value->append({1, a.get<long long>(), {}});
    return value;
}

} // namespace Host

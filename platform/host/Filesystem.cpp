#include "platform/Filesystem.h"
#include "HostFilesystem.h"
#include "HostPlatform.h"
#include "Namespace.h"
#include "platform/SysLog.h"
#include "platform/Time.h"
#include <atomic>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Services::Filesystem::Client {

// The file service's part of the run's state (HostPlatform holds it).
struct RunState {
    // When the run started, on the coarse clock file times are stamped with.
    struct timespec runStart = [] {
        struct timespec t {};
        clock_gettime(CLOCK_REALTIME_COARSE, &t);
        return t;
    }();
    // The files this run has created or opened exclusively, by device and inode.
    std::mutex claimedMutex;
    std::set<std::pair<dev_t, ino_t>> claimedByThisRun;
    // One descriptor on each filesystem written to since the last flush.
    std::mutex writtenMutex;
    std::map<dev_t, int> writtenFilesystems;
    std::atomic<unsigned long> removedFiles{0};
};

void RunStateDeleter::operator()(RunState* state) const {
    delete state;
}

std::unique_ptr<RunState, RunStateDeleter> makeRunState() {
    return std::unique_ptr<RunState, RunStateDeleter>(new RunState);
}

namespace {
RunState& runState() {
    return Host::HostPlatform::instance().files();
}
} // namespace
namespace {

bool fail(unsigned code) {
    Error::set(code);
    return false;
}

// Resolves a platform path in the namespace.
std::optional<Namespace::Resolved> resolvePath(const Ref<String>& path) {
    unsigned error = Errors::InvalidPath;
    if (isEmpty(path)) {
        Error::set(error);
        return std::nullopt;
    }
    auto resolved = Namespace::resolve(path->str(), error);
    if (!resolved) Error::set(error);
    return resolved;
}

// An item's platform path: the caller's own text when it was normal already, which saves a copy.
Ref<String> platformPathOf(const Ref<String>& given, std::string& normal) {
    return given->equals(normal) ? given : String::create(std::move(normal));
}

int failOpen(int fd, unsigned code) {
    if (fd >= 0) ::close(fd);
    Error::set(code);
    return -1;
}

// Opens the host file for a File::open mode and checks that it is a regular file; `st` is its
// status afterwards. Devices, pipes and sockets are opened without waiting (a pipe with no writer
// would block forever) and then refused. Returns the descriptor, or -1 with the error set.
int openFor(const Namespace::Resolved& resolved, unsigned mode, bool& existed, struct stat& st) {
    constexpr int common = O_NONBLOCK | O_NOCTTY;
    int fd = -1;
    if (mode == 0x1B) {
        // The file this run has just created there is written through the descriptor that made it.
        fd = Namespace::takeCreated(resolved);
        if (fd < 0) fd = Namespace::openBeneath(resolved, O_WRONLY | O_CREAT | common, 0644);
    } else if (mode == 0x113) {
        fd = Namespace::openBeneath(resolved, O_RDWR | O_CREAT | O_EXCL | common, 0644);
        existed = fd < 0 && errno == EEXIST;
        if (existed) fd = Namespace::openBeneath(resolved, O_RDWR | common);
    } else {
        fd = Namespace::openBeneath(resolved, O_RDONLY | common);
    }
    if (fd < 0) return failOpen(fd, errno == EISDIR ? Errors::AlreadyExists : errorFromErrno(errno));
    if (fstat(fd, &st) != 0) return failOpen(fd, errorFromErrno(errno));
    if (S_ISDIR(st.st_mode))
        return failOpen(fd, mode == 0x1B || mode == 0x113 ? Errors::AlreadyExists : Errors::NotFound);
    if (!S_ISREG(st.st_mode)) return failOpen(fd, Errors::NotARegularFile);
    // O_NONBLOCK, kept on, changes nothing for a regular file.
    // Truncating makes ext4 flush the file when it is closed (its guard for files replaced by
    // truncation), which costs a disk write per file; a file found empty is left as it is.
    if (mode == 0x1B && st.st_size > 0) {
        if (ftruncate(fd, 0) != 0) return failOpen(fd, errorFromErrno(errno));
        st.st_size = 0;
    }
    return fd;
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

// The path of `name` in `directory`, platform ("/" + name below the root).
std::string childPath(std::string_view directory, std::string_view name) {
    if (directory == "/") directory = {};
    std::string path;
    path.reserve(directory.size() + 1 + name.size());
    path.append(directory).append(1, '/').append(name);
    return path;
}

bool validName(const Ref<String>& name) {
    return !isEmpty(name) && name->str() != "." && name->str() != ".." && name->findLast('/') < 0;
}

long long toMs(const struct timespec& t) {
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// A file another run opens for writing is "opened elsewhere" only while that run holds it. A run
// that searched for a free name and then finds the name taken by a run that has already finished
// with it must not write into that file either, so a file created or changed by another process
// since this run started counts as opened elsewhere too. The coarse clock is the one file times
// are stamped with. Files are known by device and inode, whatever path reached them.

bool claimedByAnotherRun(const struct stat& st) {
    RunState& run = runState();
    const struct timespec& start = run.runStart;
    bool changedSinceStart = st.st_ctim.tv_sec > start.tv_sec ||
                             (st.st_ctim.tv_sec == start.tv_sec && st.st_ctim.tv_nsec >= start.tv_nsec);
    std::lock_guard lock(run.claimedMutex);
    return changedSinceStart && !run.claimedByThisRun.count({st.st_dev, st.st_ino});
}

void claimForThisRun(const struct stat& st) {
    RunState& run = runState();
    std::lock_guard lock(run.claimedMutex);
    run.claimedByThisRun.insert({st.st_dev, st.st_ino});
}

} // namespace

namespace {

void noteWritten(int fd, dev_t device) {
    RunState& run = runState();
    std::lock_guard lock(run.writtenMutex);
    if (run.writtenFilesystems.count(device)) return;
    int kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0) run.writtenFilesystems[device] = kept;
}

} // namespace

void flushWrittenFiles() {
    std::map<dev_t, int> written;
    {
        std::lock_guard lock(runState().writtenMutex);
        written.swap(runState().writtenFilesystems);
    }
    for (const auto& [device, fd] : written) {
        if (syncfs(fd) != 0) {
            int err = errno;
            SysLogStream& line = SysLogStream::stdOutPrinter();
            line.setLevel(4).setTag(SysLogFilter::id(0));
            (line << "Failed to flush written files to their medium; error: ").writeHex(errorFromErrno(err))
                << "h (" << std::to_string(errorFromErrno(err)) << ")";
            line.end();
        }
        ::close(fd);
    }
}

FSItem::~FSItem() {
    if (m_fd < 0) return;
    if (m_writable) {
        // The kept duplicate shares the open file, and so its lock: the lock ends here, as at a close.
        if (m_locked) flock(m_fd, LOCK_UN);
        noteWritten(m_fd, m_device);
    }
    ::close(m_fd);
}

void FSItem::applyStat(const struct stat& st) {
    m_device = st.st_dev;
    m_isFile = S_ISREG(st.st_mode);
    m_isDirectory = S_ISDIR(st.st_mode);
    m_size = static_cast<uint64_t>(st.st_size);
    m_modifiedMs = toMs(st.st_mtim);
}

} // namespace Services::Filesystem::Client

// The host's file service opens through the helpers above.
using namespace Services::Filesystem::Client;

namespace Host {

Ref<String> HostFilesystem::platformPath(const Ref<String>& path) {
    auto resolved = resolvePath(path);
    return resolved ? String::create(std::move(resolved->platformPath)) : Ref<String>();
}

// The item itself, not what a link there names.
Ref<FSItem> HostFilesystem::openItem(const Ref<String>& path) {
    auto resolved = resolvePath(path);
    if (!resolved) return {};
    struct stat st {};
    Namespace::Handle parent;
    std::string name;
    switch (Namespace::statInHeldParent(*resolved, st, parent, name)) {
    case Namespace::HeldLookup::Found: {
        Ref<FSItem> item(new FSItem(platformPathOf(path, resolved->platformPath), parent, name));
        item->applyStat(st);
        return item;
    }
    case Namespace::HeldLookup::Missing:
        Error::set(errorFromErrno(ENOENT));
        return {};
    case Namespace::HeldLookup::NotHeld:
        break;
    }
    int fd = Namespace::openBeneath(*resolved, O_PATH | O_NOFOLLOW);
    if (fd < 0 || fstat(fd, &st) != 0) {
        failOpen(fd, errorFromErrno(errno));
        return {};
    }
    Ref<FSItem> item(new FSItem(platformPathOf(path, resolved->platformPath), fd));
    item->applyStat(st);
    return item;
}

} // namespace Host

namespace Services::Filesystem::Client {

Ref<String> FSItem::name() const {
    return Service::name(m_path);
}

Ref<Variant> FSItem::getAtr(const char* name) const {
    if (auto code = Host::fault("FSItem::getAtr", m_path->str())) {
        Error::set(*code);
        return {};
    }
    if (std::string(name) != "TIME.MODIFY") {
        Error::set(Errors::NotSupported);
        return {};
    }
    struct stat st {};
    if (!currentStat(st)) {
        Error::set(errorFromErrno(errno));
        return {};
    }
    return Variant::ofInteger(toMs(st.st_mtim) + Time::tzOffsetMs());
}

bool FSItem::currentStat(struct stat& st) const {
    if (m_fd >= 0) return fstat(m_fd, &st) == 0;
    return m_directory && fstatat(m_directory->fd(), m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace Services::Filesystem::Client

Ref<File> Host::HostFilesystem::openFile(const Ref<String>& path, unsigned mode) {
    auto resolved = resolvePath(path);
    if (!resolved) return {};
    Ref<String> platformPath = platformPathOf(path, resolved->platformPath);
    struct stat st {};
    if (mode == 4) {
        // An existence probe: whatever the name leads to beneath the mount.
        int fd = Namespace::openBeneath(*resolved, O_PATH);
        if (fd < 0 || fstat(fd, &st) != 0) {
            failOpen(fd, errorFromErrno(errno));
            return {};
        }
        Ref<File> probe(new File(std::move(platformPath), fd));
        probe->applyStat(st);
        return probe;
    }
    bool writing = mode == 0x1B || mode == 0x113;
    // A file that may not be written fails its open with EACCES or EROFS, which read as not writable.
    if (writing && resolved->readOnly) {
        Error::set(Errors::NotWritable);
        return {};
    }
    bool existed = false;
    int fd = openFor(*resolved, mode, existed, st);
    if (fd < 0) return {};
    // A file this open created is ours: whoever else holds it found it by name a moment ago and
    // is about to give it up as claimed, so wait for that instead of abandoning an empty file.
    int lockMode = existed ? LOCK_EX | LOCK_NB : LOCK_EX;
    if (mode == 0x113 && (flock(fd, lockMode) != 0 || (existed && claimedByAnotherRun(st)))) {
        failOpen(fd, Errors::AlreadyOpened);
        return {};
    }
    if (mode == 0x113) claimForThisRun(st);
    Ref<File> file(new File(std::move(platformPath), fd));
    file->m_writable = writing;
    file->m_locked = mode == 0x113;
    file->applyStat(st);
    if (auto limit = Host::byteLimit("File::read", file->m_path->str())) {
        file->m_readBudget = limit->first;
        file->m_readError = limit->second;
    }
    if (auto limit = Host::byteLimit("File::write", file->m_path->str())) {
        file->m_writeBudget = limit->first;
        file->m_writeError = limit->second;
    }
    return file;
}

namespace Services::Filesystem::Client {

Ref<File> File::adoptHost(int fd, const std::string& name) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        failOpen(fd, errorFromErrno(errno));
        return {};
    }
    Ref<File> file(new File(String::create(name), fd));
    file->applyStat(st);
    return file;
}

Ref<File> File::duplicate() const {
    int fd = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        Error::set(errorFromErrno(errno));
        return {};
    }
    Ref<File> copy(new File(m_path, fd));
    copy->m_isFile = m_isFile;
    copy->m_size = m_size;
    copy->m_readBudget = m_readBudget;
    copy->m_readError = m_readError;
    return copy;
}

uint64_t File::size() const {
    struct stat st {};
    if (m_fd >= 0 && fstat(m_fd, &st) == 0) return static_cast<uint64_t>(st.st_size);
    return m_size;
}

bool File::setPosition(uint64_t position) {
    m_position = position;
    return true;
}

// Caps a transfer at what a byte-limit fault leaves of its budget.
size_t File::limitFor(long long& budget, unsigned, size_t length) {
    if (budget < 0) return length;
    size_t allowed = static_cast<size_t>(std::min<long long>(budget, static_cast<long long>(length)));
    budget -= static_cast<long long>(allowed);
    return allowed;
}

size_t File::read(TransferMemory& buffer, size_t length, unsigned) {
    if (auto code = Host::fault("File::read", m_path->str())) {
        Error::set(*code);
        return 0;
    }
    length = std::min(length, buffer.size());
    size_t wanted = limitFor(m_readBudget, m_readError, length);
    auto* mapping = dynamic_cast<FileMapping*>(&buffer);
    ShMem* memory = mapping ? mapping->memory().get() : dynamic_cast<ShMem*>(&buffer);
    if (memory) memory->offloaded = {};
    size_t got = 0;
    bool failed = false;
    if (mapping && !mapping->isDestination() && canOffloadTo(*memory)) got = offload(*memory, wanted);
    // What the kernel did not copy (none, or the rest after it stopped) is read into the block.
    if (got == 0 && !failed) got = readInto(buffer.data(), wanted, failed);
    m_position += got;
    if (failed) return got;
    if (got < length) Error::set(wanted < length ? m_readError : Errors::EndOfFile);
    return got;
}

bool File::canOffloadTo(const ShMem& memory) const {
    const FileMapping* destination = memory.destinationMapping;
    // Byte budgets (fault rules) cut transfers short with an error, and the bytes of a read that
    // fails must not have reached the destination: those files move their data themselves.
    return destination && !memory.offloadRefused && m_readBudget < 0 &&
           destination->file()->m_writeBudget < 0;
}

// Copies up to `wanted` bytes from this file into the mapped destination without passing them
// through the program. Stops at the end of the file; where the kernel refuses, marks the pair as
// one it cannot copy and leaves what is left to the plain read.
size_t File::offload(ShMem& memory, size_t wanted) {
    File& destination = *memory.destinationMapping->file();
    loff_t in = static_cast<loff_t>(m_position), out = static_cast<loff_t>(destination.m_position);
    size_t moved = 0;
    while (moved < wanted) {
        ssize_t n = copy_file_range(m_fd, &in, destination.m_fd, &out, wanted - moved, 0);
        if (n > 0) {
            moved += static_cast<size_t>(n);
            // At the size the file had when it was opened the copy is whole: asking again would
            // only hear the end of the file.
            if (static_cast<uint64_t>(in) >= m_size) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) memory.offloadRefused = true;
        break;
    }
    memory.offloaded = {&destination, moved};
    return moved;
}

size_t File::readInto(uint8_t* data, size_t wanted, bool& failed) {
    size_t got = 0;
    while (got < wanted) {
        ssize_t n = pread(m_fd, data + got, wanted - got, static_cast<off_t>(m_position + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Error::set(errorFromErrno(errno));
            failed = true;
            return got;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

size_t File::write(TransferMemory& buffer, size_t length, unsigned) {
    if (auto code = Host::fault("File::write", m_path->str())) {
        Error::set(*code);
        return 0;
    }
    size_t allowed = limitFor(m_writeBudget, m_writeError, length);
    auto* mapping = dynamic_cast<FileMapping*>(&buffer);
    ShMem* memory = mapping ? mapping->memory().get() : nullptr;
    size_t done = 0;
    if (memory && memory->offloaded.destination == this && memory->offloaded.bytes == allowed) {
        // The read has copied these bytes here already.
        done = allowed;
        memory->offloaded = {};
    } else {
        while (done < allowed) {
            ssize_t n =
                pwrite(m_fd, buffer.data() + done, allowed - done, static_cast<off_t>(m_position + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                Error::set(n < 0 ? errorFromErrno(errno) : Errors::NoSpace);
                break;
            }
            done += static_cast<size_t>(n);
        }
    }
    // A drive pulled or a directory removed under an open file leaves writes succeeding into a
    // file nobody can reach again; that is a lost copy, so it fails the write.
    if (done > 0 && !stillLinked()) {
        Error::set(Errors::NotFound);
        return 0;
    }
    m_position += done;
    if (done < length && allowed < length)
        Error::set(m_writeError);
    else if (done < length && Error::get() == 0)
        Error::set(Errors::NoSpace);
    return done;
}

bool File::stillLinked() const {
    struct stat st {};
    return fstat(m_fd, &st) != 0 || st.st_nlink > 0;
}

// The byte-level calls are faulted like read and write: the same rules and byte budgets.
size_t File::readBytes(void* data, size_t length) {
    if (auto code = Host::fault("File::read", m_path->str())) {
        Error::set(*code);
        return 0;
    }
    size_t wanted = limitFor(m_readBudget, m_readError, length);
    ssize_t n = pread(m_fd, data, wanted, static_cast<off_t>(m_position));
    if (n < 0) {
        Error::set(errorFromErrno(errno));
        return 0;
    }
    m_position += static_cast<uint64_t>(n);
    if (static_cast<size_t>(n) < length) Error::set(wanted < length ? m_readError : Errors::EndOfFile);
    return static_cast<size_t>(n);
}

size_t File::writeBytes(const void* data, size_t length) {
    if (auto code = Host::fault("File::write", m_path->str())) {
        Error::set(*code);
        return 0;
    }
    size_t allowed = limitFor(m_writeBudget, m_writeError, length);
    ssize_t n = pwrite(m_fd, data, allowed, static_cast<off_t>(m_position));
    if (n < 0) {
        Error::set(errorFromErrno(errno));
        return 0;
    }
    m_position += static_cast<uint64_t>(n);
    if (static_cast<size_t>(n) < length) Error::set(allowed < length ? m_writeError : Errors::NoSpace);
    return static_cast<size_t>(n);
}

bool File::truncate(uint64_t size) {
    if (ftruncate(m_fd, static_cast<off_t>(size)) != 0) return fail(errorFromErrno(errno));
    return true;
}

Ref<FileMapping> File::map(const Ref<ShMem>& memory) {
    if (!memory || m_fd < 0) {
        Error::set(Errors::NotSupported);
        return {};
    }
    if (auto code = Host::fault("File::map", m_path->str())) {
        Error::set(*code);
        return {};
    }
    Ref<FileMapping> mapping(new FileMapping(memory, this, m_writable));
    if (mapping->isDestination()) {
        memory->destinationMapping = mapping.get();
        memory->offloadRefused = false;
    }
    return mapping;
}

void File::unmap(const Ref<FileMapping>& mapping) {
    if (mapping && mapping->memory()->destinationMapping == mapping.get()) {
        mapping->memory()->destinationMapping = nullptr;
        mapping->memory()->offloaded = {};
    }
}

bool File::setAttribute(const char* name, const Ref<Variant>& value) {
    if (std::string(name) != "TIME.MODIFY" || !value || value->count() == 0 || value->entry(0).type != 1)
        return fail(Errors::NotSupported);
    if (auto code = Host::fault("File::setAttribute", m_path->str())) return fail(*code);
    long long ms = value->entry(0).integer - Time::tzOffsetMs();
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = 0;
    times[1].tv_sec = ms / 1000;
    times[1].tv_nsec = (ms % 1000) * 1000000;
    if (futimens(m_fd, times) != 0) return fail(errorFromErrno(errno));
    return true;
}

Iterator::~Iterator() {
    if (m_dir) closedir(static_cast<DIR*>(m_dir));
}

Ref<FSItem> Iterator::next() {
    while (struct dirent* entry = readdir(static_cast<DIR*>(m_dir))) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        bool known = fstatat(m_directory->fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        bool isFile = known && S_ISREG(st.st_mode);
        Ref<String> path = String::create(childPath(m_path->str(), name));
        Ref<FSItem> item = isFile
                               ? Ref<FSItem>(Ref<File>(new File(std::move(path), m_directory, entry->d_name)))
                               : Ref<FSItem>(new FSItem(std::move(path), m_directory, entry->d_name));
        if (known) item->applyStat(st);
        return item;
    }
    return {};
}

} // namespace Services::Filesystem::Client

Ref<Directory> Host::HostFilesystem::openDirectory(const Ref<String>& path, unsigned mode) {
    auto resolved = resolvePath(path);
    if (!resolved) return {};
    // A directory held since it was last opened is that directory still.
    if (Namespace::Handle held = Namespace::heldDirectory(*resolved)) {
        bool writable = !resolved->readOnly && faccessat(held->fd(), ".", W_OK, 0) == 0;
        if (mode == 0x33 && !writable) {
            Error::set(Errors::NotWritable);
            return {};
        }
        return Ref<Directory>(new Directory(platformPathOf(path, resolved->platformPath), std::move(held),
                                            mode == 0x33, false));
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
    // access() also answers EROFS for a read-only filesystem, so it covers a drive mounted read-only.
    bool writable = !resolved->readOnly && faccessat(fd, ".", W_OK, 0) == 0;
    if (mode == 0x33 && !writable) {
        failOpen(fd, Errors::NotWritable);
        return {};
    }
    return Ref<Directory>(new Directory(platformPathOf(path, resolved->platformPath),
                                        std::make_shared<const Namespace::DirectoryHandle>(fd), mode == 0x33,
                                        throughLink));
}

namespace Services::Filesystem::Client {

bool Directory::mayChange(const Ref<String>& name, const char* op) const {
    if (!validName(name)) return fail(Errors::InvalidPath);
    std::string child = childPath(m_path->str(), name->str());
    if (auto code = Host::fault(op, child)) return fail(*code);
    if (!m_writable) return fail(Errors::NotWritable);
    return true;
}

bool Directory::createDirectory(const Ref<String>& name) {
    if (!mayChange(name, "Directory::createDirectory")) return false;
    if (mkdirat(m_handle->fd(), name->c_str(), 0755) != 0) return fail(errorFromErrno(errno));
    return true;
}

bool Directory::createFile(const Ref<String>& name) {
    if (!mayChange(name, "Directory::createFile")) return false;
    int fd =
        ::openat(m_handle->fd(), name->c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return fail(errorFromErrno(errno));
    Namespace::keepCreated(m_handle, name->str(), fd);
    return true;
}

unsigned long removedFileCount() {
    return runState().removedFiles.load();
}

// unlinkat never follows a link: a link found here is removed itself, never what it names.
bool Directory::remove(const Ref<String>& name) {
    if (!mayChange(name, "Directory::remove")) return false;
    int at = m_handle->fd();
    if (unlinkat(at, name->c_str(), 0) == 0) {
        runState().removedFiles++;
        return true;
    }
    if ((errno == EISDIR || errno == EPERM) && unlinkat(at, name->c_str(), AT_REMOVEDIR) == 0) return true;
    return fail(errno == ENOENT ? Errors::NothingToRemove : errorFromErrno(errno));
}

Ref<Iterator> Directory::iterator(unsigned, const Ref<String>&) {
    if (auto code = Host::fault("Directory::iterator", m_path->str())) {
        Error::set(*code);
        return {};
    }
    // A listing of its own (each iterator starts at the beginning) of the directory held open.
    int fd = ::openat(m_handle->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        failOpen(fd, errorFromErrno(errno));
        return {};
    }
    return Ref<Iterator>(new Iterator(m_path, m_handle, dir));
}

Ref<String> Directory::name() const {
    return Service::name(m_path);
}

std::unique_ptr<Replacement> Replacement::create(const Ref<Directory>& directory, std::string name) {
    if (!directory || !directory->m_writable || !validName(String::create(name))) {
        Error::set(directory ? Errors::InvalidPath : Errors::NotFound);
        return {};
    }
    int at = directory->m_handle->fd();
    int fd = ::openat(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    std::string hidden;
    if (fd < 0) {
        // No O_TMPFILE here (FAT, for one): a hidden name of our own, removed unless committed.
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(getpid()) & 0xFFFFFFu);
        hidden = "." + name + "." + suffix + ".part";
        fd = ::openat(at, hidden.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        Error::set(errorFromErrno(errno));
        return {};
    }
    return std::unique_ptr<Replacement>(
        new Replacement(directory->m_handle, std::move(name), fd, std::move(hidden)));
}

bool Replacement::commit() {
    int at = m_directory->fd();
    if (fdatasync(m_fd) != 0) return fail(errorFromErrno(errno));
    if (m_hiddenName.empty()) {
        // A file without a name gets one (hidden) first; rename then puts it in place in one step.
        m_hiddenName = "." + m_name + "." + std::to_string(getpid()) + ".part";
        std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        if (linkat(AT_FDCWD, self.c_str(), at, m_hiddenName.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            int err = errno;
            m_hiddenName.clear();
            return fail(errorFromErrno(err));
        }
    }
    if (renameat(at, m_hiddenName.c_str(), at, m_name.c_str()) != 0) return fail(errorFromErrno(errno));
    m_committed = true;
    // The new name itself must survive a crash too.
    int directory = ::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        ::close(directory);
    }
    return true;
}

Replacement::~Replacement() {
    if (!m_committed && !m_hiddenName.empty()) unlinkat(m_directory->fd(), m_hiddenName.c_str(), 0);
    if (m_fd >= 0) ::close(m_fd);
}

Ref<Node> Nodes::open(const Ref<String>& nodeName) {
    if (isEmpty(nodeName) || !Namespace::findNode(nodeName->str())) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (auto code = Host::fault("Nodes::open", nodeName->str())) {
        Error::set(*code);
        return {};
    }
    return Ref<Node>(new Node(nodeName));
}

} // namespace Services::Filesystem::Client

namespace Services::Nodes {

Ref<Provider> Provider::create(const Ref<Services::Filesystem::Client::Node>& node, unsigned) {
    if (!node) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (auto code = Host::fault("Provider::create", node->path()->str())) {
        Error::set(*code);
        return {};
    }
    return Ref<Provider>(new Provider(node->path()));
}

Ref<Providers::Generic> Providers::Generic::create(const Ref<Provider>& provider) {
    if (!provider) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (auto code = Host::fault("Generic::create", provider->nodeName()->str())) {
        Error::set(*code);
        return {};
    }
    return Ref<Generic>(new Generic(provider->nodeName()));
}

Ref<Variant> Providers::Generic::attribute(const char* name) const {
    Ref<Variant> value = Variant::create();
    const Host::NodeConfig* node = Namespace::findNode(m_node->str());
    if (!node || !node->attributes.contains(name)) return value;
    const nlohmann::json& a = node->attributes[name];
    if (a.is_string())
        value->append({2, 0, String::create(a.get<std::string>())});
    else if (a.is_number_integer())
        value->append({1, a.get<long long>(), {}});
    return value;
}

} // namespace Services::Nodes

namespace Services::Mount::Client {

Entry::~Entry() {
    Namespace::unmount(m_node->str());
}

} // namespace Services::Mount::Client

bool Host::HostFilesystem::mountInfo(std::vector<Services::Mount::Client::MountNode>& list) {
    for (const Namespace::Mounted& m : Namespace::mounts())
        list.push_back({String::create(m.node), {String::create(m.mountPoint)}});
    return true;
}

Ref<Services::Mount::Client::Entry> Host::HostFilesystem::mount(const Ref<String>& node) {
    using Services::Mount::Client::Entry;
    unsigned error = 0;
    auto mountPoint = Namespace::mount(node->str(), error);
    if (!mountPoint) {
        Error::set(error);
        return {};
    }
    return Ref<Entry>(new Entry(node, String::create(*mountPoint)));
}

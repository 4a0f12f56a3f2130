#include "Filesystem.h"
#include "Namespace.h"
#include "Time.h"
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Services::Filesystem::Client {
namespace {

bool fail(unsigned code) {
    Error::set(code);
    return false;
}

// Resolves a platform path and applies the fault rules of `op` to it.
std::optional<Namespace::Resolved> resolveFor(const Ref<String>& path, const char* op,
                                              Namespace::Leaf leaf = Namespace::Leaf::Stat) {
    unsigned error = Errors::InvalidPath;
    if (isEmpty(path)) {
        Error::set(error);
        return std::nullopt;
    }
    auto resolved = Namespace::resolve(path->str(), error, leaf);
    if (!resolved) {
        Error::set(error);
        return std::nullopt;
    }
    if (auto code = Host::fault(op, resolved->platformPath)) {
        Error::set(*code);
        return std::nullopt;
    }
    return resolved;
}

// An item's platform path: the caller's own text when it was normal already, which saves a copy.
Ref<String> platformPathOf(const Ref<String>& given, std::string& normal) {
    return given->equals(normal) ? given : String::create(std::move(normal));
}

// The status of a resolved path: what resolving found, or a lookup of its own (lstat when the path
// itself is wanted, stat when what it leads to). Returns 0 or the errno of the failed lookup.
int statusOf(const Namespace::Resolved& resolved, struct stat& st, bool followLinks) {
    if (resolved.leafKnown) {
        st = resolved.leaf;
        return resolved.leafErrno;
    }
    int rc = followLinks ? stat(resolved.hostPath.c_str(), &st) : lstat(resolved.hostPath.c_str(), &st);
    return rc == 0 ? 0 : errno;
}

// access() also answers EROFS for a read-only filesystem, so it covers a drive mounted read-only.
bool hostWritable(const Namespace::Resolved& resolved) {
    return !resolved.readOnly && faccessat(resolved.at(), resolved.name(), W_OK, 0) == 0;
}

// Opens a resolved path on the host; a name looked up in its held parent is never a link, and a
// link met there by an open that did not look first is followed only when it stays inside.
int openResolved(Namespace::Resolved& resolved, int flags) {
    int fd = ::openat(resolved.at(), resolved.name(), flags | (resolved.relative() ? O_NOFOLLOW : 0), 0644);
    if (fd >= 0 || errno != ELOOP || !resolved.leafUnchecked) return fd;
    if (!Namespace::followLink(resolved)) {
        errno = ELOOP; // read as an invalid path, as for any path that leads out
        return -1;
    }
    return ::open(resolved.hostPath.c_str(), flags, 0644);
}

// The file Directory::createFile made last, kept open: a target is created empty and opened for
// writing right away, and handing the descriptor on saves opening it again by name. It is handed
// only to an open for writing that finds the same file (device and inode) at the same path.
struct JustCreated {
    std::mutex mutex;
    std::string hostPath;
    int fd = -1;
} justCreated;

void keepCreated(std::string hostPath, int fd) {
    std::lock_guard lock(justCreated.mutex);
    if (justCreated.fd >= 0) ::close(justCreated.fd);
    justCreated.hostPath = std::move(hostPath);
    justCreated.fd = fd;
}

int takeCreated(const Namespace::Resolved& resolved, struct stat& st) {
    std::lock_guard lock(justCreated.mutex);
    if (justCreated.fd < 0 || !resolved.leafKnown || resolved.leafErrno != 0 ||
        justCreated.hostPath != resolved.hostPath)
        return -1;
    int fd = std::exchange(justCreated.fd, -1);
    if (fstat(fd, &st) == 0 && st.st_dev == resolved.leaf.st_dev && st.st_ino == resolved.leaf.st_ino)
        return fd;
    ::close(fd);
    return -1;
}

// Opens the host file for a File::open mode; `exists` and `st` are what resolving found of it, and
// `st` is the open file's status afterwards. Returns the descriptor, or -1 with the error set.
int openFor(Namespace::Resolved& resolved, unsigned mode, bool& exists, struct stat& st) {
    // Truncating makes ext4 flush the file when it is closed (its guard for files replaced by
    // truncation), which costs a disk write per file; a file found empty, or just created by this
    // run, is truncated only if it has grown by the time it is open.
    bool truncateAfterOpen = mode == 0x1B && exists && st.st_size == 0;
    int fd = mode == 0x1B ? takeCreated(resolved, st) : -1;
    bool taken = fd >= 0;
    if (taken) {
        truncateAfterOpen = true;
    } else if (mode == 0x1B) {
        fd = openResolved(resolved, O_CLOEXEC | O_WRONLY | O_CREAT | (truncateAfterOpen ? 0 : O_TRUNC));
    } else if (mode == 0x113) {
        fd = openResolved(resolved, O_CLOEXEC | O_RDWR | O_CREAT | O_EXCL);
        exists = fd < 0 && errno == EEXIST;
        if (exists) fd = openResolved(resolved, O_CLOEXEC | O_RDWR);
    } else {
        fd = openResolved(resolved, O_CLOEXEC | O_RDONLY);
    }
    bool failed = fd < 0 || (!taken && fstat(fd, &st) != 0) ||
                  (truncateAfterOpen && st.st_size > 0 && ftruncate(fd, 0) != 0);
    if (failed) {
        Error::set(errorFromErrno(errno));
        if (fd >= 0) ::close(fd);
        return -1;
    }
    if (truncateAfterOpen) st.st_size = 0;
    return fd;
}

// The path of `name` in `directory`, platform or host ("/" + name below the root).
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
// are stamped with.
const struct timespec runStart = [] {
    struct timespec t {};
    clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t;
}();
std::mutex claimedMutex;
std::set<std::string> claimedByThisRun;

bool claimedByAnotherRun(int fd, const std::string& host) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    bool changedSinceStart = st.st_ctim.tv_sec > runStart.tv_sec ||
                             (st.st_ctim.tv_sec == runStart.tv_sec && st.st_ctim.tv_nsec >= runStart.tv_nsec);
    std::lock_guard lock(claimedMutex);
    return changedSinceStart && !claimedByThisRun.count(host);
}

void claimForThisRun(const std::string& host) {
    std::lock_guard lock(claimedMutex);
    claimedByThisRun.insert(host);
}

} // namespace

Ref<String> Service::absolute(const Ref<String>& path, const Ref<String>& base) {
    if (!path) return base;
    if (path->at(0) == '/' || isEmpty(base)) return path;
    std::string rel = path->str();
    while (rel.rfind("./", 0) == 0)
        rel.erase(0, 2);
    if (rel == ".") rel.clear();
    std::string b = base->str();
    if (rel.empty()) return base;
    return String::create(b.back() == '/' ? b + rel : b + "/" + rel);
}

Ref<String> Service::parent(const Ref<String>& path, bool) {
    if (isEmpty(path)) return String::create("");
    long slash = path->findLast('/');
    if (slash < 0) return String::create(".");
    if (slash == 0) return String::create("/");
    return path->substring(0, static_cast<size_t>(slash));
}

Ref<String> Service::name(const Ref<String>& path) {
    if (!path) return String::create("");
    long slash = path->findLast('/');
    return slash < 0 ? path : path->substring(static_cast<size_t>(slash) + 1);
}

void FSItem::loadStat() {
    struct stat st {};
    if (lstat(m_hostPath.c_str(), &st) != 0 && stat(m_hostPath.c_str(), &st) != 0) return;
    applyStat(st);
}

void FSItem::applyStat(const struct stat& st) {
    m_isFile = S_ISREG(st.st_mode);
    m_isDirectory = S_ISDIR(st.st_mode);
    m_size = static_cast<uint64_t>(st.st_size);
    m_modifiedMs = toMs(st.st_mtim);
}

namespace {
FSItem::Observer itemObserver = nullptr;
}

void FSItem::setObserver(Observer observer) {
    itemObserver = observer;
}

Ref<FSItem> FSItem::open(const Ref<String>& path, unsigned, unsigned) {
    if (itemObserver) itemObserver(path);
    auto resolved = resolveFor(path, "FSItem::open");
    if (!resolved) return {};
    struct stat st {};
    if (int failure = statusOf(*resolved, st, false)) {
        Error::set(errorFromErrno(failure));
        return {};
    }
    Ref<FSItem> item(new FSItem(platformPathOf(path, resolved->platformPath), std::move(resolved->hostPath)));
    item->applyStat(st);
    return item;
}

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
    return stat(m_hostPath.c_str(), &st) == 0;
}

bool File::currentStat(struct stat& st) const {
    return m_fd >= 0 ? fstat(m_fd, &st) == 0 : FSItem::currentStat(st);
}

Ref<File> File::open(const Ref<String>& path, unsigned mode) {
    bool writing = mode == 0x1B || mode == 0x113;
    bool reading = !writing && mode != 4;
    // An open for reading finds out what the name is by opening it, without a lookup before.
    auto resolved = resolveFor(path, "File::open", reading ? Namespace::Leaf::Open : Namespace::Leaf::Stat);
    if (!resolved) return {};
    const std::string& host = resolved->hostPath;
    struct stat st {};
    bool exists = !reading && statusOf(*resolved, st, true) == 0;
    if (mode == 4) {
        if (!exists) {
            Error::set(Errors::NotFound);
            return {};
        }
        Ref<File> probe(new File(platformPathOf(path, resolved->platformPath), host, -1));
        probe->applyStat(st);
        return probe;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        Error::set(Errors::AlreadyExists);
        return {};
    }
    // A file that may not be written fails its open with EACCES or EROFS, which read as not writable.
    if (writing && resolved->readOnly) {
        Error::set(Errors::NotWritable);
        return {};
    }
    int fd = openFor(*resolved, mode, exists, st);
    if (fd < 0) return {};
    if (reading && S_ISDIR(st.st_mode)) {
        ::close(fd);
        Error::set(Errors::NotFound);
        return {};
    }
    // A file this open created is ours: whoever else holds it found it by name a moment ago and
    // is about to give it up as claimed, so wait for that instead of abandoning an empty file.
    int lockMode = exists ? LOCK_EX | LOCK_NB : LOCK_EX;
    if (mode == 0x113 && (flock(fd, lockMode) != 0 || (exists && claimedByAnotherRun(fd, host)))) {
        ::close(fd);
        Error::set(Errors::AlreadyOpened);
        return {};
    }
    if (mode == 0x113) claimForThisRun(host);
    Ref<File> file(new File(platformPathOf(path, resolved->platformPath), std::move(resolved->hostPath), fd));
    file->m_writable = writing;
    file->applyStat(st);
    file->m_sizeJustRead = true;
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

Ref<File> File::openHost(const std::string& hostPath) {
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Error::set(errorFromErrno(errno));
        return {};
    }
    Ref<File> file(new File(String::create(hostPath), hostPath, fd));
    file->loadStat();
    return file;
}

File::~File() {
    if (m_fd >= 0) ::close(m_fd);
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
    size_t got = 0;
    // The size known from the last look is enough until the read reaches it; only then is the
    // file asked again, in case it grew.
    bool sizeKnown = m_position + wanted <= m_size || std::exchange(m_sizeJustRead, false);
    uint64_t fileSize = sizeKnown ? m_size : (m_size = size());
    if (mapping && !mapping->isDestination() && memory->destinationMapping) {
        // Leave the data with the file service; the mapped destination moves it.
        got = m_position < fileSize ? std::min<uint64_t>(wanted, fileSize - m_position) : 0;
        memory->pending = {m_fd, static_cast<long long>(m_position), got};
    } else {
        if (memory) memory->pending = {};
        while (got < wanted) {
            ssize_t n = pread(m_fd, buffer.data() + got, wanted - got, static_cast<off_t>(m_position + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                m_position += got;
                Error::set(errorFromErrno(errno));
                return got;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
    }
    m_position += got;
    if (got < length) Error::set(wanted < length ? m_readError : Errors::EndOfFile);
    return got;
}

bool File::transferFromPending(ShMem& memory, size_t length, size_t& moved) {
    ShMem::Pending pending = memory.pending;
    memory.pending = {};
    if (pending.fd < 0 || pending.length < length) return false;
    loff_t in = pending.offset, out = static_cast<loff_t>(m_position);
    while (moved < length) {
        ssize_t n = copy_file_range(pending.fd, &in, m_fd, &out, length - moved, 0);
        if (n > 0) {
            moved += static_cast<size_t>(n);
            continue;
        }
        // A full disk or a failing medium ends the write here; other refusals only mean that the
        // kernel cannot copy between these two files.
        if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EIO || errno == EFBIG)) {
            Error::set(errorFromErrno(errno));
            return true;
        }
        break;
    }
    // Where the kernel cannot copy between these files, fall back to the block's memory.
    while (moved < length) {
        ssize_t n = pread(pending.fd, memory.data(), std::min(length - moved, memory.size()), in);
        if (n <= 0) {
            // The source shrank under the transfer: the block holds none of the missing data, so
            // the write ends short rather than writing the block.
            Error::set(n < 0 ? errorFromErrno(errno) : Errors::IoError);
            return true;
        }
        ssize_t w = pwrite(m_fd, memory.data(), static_cast<size_t>(n), out);
        if (w <= 0) {
            Error::set(w < 0 ? errorFromErrno(errno) : Errors::NoSpace);
            return true;
        }
        in += w;
        out += w;
        moved += static_cast<size_t>(w);
    }
    return true;
}

size_t File::write(TransferMemory& buffer, size_t length, unsigned) {
    if (auto code = Host::fault("File::write", m_path->str())) {
        Error::set(*code);
        return 0;
    }
    size_t allowed = limitFor(m_writeBudget, m_writeError, length);
    auto* mapping = dynamic_cast<FileMapping*>(&buffer);
    size_t done = 0;
    bool handled = false;
    // Data a mapped source left pending is only in the file service, never in the block.
    if (mapping && mapping->isDestination()) handled = transferFromPending(*mapping->memory(), allowed, done);
    if (!handled) {
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

size_t File::readBytes(void* data, size_t length) {
    ssize_t n = pread(m_fd, data, length, static_cast<off_t>(m_position));
    if (n < 0) {
        Error::set(errorFromErrno(errno));
        return 0;
    }
    m_position += static_cast<uint64_t>(n);
    if (static_cast<size_t>(n) < length) Error::set(Errors::EndOfFile);
    return static_cast<size_t>(n);
}

size_t File::writeBytes(const void* data, size_t length) {
    ssize_t n = pwrite(m_fd, data, length, static_cast<off_t>(m_position));
    if (n < 0) {
        Error::set(errorFromErrno(errno));
        return 0;
    }
    m_position += static_cast<uint64_t>(n);
    return static_cast<size_t>(n);
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
    if (mapping->isDestination()) memory->destinationMapping = mapping.get();
    return mapping;
}

void File::unmap(const Ref<FileMapping>& mapping) {
    if (mapping && mapping->memory()->destinationMapping == mapping.get()) {
        mapping->memory()->destinationMapping = nullptr;
        mapping->memory()->pending = {};
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
        bool known = fstatat(dirfd(static_cast<DIR*>(m_dir)), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        bool isFile = known && S_ISREG(st.st_mode);
        Ref<String> path = String::create(childPath(m_path->str(), name));
        std::string host = childPath(m_hostPath, name);
        Ref<FSItem> item = isFile ? Ref<FSItem>(Ref<File>(new File(std::move(path), std::move(host), -1)))
                                  : Ref<FSItem>(new FSItem(std::move(path), std::move(host)));
        if (known) item->applyStat(st);
        return item;
    }
    return {};
}

Ref<Directory> Directory::open(const Ref<String>& path, unsigned mode) {
    auto resolved = resolveFor(path, "Directory::open");
    if (!resolved) return {};
    struct stat st {};
    if (int failure = statusOf(*resolved, st, true)) {
        Error::set(errorFromErrno(failure));
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        Error::set(Errors::NotADirectory);
        return {};
    }
    bool writable = hostWritable(*resolved);
    if (mode == 0x33 && !writable) {
        Error::set(Errors::NotWritable);
        return {};
    }
    return Ref<Directory>(new Directory(platformPathOf(path, resolved->platformPath),
                                        std::move(resolved->hostPath), mode == 0x33));
}

bool Directory::mayChange(const Ref<String>& name, const char* op) const {
    if (!validName(name)) return fail(Errors::InvalidPath);
    std::string child = childPath(m_path->str(), name->str());
    if (auto code = Host::fault(op, child)) return fail(*code);
    if (!m_writable) return fail(Errors::NotWritable);
    return true;
}

Directory::Child Directory::child(const Ref<String>& name) const {
    if (!m_handle) m_handle = Namespace::directoryHandle(m_hostPath);
    if (m_handle) return {m_handle->fd(), name->str()};
    return {AT_FDCWD, childPath(m_hostPath, name->str())};
}

bool Directory::createDirectory(const Ref<String>& name) {
    if (!mayChange(name, "Directory::createDirectory")) return false;
    Child c = child(name);
    if (mkdirat(c.at, c.name.c_str(), 0755) != 0) return fail(errorFromErrno(errno));
    return true;
}

bool Directory::createFile(const Ref<String>& name) {
    if (!mayChange(name, "Directory::createFile")) return false;
    Child c = child(name);
    int fd = ::openat(c.at, c.name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return fail(errorFromErrno(errno));
    keepCreated(childPath(m_hostPath, name->str()), fd);
    return true;
}

bool Directory::remove(const Ref<String>& name) {
    if (!mayChange(name, "Directory::remove")) return false;
    Child c = child(name);
    if (unlinkat(c.at, c.name.c_str(), 0) == 0) return true;
    if (errno == EISDIR || errno == EPERM) {
        if (unlinkat(c.at, c.name.c_str(), AT_REMOVEDIR) == 0) {
            Namespace::forgetDirectory(childPath(m_hostPath, name->str()));
            return true;
        }
    }
    return fail(errno == ENOENT ? Errors::NothingToRemove : errorFromErrno(errno));
}

Ref<Iterator> Directory::iterator(unsigned, const Ref<String>&) {
    if (auto code = Host::fault("Directory::iterator", m_path->str())) {
        Error::set(*code);
        return {};
    }
    DIR* dir = opendir(m_hostPath.c_str());
    if (!dir) {
        Error::set(errorFromErrno(errno));
        return {};
    }
    return Ref<Iterator>(new Iterator(m_path, m_hostPath, dir));
}

Ref<String> Directory::name() const {
    return Service::name(m_path);
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

bool info(std::vector<MountNode>& list) {
    if (auto code = Host::fault("Mount::info")) {
        Error::set(*code);
        return false;
    }
    for (const Namespace::Mounted& m : Namespace::mounts())
        list.push_back({String::create(m.node), {String::create(m.mountPoint)}});
    return true;
}

Ref<Entry> Entry::create(const Ref<String>& node, unsigned, unsigned, const Ref<Parameters>&) {
    if (isEmpty(node)) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (auto code = Host::fault("Entry::create", node->str())) {
        Error::set(*code);
        return {};
    }
    unsigned error = 0;
    auto mountPoint = Namespace::mount(node->str(), error);
    if (!mountPoint) {
        Error::set(error);
        return {};
    }
    return Ref<Entry>(new Entry(node, String::create(*mountPoint)));
}

Entry::~Entry() {
    Namespace::unmount(m_node->str());
}

} // namespace Services::Mount::Client

// The host's items, files, directories and listings, working on descriptors.
#include "HostFiles.h"
#include "CopyOffload.h"
#include "HostFilesystem.h"
#include "HostPlatform.h"
#include "RunResults.h"
#include "platform/Time.h"
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Services::Filesystem::Client;

namespace Host {
namespace {

// How long writes go on into a file before it is looked at again (see HostFile::linkCheckDue).
constexpr std::chrono::milliseconds linkCheckInterval{10};

bool fail(unsigned code) {
    Error::set(code);
    return false;
}

long long toMs(const struct timespec& t) {
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

} // namespace

// ---- Items

ItemPlace::~ItemPlace() {
    if (m_fd < 0) return;
    if (m_run) {
        // The kept duplicate shares the open file, and so its lock: the lock ends here, as at a close.
        if (m_locked) flock(m_fd, LOCK_UN);
        m_run->noteWrittenFile(m_fd, m_device);
    }
    ::close(m_fd);
}

bool ItemPlace::currentStat(struct stat& st) const {
    if (m_fd >= 0) return fstat(m_fd, &st) == 0;
    return m_directory &&
           fstatat(m_directory->fd(), m_path->c_str() + m_nameAt, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

Ref<Variant> ItemPlace::attribute(const char* name) const {
    if (std::string_view(name) != "TIME.MODIFY") {
        Error::set(Errors::NotSupported);
        return {};
    }
    struct stat st {};
    if (m_modifiedAtOpen) {
        st.st_mtim = *m_modifiedAtOpen;
    } else if (!currentStat(st)) {
        Error::set(errorFromErrno(errno));
        return {};
    }
    return Variant::ofInteger(toMs(st.st_mtim) + Time::tzOffsetMs());
}

void HostItem::applyStat(const struct stat& st) {
    setKind(S_ISREG(st.st_mode), S_ISDIR(st.st_mode), static_cast<uint64_t>(st.st_size));
}

Ref<Variant> HostItem::getAtr(const char* name) const {
    return m_place.attribute(name);
}

// ---- Files

void HostFile::applyStat(const struct stat& st) {
    setKind(S_ISREG(st.st_mode), S_ISDIR(st.st_mode), static_cast<uint64_t>(st.st_size));
}

Ref<File> HostFile::adopt(int fd, const std::string& name) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        Error::set(errorFromErrno(errno));
        ::close(fd);
        return {};
    }
    return Ref<File>(new HostFile(String::create(name), st, fd));
}

Ref<Variant> HostFile::getAtr(const char* name) const {
    return m_place.attribute(name);
}

Ref<File> HostFile::duplicate() const {
    struct stat st {};
    int copy = fcntl(fd(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0 || fstat(copy, &st) != 0) {
        Error::set(errorFromErrno(errno));
        if (copy >= 0) ::close(copy);
        return {};
    }
    return Ref<File>(new HostFile(path(), st, copy));
}

uint64_t HostFile::size() const {
    struct stat st {};
    if (fd() >= 0 && fstat(fd(), &st) == 0) return static_cast<uint64_t>(st.st_size);
    return FSItem::size();
}

bool HostFile::setPosition(uint64_t position) {
    m_position = position;
    return true;
}

// First the offload: with a destination mapped onto the same block, the kernel copies the bytes
// there itself. Then the fallback: what it did not copy is read into the block.
size_t HostFile::read(TransferMemory& buffer, size_t length, unsigned) {
    length = std::min(length, buffer.size());
    size_t got = 0;
    if (CopyOffload* offload = offloadOf(buffer, *this, false))
        got = offload->copy(*this, length, FSItem::size());
    bool failed = false;
    if (got == 0) got = readInto(buffer.data(), length, failed);
    m_position += got;
    if (!failed && got < length) Error::set(Errors::EndOfFile);
    return got;
}

size_t HostFile::readInto(uint8_t* data, size_t wanted, bool& failed) {
    size_t got = 0;
    while (got < wanted) {
        ssize_t n = pread(fd(), data + got, wanted - got, static_cast<off_t>(m_position + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failTransfer(errno);
            failed = true;
            return got;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

// A write of what the source's read has copied here already only moves the position on.
size_t HostFile::write(TransferMemory& buffer, size_t length, unsigned) {
    CopyOffload* offload = offloadOf(buffer, *this, true);
    bool copied = offload && offload->takeCopied(*this, length);
    size_t done = copied ? length : writeFrom(buffer.data(), length);
    // A drive pulled or a directory removed under an open file leaves writes succeeding into a
    // file nobody can reach again; that is a lost copy, so it fails the write.
    if (done > 0 && linkCheckDue() && !stillLinked()) {
        noteFailure("it was removed while it was written");
        Error::set(Errors::NotFound);
        return 0;
    }
    m_position += done;
    if (done < length && Error::get() == 0) Error::set(Errors::NoSpace);
    return done;
}

size_t HostFile::writeFrom(const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(fd(), data + done, length - done, static_cast<off_t>(m_position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // Nothing written and no reason given: the medium took no more.
            failTransfer(n < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

// A file opened by its name is linked then; a write looks again whether it still is once
// `linkCheckInterval` has passed since it was last known to be. A file removed under a long copy
// fails a write within that time, and the kernel is not asked once per block (16,384 times for a
// 1 GiB file) nor once more for every small file written in a moment.
bool HostFile::linkCheckDue() {
    auto now = coarseNow();
    if (now - m_linkCheckedAt < linkCheckInterval) return false;
    m_linkCheckedAt = now;
    return true;
}

// A read or write the host refused: its code for the caller, and its words (the path, then "No space
// left on device") for the failure message that follows.
void HostFile::failTransfer(int error) const {
    Error::set(errorFromErrno(error));
    noteFailure(std::strerror(error));
}

void HostFile::noteFailure(const char* why) const {
    if (m_notes) m_notes->noteFailureCause(stdString(path()) + ": " + why);
}

bool HostFile::stillLinked() const {
    struct stat st {};
    return fstat(fd(), &st) != 0 || st.st_nlink > 0;
}

size_t HostFile::readBytes(void* data, size_t length) {
    ssize_t n = pread(fd(), data, length, static_cast<off_t>(m_position));
    if (n < 0) {
        failTransfer(errno);
        return 0;
    }
    m_position += static_cast<uint64_t>(n);
    if (static_cast<size_t>(n) < length) Error::set(Errors::EndOfFile);
    return static_cast<size_t>(n);
}

size_t HostFile::writeBytes(const void* data, size_t length) {
    ssize_t n = pwrite(fd(), data, length, static_cast<off_t>(m_position));
    if (n < 0) {
        failTransfer(errno);
        return 0;
    }
    m_position += static_cast<uint64_t>(n);
    if (static_cast<size_t>(n) < length) Error::set(Errors::NoSpace);
    return static_cast<size_t>(n);
}

bool HostFile::truncate(uint64_t size) {
    if (ftruncate(fd(), static_cast<off_t>(size)) != 0) return fail(errorFromErrno(errno));
    return true;
}

Ref<FileMapping> HostFile::map(const Ref<ShMem>& memory) {
    if (!memory || fd() < 0) {
        Error::set(Errors::NotSupported);
        return {};
    }
    bool destination = m_place.writable();
    Ref<FileMapping> mapping(new FileMapping(memory, this, destination));
    if (destination) CopyOffload::of(*memory).setDestination(this);
    return mapping;
}

void HostFile::unmap(const Ref<FileMapping>& mapping) {
    if (!mapping || mapping->file() != this || !mapping->isDestination()) return;
    if (CopyOffload* offload = CopyOffload::find(*mapping->memory())) offload->dropDestination(this);
}

bool HostFile::setAttribute(const char* name, const Ref<Variant>& value) {
    if (std::string_view(name) != "TIME.MODIFY" || !value || value->count() == 0 || value->entry(0).type != 1)
        return fail(Errors::NotSupported);
    long long ms = value->entry(0).integer - Time::tzOffsetMs();
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = 0;
    times[1].tv_sec = ms / 1000;
    times[1].tv_nsec = (ms % 1000) * 1000000;
    if (futimens(fd(), times) != 0) return fail(errorFromErrno(errno));
    return true;
}

// ---- Directories and their listings

namespace {

class HostIterator : public Iterator {
  public:
    HostIterator(Ref<String> path, Namespace::Handle directory, DIR* dir)
        : m_path(std::move(path)), m_directory(std::move(directory)), m_dir(dir) {}
    ~HostIterator() override { closedir(m_dir); }

    Ref<FSItem> next() override {
        while (struct dirent* entry = readdir(m_dir)) {
            std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            struct stat st; // filled before it is read
            if (fstatat(m_directory->fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) st = {};
            Ref<String> path = childPath(m_path->str(), name);
            if (S_ISREG(st.st_mode)) return Ref<File>(new HostFile(path, st, m_directory, path, name.size()));
            return Ref<FSItem>(new HostItem(path, st, m_directory, path, name.size()));
        }
        return {};
    }

  private:
    Ref<String> m_path;
    Namespace::Handle m_directory;
    DIR* m_dir;
};

} // namespace

bool HostDirectory::mayChange(const Ref<String>& name) const {
    if (!isEntryName(name)) return fail(Errors::InvalidPath);
    if (!m_writable) return fail(Errors::NotWritable);
    return true;
}

bool HostDirectory::createDirectory(const Ref<String>& name) {
    if (!mayChange(name)) return false;
    if (mkdirat(m_handle->fd(), name->c_str(), 0755) == 0) return true;
    int error = errno;
    noteWhyNotMade(name, error);
    return fail(errorFromErrno(error));
}

// Why a directory or file could not be made here, for the message that follows: the host's words
// ("Read-only file system"), or, for a directory whose name is taken (an export made earlier the
// same day, a file in the way of a level), what is there and what to do.
void HostDirectory::noteWhyNotMade(const Ref<String>& name, int error) const {
    std::string path = stdString(childPath(this->path()->str(), name->str()));
    if (error != EEXIST) {
        m_platform.notes().noteFailureCause(path + ": " + std::strerror(error));
        return;
    }
    struct stat st; // filled before it is read
    bool directory =
        fstatat(m_handle->fd(), name->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    m_platform.notes().noteFailureCause(path + (directory ? " is there already: --add-index makes a new one "
                                                            "under a numbered name"
                                                          : " is there already and is not a directory"));
}

bool HostDirectory::createFile(const Ref<String>& name) {
    if (!mayChange(name)) return false;
    int fd =
        ::openat(m_handle->fd(), name->c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        int error = errno;
        // A name that is taken is the caller's to report (a target that exists, a name to try again).
        if (error != EEXIST) noteWhyNotMade(name, error);
        return fail(errorFromErrno(error));
    }
    struct stat st; // filled before it is read
    if (fstat(fd, &st) == 0) m_platform.files().noteMadeFile(st);
    m_platform.names().keepCreated(m_handle, name->str(), fd);
    return true;
}

// unlinkat never follows a link: a link found here is removed itself, never what it names.
bool HostDirectory::remove(const Ref<String>& name) {
    if (!mayChange(name)) return false;
    int at = m_handle->fd();
    struct stat st {};
    if (fstatat(at, name->c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(errno == ENOENT ? Errors::NothingToRemove : errorFromErrno(errno));
    FileRunState& run = m_platform.files();
    bool made = run.madeByThisRun(st);
    // A name this run meant to write holds something else: what was there before, or another
    // run's file. Nothing of this run's is there to remove.
    if (!made && run.isTargetName(at, name->str())) return fail(Errors::NothingToRemove);
    // An original goes only once every copy this run wrote is on its medium.
    if (!made && S_ISREG(st.st_mode) && !run.flushWrittenFiles()) return fail(Errors::Failed);
    if (unlinkat(at, name->c_str(), 0) == 0) {
        run.noteRemovedFile();
        return true;
    }
    if ((errno == EISDIR || errno == EPERM) && unlinkat(at, name->c_str(), AT_REMOVEDIR) == 0) return true;
    return fail(errno == ENOENT ? Errors::NothingToRemove : errorFromErrno(errno));
}

Ref<Iterator> HostDirectory::iterator(unsigned, const Ref<String>&) {
    // A listing of its own (each iterator starts at the beginning) of the directory held open.
    int fd = ::openat(m_handle->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        int error = errno;
        if (fd >= 0) ::close(fd);
        // A folder whose names cannot be read ("Permission denied") fails the work that lists it.
        m_platform.notes().noteFailureCause(stdString(path()) + ": " + std::strerror(error));
        Error::set(errorFromErrno(error));
        return {};
    }
    return Ref<Iterator>(new HostIterator(path(), m_handle, dir));
}

HostEntry::~HostEntry() {
    m_names.unmount(nodeName()->str());
}

} // namespace Host

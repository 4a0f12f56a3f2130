#include "Replacement.h"
#include "HostFiles.h"
#include "HostFilesystem.h"
#include "HostPlatform.h"
#include "RunResults.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Host {
namespace {

bool fail(unsigned code) {
    Error::set(code);
    return false;
}

bool failFromErrno(int err) {
    return fail(err == EEXIST || err == ENOTEMPTY ? Errors::AlreadyExists : errorFromErrno(err));
}

// Whether a new file may take the name: a directory is never replaced, and a name to be taken only
// if free must be free.
bool mayTake(int at, const std::string& name, bool onlyIfFree) {
    struct stat st {};
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || fail(errorFromErrno(errno));
    return (S_ISREG(st.st_mode) && !onlyIfFree) || fail(Errors::AlreadyExists);
}

} // namespace

std::unique_ptr<Replacement> Replacement::create(const HostDirectory& directory, std::string name,
                                                 bool onlyIfFree) {
    if (!directory.writable() || !isEntryName(String::create(name))) {
        Error::set(Errors::InvalidPath);
        return {};
    }
    int at = directory.handle()->fd();
    // Whatever happens to this write, even if it never begins, the name is one the run aimed at:
    // a removal of what it wrote there never removes anything else.
    directory.platform().files().noteTargetName(at, name);
    if (!mayTake(at, name, onlyIfFree)) return {};
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
        int error = errno;
        directory.platform().notes().noteFailureCause(stdString(childPath(directory.path()->str(), name)) +
                                                      ": " + std::strerror(error));
        Error::set(errorFromErrno(error));
        return {};
    }
    return std::unique_ptr<Replacement>(new Replacement(directory.handle(), std::move(name), fd,
                                                        std::move(hidden), onlyIfFree, directory.platform()));
}

bool Replacement::isIn(const std::string& hostDirectory) const {
    struct stat here {
    }, there{};
    return fstat(m_directory->fd(), &here) == 0 && stat(hostDirectory.c_str(), &there) == 0 &&
           here.st_dev == there.st_dev && here.st_ino == there.st_ino;
}

// A file without a name gets a hidden one, for the rename that replaces a file in one step.
bool Replacement::giveHiddenName() {
    if (!m_hiddenName.empty()) return true;
    std::string hidden = "." + m_name + "." + std::to_string(getpid()) + ".part";
    std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    if (linkat(AT_FDCWD, self.c_str(), m_directory->fd(), hidden.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return failFromErrno(errno);
    m_hiddenName = hidden;
    return true;
}

// The name is taken only while it is free: a link fails rather than replace anything.
bool Replacement::takeFreeName() {
    int at = m_directory->fd();
    if (m_hiddenName.empty()) {
        std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        if (linkat(AT_FDCWD, self.c_str(), at, m_name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EPERM && errno != EOPNOTSUPP) return failFromErrno(errno);
        if (!giveHiddenName()) return false;
    }
    if (renameat2(at, m_hiddenName.c_str(), at, m_name.c_str(), RENAME_NOREPLACE) == 0) {
        m_hiddenName.clear();
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return failFromErrno(errno);
    // A filesystem without that rename: a second link, which fails on a taken name as well.
    if (linkat(at, m_hiddenName.c_str(), at, m_name.c_str(), 0) != 0) return failFromErrno(errno);
    unlinkat(at, m_hiddenName.c_str(), 0);
    m_hiddenName.clear();
    return true;
}

// Whatever file has the name is replaced in one rename (a directory there makes it fail).
bool Replacement::replaceName() {
    int at = m_directory->fd();
    if (!giveHiddenName()) return false;
    if (renameat(at, m_hiddenName.c_str(), at, m_name.c_str()) != 0) return failFromErrno(errno);
    m_hiddenName.clear();
    return true;
}

bool Replacement::commit() {
    if (fdatasync(m_fd) != 0) return fail(errorFromErrno(errno));
    if (!(m_onlyIfFree ? takeFreeName() : replaceName())) return false;
    m_committed = true;
    struct stat st {};
    if (fstat(m_fd, &st) == 0) m_platform.files().noteMadeFile(st);
    m_platform.notes().noteSavedFile(m_directory->fd(), m_name, m_fd);
    // The new name itself must survive a crash too.
    int directory = ::openat(m_directory->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        ::close(directory);
    }
    return true;
}

Replacement::~Replacement() {
    if (!m_hiddenName.empty()) unlinkat(m_directory->fd(), m_hiddenName.c_str(), 0);
    if (m_fd >= 0) ::close(m_fd);
}

} // namespace Host

#include "Replacement.h"
#include "HostFiles.h"
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace Host {
namespace {
bool fail(unsigned code) {
    Error::set(code);
    return false;
}
} // namespace

std::unique_ptr<Replacement>
Replacement::create(const Ref<Services::Filesystem::Client::Directory>& directory, std::string name) {
    const auto* host = directory ? dynamic_cast<const HostDirectory*>(&directory->backing()) : nullptr;
    if (!host || !host->writable() || !isEntryName(String::create(name))) {
        Error::set(directory ? Errors::InvalidPath : Errors::NotFound);
        return {};
    }
    int at = host->handle()->fd();
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
        new Replacement(host->handle(), std::move(name), fd, std::move(hidden)));
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

} // namespace Host

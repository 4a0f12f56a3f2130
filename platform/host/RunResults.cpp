#include "RunResults.h"
#include "Host.h"
#include "Namespace.h"
#include <climits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace Host {
namespace {

// Where a descriptor's file is on the host.
std::string pathOfDescriptor(int fd) {
    char path[PATH_MAX];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// Still there under that path, and still the file the run saved.
bool stillThere(const std::string& path, dev_t device, ino_t inode) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

} // namespace

void RunNotes::noteSavedFile(int fd, const std::string& platformPath) {
    if (platformPath.rfind("/users/", 0) == 0) return;
    struct stat st {};
    std::string path = pathOfDescriptor(fd);
    if (path.empty() || path[0] != '/' || fstat(fd, &st) != 0) return;
    std::lock_guard lock(m_mutex);
    m_files.push_back({path, st.st_dev, st.st_ino});
}

void RunNotes::noteSavedFile(int directoryFd, const std::string& name, int fd) {
    struct stat st {};
    std::string directory = pathOfDescriptor(directoryFd);
    if (directory.empty() || directory[0] != '/' || fstat(fd, &st) != 0) return;
    std::lock_guard lock(m_mutex);
    m_files.push_back({directory + "/" + name, st.st_dev, st.st_ino});
}

void RunNotes::noteStoredKey(const std::string& prefix, const std::string& key) {
    std::string rest = key.substr(std::min(prefix.size(), key.size()));
    std::lock_guard lock(m_mutex);
    m_tag = rest.substr(0, rest.find('/'));
}

RunResults RunNotes::takeRunResults() {
    RunResults results;
    std::vector<SavedFile> files;
    {
        std::lock_guard lock(m_mutex);
        files.swap(m_files);
        results.tag.swap(m_tag);
    }
    for (const SavedFile& file : files) {
        bool seen = false;
        for (const std::string& path : results.files)
            seen = seen || path == file.path;
        if (!seen && stillThere(file.path, file.device, file.inode)) results.files.push_back(file.path);
    }
    return results;
}

void RunNotes::noteFailureCause(const std::string& cause) {
    std::lock_guard lock(m_mutex);
    m_cause = cause;
}

std::string RunNotes::takeFailureCause() {
    std::string cause;
    std::lock_guard lock(m_mutex);
    cause.swap(m_cause);
    return cause;
}

std::string hostPathOf(Namespace::Tree& names, const std::string& platformPath) {
    unsigned error = 0;
    auto resolved = names.resolve(String::create(platformPath), error);
    if (!resolved) return {};
    int fd = names.openBeneath(*resolved, O_PATH);
    if (fd < 0) return {};
    std::string path = pathOfDescriptor(fd);
    ::close(fd);
    return path;
}

std::string shownHostPath(const std::string& hostPath) {
    std::string home = environmentOr("HOME", "");
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    if (home.size() > 1 && hostPath.rfind(home + "/", 0) == 0) return "~" + hostPath.substr(home.size());
    return hostPath;
}

} // namespace Host

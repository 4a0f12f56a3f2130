#include "FileRunState.h"
#include "platform/Error.h"
#include "platform/SysLog.h"
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Host {

bool FileRunState::claimedByAnotherRun(const struct stat& st) {
    bool changedSinceStart =
        st.st_ctim.tv_sec > m_runStart.tv_sec ||
        (st.st_ctim.tv_sec == m_runStart.tv_sec && st.st_ctim.tv_nsec >= m_runStart.tv_nsec);
    std::lock_guard lock(m_claimedMutex);
    return changedSinceStart && !m_claimedByThisRun.count({st.st_dev, st.st_ino});
}

void FileRunState::claimForThisRun(const struct stat& st) {
    std::lock_guard lock(m_claimedMutex);
    m_claimedByThisRun.insert({st.st_dev, st.st_ino});
}

void FileRunState::noteMadeFile(const struct stat& st) {
    std::lock_guard lock(m_madeMutex);
    m_madeByThisRun.add({st.st_dev, st.st_ino});
}

bool FileRunState::madeByThisRun(const struct stat& st) {
    std::lock_guard lock(m_madeMutex);
    return m_madeByThisRun.contains({st.st_dev, st.st_ino});
}

bool FileRunState::MadeFiles::contains(FileId id) {
    auto sortedEnd = m_ids.begin() + static_cast<std::ptrdiff_t>(m_sorted);
    if (m_ids.size() - m_sorted > mostUnsorted) {
        std::sort(sortedEnd, m_ids.end());
        std::inplace_merge(m_ids.begin(), sortedEnd, m_ids.end());
        m_sorted = m_ids.size();
        sortedEnd = m_ids.end();
    }
    return std::binary_search(m_ids.begin(), sortedEnd, id) ||
           std::find(sortedEnd, m_ids.end(), id) != m_ids.end();
}

void FileRunState::noteTargetName(int directoryFd, const std::string& name) {
    struct stat directory {};
    if (fstat(directoryFd, &directory) != 0) return;
    std::lock_guard lock(m_madeMutex);
    m_targetNames.insert({directory.st_dev, directory.st_ino, name});
}

bool FileRunState::isTargetName(int directoryFd, std::string_view name) {
    struct stat directory {};
    if (fstat(directoryFd, &directory) != 0) return false;
    std::lock_guard lock(m_madeMutex);
    return m_targetNames.count({directory.st_dev, directory.st_ino, std::string(name)}) != 0;
}

void FileRunState::noteFoundFree(std::string_view platformPath) {
    size_t hash = std::hash<std::string_view>()(platformPath);
    std::lock_guard lock(m_madeMutex);
    m_foundFree.push_back(hash);
}

bool FileRunState::foundFree(std::string_view platformPath) {
    size_t hash = std::hash<std::string_view>()(platformPath);
    std::lock_guard lock(m_madeMutex);
    return std::find(m_foundFree.begin(), m_foundFree.end(), hash) != m_foundFree.end();
}

void FileRunState::noteWrittenFile(int fd, dev_t device) {
    std::lock_guard lock(m_writtenMutex);
    if (m_writtenFilesystems.count(device)) return;
    int kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0) m_writtenFilesystems[device] = kept;
}

bool FileRunState::flushWrittenFiles() {
    std::map<dev_t, int> written;
    {
        std::lock_guard lock(m_writtenMutex);
        written.swap(m_writtenFilesystems);
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

} // namespace Host

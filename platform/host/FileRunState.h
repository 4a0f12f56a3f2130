#pragma once
// What a run has made, written and removed through the host's file service: the files it claimed
// and made, the names it aimed a write at, the names it found free, the filesystems it wrote to
// since they were last flushed, and how many files it removed.
#include <atomic>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <tuple>
#include <unordered_set>
#include <vector>

namespace Host {

class FileRunState {
  public:
    // A file another run opens for writing is "opened elsewhere" only while that run holds it. A
    // run that searched for a free name and then finds the name taken by a run that has already
    // finished with it must not write into that file either, so a file created or changed by
    // another process since this run started counts as opened elsewhere too. Files are known by
    // device and inode, whatever path reached them.
    bool claimedByAnotherRun(const struct stat& st);
    void claimForThisRun(const struct stat& st);

    // A run removes only what it made. The files it made (created, or published under a name) are
    // known by device and inode; the names it aimed a write at, by their directory and name. Such
    // a name is removed only while it holds a file of this run's: a failed or cancelled write
    // never takes away the file that had the name before, another run's file, or a directory.
    void noteMadeFile(const struct stat& st);
    bool madeByThisRun(const struct stat& st);
    void noteTargetName(int directoryFd, const std::string& name);
    bool isTargetName(int directoryFd, std::string_view name);

    // Whether the run looked for that (normal) platform path and found nothing there (a name
    // searched for being free): such a name is later taken only if still free.
    void noteFoundFree(std::string_view platformPath);
    bool foundFree(std::string_view platformPath);

    // Written data reaches its medium before the platform says anything that could read as
    // "saved": every file written during the run is flushed (one syncfs per filesystem) before a
    // dialog is shown and before the process ends. Failures are logged; false when a filesystem
    // could not be flushed.
    void noteWrittenFile(int fd, dev_t device);
    bool flushWrittenFiles();

    // How many files (not directories) Directory::remove has removed during the run.
    void noteRemovedFile() { m_removedFiles++; }
    unsigned long removedFileCount() const { return m_removedFiles.load(); }

  private:
    // A file's identity: its device and inode.
    using FileId = std::pair<dev_t, ino_t>;
    struct FileIdHash {
        size_t operator()(const FileId& id) const noexcept {
            return std::hash<ino_t>()(id.second) ^ (std::hash<dev_t>()(id.first) << 1);
        }
    };
    // Asked about once for every file an export or a save makes: hashed, not ordered, as a tree of
    // long paths that share their directory costs a long comparison at each of its levels.
    using FileIds = std::unordered_set<FileId, FileIdHash>;
    // The files a run made: noted for every file an export copies and asked about when a file is
    // removed. Appended as they come (a hash set's node for each cost an export 2 % of its user
    // time and three times the memory); the newest few are looked through as they are, the rest
    // kept sorted and searched.
    class MadeFiles {
      public:
        void add(FileId id) { m_ids.push_back(id); }
        bool contains(FileId id);

      private:
        static constexpr size_t mostUnsorted = 64;
        std::vector<FileId> m_ids;
        size_t m_sorted = 0; // m_ids[0, m_sorted) is in order
    };

    // When the run started, on the coarse clock file times are stamped with.
    struct timespec m_runStart = [] {
        struct timespec t {};
        clock_gettime(CLOCK_REALTIME_COARSE, &t);
        return t;
    }();
    std::mutex m_claimedMutex;
    FileIds m_claimedByThisRun;
    std::mutex m_madeMutex; // guards the three below
    MadeFiles m_madeByThisRun;
    std::set<std::tuple<dev_t, ino_t, std::string>> m_targetNames;
    // The hash of every path found free: noted for every name an export or a save looks for (a
    // hash set's nodes cost an export of 20,000 files 5 % of its time), asked once a log is saved.
    // Eight bytes a name, where the names themselves took an export of 100,000 files 6 MiB. Two
    // paths of one hash make a name count as found free: a file is then kept, never replaced.
    std::vector<size_t> m_foundFree;
    // One descriptor on each filesystem written to since the last flush.
    std::mutex m_writtenMutex;
    std::map<dev_t, int> m_writtenFilesystems;
    std::atomic<unsigned long> m_removedFiles{0};
};

} // namespace Host

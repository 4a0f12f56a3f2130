#pragma once
// A file written in full where nobody can see it (a file without a name, or a hidden name where
// the filesystem cannot make one without), then given its name in one step, so that no reader,
// concurrent run or crash ever sees it half written. Dropped without being committed, it leaves
// nothing behind.
//
// A name the run found free (looking for a name nobody has) is taken only while it is still free:
// another run that took it meanwhile keeps its file, and this one fails. Any other name (one
// chosen again on purpose) is replaced in one step, whoever's file is there; a directory never is.
#include "Namespace.h"
#include "platform/Filesystem.h"
#include <memory>
#include <string>
#include <sys/stat.h>

namespace Host {

class HostPlatform;
class HostDirectory;

class Replacement {
  public:
    // In a directory the host's file service opened for writing. Fails with
    // AlreadyExists when the name holds something that is not a file, or anything at all when it
    // is to be taken only if free.
    static std::unique_ptr<Replacement> create(const HostDirectory& directory, std::string name,
                                               bool onlyIfFree);
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    // Where the contents are written.
    int descriptor() const { return m_fd; }
    // Whether the name is in the host directory at that path.
    bool isIn(const std::string& hostDirectory) const;
    // Puts the file with its data on the medium under the name; AlreadyExists when a name to be
    // taken only if free has been taken meanwhile.
    bool commit();

  private:
    Replacement(Namespace::Handle directory, std::string name, int fd, std::string hiddenName,
                bool onlyIfFree, HostPlatform& platform)
        : m_directory(std::move(directory)), m_name(std::move(name)), m_fd(fd),
          m_hiddenName(std::move(hiddenName)), m_onlyIfFree(onlyIfFree), m_platform(platform) {}
    bool giveHiddenName();
    bool takeFreeName();
    bool replaceName();
    Namespace::Handle m_directory;
    std::string m_name;
    int m_fd;
    std::string m_hiddenName; // empty for a file without a name
    bool m_onlyIfFree;
    HostPlatform& m_platform; // whose run state and notes learn of the file
    bool m_committed = false;
};

} // namespace Host

#pragma once
// A file written in full where nobody can see it (a file without a name, or a hidden name where
// the filesystem cannot make one without), then put in place of a name in a directory with one
// rename, so that no reader, concurrent run or crash ever sees it half written. Dropped without
// being committed, it leaves nothing behind.
#include "Namespace.h"
#include "platform/Filesystem.h"
#include <memory>
#include <string>

namespace Host {

class Replacement {
  public:
    // In a directory the host's file service opened for writing (under any decorators).
    static std::unique_ptr<Replacement> create(const Ref<Services::Filesystem::Client::Directory>& directory,
                                               std::string name);
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    // Where the contents are written.
    int descriptor() const { return m_fd; }
    // Puts the file with its data on the medium in place of the name (replacing what is there).
    bool commit();

  private:
    Replacement(Namespace::Handle directory, std::string name, int fd, std::string hiddenName)
        : m_directory(std::move(directory)), m_name(std::move(name)), m_fd(fd),
          m_hiddenName(std::move(hiddenName)) {}
    Namespace::Handle m_directory;
    std::string m_name;
    int m_fd;
    std::string m_hiddenName; // empty for a file without a name
    bool m_committed = false;
};

} // namespace Host

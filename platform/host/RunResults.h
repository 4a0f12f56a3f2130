#pragma once
// What a run produced that its user, or a script, looks for afterwards: where the files it saved
// are on the host, and the tag of what it uploaded; and why the last thing failed. Success messages show the
// host paths under the platform's (the terminal and headless backends); a headless run prints them, or the
// tag, on standard output, so that `tag=$(scrivletv2 -m file-upload x)` works.
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Namespace {
class Tree;
} // namespace Namespace

namespace Host {

struct RunResults {
    std::vector<std::string> files; // host paths, each once, of files still there
    std::string tag;
};

// What the run has noted of its results and of its last failure, until they are taken.
class RunNotes {
  public:
    // A file the run has just created or published, through its descriptor (the platform's own
    // state below /users is not a result).
    void noteSavedFile(int fd, const std::string& platformPath);
    // A file the run has just given a name in a directory it holds open.
    void noteSavedFile(int directoryFd, const std::string& name, int fd);
    // An object stored under "<prefix><tag>/<name>".
    void noteStoredKey(const std::string& prefix, const std::string& key);
    // The results noted since the last call, which are then forgotten.
    RunResults takeRunResults();
    // What the platform knows of why the last thing failed ("/x: No such file or directory", the
    // store's answer), shown under the next failure message; taken, it is forgotten.
    void noteFailureCause(const std::string& cause);
    std::string takeFailureCause();

  private:
    struct SavedFile {
        std::string path;
        dev_t device;
        ino_t inode;
    };
    std::mutex m_mutex;
    std::vector<SavedFile> m_files;
    std::string m_tag;
    std::string m_cause;
};

// The host path of a platform path that exists now in `names`, or "".
std::string hostPathOf(Namespace::Tree& names, const std::string& platformPath);

// A host path as a person reads it: the home directory as "~".
std::string shownHostPath(const std::string& hostPath);

} // namespace Host

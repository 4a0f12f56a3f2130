#pragma once
// What a run produced that its user, or a script, looks for afterwards: where the files it saved
// are on the host, and the tag of what it uploaded; and why the last thing failed. Success messages show the
// host paths under the platform's (the terminal and headless backends); a headless run prints them, or the
// tag, on standard output, so that `tag=$(scrivletv2 -m file-upload x)` works.
#include <string>
#include <sys/types.h>
#include <vector>

namespace Host {

// A file the run has just created or published, through its descriptor (the platform's own state
// below /users is not a result).
void noteSavedFile(int fd, const std::string& platformPath);
// A file the run has just given a name in a directory it holds open.
void noteSavedFile(int directoryFd, const std::string& name, int fd);
// An object stored under "<prefix><tag>/<name>".
void noteStoredKey(const std::string& prefix, const std::string& key);

struct RunResults {
    std::vector<std::string> files; // host paths, each once, of files still there
    std::string tag;
};
// The results noted since the last call, which are then forgotten.
RunResults takeRunResults();
// The host path of a platform path that exists now, or "".
std::string hostPathOf(const std::string& platformPath);
// What the platform knows of why the last thing failed ("/x: No such file or directory", the
// store's answer), shown under the next failure message; taken, it is forgotten.
void noteFailureCause(const std::string& cause);
std::string takeFailureCause();

// A host path as a person reads it: the home directory as "~".
std::string shownHostPath(const std::string& hostPath);

} // namespace Host

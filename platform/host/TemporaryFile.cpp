#include "TemporaryFile.h"
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace Host {

int anonymousTemporaryFile() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string pattern = dir + "/scrivlet-XXXXXX";
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(pattern.c_str());
    return fd;
}

} // namespace Host

#include "WholeTransfers.h"
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace Host {

bool writeAll(int fd, const void* data, size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool copyAll(int from, int to, uint64_t length) {
    off_t at = 0;
    while (length > 0) {
        constexpr uint64_t mostAtOnce = 1 << 30;
        ssize_t n =
            copy_file_range(from, &at, to, nullptr, static_cast<size_t>(std::min(length, mostAtOnce)), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        length -= static_cast<uint64_t>(n);
    }
    return true;
}

} // namespace Host

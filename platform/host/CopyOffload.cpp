// The copy offload of one block: the kernel's copy between the files mapped onto it.
#include "CopyOffload.h"
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace Host {

size_t CopyOffload::copy(HostFile& source, size_t wanted, uint64_t sourceSize) {
    m_copied = {};
    if (!m_destination || m_refused) return 0;
    uint64_t from = source.position(), to = m_destination->position();
    if (size_t done = m_ahead.covered(source, from, to, wanted, sourceSize)) {
        m_copied = {m_destination, done};
        return done;
    }
    uint64_t span = wanted;
    if (from < sourceSize)
        span = std::max<uint64_t>(wanted, std::min<uint64_t>(aheadBytes, sourceSize - from));
    loff_t in = static_cast<loff_t>(from);
    loff_t out = static_cast<loff_t>(to);
    uint64_t moved = 0;
    while (moved < span) {
        ssize_t n = copy_file_range(source.fd(), &in, m_destination->fd(), &out, span - moved, 0);
        if (n > 0) {
            moved += static_cast<uint64_t>(n);
            if (static_cast<uint64_t>(in) >= sourceSize) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    // Stopped before this block was whole (refused for this pair, a side failing or full, the
    // source cut short): not asked again for this pair, and the plain read and write redo the
    // whole block, so that the read is never short before the end and each side reports its
    // own failure. Stopped later in the span: the blocks up to there are copied, and the block
    // where it stopped finds out the same way.
    if (moved < wanted && static_cast<uint64_t>(in) < sourceSize) {
        m_refused = true;
        m_ahead = {};
        return 0;
    }
    m_ahead = {&source, from, to, from + moved};
    size_t done = static_cast<size_t>(std::min<uint64_t>(wanted, moved));
    m_copied = {m_destination, done};
    return done;
}

} // namespace Host

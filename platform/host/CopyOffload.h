#pragma once
// The kernel's copy between the two files of a copy mapped onto one block.
#include "HostFiles.h"
#include <cstddef>
#include <cstdint>
#include <memory>
#include <typeinfo>

namespace Host {

// The copy offload of one block. With a source and a destination of the host mapped onto the
// same block, the source's read asks the kernel to copy straight into the destination
// (copy_file_range) and notes how much it moved; the destination's write of exactly that much then
// only moves its position on. Where the kernel cannot copy between the pair, the read falls back
// to reading into the block and the write writes it out: each side reports its own failures
// either way, and a source that fails mid-copy is a failing read, never a failing write.
class CopyOffload : public ShMem::Attachment {
  public:
    static CopyOffload& of(ShMem& memory) {
        if (!memory.attachment()) memory.attach(std::make_unique<CopyOffload>());
        return static_cast<CopyOffload&>(*memory.attachment());
    }
    static CopyOffload* find(const ShMem& memory) { return static_cast<CopyOffload*>(memory.attachment()); }

    void setDestination(HostFile* destination) {
        m_destination = destination;
        m_refused = false;
        m_copied = {};
        m_ahead = {};
    }
    void dropDestination(const HostFile* destination) {
        if (m_destination != destination) return;
        m_destination = nullptr;
        m_copied = {};
        m_ahead = {};
    }

    // Copies `wanted` bytes from the source's position to the destination's, or fewer where the
    // source ends (at the size it had when it was opened: asking again would only hear its end).
    // The kernel is asked for a span of up to `aheadBytes` at once, so that a copy in small
    // blocks does not pay a call per block; later blocks inside that span are copied already.
    // 0 when there is no destination or the kernel did not copy them all: the caller reads the
    // bytes itself.
    size_t copy(HostFile& source, size_t wanted, uint64_t sourceSize);

    // Whether the last copy moved exactly `bytes` into `destination`; forgets it either way.
    bool takeCopied(const HostFile& destination, size_t bytes) {
        bool copied = m_copied.to == &destination && m_copied.bytes == bytes;
        m_copied = {};
        return copied;
    }

  private:
    static constexpr uint64_t aheadBytes = 1 << 20;

    // What the kernel has copied already: the source's bytes [sourceFrom, end) at the same
    // distance from destinationFrom in the destination.
    struct Ahead {
        const HostFile* source = nullptr;
        uint64_t sourceFrom = 0;
        uint64_t destinationFrom = 0;
        uint64_t end = 0;

        // How much of the block at `from` (and `to` in the destination) is copied already: all of
        // it, or what is left of the source; 0 when the block is not inside.
        size_t covered(const HostFile& s, uint64_t from, uint64_t to, size_t wanted,
                       uint64_t sourceSize) const {
            if (source != &s || from < sourceFrom || from >= end || to - destinationFrom != from - sourceFrom)
                return 0;
            if (from + wanted <= end) return wanted;
            return end >= sourceSize ? static_cast<size_t>(end - from) : 0;
        }
    };

    HostFile* m_destination = nullptr;
    bool m_refused = false;
    Ahead m_ahead;
    struct {
        const HostFile* to = nullptr;
        size_t bytes = 0;
    } m_copied;
};

// The block's offload when `buffer` is a mapping this file made on the given side. A mapping has one
// exact type, so that type is compared rather than searched for: this is asked at every read and
// write of a copy.
inline CopyOffload* offloadOf(TransferMemory& buffer, const HostFile& file, bool destination) {
    if (typeid(buffer) != typeid(Services::Filesystem::Client::FileMapping)) return nullptr;
    auto& mapping = static_cast<Services::Filesystem::Client::FileMapping&>(buffer);
    if (mapping.file() != &file || mapping.isDestination() != destination) return nullptr;
    return CopyOffload::find(*mapping.memory());
}

} // namespace Host

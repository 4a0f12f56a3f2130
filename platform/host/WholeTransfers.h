#pragma once
// Writes and copies through descriptors that go on until every byte has moved, or fail.
#include <cstddef>
#include <cstdint>

namespace Host {

// Writes all `length` bytes at the descriptor's position; false when it cannot.
bool writeAll(int fd, const void* data, size_t length);
// Copies the first `length` bytes of `from` to the position of `to`, in the kernel; false when the
// copy stops short.
bool copyAll(int from, int to, uint64_t length);

} // namespace Host

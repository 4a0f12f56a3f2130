#pragma once
// Temporary files without a name, so that no interruption can leave one behind.

namespace Host {

// A file opened for reading and writing in $TMPDIR (or /tmp): O_TMPFILE where the filesystem has
// it, else one unlinked at once. -1 (errno set) when none can be made.
int anonymousTemporaryFile();

} // namespace Host

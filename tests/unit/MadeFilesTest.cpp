// The files a run made, known by device and inode: asked about whichever order they were noted in,
// among the newest or long sorted away, and never mistaken for another device's file.
#include "platform/host/FileRunState.h"
#include <gtest/gtest.h>

namespace {

struct stat fileId(dev_t device, ino_t inode) {
    struct stat st {};
    st.st_dev = device;
    st.st_ino = inode;
    return st;
}

// Inodes out of order, as a filesystem hands them out.
ino_t inode(ino_t i) {
    return (i * 7919) % 100000 + 1;
}

TEST(MadeFiles, EveryFileNotedIsFoundAndNoOther) {
    Host::FileRunState run;
    auto note = [&run](ino_t from, ino_t to) {
        for (ino_t i = from; i < to; i++)
            run.noteMadeFile(fileId(1, inode(i)));
    };
    auto allFound = [&run](ino_t to) {
        for (ino_t i = 0; i < to; i++)
            if (!run.madeByThisRun(fileId(1, inode(i)))) return false;
        return true;
    };
    // Two bursts long enough to be sorted away, each asked about, then a few newest ones.
    constexpr ino_t burst = 300, newest = 5;
    note(0, burst);
    EXPECT_TRUE(allFound(burst));
    note(burst, 2 * burst);
    EXPECT_TRUE(allFound(2 * burst));
    note(2 * burst, 2 * burst + newest);
    EXPECT_TRUE(allFound(2 * burst + newest));
    EXPECT_FALSE(run.madeByThisRun(fileId(2, inode(0))));
    EXPECT_FALSE(run.madeByThisRun(fileId(1, inode(2 * burst + newest))));
}

} // namespace

// The host's copy between two files mapped onto one block: the kernel moves the bytes without the
// block, an unmapped side falls back to the block, and a side that fails reports on its own side.
#include "UnitPlatform.h"
#include "platform/Filesystem.h"
#include "platform/host/Host.h"
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace Services::Filesystem::Client;

constexpr size_t blockSize = 0x10000;
constexpr uint8_t untouched = 0xAA;

class CopyOffload : public ::testing::Test {
  protected:
    void SetUp() override {
        unitPlatform().config();
        directory = fs::path(std::getenv("ORVANE_ROOT")) / "fs" / "users" /
                    "offload"; // below a directory the platform had at start
        fs::remove_all(directory);
        fs::create_directories(directory);
        std::mt19937 random(7);
        data.resize(5 * blockSize + 123);
        for (char& c : data)
            c = static_cast<char>(random());
        std::ofstream(directory / "source.bin", std::ios::binary) << data;
        block = ShMem::create(blockSize);
        ASSERT_TRUE(block);
        source = File::open(String::create("/users/offload/source.bin"), OpenMode::Source);
        destination = File::open(String::create("/users/offload/copy.bin"), OpenMode::Destination);
        ASSERT_TRUE(source && destination);
        std::memset(block->data(), untouched, blockSize);
    }

    std::string contentsOf(const char* name) const {
        std::ifstream in(directory / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool blockUntouched() const {
        return std::all_of(block->data(), block->data() + blockSize,
                           [](uint8_t b) { return b == untouched; });
    }

    // Copies the source to the destination as the save engine does; false at the first short write,
    // with `readFailed` telling which side stopped it.
    bool copy(File& source, TransferMemory& in, File& destination, TransferMemory& out) {
        for (;;) {
            size_t n = source.read(in, blockSize, waitForever);
            if (n == 0) {
                readFailed = Error::get() != Errors::EndOfFile;
                return !readFailed;
            }
            // A short read is the end of the file to the save engine and the export.
            if (n < blockSize && source.position() < data.size()) shortBeforeTheEnd = true;
            if (destination.write(out, n, waitForever) != n) return false;
        }
    }

    fs::path directory;
    std::string data;
    Ref<File> source;
    Ref<File> destination;
    Ref<ShMem> block;
    bool readFailed = false;
    bool shortBeforeTheEnd = false;
};

TEST_F(CopyOffload, AMappedPairIsCopiedWithoutPassingThroughTheBlock) {
    Ref<FileMapping> in = source->map(block), out = destination->map(block);
    ASSERT_TRUE(in && out);
    EXPECT_TRUE(copy(*source, *in, *destination, *out));
    EXPECT_FALSE(shortBeforeTheEnd);
    destination->unmap(out);
    source->unmap(in);
    destination.reset();
    EXPECT_EQ(contentsOf("copy.bin"), data);
    EXPECT_TRUE(blockUntouched());
}

// The kernel copies a span ahead of the block asked for; a block is taken as copied only where
// the span put it: the same source bytes read again for another place in the destination are
// copied again.
TEST_F(CopyOffload, TheSourceReadAgainForAnotherPlaceIsCopiedAgain) {
    Ref<FileMapping> in = source->map(block), out = destination->map(block);
    ASSERT_TRUE(in && out);
    // Two blocks, then the whole source again after them.
    for (int i = 0; i < 2; i++)
        ASSERT_EQ(destination->write(*out, source->read(*in, blockSize, waitForever), waitForever),
                  blockSize);
    source->setPosition(0);
    EXPECT_TRUE(copy(*source, *in, *destination, *out));
    destination->unmap(out);
    source->unmap(in);
    destination.reset();
    EXPECT_EQ(contentsOf("copy.bin"), data.substr(0, 2 * blockSize) + data);
    EXPECT_TRUE(blockUntouched());
}

TEST_F(CopyOffload, AnUnmappedDestinationGetsTheBytesThroughTheBlock) {
    Ref<FileMapping> in = source->map(block);
    ASSERT_TRUE(in);
    EXPECT_TRUE(copy(*source, *in, *destination, *block));
    destination.reset();
    EXPECT_EQ(contentsOf("copy.bin"), data);
    EXPECT_FALSE(blockUntouched());
}

// The kernel stops copying at the file-size limit, part way through a chunk. The source is fine, so
// the read falls back to the block and reads the whole chunk (a short read would end the copy
// there as if the file had ended), and the write is what fails.
TEST_F(CopyOffload, ADestinationThatCannotGrowIsAFailingWriteNotAFailingRead) {
    Ref<FileMapping> in = source->map(block), out = destination->map(block);
    ASSERT_TRUE(in && out);

    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit limited = before;
    limited.rlim_cur = 2 * blockSize + 100;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool copied = copy(*source, *in, *destination, *out);
    unsigned code = Error::get();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(copied);
    EXPECT_FALSE(readFailed);
    EXPECT_FALSE(shortBeforeTheEnd);
    EXPECT_EQ(code, errorFromErrno(EFBIG));
}

// A copy is stamped with the time its source had when the copy began: a source changed meanwhile
// leaves a copy that looks older than it is (copied again later), never one that looks newer.
TEST_F(CopyOffload, ASourceAnswersTheModificationTimeItWasOpenedWith) {
    Ref<Variant> atOpen = source->getAtr("TIME.MODIFY");
    ASSERT_TRUE(atOpen && atOpen->count() == 1);
    fs::last_write_time(directory / "source.bin",
                        fs::last_write_time(directory / "source.bin") + std::chrono::hours(1));
    Ref<Variant> later = source->getAtr("TIME.MODIFY");
    ASSERT_TRUE(later && later->count() == 1);
    EXPECT_EQ(later->entry(0).integer, atOpen->entry(0).integer);

    Ref<File> reopened = File::open(String::create("/users/offload/source.bin"), OpenMode::Source);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->getAtr("TIME.MODIFY")->entry(0).integer, atOpen->entry(0).integer + 3600 * 1000);
}

// A file removed while it is written (its directory removed, a drive pulled) would take the rest
// of the copy into a file nobody can reach: a write fails instead, within the time between two
// looks at the file, whether or not anything was written before.
TEST_F(CopyOffload, AFileRemovedWhileWrittenFailsAWrite) {
    constexpr auto pastTheNextLook = std::chrono::milliseconds(50);
    Ref<File> removedFirst = File::open(String::create("/users/offload/first.bin"), OpenMode::Destination);
    ASSERT_TRUE(removedFirst);
    fs::remove(directory / "first.bin");
    std::this_thread::sleep_for(pastTheNextLook);
    Error::set(0);
    EXPECT_EQ(removedFirst->write(*block, blockSize, waitForever), 0u);
    EXPECT_EQ(Error::get(), Errors::NotFound);

    Ref<File> removedLater = File::open(String::create("/users/offload/later.bin"), OpenMode::Destination);
    ASSERT_TRUE(removedLater);
    ASSERT_EQ(removedLater->write(*block, blockSize, waitForever), blockSize);
    fs::remove(directory / "later.bin");
    std::this_thread::sleep_for(pastTheNextLook);
    Error::set(0);
    EXPECT_EQ(removedLater->write(*block, blockSize, waitForever), 0u);
    EXPECT_EQ(Error::get(), Errors::NotFound);
}

} // namespace

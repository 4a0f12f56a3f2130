// The parallel gzip writer: whatever the input's size, its members read back as the input.
#include "platform/host/GzipWriter.h"
#include "support/Sandbox.h"
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace Testing;

namespace {

// `threads`: the writer's own threads; -1 for its default (every core).
std::string compressed(const std::string& input, size_t piece, int threads = -1) {
    char name[] = "/tmp/scrivlet-gzip-XXXXXX";
    int fd = mkstemp(name);
    std::unique_ptr<SysLog::GzipWriter> made =
        threads < 0 ? std::make_unique<SysLog::GzipWriter>(fd)
                    : std::make_unique<SysLog::GzipWriter>(fd, static_cast<unsigned>(threads));
    SysLog::GzipWriter& writer = *made;
    for (size_t at = 0; at < input.size(); at += piece)
        EXPECT_TRUE(writer.write(input.data() + at, std::min(piece, input.size() - at)));
    EXPECT_TRUE(writer.finish());
    std::string bytes = readFile(name);
    unlink(name);
    return bytes;
}

std::string text(size_t size) {
    std::string out;
    for (size_t i = 0; out.size() < size; i++)
        out += "2026-01-02T00:00:00.000Z L1 scrivlet[" + std::to_string(i % 977) + "]: line " +
               std::to_string(i) + "\n";
    out.resize(size);
    return out;
}

TEST(GzipWriter, ReadsBackAsTheInputAcrossChunkBoundaries) {
    const size_t chunk = SysLog::GzipWriter::chunkBytes;
    for (size_t size : {size_t{1}, chunk - 1, chunk, chunk + 1, 5 * chunk + 12345}) {
        std::string input = text(size);
        for (size_t piece : {size_t{4096}, chunk + 7}) {
            std::string bytes = compressed(input, piece);
            EXPECT_TRUE(gunzip(bytes) == input) << size << " bytes in pieces of " << piece;
        }
    }
}

// Where no thread can be started the caller's thread compresses, and the result is the same.
TEST(GzipWriter, WithoutThreadsOfItsOwnTheCallerCompresses) {
    std::string input = text(3 * SysLog::GzipWriter::chunkBytes + 99);
    EXPECT_TRUE(gunzip(compressed(input, 4096, 0)) == input);
    EXPECT_TRUE(gunzip(compressed(input, 4096, 1)) == input);
}

TEST(GzipWriter, NoInputIsStillAGzipFile) {
    std::string bytes = compressed("", 1);
    ASSERT_GE(bytes.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x1F);
    EXPECT_EQ(gunzip(bytes), "");
}

TEST(GzipWriter, AtLeastAsSmallAsGzipSix) {
    std::string input = text(3 * SysLog::GzipWriter::chunkBytes);
    std::string bytes = compressed(input, 65536);
    uLongf zlibSize = compressBound(input.size());
    std::vector<Bytef> zlibBytes(zlibSize);
    ASSERT_EQ(
        compress2(zlibBytes.data(), &zlibSize, reinterpret_cast<const Bytef*>(input.data()), input.size(), 6),
        Z_OK);
    // One member per MiB costs its header and a fresh window; no more than 2 % together.
    EXPECT_LE(bytes.size(), zlibSize + zlibSize / 50) << "zlib -6: " << zlibSize;
}

TEST(GzipWriter, AFileThatCannotBeWrittenFails) {
    int fd = open("/dev/null", O_RDONLY);
    SysLog::GzipWriter writer(fd);
    std::string input = text(3 * SysLog::GzipWriter::chunkBytes);
    bool wrote = writer.write(input.data(), input.size());
    EXPECT_FALSE(wrote && writer.finish());
}

} // namespace

// The parallel gzip writer: whatever the input's size, its members read back as the input.
#include "platform/host/GzipWriter.h"
#include "support/Sandbox.h"
#include <atomic>
#include <cctype>
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

// A filter sees chunks that end where it says, several at once, and its output is what is written.
TEST(GzipWriter, AFilterRewritesChunksThatEndWhereItSays) {
    std::string input = text(3 * SysLog::GzipWriter::chunkBytes + 999) + "\nlast line without its end";
    std::atomic<bool> cutInsideALine{false};
    SysLog::GzipWriter::ChunkFilter upper{
        [&](std::string& chunk) {
            if (chunk.back() != '\n' && chunk.find("without") == std::string::npos) cutInsideALine = true;
            for (char& c : chunk)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        },
        [](std::string_view text) {
            size_t feed = text.rfind('\n');
            return feed == std::string_view::npos ? 0 : feed + 1;
        }};
    char name[] = "/tmp/scrivlet-gzip-XXXXXX";
    SysLog::GzipWriter writer(mkstemp(name), upper);
    for (size_t at = 0; at < input.size(); at += 4099)
        ASSERT_TRUE(writer.write(input.data() + at, std::min<size_t>(4099, input.size() - at)));
    ASSERT_TRUE(writer.finish());
    std::string expected = input;
    for (char& c : expected)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(gunzip(readFile(name)) == expected);
    EXPECT_FALSE(cutInsideALine);
    unlink(name);
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

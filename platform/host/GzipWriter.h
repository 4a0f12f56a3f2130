#pragma once
// Writes a gzip file as independent members of 1 MiB of input each, compressed with libdeflate on
// every core while the caller goes on producing. Any gzip reader reads the members as one stream
// (RFC 1952, 2.2); memory stays a few chunks per core whatever the size of the input.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace SysLog {

class GzipWriter {
  public:
    // Work done on each chunk's text on the compressing threads, before it is compressed (several
    // chunks at once): `transform` rewrites a chunk; `chunkEnd` says where the text written so far
    // may end one (0: not yet), so that no chunk ends where the transform must see more.
    struct ChunkFilter {
        std::function<void(std::string&)> transform;
        std::function<size_t(std::string_view)> chunkEnd;
    };
    // Writes to `fd`, which it closes when it finishes or is destroyed, compressing on up to
    // `mostThreads` threads of its own (every core by default); with none, or when no thread can be
    // started, it compresses on the caller's thread.
    explicit GzipWriter(int fd);
    GzipWriter(int fd, unsigned mostThreads);
    GzipWriter(int fd, ChunkFilter filter);
    ~GzipWriter();
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;

    bool write(const void* data, size_t length);
    // Compresses and writes what is left; true when every byte reached the file. A file that got no
    // byte at all is still a gzip file (one empty member), unless it `continues` another's bytes.
    bool finish(bool continues = false);

    static constexpr size_t chunkBytes = 1024 * 1024;
    static constexpr int level = 6; // gzip -6's size, at several times its speed

  private:
    struct Chunk {
        std::string input;
        std::vector<uint8_t> output;
        bool compressed = false;
        bool failed = false;
    };
    void submit();
    bool writeFiltered(const char* data, size_t length);
    bool prepare(Chunk& chunk);
    bool writeOldest();
    void work();

    int m_fd;
    ChunkFilter m_filter;
    std::shared_ptr<Chunk> m_filling;
    std::deque<std::shared_ptr<Chunk>> m_inOrder; // submitted, written out in this order
    std::deque<std::shared_ptr<Chunk>> m_waiting; // submitted, not yet taken by a worker
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::thread> m_workers;
    size_t m_mostInFlight;
    bool m_stopping = false;
    bool m_failed = false;
    bool m_wroteAny = false;
};

} // namespace SysLog

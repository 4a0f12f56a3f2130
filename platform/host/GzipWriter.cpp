#include "GzipWriter.h"
#include "WholeTransfers.h"
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <libdeflate.h>
#include <unistd.h>

namespace SysLog {
namespace {

constexpr unsigned mostWorkers = 8;
// Chunks submitted per worker before the producer waits: enough to keep every core busy.
constexpr size_t chunksPerWorker = 2;

// One compressor per worker thread, kept for the thread's life.
bool compress(const std::string& input, std::vector<uint8_t>& output) {
    struct Compressor {
        libdeflate_compressor* c = libdeflate_alloc_compressor(GzipWriter::level);
        ~Compressor() { libdeflate_free_compressor(c); }
    };
    thread_local Compressor compressor;
    if (!compressor.c) return false;
    output.resize(libdeflate_gzip_compress_bound(compressor.c, input.size()));
    size_t n =
        libdeflate_gzip_compress(compressor.c, input.data(), input.size(), output.data(), output.size());
    output.resize(n);
    return n > 0;
}

} // namespace

GzipWriter::GzipWriter(int fd)
    : GzipWriter(fd, std::clamp(std::thread::hardware_concurrency(), 1u, mostWorkers)) {}

GzipWriter::GzipWriter(int fd, ChunkFilter filter) : GzipWriter(fd) {
    m_filter = std::move(filter);
}

GzipWriter::GzipWriter(int fd, unsigned mostThreads) : m_fd(fd), m_filling(std::make_shared<Chunk>()) {
    m_filling->input.reserve(chunkBytes);
    for (unsigned i = 0; i < mostThreads; i++) {
        try {
            m_workers.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            break; // the process is at its thread limit: the threads started so far do the work
        }
    }
    m_mostInFlight = std::max<size_t>(m_workers.size(), 1) * chunksPerWorker;
}

GzipWriter::~GzipWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
    if (m_fd >= 0) ::close(m_fd);
}

void GzipWriter::work() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_waiting.empty()) return;
        std::shared_ptr<Chunk> chunk = m_waiting.front();
        m_waiting.pop_front();
        lock.unlock();
        bool ok = prepare(*chunk);
        lock.lock();
        chunk->failed = !ok;
        chunk->compressed = true;
        m_changed.notify_all();
    }
}

void GzipWriter::submit() {
    if (m_filling->input.empty()) return;
    {
        std::lock_guard lock(m_mutex);
        m_inOrder.push_back(m_filling);
        m_waiting.push_back(m_filling);
    }
    m_changed.notify_all();
    m_filling = std::make_shared<Chunk>();
    m_filling->input.reserve(chunkBytes);
}

// Waits for the oldest submitted chunk and writes it.
bool GzipWriter::writeOldest() {
    std::shared_ptr<Chunk> oldest;
    if (m_workers.empty()) {
        // No thread of its own: the oldest chunk is also the next waiting one, compressed here.
        oldest = m_inOrder.front();
        m_inOrder.pop_front();
        m_waiting.pop_front();
        oldest->failed = !prepare(*oldest);
        oldest->compressed = true;
    } else {
        std::unique_lock lock(m_mutex);
        oldest = m_inOrder.front();
        m_changed.wait(lock, [&] { return oldest->compressed; });
        m_inOrder.pop_front();
    }
    if (oldest->failed || !Host::writeAll(m_fd, oldest->output.data(), oldest->output.size()))
        m_failed = true;
    m_wroteAny = true;
    return !m_failed;
}

// A chunk's text filtered and compressed, and then let go.
bool GzipWriter::prepare(Chunk& chunk) {
    if (m_filter.transform) m_filter.transform(chunk.input);
    bool ok = compress(chunk.input, chunk.output);
    std::string().swap(chunk.input);
    return ok;
}

// Chunks end where the filter lets them, and grow until it does (a line with no end is cut at
// four chunks, so that memory stays bounded).
bool GzipWriter::writeFiltered(const char* data, size_t length) {
    m_filling->input.append(data, length);
    while (!m_failed && m_filling->input.size() >= chunkBytes) {
        size_t end = m_filter.chunkEnd(m_filling->input);
        constexpr size_t longestChunk = 4 * chunkBytes;
        if (end == 0 && m_filling->input.size() < longestChunk) break;
        if (end == 0) end = m_filling->input.size();
        std::string rest = m_filling->input.substr(end);
        m_filling->input.resize(end);
        submit();
        m_filling->input = std::move(rest);
        while (m_inOrder.size() >= m_mostInFlight && writeOldest()) {
        }
    }
    return !m_failed;
}

bool GzipWriter::write(const void* data, size_t length) {
    if (m_filter.chunkEnd) return writeFiltered(static_cast<const char*>(data), length);
    const char* bytes = static_cast<const char*>(data);
    while (length > 0 && !m_failed) {
        size_t n = std::min(length, chunkBytes - m_filling->input.size());
        m_filling->input.append(bytes, n);
        bytes += n;
        length -= n;
        if (m_filling->input.size() < chunkBytes) break;
        submit();
        while (m_inOrder.size() >= m_mostInFlight && writeOldest()) {
        }
    }
    return !m_failed;
}

bool GzipWriter::finish(bool continues) {
    if (!m_wroteAny && !continues) {
        std::vector<uint8_t> empty;
        if (!compress({}, empty) || !Host::writeAll(m_fd, empty.data(), empty.size())) m_failed = true;
    }
    submit();
    while (!m_inOrder.empty())
        writeOldest();
    bool closed = m_fd >= 0 && ::close(m_fd) == 0;
    m_fd = -1;
    return !m_failed && closed;
}

} // namespace SysLog

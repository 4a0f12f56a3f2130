// The S3 client's uploads: one PUT with its checksum, or a multipart upload; the reachability
// check; and how an answer decides what comes next.
#include "S3Client.h"
#include "RunResults.h"
#include "S3Request.h"
#include "platform/SysLog.h"
#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <libdeflate.h>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <zlib.h>

namespace Libraries::Tarnhold::Remote {

using Services::Filesystem::Client::File;

namespace {

constexpr std::chrono::seconds joiningPartsLimit{15 * 60};
constexpr size_t digestChunk = 256 * 1024;
// The checksum of a single PUT is computed on every core, each taking at least this much.
constexpr uint64_t checksumShare = 16 * MiB;
constexpr unsigned mostChecksumWorkers = 8;
constexpr std::chrono::milliseconds firstBackoff{200};
constexpr std::chrono::milliseconds longestBackoff{10000};

bool isMd5Etag(const std::string& etag) {
    return etag.size() == 32 &&
           std::all_of(etag.begin(), etag.end(), [](char c) { return std::isxdigit(c); });
}

// The MD5 of a range of the file, read through its own reader; empty with `error` set when the
// range cannot be read whole.
struct Digest {
    std::string md5;
    unsigned error = 0;
};

Digest digestRange(const Crypto& crypto, File& file, uint64_t offset, uint64_t length,
                   const std::atomic<bool>* stop = nullptr) {
    Digest result;
    Crypto::Md5 hash(crypto);
    std::vector<char> buffer(
        static_cast<size_t>(std::min<uint64_t>(digestChunk, std::max<uint64_t>(length, 1))));
    file.setPosition(offset);
    for (uint64_t left = length; left > 0;) {
        size_t n =
            file.readBytes(buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
        if (n == 0) {
            unsigned code = Error::get();
            result.error = code != 0 && code != Errors::EndOfFile ? code : Errors::IoError;
            return result;
        }
        hash.update(buffer.data(), n);
        left -= n;
        if (stop && *stop) {
            result.error = Errors::Cancelled;
            return result;
        }
    }
    result.md5 = hash.finish();
    return result;
}

// The CRC-32 of the first `length` bytes of the file, as S3's "x-amz-checksum-crc32" names it (the
// four bytes in network order, in base64). Each core sums a range of its own through a reader of
// its own (libdeflate's CRC-32, three times zlib's speed here), and the sums are joined (zlib's
// combination); empty with `error` set when the file cannot be read whole.
struct Checksum {
    std::string crc32;
    unsigned error = 0;
};

Checksum checksumOf(const Crypto& crypto, File& file, uint64_t length) {
    unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, mostChecksumWorkers);
    uint64_t workers = std::clamp<uint64_t>(length / checksumShare, 1, cores);
    uint64_t share = (length + workers - 1) / workers;
    struct Range {
        uLong crc = 0;
        uint64_t length = 0;
        unsigned error = 0;
    };
    std::vector<Range> ranges(workers);
    auto sum = [&file, share, length](Range& range, uint64_t offset) {
        Ref<File> reader = file.duplicate();
        if (!reader || !reader->setPosition(offset)) {
            range.error = Error::get() ? static_cast<unsigned>(Error::get()) : Errors::IoError;
            return;
        }
        std::vector<unsigned char> buffer(digestChunk);
        range.length = std::min(share, length - offset);
        for (uint64_t left = range.length; left > 0;) {
            size_t n = reader->readBytes(buffer.data(),
                                         static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
            if (n == 0) {
                unsigned code = Error::get();
                range.error = code != 0 && code != Errors::EndOfFile ? code : Errors::IoError;
                return;
            }
            range.crc = libdeflate_crc32(static_cast<uint32_t>(range.crc), buffer.data(), n);
            left -= n;
        }
    };
    // A range whose thread cannot be started (the process is at its limit) is summed here.
    std::vector<std::thread> threads;
    std::vector<uint64_t> here{0};
    for (uint64_t i = 1; i < workers; i++) {
        try {
            threads.emplace_back(sum, std::ref(ranges[i]), i * share);
        } catch (const std::system_error&) {
            here.push_back(i);
        }
    }
    for (uint64_t i : here)
        sum(ranges[i], i * share);
    for (std::thread& thread : threads)
        thread.join();

    Checksum result;
    uLong crc = ranges[0].crc;
    for (const Range& range : ranges) {
        if (range.error) {
            result.error = range.error;
            return result;
        }
        if (&range != &ranges[0]) crc = crc32_combine64(crc, range.crc, static_cast<z_off64_t>(range.length));
    }
    const char bytes[] = {static_cast<char>(crc >> 24), static_cast<char>(crc >> 16),
                          static_cast<char>(crc >> 8), static_cast<char>(crc)};
    result.crc32 = crypto.base64(std::string(bytes, sizeof bytes));
    return result;
}

} // namespace

bool Response::succeeded() const {
    return code == CURLE_OK && status >= 200 && status < 300 && !errorInBody && !cancelled &&
           sourceError == 0 && refusedOption.empty();
}

std::string Response::storeCode() const {
    return xmlValue(body, "Code");
}

std::string Response::storeMessage() const {
    return xmlValue(body, "Message");
}

std::string xmlValue(const std::string& xml, const std::string& name) {
    std::string open = "<" + name + ">", close = "</" + name + ">";
    size_t start = xml.find(open);
    if (start == std::string::npos) return {};
    start += open.size();
    size_t end = xml.find(close, start);
    if (end == std::string::npos) return {};
    std::string raw = xml.substr(start, end - start), out;
    static const std::pair<const char*, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (size_t i = 0; i < raw.size();) {
        bool decoded = false;
        for (const auto& [entity, c] : entities)
            if (raw.compare(i, std::strlen(entity), entity) == 0) {
                out += c;
                i += std::strlen(entity);
                decoded = true;
                break;
            }
        if (!decoded) out += raw[i++];
    }
    return out;
}

Verdict judge(const Response& response) {
    if (response.cancelled || response.sourceError || !response.refusedOption.empty()) return Verdict::Fail;
    if (response.succeeded()) return Verdict::Done;
    static const char* const busyCodes[] = {"SlowDown",           "RequestTimeout", "InternalError",
                                            "ServiceUnavailable", "Throttling",     "ThrottlingException",
                                            "RequestThrottled",   "TooManyRequests"};
    std::string code = response.storeCode();
    for (const char* busy : busyCodes)
        if (code == busy) return Verdict::Retry;
    if (response.status >= 500 || response.status == 429) return Verdict::Retry;
    if (response.status >= 300) return Verdict::Fail;
    switch (response.code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT: // includes a stall below the low-speed limit
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return Verdict::Retry;
    default:
        return Verdict::Fail;
    }
}

std::chrono::milliseconds backoff(unsigned attemptsMade, double random) {
    auto ceiling = firstBackoff * (1LL << std::min(attemptsMade - 1, 16u));
    ceiling = std::min<std::chrono::milliseconds>(ceiling, longestBackoff);
    return std::chrono::milliseconds(
        static_cast<long long>(static_cast<double>(ceiling.count()) * (0.5 + random / 2)));
}

uint64_t partSizeFor(uint64_t objectSize, uint64_t configured) {
    uint64_t part = std::max(configured, minimumPartSize);
    uint64_t needed = (objectSize + mostParts - 1) / mostParts;
    needed = (needed + MiB - 1) / MiB * MiB;
    return std::max(part, needed);
}

unsigned errorFor(const Response& response) {
    if (response.cancelled) return Errors::Cancelled;
    if (response.sourceError) return response.sourceError;
    if (response.status == 413 || response.storeCode() == "EntityTooLarge") return Errors::TooLarge;
    if (response.code != CURLE_OK && response.status < 400) return Errors::TransferFailed;
    return Errors::ServerRefused;
}

S3Client::S3Client(StoreSettings settings, const CurlLibrary& curl, const Crypto& crypto,
                   unsigned connectTimeoutMs, Host::RunNotes& notes)
    : m_settings(std::move(settings)), m_notes(notes), m_curl(curl), m_crypto(crypto),
      m_connectTimeoutMs(connectTimeoutMs), m_handle(curl.easyInit()) {
    // Where every request goes: the bucket in the path, or in the host name.
    const std::string& endpoint = m_settings.endpoint;
    m_scheme = endpoint.substr(0, endpoint.find("://") + 3);
    std::string rest = endpoint.substr(m_scheme.size());
    std::string authority = rest.substr(0, rest.find('/'));
    std::string basePath = rest.substr(authority.size());
    bool virtualHost = m_settings.addressing == Addressing::Virtual;
    m_host = virtualHost ? m_settings.bucket + "." + authority : authority;
    m_bucketPath = virtualHost ? basePath : basePath + "/" + uriEncode(m_settings.bucket, false);
}

S3Client::~S3Client() {
    if (m_handle) m_curl.easyCleanup(m_handle);
}

bool S3Client::fail(const Request& request, const Response& response) {
    m_error = errorFor(response);
    if (!response.cancelled && !response.sourceError) {
        SysLogStream::writeLine(4,
                                "Remote store request " + request.what() + " failed: " + describe(response));
        m_notes.noteFailureCause("the remote store " + std::string(response.status > 0 ? "answered " : "") +
                                 describe(response));
    }
    return false;
}

bool S3Client::fail(unsigned code, const std::string& diagnosis) {
    m_error = code;
    if (!diagnosis.empty()) SysLogStream::writeLine(4, diagnosis);
    return false;
}

bool S3Client::reachable(unsigned timeoutMs) {
    Request request;
    request.method = "HEAD";
    request.timeoutMs = timeoutMs;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (unsigned made = 1;; made++) {
        Response response = attempt(request, nullptr, 0);
        // Any answer of the store counts.
        if (response.status > 0 && response.refusedOption.empty()) return true;
        if (!response.refusedOption.empty())
            return fail(Errors::Unavailable, "Remote store request HEAD bucket: " + response.refusedOption);
        auto wait = backoff(made, randomFraction());
        bool timeLeft = std::chrono::steady_clock::now() + wait < deadline;
        if (judge(response) != Verdict::Retry || made >= m_settings.maxAttempts || !timeLeft) {
            SysLogStream::writeLine(4, "Remote store at " + shownEndpoint(m_settings.endpoint) +
                                           " does not answer: " + describe(response));
            m_notes.noteFailureCause("the remote store at " + shownEndpoint(m_settings.endpoint) +
                                     " does not answer: " + describe(response));
            m_error = Errors::Unavailable;
            return false;
        }
        std::this_thread::sleep_for(wait);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        request.timeoutMs = std::max<long>(1, static_cast<long>(left.count()));
    }
}

bool S3Client::put(const std::string& key, File& file, const std::string& contentType,
                   TransferObserver& observer) {
    uint64_t size = file.size();
    if (size > largestObject) return fail(Errors::TooLarge, "Remote store objects hold at most 5 TiB");
    bool inParts = size > 0 && (size > m_settings.multipartThreshold || size > largestSinglePut);
    return inParts ? putInParts(key, file, size, contentType, observer)
                   : putWhole(key, file, size, contentType, observer);
}

// One PUT with the CRC-32 of the file, which the store checks against what it received: computed
// on every core before the request, since it goes in a header. The MD5 that a store answers as the
// ETag of a single PUT is computed through a reader of its own while the body is sent, and
// compared afterwards.
bool S3Client::putWhole(const std::string& key, File& file, uint64_t size, const std::string& contentType,
                        TransferObserver& observer) {
    Checksum checksum = checksumOf(m_crypto, file, size);
    if (checksum.error) return fail(checksum.error, "");
    if (observer.cancelled()) return fail(Errors::Cancelled, "");
    Ref<File> reader = file.duplicate();
    if (!reader) return fail(Error::get(), "");
    std::atomic<bool> stopDigest{false};
    // Beside the send on a thread of its own, or after it when no thread can be started.
    std::future<Digest> digest =
        std::async(std::launch::async | std::launch::deferred, [this, reader, size, &stopDigest] {
            return digestRange(m_crypto, *reader, 0, size, &stopDigest);
        });
    Request request;
    request.method = "PUT";
    request.key = key;
    request.contentType = contentType;
    request.file = &file;
    request.length = size;
    request.progressTotal = size;
    request.checksumCrc32 = checksum.crc32;
    Response response = send(request, &observer, 0);
    if (!response.succeeded()) {
        stopDigest = true;
        digest.wait();
        return fail(request, response);
    }
    Digest sent = digest.get();
    if (sent.error) return fail(sent.error, "");
    std::string sentMd5 = toHex(sent.md5);
    if (isMd5Etag(response.etag) && lowerCase(response.etag) != sentMd5)
        return fail(Errors::TransferFailed, "Remote store stored " + key + " with ETag " + response.etag +
                                                ", not the MD5 " + sentMd5 + " of the data sent");
    return true;
}

bool S3Client::putInParts(const std::string& key, File& file, uint64_t size, const std::string& contentType,
                          TransferObserver& observer) {
    std::string uploadId, completion;
    return beginParts(key, contentType, observer, uploadId) &&
           sendParts(key, file, size, uploadId, observer, completion) &&
           completeParts(key, uploadId, completion, size, observer);
}

// Asks the store for a multipart upload; its id in `uploadId`.
bool S3Client::beginParts(const std::string& key, const std::string& contentType, TransferObserver& observer,
                          std::string& uploadId) {
    Request create;
    create.method = "POST";
    create.key = key;
    create.query = {{"uploads", ""}};
    create.contentType = contentType;
    Response created = send(create, &observer, 0);
    if (!created.succeeded()) return fail(create, created);
    uploadId = xmlValue(created.body, "UploadId");
    if (uploadId.empty())
        return fail(Errors::ServerRefused,
                    "Remote store began a multipart upload of " + key + " without an UploadId");
    return true;
}

// Sends every part with its digest, noting each part's ETag in the `completion` document; a part
// that fails or a cancel abort the upload.
bool S3Client::sendParts(const std::string& key, File& file, uint64_t size, const std::string& uploadId,
                         TransferObserver& observer, std::string& completion) {
    uint64_t partSize = partSizeFor(size, m_settings.partSize);
    completion = "<CompleteMultipartUpload xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
    // The digest of the next part is computed, through a reader of its own, while a part is sent.
    Ref<File> reader = file.duplicate();
    if (!reader) {
        abortParts(key, uploadId);
        return fail(Error::get(), "");
    }
    auto digestOf = [&](uint64_t offset) {
        return std::async(std::launch::async | std::launch::deferred, [this, reader, offset, partSize, size] {
            return digestRange(m_crypto, *reader, offset, std::min(partSize, size - offset));
        });
    };
    std::future<Digest> nextDigest = digestOf(0);
    unsigned number = 1;
    for (uint64_t offset = 0; offset < size; offset += partSize, number++) {
        Request part;
        part.method = "PUT";
        part.key = key;
        part.query = {{"partNumber", std::to_string(number)}, {"uploadId", uploadId}};
        part.file = &file;
        part.offset = offset;
        part.length = std::min(partSize, size - offset);
        part.progressTotal = size;
        Digest digest = nextDigest.get();
        if (digest.error || observer.cancelled()) {
            abortParts(key, uploadId);
            return fail(digest.error ? digest.error : Errors::Cancelled, "");
        }
        if (offset + partSize < size) nextDigest = digestOf(offset + partSize);
        part.contentMd5 = m_crypto.base64(digest.md5);
        Response sent = send(part, &observer, offset);
        if (!sent.succeeded() || sent.etag.empty()) {
            abortParts(key, uploadId);
            if (sent.succeeded())
                return fail(Errors::ServerRefused, "Remote store took " + part.what() + " without an ETag");
            return fail(part, sent);
        }
        completion += "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><ETag>\"" + sent.etag +
                      "\"</ETag></Part>";
    }
    completion += "</CompleteMultipartUpload>";
    return true;
}

// Asks the store to join the parts; a refusal aborts the upload.
bool S3Client::completeParts(const std::string& key, const std::string& uploadId,
                             const std::string& completion, uint64_t size, TransferObserver& observer) {
    Request complete;
    complete.method = "POST";
    // A store joins the parts before it answers, keeping the connection alive with blanks meanwhile;
    // for a large object that may take minutes.
    complete.answerLimit = joiningPartsLimit;
    complete.key = key;
    complete.query = {{"uploadId", uploadId}};
    complete.contentType = "application/xml";
    complete.text = completion;
    Response completed = send(complete, &observer, size);
    if (!completed.succeeded()) {
        abortParts(key, uploadId);
        return fail(complete, completed);
    }
    return true;
}

// Parts already sent would otherwise be kept (and charged for) by the store until someone removes
// them; this runs after a cancel too, so it does not ask the user's observer.
void S3Client::abortParts(const std::string& key, const std::string& uploadId) {
    Request abort;
    abort.method = "DELETE";
    abort.key = key;
    abort.query = {{"uploadId", uploadId}};
    Response response = send(abort, nullptr, 0);
    if (response.succeeded() || response.status == 404)
        SysLogStream::writeLine(3, "Remote store multipart upload of " + key + " aborted");
    else
        SysLogStream::writeLine(3, "Remote store multipart upload of " + key + " could not be aborted (" +
                                       describe(response) + "); upload ID " + uploadId);
}

} // namespace Libraries::Tarnhold::Remote

#include "S3Client.h"
#include "RunResults.h"
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

#ifndef SCRIVLET_VERSION
#define SCRIVLET_VERSION "0"
#endif

namespace Libraries::Tarnhold::Remote {

using Services::Filesystem::Client::File;

namespace {

constexpr const char* userAgent = "scrivletv2/" SCRIVLET_VERSION;
// Below 1 KiB/s for the stall time the connection counts as dropped.
constexpr long stallBytesPerSecond = 1024;
constexpr long defaultStallSeconds = 30;
constexpr std::chrono::seconds joiningPartsLimit{15 * 60};
// The store's answers are short XML documents. What a server sends beyond the first 64 KiB is read
// and dropped, so that memory stays bounded; a server still sending after 1 MiB is not answering
// as a store does, and the transfer ends there.
constexpr size_t answerKept = 64 * 1024;
constexpr size_t answerRead = 1024 * 1024;
constexpr long uploadBufferBytes = 512 * 1024;
constexpr size_t digestChunk = 256 * 1024;
// The checksum of a single PUT is computed on every core, each taking at least this much.
constexpr uint64_t checksumShare = 16 * MiB;
constexpr unsigned mostChecksumWorkers = 8;
constexpr std::chrono::milliseconds firstBackoff{200};
constexpr std::chrono::milliseconds longestBackoff{10000};
constexpr long longestRetryAfterSeconds = 20;
constexpr std::chrono::milliseconds cancelPoll{50};
// A store's message is logged on one line and at most this long.
constexpr size_t loggedMessageLength = 300;
constexpr const char* emptyBodyHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Text from a server, made safe for one log line.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (text.size() > loggedMessageLength) text = text.substr(0, loggedMessageLength) + "...";
    return text;
}

bool isMd5Etag(const std::string& etag) {
    return etag.size() == 32 &&
           std::all_of(etag.begin(), etag.end(), [](char c) { return std::isxdigit(c); });
}

std::string unquoted(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
    return text;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Sets libcurl options, remembering the first one it refused: a request it cannot set up as asked
// is not sent at all.
class Options {
  public:
    Options(const CurlLibrary& curl, CURL* handle) : m_curl(curl), m_handle(handle) {}
    template <typename Value> void set(CURLoption option, Value value) {
        CURLcode code = m_curl.easySetopt(m_handle, option, value);
        if (code != CURLE_OK && m_refused.empty())
            m_refused = "libcurl option " + std::to_string(option) + ": " + m_curl.easyStrerror(code);
    }
    const std::string& refused() const { return m_refused; }

  private:
    const CurlLibrary& m_curl;
    CURL* m_handle;
    std::string m_refused;
};

// The body of one attempt: a range of a file, or text held in memory.
struct Body {
    File* file = nullptr;
    uint64_t offset = 0, remaining = 0;
    const std::string* text = nullptr;
    size_t textOffset = 0;
    unsigned error = 0;
};

size_t readBody(char* buffer, size_t size, size_t count, void* context) {
    auto* body = static_cast<Body*>(context);
    size_t wanted = size * count;
    if (body->text) {
        size_t n = std::min(wanted, body->text->size() - body->textOffset);
        std::memcpy(buffer, body->text->data() + body->textOffset, n);
        body->textOffset += n;
        return n;
    }
    wanted = static_cast<size_t>(std::min<uint64_t>(wanted, body->remaining));
    if (wanted == 0) return 0;
    size_t n = body->file->readBytes(buffer, wanted);
    if (n == 0) {
        // The file ended early or could not be read: the store must not take what was sent.
        unsigned code = Error::get();
        body->error = code != 0 && code != Errors::EndOfFile ? code : Errors::IoError;
        return CURL_READFUNC_ABORT;
    }
    body->remaining -= n;
    return n;
}

size_t collectAnswer(char* data, size_t size, size_t count, void* context) {
    auto* response = static_cast<Response*>(context);
    size_t n = size * count;
    if (response->body.size() < answerKept)
        response->body.append(data, std::min(n, answerKept - response->body.size()));
    response->received += n;
    return response->received > answerRead ? 0 : n;
}

size_t collectHeader(char* data, size_t size, size_t count, void* context) {
    auto* response = static_cast<Response*>(context);
    std::string line(data, size * count);
    size_t colon = line.find(':');
    if (colon == std::string::npos) return size * count;
    std::string name = lowerCase(line.substr(0, colon)), value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t\r\n") + 1);
    if (name == "etag") response->etag = unquoted(value);
    // S3 names the bucket's region when a request went to the wrong one.
    if (name == "x-amz-bucket-region") response->bucketRegion = value;
    return size * count;
}

struct ProgressContext {
    TransferObserver* observer;
    uint64_t base, total;
    std::chrono::seconds answerLimit;
    bool cancelled = false;
    bool answerTooSlow = false;
    // When the first byte of the answer's body came.
    std::optional<std::chrono::steady_clock::time_point> answerBegan;
};

// Once the answer has begun, all of it must come within the limit: a store that trickles an endless
// answer faster than the low-speed limit would otherwise hold the attempt until the answer's size
// bound. (The wait before the answer begins is the low-speed limit's: a store may take its time
// to read a body that the kernel has taken in full.)
bool answerOverdue(ProgressContext& progress, curl_off_t received) {
    if (received == 0) return false;
    auto now = std::chrono::steady_clock::now();
    if (!progress.answerBegan) progress.answerBegan = now;
    return now - *progress.answerBegan > progress.answerLimit;
}

int onProgress(void* context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t uploaded) {
    auto* progress = static_cast<ProgressContext*>(context);
    if (answerOverdue(*progress, received)) {
        progress->answerTooSlow = true;
        return 1;
    }
    if (!progress->observer) return 0;
    progress->observer->sent(progress->base + static_cast<uint64_t>(uploaded), progress->total);
    if (progress->observer->cancelled()) {
        progress->cancelled = true;
        return 1;
    }
    return 0;
}

// Waits, watching for the user's cancel; false when the user cancelled.
bool pause(std::chrono::milliseconds wait, TransferObserver* observer) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
        if (observer && observer->cancelled()) return false;
        std::this_thread::sleep_for(std::min(
            cancelPoll,
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())));
    }
    return true;
}

double randomFraction() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
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

std::string describe(const Response& response) {
    if (!response.refusedOption.empty()) return response.refusedOption;
    if (response.status == 0 || (response.code != CURLE_OK && response.status < 400))
        return response.curlError.empty() ? "no answer" : response.curlError;
    std::string text = std::to_string(response.status);
    if (!response.storeCode().empty()) text += " " + response.storeCode();
    if (!response.storeMessage().empty()) text += ": " + oneLine(response.storeMessage());
    std::string region =
        !response.bucketRegion.empty() ? response.bucketRegion : xmlValue(response.body, "Region");
    if (!region.empty())
        text += " (the bucket is in region " + oneLine(region) + ": set ORVANE_REMOTE_REGION)";
    return text;
}

} // namespace

struct S3Client::Request {
    std::string method;
    std::string key; // empty: the bucket itself
    std::vector<std::pair<std::string, std::string>> query;
    std::string contentType;
    std::string text; // a body held in memory
    File* file = nullptr;
    uint64_t offset = 0, length = 0; // or a range of a file
    std::string contentMd5;
    std::string checksumCrc32;
    long timeoutMs = 0; // a limit on the whole request (the reachability check)
    uint64_t progressTotal = 0;
    // How long the answer may take once it has begun; none: the stall limit.
    std::optional<std::chrono::seconds> answerLimit;

    std::string what() const {
        std::string subject = key.empty() ? "bucket" : key;
        for (const auto& [name, value] : query)
            if (name == "partNumber") subject += " part " + value;
        return method + " " + subject;
    }
};

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
                   unsigned connectTimeoutMs)
    : m_settings(std::move(settings)), m_curl(curl), m_crypto(crypto), m_connectTimeoutMs(connectTimeoutMs),
      m_handle(curl.easyInit()) {
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

Response S3Client::attempt(const Request& request, TransferObserver* observer, uint64_t progressBase) {
    Response response;
    if (!m_handle) {
        response.refusedOption = "libcurl could not make a request handle";
        return response;
    }
    m_curl.easyReset(m_handle);

    std::string path = m_bucketPath;
    if (!request.key.empty())
        path += "/" + uriEncode(request.key, true);
    else if (m_settings.addressing == Addressing::Virtual)
        path += "/"; // a bucket in the host name is asked for at its root
    std::string queryText;
    for (const auto& [name, value] : request.query)
        queryText += (queryText.empty() ? "?" : "&") + uriEncode(name, false) +
                     (value.empty() && name == "uploads" ? "" : "=" + uriEncode(value, false));
    std::string url = m_scheme + m_host + path + queryText;

    // What is signed is exactly what is sent: every header below goes on the wire as written.
    SignedRequest signing{request.method, path, request.query, {{"host", m_host}}, unsignedPayload};
    if (!request.file)
        signing.payloadHash = request.text.empty() ? emptyBodyHash : toHex(m_crypto.sha256(request.text));
    signing.headers.emplace_back("x-amz-content-sha256", signing.payloadHash);
    if (!request.contentType.empty()) signing.headers.emplace_back("content-type", request.contentType);
    if (!request.contentMd5.empty()) signing.headers.emplace_back("content-md5", request.contentMd5);
    if (!request.checksumCrc32.empty())
        signing.headers.emplace_back("x-amz-checksum-crc32", request.checksumCrc32);
    std::string authorization;
    if (!m_settings.credentials.accessKey.empty())
        authorization =
            signRequest(m_crypto, signing, m_settings.credentials, m_settings.region, std::time(nullptr));
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : signing.headers)
        headers = m_curl.slistAppend(headers, (name + ": " + value).c_str());
    if (!authorization.empty())
        headers = m_curl.slistAppend(headers, ("Authorization: " + authorization).c_str());
    // libcurl would add a form type to a POST; an empty Content-Type is not sent at all.
    if (request.contentType.empty()) headers = m_curl.slistAppend(headers, "Content-Type:");

    char errorText[CURL_ERROR_SIZE] = "";
    Body body;
    body.file = request.file;
    body.offset = request.offset;
    body.remaining = request.length;
    if (!request.file) body.text = &request.text;
    if (request.file) request.file->setPosition(request.offset);
    auto stallSeconds = std::chrono::seconds(
        m_settings.stallSeconds ? static_cast<long>(m_settings.stallSeconds) : defaultStallSeconds);
    ProgressContext progress{
        observer, progressBase, request.progressTotal, request.answerLimit.value_or(stallSeconds),
        false,    false,        std::nullopt};

    Options options(m_curl, m_handle);
    options.set(CURLOPT_URL, url.c_str());
    options.set(CURLOPT_PATH_AS_IS, 1L);
    options.set(CURLOPT_PROTOCOLS_STR, "http,https");
    options.set(CURLOPT_NOSIGNAL, 1L);
    options.set(CURLOPT_HTTPHEADER, headers);
    options.set(CURLOPT_USERAGENT, userAgent);
    options.set(CURLOPT_ERRORBUFFER, errorText);
    options.set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_connectTimeoutMs));
    options.set(CURLOPT_LOW_SPEED_LIMIT, stallBytesPerSecond);
    options.set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallSeconds.count()));
    if (request.timeoutMs) options.set(CURLOPT_TIMEOUT_MS, request.timeoutMs);
    if (!m_settings.caBundle.empty()) options.set(CURLOPT_CAINFO, m_settings.caBundle.c_str());
    options.set(CURLOPT_WRITEFUNCTION, collectAnswer);
    options.set(CURLOPT_WRITEDATA, &response);
    options.set(CURLOPT_HEADERFUNCTION, collectHeader);
    options.set(CURLOPT_HEADERDATA, &response);
    options.set(CURLOPT_NOPROGRESS, 0L);
    options.set(CURLOPT_XFERINFOFUNCTION, onProgress);
    options.set(CURLOPT_XFERINFODATA, &progress);
    if (request.method == "HEAD") {
        options.set(CURLOPT_NOBODY, 1L);
    } else if (request.method == "PUT") {
        options.set(CURLOPT_UPLOAD, 1L);
        options.set(CURLOPT_READFUNCTION, readBody);
        options.set(CURLOPT_READDATA, &body);
        options.set(CURLOPT_INFILESIZE_LARGE,
                    static_cast<curl_off_t>(request.file ? request.length : request.text.size()));
        options.set(CURLOPT_UPLOAD_BUFFERSIZE, uploadBufferBytes);
    } else if (request.method == "POST") {
        options.set(CURLOPT_POST, 1L);
        options.set(CURLOPT_POSTFIELDS, request.text.c_str());
        options.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.text.size()));
    } else {
        options.set(CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    if (!options.refused().empty()) {
        response.refusedOption = options.refused();
    } else {
        response.code = m_curl.easyPerform(m_handle);
        m_curl.easyGetinfo(m_handle, CURLINFO_RESPONSE_CODE, &response.status);
        curl_off_t retryAfter = 0;
        if (m_curl.easyGetinfo(m_handle, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK)
            response.retryAfterSeconds =
                static_cast<long>(std::min<curl_off_t>(retryAfter, longestRetryAfterSeconds));
        response.curlError = errorText[0] ? errorText : m_curl.easyStrerror(response.code);
        if (progress.answerTooSlow) {
            // A time-out like a stall: the attempt is over, and may be made again.
            response.code = CURLE_OPERATION_TIMEDOUT;
            response.curlError = "the answer did not end within " +
                                 std::to_string(progress.answerLimit.count()) + " s of its beginning";
        }
    }
    m_curl.slistFreeAll(headers);
    response.cancelled = progress.cancelled;
    response.sourceError = body.error;
    // S3 may answer a completed multipart upload with 200 and an error document.
    response.errorInBody = response.status == 200 && request.method == "POST" &&
                           response.body.find("<Error>") != std::string::npos;
    return response;
}

Response S3Client::send(const Request& request, TransferObserver* observer, uint64_t progressBase) {
    for (unsigned made = 1;; made++) {
        Response response = attempt(request, observer, progressBase);
        Verdict verdict = judge(response);
        if (verdict != Verdict::Retry || made >= m_settings.maxAttempts) return response;
        auto wait = std::max<std::chrono::milliseconds>(backoff(made, randomFraction()),
                                                        std::chrono::seconds(response.retryAfterSeconds));
        SysLogStream::writeLine(3, "Remote store request " + request.what() + " failed (" +
                                       describe(response) + "); attempt " + std::to_string(made + 1) +
                                       " of " + std::to_string(m_settings.maxAttempts) + " in " +
                                       std::to_string(wait.count()) + " ms");
        if (!pause(wait, observer)) {
            response.cancelled = true;
            return response;
        }
    }
}

bool S3Client::fail(const Request& request, const Response& response) {
    m_error = errorFor(response);
    if (!response.cancelled && !response.sourceError) {
        SysLogStream::writeLine(4,
                                "Remote store request " + request.what() + " failed: " + describe(response));
        Host::noteFailureCause("the remote store " + std::string(response.status > 0 ? "answered " : "") +
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
            Host::noteFailureCause("the remote store at " + shownEndpoint(m_settings.endpoint) +
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
    Request create;
    create.method = "POST";
    create.key = key;
    create.query = {{"uploads", ""}};
    create.contentType = contentType;
    Response created = send(create, &observer, 0);
    if (!created.succeeded()) return fail(create, created);
    std::string uploadId = xmlValue(created.body, "UploadId");
    if (uploadId.empty())
        return fail(Errors::ServerRefused,
                    "Remote store began a multipart upload of " + key + " without an UploadId");

    uint64_t partSize = partSizeFor(size, m_settings.partSize);
    std::string completion = "<CompleteMultipartUpload xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
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

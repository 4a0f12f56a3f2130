// One request of the S3 client through libcurl: signed, its body streamed from a file or text,
// its answer kept within bounds, its progress reported; and the attempts again when the store or
// the network asks for it.
#include "RunResults.h"
#include "S3Request.h"
#include "S3Signature.h"
#include "platform/SysLog.h"
#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <thread>

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
// The store's answers are short XML documents. What a server sends beyond the first 64 KiB is read
// and dropped, so that memory stays bounded; a server still sending after 1 MiB is not answering
// as a store does, and the transfer ends there.
constexpr size_t answerKept = 64 * 1024;
constexpr size_t answerRead = 1024 * 1024;
constexpr long uploadBufferBytes = 512 * 1024;
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

std::string unquoted(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
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

// The query as it is sent and signed: each name and value encoded, an "uploads" without a value
// kept bare.
std::string queryText(const std::vector<std::pair<std::string, std::string>>& query) {
    std::string text;
    for (const auto& [name, value] : query)
        text += (text.empty() ? "?" : "&") + uriEncode(name, false) +
                (value.empty() && name == "uploads" ? "" : "=" + uriEncode(value, false));
    return text;
}

// Where the answer and the transfer's progress go.
void setAnswerAndProgress(Options& options, Response& response, ProgressContext& progress) {
    options.set(CURLOPT_WRITEFUNCTION, collectAnswer);
    options.set(CURLOPT_WRITEDATA, &response);
    options.set(CURLOPT_HEADERFUNCTION, collectHeader);
    options.set(CURLOPT_HEADERDATA, &response);
    options.set(CURLOPT_NOPROGRESS, 0L);
    options.set(CURLOPT_XFERINFOFUNCTION, onProgress);
    options.set(CURLOPT_XFERINFODATA, &progress);
}

// The method, and the body it sends: a PUT streams it from `body`, a POST sends `text` at once.
void setMethod(Options& options, const std::string& method, Body& body, const std::string& text,
               curl_off_t size) {
    if (method == "HEAD") {
        options.set(CURLOPT_NOBODY, 1L);
    } else if (method == "PUT") {
        options.set(CURLOPT_UPLOAD, 1L);
        options.set(CURLOPT_READFUNCTION, readBody);
        options.set(CURLOPT_READDATA, &body);
        options.set(CURLOPT_INFILESIZE_LARGE, size);
        options.set(CURLOPT_UPLOAD_BUFFERSIZE, uploadBufferBytes);
    } else if (method == "POST") {
        options.set(CURLOPT_POST, 1L);
        options.set(CURLOPT_POSTFIELDS, text.c_str());
        options.set(CURLOPT_POSTFIELDSIZE_LARGE, size);
    } else {
        options.set(CURLOPT_CUSTOMREQUEST, method.c_str());
    }
}

// Sends the request as set up, and reads what libcurl knows of the answer.
void perform(const CurlLibrary& curl, CURL* handle, Response& response, const char* errorText,
             const ProgressContext& progress) {
    response.code = curl.easyPerform(handle);
    curl.easyGetinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    curl_off_t retryAfter = 0;
    if (curl.easyGetinfo(handle, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK)
        response.retryAfterSeconds =
            static_cast<long>(std::min<curl_off_t>(retryAfter, longestRetryAfterSeconds));
    response.curlError = errorText[0] ? errorText : curl.easyStrerror(response.code);
    if (progress.answerTooSlow) {
        // A time-out like a stall: the attempt is over, and may be made again.
        response.code = CURLE_OPERATION_TIMEDOUT;
        response.curlError = "the answer did not end within " + std::to_string(progress.answerLimit.count()) +
                             " s of its beginning";
    }
}

} // namespace

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

double randomFraction() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
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

// The request's path below the endpoint, as it is sent and signed.
std::string S3Client::pathOf(const Request& request) const {
    std::string path = m_bucketPath;
    if (!request.key.empty())
        path += "/" + uriEncode(request.key, true);
    else if (m_settings.addressing == Addressing::Virtual)
        path += "/"; // a bucket in the host name is asked for at its root
    return path;
}

// The request's headers, signed: what is signed is exactly what is sent, every header going on the
// wire as written here.
curl_slist* S3Client::signedHeaders(const Request& request, const std::string& path) const {
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
    return headers;
}

Response S3Client::attempt(const Request& request, TransferObserver* observer, uint64_t progressBase) {
    Response response;
    if (!m_handle) {
        response.refusedOption = "libcurl could not make a request handle";
        return response;
    }
    m_curl.easyReset(m_handle);
    std::string path = pathOf(request);
    std::string url = m_scheme + m_host + path + queryText(request.query);
    curl_slist* headers = signedHeaders(request, path);

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
    setAnswerAndProgress(options, response, progress);
    setMethod(options, request.method, body, request.text,
              static_cast<curl_off_t>(request.file ? request.length : request.text.size()));

    if (!options.refused().empty())
        response.refusedOption = options.refused();
    else
        perform(m_curl, m_handle, response, errorText, progress);
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

} // namespace Libraries::Tarnhold::Remote

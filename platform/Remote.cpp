#include "Remote.h"
#include "CurlLibrary.h"
#include "Host.h"
#include "SysLog.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

namespace Libraries::Tarnhold::Remote {
namespace {

constexpr unsigned Unreachable = 0x10004;

std::string setting(const char* env, const char* key, const char* fallbackEnv = nullptr) {
    if (const char* v = std::getenv(env); v && *v) return v;
    const auto& remote = Host::config().remote;
    if (remote.contains(key) && remote[key].is_string()) return remote[key].get<std::string>();
    if (fallbackEnv)
        if (const char* v = std::getenv(fallbackEnv); v && *v) return v;
    return {};
}

StoreSettings readSettings() {
    StoreSettings s;
    s.endpoint = setting("ORVANE_REMOTE_ENDPOINT", "endpoint");
    s.bucket = setting("ORVANE_REMOTE_BUCKET", "bucket");
    s.region = setting("ORVANE_REMOTE_REGION", "region", "AWS_REGION");
    if (s.region.empty()) s.region = "us-east-1";
    s.accessKey = setting("ORVANE_REMOTE_ACCESS_KEY", "accessKey", "AWS_ACCESS_KEY_ID");
    s.secretKey = setting("ORVANE_REMOTE_SECRET_KEY", "secretKey", "AWS_SECRET_ACCESS_KEY");
    s.prefix = setting("ORVANE_REMOTE_PREFIX", "prefix");
    std::string max = setting("ORVANE_REMOTE_MAX_BYTES", "maxBytesText");
    const auto& remote = Host::config().remote;
    s.maxBytes = !max.empty() ? std::strtoull(max.c_str(), nullptr, 0) : remote.value("maxBytes", 0ULL);
    while (!s.endpoint.empty() && s.endpoint.back() == '/')
        s.endpoint.pop_back();
    return s;
}

// Only called once the capability check has loaded the library.
const CurlLibrary& libcurl() {
    return *CurlLibrary::get();
}

std::string encodeKey(CURL* curl, const std::string& key) {
    std::string out;
    size_t start = 0;
    while (start <= key.size()) {
        size_t slash = key.find('/', start);
        std::string part = key.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        char* e = libcurl().easyEscape(curl, part.c_str(), static_cast<int>(part.size()));
        out += e ? e : "";
        libcurl().free(e);
        if (slash == std::string::npos) break;
        out += "/";
        start = slash + 1;
    }
    return out;
}

void sign(CURL* curl, const StoreSettings& s) {
    std::string sigv4 = "aws:amz:" + s.region + ":s3";
    libcurl().easySetopt(curl, CURLOPT_AWS_SIGV4, sigv4.c_str());
    std::string user = s.accessKey + ":" + s.secretKey;
    libcurl().easySetopt(curl, CURLOPT_USERPWD, user.c_str());
}

// The store's answers are short XML documents. What a server sends beyond the first 64 KiB is read
// and dropped, so that memory stays bounded; a server still sending after 1 MiB is not answering
// as a store does, and the transfer ends there.
constexpr size_t answerKept = 64 * 1024;
constexpr size_t answerRead = 1024 * 1024;

struct Answer {
    std::string text;
    size_t received = 0;
};

size_t collect(char* data, size_t size, size_t count, void* out) {
    auto* answer = static_cast<Answer*>(out);
    size_t n = size * count;
    if (answer->text.size() < answerKept)
        answer->text.append(data, std::min(n, answerKept - answer->text.size()));
    answer->received += n;
    return answer->received > answerRead ? 0 : n;
}

// One PUT of a stream, with progress mapped onto [base, base + span] of the whole upload.
struct Transfer {
    Services::Filesystem::Client::File* file = nullptr;
    ZEZUvedaze::Progress* notifier = nullptr;
    double base = 0, span = 1;
    int lastPercent = -1;
    bool abandoned = false;
};

size_t readBody(char* buffer, size_t size, size_t count, void* context) {
    auto* t = static_cast<Transfer*>(context);
    size_t n = t->file->readBytes(buffer, size * count);
    if (n == 0 && Error::get() != 0 && Error::get() != Errors::EndOfFile) return CURL_READFUNC_ABORT;
    return n;
}

void report(Transfer& t, double fraction) {
    double whole = t.base + t.span * fraction;
    int percent = static_cast<int>(whole * 100);
    if (!t.notifier || percent == t.lastPercent) return;
    t.lastPercent = percent;
    if (auto* n = dynamic_cast<Interfaces::ProgressNotifier*>(t.notifier)) n->progress(0, whole);
}

int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(context);
    if (ultotal > 0) report(*t, static_cast<double>(ulnow) / static_cast<double>(ultotal));
    if (t->notifier && t->notifier->abandon()) {
        t->abandoned = true;
        return 1;
    }
    return 0;
}

// The transfer runs on a thread of its own while the caller blocks, so notifiers are always called
// from another thread, as the library's contract allows. The file is read on that thread too; its
// last error is carried back to the caller's thread.
CURLcode performOnTransferThread(CURL* curl) {
    CURLcode rc = CURLE_OK;
    unsigned lastError = 0;
    std::thread transfer([&] {
        rc = libcurl().easyPerform(curl);
        lastError = Error::get();
    });
    transfer.join();
    Error::set(lastError);
    return rc;
}

unsigned classify(long status, const std::string& body) {
    if (status == 413 || body.find("EntityTooLarge") != std::string::npos) return Errors::TooLarge;
    return Errors::ServerRefused;
}

Ref<String> put(const StoreSettings& s, const std::string& key, Transfer& t, unsigned timeLimitMs) {
    uint64_t size = t.file->size();
    if (s.maxBytes && size > s.maxBytes) {
        Error::set(Errors::TooLarge);
        return {};
    }
    if (auto code = Host::fault("ZEZUvedaze::upload", key)) {
        Error::set(*code);
        return {};
    }
    CURL* curl = libcurl().easyInit();
    if (!curl) {
        Error::set(Errors::OutOfMemory);
        return {};
    }
    std::string url = s.endpoint + "/" + s.bucket + "/" + encodeKey(curl, key);
    Answer response;
    struct curl_slist* headers = libcurl().slistAppend(nullptr, "x-amz-content-sha256: UNSIGNED-PAYLOAD");
    headers = libcurl().slistAppend(headers, "Content-Type: application/octet-stream");
    headers = libcurl().slistAppend(headers, "Expect:");
    libcurl().easySetopt(curl, CURLOPT_URL, url.c_str());
    libcurl().easySetopt(curl, CURLOPT_UPLOAD, 1L);
    libcurl().easySetopt(curl, CURLOPT_READFUNCTION, readBody);
    libcurl().easySetopt(curl, CURLOPT_READDATA, &t);
    libcurl().easySetopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    libcurl().easySetopt(curl, CURLOPT_HTTPHEADER, headers);
    libcurl().easySetopt(curl, CURLOPT_WRITEFUNCTION, collect);
    libcurl().easySetopt(curl, CURLOPT_WRITEDATA, &response);
    libcurl().easySetopt(curl, CURLOPT_NOPROGRESS, 0L);
    libcurl().easySetopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    libcurl().easySetopt(curl, CURLOPT_XFERINFODATA, &t);
    libcurl().easySetopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeLimitMs));
    libcurl().easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    libcurl().easySetopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    sign(curl, s);
    CURLcode rc = performOnTransferThread(curl);
    long status = 0;
    libcurl().easyGetinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    libcurl().slistFreeAll(headers);
    libcurl().easyCleanup(curl);
    if (t.abandoned) {
        Error::set(Errors::Cancelled);
        return {};
    }
    if (rc != CURLE_OK) {
        Error::set(status >= 400 ? classify(status, response.text) : Errors::TransferFailed);
        return {};
    }
    if (status < 200 || status >= 300) {
        Error::set(classify(status, response.text));
        return {};
    }
    report(t, 1.0);
    return String::create(key.substr(s.prefix.size(), 8));
}

} // namespace

std::string newTag() {
    static const char alphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
    std::random_device device;
    std::string tag;
    for (int i = 0; i < 8; i++)
        tag += alphabet[device() % 32];
    return tag;
}

Ref<Capabilities> Capabilities::create(bool, unsigned timeoutMs, bool) {
    if (auto code = Host::fault("Capabilities::create")) {
        Error::set(*code);
        return {};
    }
    StoreSettings s = readSettings();
    if (s.endpoint.empty() || s.bucket.empty()) {
        // Named where the user looks (standard error) and where support looks (the log).
        std::string missing = s.endpoint.empty()
                                  ? "ORVANE_REMOTE_ENDPOINT (or remote.endpoint in the host configuration)"
                                  : "ORVANE_REMOTE_BUCKET (or remote.bucket in the host configuration)";
        std::fprintf(stderr, "scrivletv2: no remote store is configured: set %s\n", missing.c_str());
        SysLogStream& line = SysLogStream::stdOutPrinter();
        (line.setLevel(4) << "Remote store not configured: set ") << missing;
        line.end();
        Error::set(Errors::Unavailable);
        return {};
    }
    std::string problem;
    if (!CurlLibrary::get(&problem)) {
        SysLogStream& line = SysLogStream::stdOutPrinter();
        (line.setLevel(3) << "Remote store client unavailable: ") << problem;
        line.end();
        Error::set(Errors::Unavailable);
        return {};
    }
    CURL* curl = libcurl().easyInit();
    if (!curl) {
        Error::set(Errors::OutOfMemory);
        return {};
    }
    // Any answer of the store counts: write-only credentials may not read the bucket.
    std::string url = s.endpoint + "/" + s.bucket;
    libcurl().easySetopt(curl, CURLOPT_URL, url.c_str());
    libcurl().easySetopt(curl, CURLOPT_NOBODY, 1L);
    libcurl().easySetopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    libcurl().easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    sign(curl, s);
    CURLcode rc = performOnTransferThread(curl);
    libcurl().easyCleanup(curl);
    if (rc != CURLE_OK) {
        Error::set(Unreachable);
        return {};
    }
    Ref<Capabilities> caps(new Capabilities);
    caps->m_capability = Ref<ZEZUvedaze>(new ZEZUvedaze(s));
    return caps;
}

Ref<ZEZUvedaze> ZEZUvedaze::create(const Ref<Capabilities::ZEZUvedaze>& capability) {
    if (!capability) {
        Error::set(Errors::Unavailable);
        return {};
    }
    if (auto code = Host::fault("ZEZUvedaze::create")) {
        Error::set(*code);
        return {};
    }
    return Ref<ZEZUvedaze>(new ZEZUvedaze(capability->settings()));
}

Ref<String> ZEZUvedaze::uploadFile(const Ref<Services::Filesystem::Client::File>& stream,
                                   const Ref<String>& name, const Ref<Progress>& notifier,
                                   unsigned timeLimitMs) {
    if (!stream) {
        Error::set(Errors::NotFound);
        return {};
    }
    Transfer t;
    t.file = stream.get();
    t.notifier = notifier.get();
    stream->setPosition(0);
    return put(m_settings, m_settings.prefix + newTag() + "/" + stdString(name), t, timeLimitMs);
}

namespace {
// A temporary file without a name: O_TMPFILE where the filesystem has it, else one unlinked at once.
int anonymousTemporaryFile() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string pattern = dir + "/scrivlet-syslog-XXXXXX";
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(pattern.c_str());
    return fd;
}
} // namespace

Ref<String> ZEZUvedaze::uploadSyslog(const Ref<String>& suffix, const Ref<Progress>& notifier,
                                     unsigned timeLimitMs) {
    // The compressed copy has no name at any time, so that no interruption can leave it behind.
    int fd = anonymousTemporaryFile();
    if (fd < 0) {
        Error::set(Errors::IoError);
        return {};
    }
    int forCompressor = ::dup(fd);
    if (forCompressor < 0) {
        ::close(fd);
        Error::set(Errors::IoError);
        return {};
    }
    Transfer t;
    t.notifier = notifier.get();
    t.span = 0.5;
    bool prepared = SysLog::compressLog(forCompressor, [&](double f) {
        report(t, f);
        if (auto code = Host::fault("SysLogExport::chunk")) (void)code;
        t.abandoned = t.notifier && t.notifier->abandon();
        return !t.abandoned;
    });
    Ref<String> tag;
    if (t.abandoned) {
        Error::set(Errors::Cancelled);
    } else if (!prepared) {
        Error::set(Errors::IoError);
    } else {
        Ref<Services::Filesystem::Client::File> file =
            Services::Filesystem::Client::File::adoptHost(std::exchange(fd, -1), "compressed system log");
        t.file = file.get();
        t.base = 0.5;
        t.span = 0.5;
        if (file)
            tag = put(m_settings,
                      m_settings.prefix + newTag() + "/Orvane-syslog-" + stdString(suffix) + ".log.gz", t,
                      timeLimitMs);
    }
    if (fd >= 0) ::close(fd);
    return tag;
}

} // namespace Libraries::Tarnhold::Remote

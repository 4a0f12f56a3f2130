#pragma once
// The S3-protocol client behind the remote store: signed requests through libcurl, retried when
// the store or the network asks for it, and large objects sent in parts.
#include "CryptoLibrary.h"
#include "CurlLibrary.h"
#include "RunResults.h"
#include "StoreSettings.h"
#include "platform/Filesystem.h"
#include "platform/RemoteService.h"
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace Libraries::Tarnhold::Remote {

// S3's own limits.
inline constexpr uint64_t minimumPartSize = 5 * MiB;
inline constexpr uint64_t mostParts = 10000;
inline constexpr uint64_t largestSinglePut = 5ULL << 30; // 5 GiB
inline constexpr uint64_t largestObject = 5ULL << 40;    // 5 TiB

// One request's outcome, as far as deciding what comes next needs it.
struct Response {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body; // the first 64 KiB of the store's answer
    size_t received = 0;
    std::string etag;
    std::string bucketRegion; // the x-amz-bucket-region the store answered, if any
    std::string curlError;
    long retryAfterSeconds = 0;
    bool cancelled = false;
    unsigned sourceError = 0;  // reading the data to send failed, with this code
    std::string refusedOption; // libcurl refused to set up the request
    bool errorInBody = false;  // a 200 whose body is an S3 error document

    bool succeeded() const;
    std::string storeCode() const;
    std::string storeMessage() const;
};

enum class Verdict { Done, Retry, Fail };
// Whether a request that ended so is done, worth another attempt (the store is busy or failing,
// the connection dropped or stalled) or failed for good.
Verdict judge(const Response& response);
// The wait before another attempt: exponential in the attempts made so far, `random` in [0, 1)
// spreading it over the upper half so that clients that failed together do not return together.
std::chrono::milliseconds backoff(unsigned attemptsMade, double random);
// The part size for an object: the configured one, at least S3's smallest, and large enough that
// no upload needs more than S3's 10,000 parts (whole MiB).
uint64_t partSizeFor(uint64_t objectSize, uint64_t configured);
// The platform error code an upload that ended with this response reports.
unsigned errorFor(const Response& response);
// The text of the first <name> element of an XML answer, entities decoded.
std::string xmlValue(const std::string& xml, const std::string& name);

class S3Client {
  public:
    // `notes` learn why a request failed, for the message that reports it.
    S3Client(StoreSettings settings, const CurlLibrary& curl, const Crypto& crypto, unsigned connectTimeoutMs,
             Host::RunNotes& notes);
    ~S3Client();
    S3Client(const S3Client&) = delete;
    S3Client& operator=(const S3Client&) = delete;

    // True when the store answers at all within `timeoutMs`: write-only credentials may be refused
    // a look at the bucket.
    bool reachable(unsigned timeoutMs);
    // Stores the whole of `file` under `key`: one PUT, or a multipart upload above the threshold.
    bool put(const std::string& key, Services::Filesystem::Client::File& file, const std::string& contentType,
             TransferObserver& observer);
    // The platform error code of the last failure.
    unsigned error() const { return m_error; }

  private:
    struct Request;
    std::string pathOf(const Request& request) const;
    curl_slist* signedHeaders(const Request& request, const std::string& path) const;
    Response attempt(const Request& request, TransferObserver* observer, uint64_t progressBase);
    Response send(const Request& request, TransferObserver* observer, uint64_t progressBase);
    bool putWhole(const std::string& key, Services::Filesystem::Client::File& file, uint64_t size,
                  const std::string& contentType, TransferObserver& observer);
    bool putInParts(const std::string& key, Services::Filesystem::Client::File& file, uint64_t size,
                    const std::string& contentType, TransferObserver& observer);
    bool beginParts(const std::string& key, const std::string& contentType, TransferObserver& observer,
                    std::string& uploadId);
    bool sendParts(const std::string& key, Services::Filesystem::Client::File& file, uint64_t size,
                   const std::string& uploadId, TransferObserver& observer, std::string& completion);
    bool completeParts(const std::string& key, const std::string& uploadId, const std::string& completion,
                       uint64_t size, TransferObserver& observer);
    void abortParts(const std::string& key, const std::string& uploadId);
    bool fail(const Request& request, const Response& response);
    bool fail(unsigned code, const std::string& diagnosis);

    StoreSettings m_settings;
    Host::RunNotes& m_notes;
    const CurlLibrary& m_curl;
    const Crypto& m_crypto;
    unsigned m_connectTimeoutMs;
    std::string m_scheme, m_host,
        m_bucketPath;         // from the endpoint, once: "https://", "host:port", "/base/bucket"
    CURL* m_handle = nullptr; // one handle, so that its connection serves every request
    unsigned m_error = 0;
};

} // namespace Libraries::Tarnhold::Remote

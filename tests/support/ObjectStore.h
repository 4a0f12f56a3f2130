#pragma once
// Servers for the upload tests: the S3-protocol test server (s3rver, installed by `npm ci`) on a
// free loopback port behind a strict signature-checking front (s3-verifier.js) that can also play a
// failing network, a proxy or a broken store.
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace Testing {

// What the front expects of the requests it lets through.
struct FrontSettings {
    std::string region = "us-east-1";
    std::string accessKey = "S3RVER";
    std::string secretKey = "S3RVER";
    std::string sessionToken;            // required when not empty
    std::string certificate, privateKey; // HTTPS with this certificate when given
};

// A signature-checking front before the store; requests it lets through reach the store.
class StoreFront {
  public:
    StoreFront(int backendPort, const std::filesystem::path& directory, FrontSettings settings);
    ~StoreFront();
    bool running() const { return m_pid > 0; }
    std::string endpoint() const;
    int port() const { return m_port; }
    // The environment that points a run at this front with its credentials.
    std::map<std::string, std::string> environment() const;
    // Rules the front applies to the requests it gets from now on (see s3-verifier.js).
    void setFaults(const nlohmann::json& rules) const;
    // The requests the front got since the last clear, in order, as it logged them.
    std::vector<nlohmann::json> requests() const;
    void clearRequests() const;

  private:
    FrontSettings m_settings;
    std::filesystem::path m_plan, m_log;
    int m_port = 0;
    int m_pid = -1;
};

class ObjectStore {
  public:
    static constexpr const char* bucket = "orvane";
    ObjectStore();
    ~ObjectStore();
    bool running() const { return m_pid > 0 && m_front && m_front->running(); }
    // Why the server could not start (shown when a test is skipped).
    const std::string& problem() const { return m_problem; }
    std::string endpoint() const { return m_front->endpoint(); }
    // The environment that points a run at this store (through its default front).
    std::map<std::string, std::string> environment() const { return m_front->environment(); }
    const StoreFront& front() const { return *m_front; }
    // Another front before the same store, expecting other settings.
    std::unique_ptr<StoreFront> addFront(FrontSettings settings) const;
    // The stored bytes of an object, or nothing when it does not exist.
    bool object(const std::string& key, std::string& data) const;
    // Multipart uploads begun and neither completed nor aborted.
    size_t openMultipartUploads() const;
    void stop();

  private:
    std::filesystem::path m_directory;
    int m_port = 0;
    int m_pid = -1;
    std::string m_problem;
    std::unique_ptr<StoreFront> m_front;
};

int freePort();

// The tag an upload's success dialog showed ("UPLOADED LOG AS #TAG"); empty when none was shown.
std::string shownTag(const struct RunResult& result);

} // namespace Testing

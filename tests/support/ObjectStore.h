#pragma once
// Servers for the upload tests: the S3-protocol test server (s3rver, installed by `npm ci`) on a
// free loopback port, and a server that answers the reachability check and then drops or refuses
// uploads.
#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

namespace Testing {

class ObjectStore {
  public:
    static constexpr const char* bucket = "orvane";
    ObjectStore();
    ~ObjectStore();
    bool running() const { return m_pid > 0; }
    // Why the server could not start (shown when a test is skipped).
    const std::string& problem() const { return m_problem; }
    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    // The environment that points a run at this store.
    std::map<std::string, std::string> environment() const;
    // The stored bytes of an object, or nothing when it does not exist.
    bool object(const std::string& key, std::string& data) const;
    void stop();

  private:
    std::filesystem::path m_directory;
    int m_port = 0;
    int m_pid = -1;
    std::string m_problem;
};

// Answers the reachability check; an upload is dropped part way, or, given an answer, read whole
// and answered with it (a complete HTTP response). An endless server follows the answer with bytes
// for as long as the client reads them.
class DroppingServer {
  public:
    explicit DroppingServer(std::string uploadAnswer = {}, bool endless = false);
    ~DroppingServer();
    std::map<std::string, std::string> environment() const;

  private:
    void serve();
    std::string m_uploadAnswer;
    bool m_endless = false;
    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

int freePort();

} // namespace Testing

#include "ObjectStore.h"
#include "Sandbox.h"
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace Testing {

// A port of the kernel's choice on loopback, free a moment ago.
int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return ntohs(address.sin_port);
}

namespace {

bool accepts(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return ok;
}

// Waits until the child serves the port; false (with the child ended) when it does not.
bool waitUntilServing(int port, int& pid) {
    for (int i = 0; i < 200; i++) {
        if (accepts(port)) return true;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void stopChild(int& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

// Dot segments are escaped on their way to the store's disk (see s3-verifier.js).
std::string storedName(const std::string& key) {
    std::string out;
    size_t start = 0;
    while (true) {
        size_t slash = key.find('/', start);
        std::string segment =
            key.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (segment == "." || segment == "..") {
            std::string escaped;
            for (size_t i = 0; i < segment.size(); i++)
                escaped += "%2E";
            segment = escaped;
        }
        out += segment;
        if (slash == std::string::npos) return out;
        out += "/";
        start = slash + 1;
    }
}

} // namespace

StoreFront::StoreFront(int backendPort, const fs::path& directory, FrontSettings settings)
    : m_settings(std::move(settings)) {
    fs::path script = fs::path(SCRIVLET_SOURCE_DIR) / "tests" / "support" / "s3-verifier.js";
    m_port = freePort();
    m_plan = directory / ("faults-" + std::to_string(m_port) + ".json");
    m_log = directory / ("requests-" + std::to_string(m_port) + ".jsonl");
    std::vector<std::string> args{"node",         script.string(),
                                  "--port",       std::to_string(m_port),
                                  "--backend",    std::to_string(backendPort),
                                  "--bucket",     ObjectStore::bucket,
                                  "--region",     m_settings.region,
                                  "--access-key", m_settings.accessKey,
                                  "--secret-key", m_settings.secretKey,
                                  "--plan",       m_plan.string(),
                                  "--log",        m_log.string(),
                                  "--store-dir",  directory.string()};
    if (!m_settings.sessionToken.empty())
        args.insert(args.end(), {"--session-token", m_settings.sessionToken});
    if (!m_settings.certificate.empty())
        args.insert(args.end(), {"--tls-cert", m_settings.certificate, "--tls-key", m_settings.privateKey});
    m_pid = fork();
    if (m_pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp("node", argv.data());
        _exit(127);
    }
    if (!waitUntilServing(m_port, m_pid)) stopChild(m_pid);
}

StoreFront::~StoreFront() {
    stopChild(m_pid);
}

std::string StoreFront::endpoint() const {
    return std::string(m_settings.certificate.empty() ? "http" : "https") +
           "://127.0.0.1:" + std::to_string(m_port);
}

std::map<std::string, std::string> StoreFront::environment() const {
    std::map<std::string, std::string> env{{"ORVANE_REMOTE_ENDPOINT", endpoint()},
                                           {"ORVANE_REMOTE_BUCKET", ObjectStore::bucket},
                                           {"ORVANE_REMOTE_REGION", m_settings.region},
                                           {"ORVANE_REMOTE_ACCESS_KEY", m_settings.accessKey},
                                           {"ORVANE_REMOTE_SECRET_KEY", m_settings.secretKey}};
    if (!m_settings.sessionToken.empty()) env["ORVANE_REMOTE_SESSION_TOKEN"] = m_settings.sessionToken;
    return env;
}

void StoreFront::setFaults(const nlohmann::json& rules) const {
    writeFile(m_plan, rules.dump());
}

std::vector<nlohmann::json> StoreFront::requests() const {
    std::vector<nlohmann::json> entries;
    std::string text = fs::exists(m_log) ? readFile(m_log) : "";
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        entries.push_back(nlohmann::json::parse(text.substr(start, end - start)));
    return entries;
}

void StoreFront::clearRequests() const {
    std::error_code ec;
    fs::remove(m_log, ec);
}

ObjectStore::ObjectStore() {
    fs::path server = fs::path(SCRIVLET_SOURCE_DIR) / "node_modules" / "s3rver" / "bin" / "s3rver.js";
    if (!fs::exists(server)) {
        m_problem = "the S3 test server is not installed (run npm ci)";
        return;
    }
    std::string pattern = (fs::temp_directory_path() / "scrivlet-store-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    m_directory = pattern;
    m_port = freePort();
    std::string port = std::to_string(m_port), directory = m_directory.string(), script = server.string();
    m_pid = fork();
    if (m_pid == 0) {
        execlp("node", "node", script.c_str(), "--directory", directory.c_str(), "--address", "127.0.0.1",
               "--port", port.c_str(), "--configure-bucket", bucket, "--silent", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (!waitUntilServing(m_port, m_pid)) {
        m_problem = "the S3 test server did not start (is node installed?)";
        stop();
        return;
    }
    m_front = addFront({});
    if (!m_front->running()) m_problem = "the S3 verifying front did not start";
}

std::unique_ptr<StoreFront> ObjectStore::addFront(FrontSettings settings) const {
    return std::make_unique<StoreFront>(m_port, m_directory, std::move(settings));
}

ObjectStore::~ObjectStore() {
    stop();
    std::error_code ec;
    if (!m_directory.empty()) fs::remove_all(m_directory, ec);
}

size_t ObjectStore::openMultipartUploads() const {
    fs::path uploads = m_directory / bucket / "._S3rver_uploads";
    std::error_code ec;
    if (!fs::exists(uploads, ec)) return 0;
    return static_cast<size_t>(std::distance(fs::directory_iterator(uploads, ec), fs::directory_iterator()));
}

void ObjectStore::stop() {
    m_front.reset();
    stopChild(m_pid);
}

bool ObjectStore::object(const std::string& key, std::string& data) const {
    // s3rver keeps each object's bytes beside its metadata.
    fs::path file = m_directory / bucket / (storedName(key) + "._S3rver_object");
    if (!fs::exists(file)) return false;
    data = readFile(file);
    return true;
}

std::string shownTag(const RunResult& result) {
    auto shown = result.calls("Dialog::show");
    if (shown.size() != 1) return {};
    std::string text = shown[0]["text"];
    size_t hash = text.find('#');
    return hash == std::string::npos ? std::string() : text.substr(hash + 1);
}

} // namespace Testing

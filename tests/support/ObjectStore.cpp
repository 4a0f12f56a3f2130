#include "ObjectStore.h"
#include "Sandbox.h"
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Testing {

int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    int port = ntohs(address.sin_port);
    close(s);
    return port;
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

} // namespace

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
    for (int i = 0; i < 200; i++) {
        if (accepts(m_port)) return;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_problem = "the S3 test server did not start (is node installed?)";
    stop();
}

ObjectStore::~ObjectStore() {
    stop();
    std::error_code ec;
    if (!m_directory.empty()) fs::remove_all(m_directory, ec);
}

void ObjectStore::stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::map<std::string, std::string> ObjectStore::environment() const {
    return {{"ORVANE_REMOTE_ENDPOINT", endpoint()},
            {"ORVANE_REMOTE_BUCKET", bucket},
            {"ORVANE_REMOTE_REGION", "us-east-1"},
            {"ORVANE_REMOTE_ACCESS_KEY", "S3RVER"},
            {"ORVANE_REMOTE_SECRET_KEY", "S3RVER"}};
}

bool ObjectStore::object(const std::string& key, std::string& data) const {
    // s3rver keeps each object's bytes beside its metadata.
    fs::path file = m_directory / bucket / (key + "._S3rver_object");
    if (!fs::exists(file)) return false;
    data = readFile(file);
    return true;
}

DroppingServer::DroppingServer(std::string uploadAnswer, bool endless)
    : m_uploadAnswer(std::move(uploadAnswer)), m_endless(endless) {
    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    listen(m_socket, 8);
    m_thread = std::thread([this] { serve(); });
}

DroppingServer::~DroppingServer() {
    m_stop = true;
    shutdown(m_socket, SHUT_RDWR);
    close(m_socket);
    m_thread.join();
}

void DroppingServer::serve() {
    while (!m_stop) {
        int client = accept(m_socket, nullptr, nullptr);
        if (client < 0) return;
        std::string request;
        char buffer[8192];
        size_t body = 0;
        for (ssize_t n; (n = read(client, buffer, sizeof buffer)) > 0;) {
            request.append(buffer, static_cast<size_t>(n));
            size_t headerEnd = request.find("\r\n\r\n");
            if (request.rfind("HEAD", 0) == 0 && headerEnd != std::string::npos) {
                const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
                (void)!write(client, answer, sizeof answer - 1);
                break;
            }
            if (m_uploadAnswer.empty()) {
                // Take part of the body, then drop the connection.
                body += static_cast<size_t>(n);
                if (body > 256 * 1024) break;
                continue;
            }
            if (headerEnd == std::string::npos) continue;
            size_t lengthAt = request.find("Content-Length: ");
            size_t length = lengthAt < headerEnd ? std::stoul(request.substr(lengthAt + 16)) : 0;
            if (request.size() - (headerEnd + 4) < length) continue;
            (void)!send(client, m_uploadAnswer.data(), m_uploadAnswer.size(), MSG_NOSIGNAL);
            // At most 4 GiB, until the client stops reading (a closed connection is no signal).
            std::string filler(64 * 1024, 'x');
            for (int sent = 0; m_endless && !m_stop && sent < 65536; sent++)
                if (send(client, filler.data(), filler.size(), MSG_NOSIGNAL) <= 0) break;
            break;
        }
        close(client);
    }
}

std::map<std::string, std::string> DroppingServer::environment() const {
    return {{"ORVANE_REMOTE_ENDPOINT", "http://127.0.0.1:" + std::to_string(m_port)},
            {"ORVANE_REMOTE_BUCKET", "orvane"},
            {"ORVANE_REMOTE_ACCESS_KEY", "K"},
            {"ORVANE_REMOTE_SECRET_KEY", "S"}};
}

} // namespace Testing

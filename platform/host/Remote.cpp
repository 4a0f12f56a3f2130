#include "platform/Remote.h"
#include "CryptoLibrary.h"
#include "CurlLibrary.h"
#include "Host.h"
#include "HostFiles.h"
#include "HostServices.h"
#include "S3Client.h"
#include "platform/SysLog.h"
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <random>
#include <thread>
#include <unistd.h>

namespace Libraries::Tarnhold::Remote {
namespace {

constexpr unsigned Unreachable = 0x10004;
constexpr const char* fileContentType = "application/octet-stream";
constexpr const char* logContentType = "application/gzip";

// Both libraries, loaded when the store is first used; false (with the reason logged) when either
// cannot be, so that nothing is ever sent some other way.
bool librariesLoaded() {
    std::string problem;
    if (CurlLibrary::get(&problem) && Crypto::get(&problem)) return true;
    SysLogStream::writeLine(4, "Remote store client unavailable: " + problem);
    return false;
}

// The transfer runs on a thread of its own while the caller blocks, so notifiers are always called
// from another thread, as the library's contract allows. The file is read on that thread too; its
// last error is carried back to the caller's thread.
template <typename Work> auto onTransferThread(Work work) {
    decltype(work()) result{};
    unsigned lastError = 0;
    std::thread transfer([&] {
        result = work();
        lastError = Error::get();
    });
    transfer.join();
    Error::set(lastError);
    return result;
}

// Progress of one upload mapped onto [base, base + span] of what the notifier reports, never
// backwards (an attempt that is repeated starts its bytes again).
class Transfer : public TransferObserver {
  public:
    Transfer(ZEZUvedaze::Progress* notifier, double base, double span)
        : m_notifier(notifier), m_base(base), m_span(span) {}
    void report(double fraction) {
        double whole = m_base + m_span * fraction;
        int percent = static_cast<int>(whole * 100);
        if (!m_notifier || percent <= m_lastPercent) return;
        m_lastPercent = percent;
        if (auto* n = dynamic_cast<Interfaces::ProgressNotifier*>(m_notifier)) n->progress(0, whole);
    }
    void sent(uint64_t bytes, uint64_t total) override {
        if (total > 0) report(static_cast<double>(bytes) / static_cast<double>(total));
    }
    bool cancelled() override {
        if (m_notifier && m_notifier->abandon()) m_abandoned = true;
        return m_abandoned;
    }
    bool abandoned() const { return m_abandoned; }
    // The part of the whole that the next reports cover.
    void cover(double base, double span) {
        m_base = base;
        m_span = span;
    }

  private:
    ZEZUvedaze::Progress* m_notifier;
    double m_base, m_span;
    int m_lastPercent = -1;
    bool m_abandoned = false;
};

// Sends the whole file; the tag when the store took it, else empty with the reason in Error::get.
Ref<String> store(const StoreSettings& settings, const std::string& tag, const std::string& name,
                  Services::Filesystem::Client::File& file, const char* contentType, Transfer& transfer,
                  unsigned timeLimitMs) {
    std::string key = settings.prefix + tag + "/" + name;
    if (settings.maxBytes && file.size() > settings.maxBytes) {
        Error::set(Errors::TooLarge);
        return {};
    }
    bool stored = Host::storeClient().put(settings, key, file, contentType, transfer, timeLimitMs);
    if (transfer.abandoned() && !stored) Error::set(Errors::Cancelled);
    if (!stored) return {};
    transfer.report(1.0);
    return String::create(tag);
}

// Named where the user looks (standard error) and where support looks (the log).
void notConfigured(const std::string& said, const std::string& logged) {
    std::fprintf(stderr, "scrivletv2: %s\n", said.c_str());
    SysLogStream::writeLine(4, logged);
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
    std::shared_ptr<const StoreSettings> settings = Host::storeClient().reach(timeoutMs);
    if (!settings) return {};
    Ref<Capabilities> caps(new Capabilities);
    caps->m_capability = Ref<ZEZUvedaze>(new ZEZUvedaze(std::move(settings)));
    return caps;
}

Ref<ZEZUvedaze> ZEZUvedaze::create(const Ref<Capabilities::ZEZUvedaze>& capability) {
    if (!capability) {
        Error::set(Errors::Unavailable);
        return {};
    }
    if (!Host::storeClient().connect(*capability->settings())) return {};
    return Ref<ZEZUvedaze>(new ZEZUvedaze(capability->settings()));
}

Ref<String> ZEZUvedaze::uploadFile(const Ref<Services::Filesystem::Client::File>& stream,
                                   const Ref<String>& name, const Ref<Progress>& notifier,
                                   unsigned timeLimitMs) {
    if (!stream) {
        Error::set(Errors::NotFound);
        return {};
    }
    Transfer transfer(notifier.get(), 0, 1);
    return store(*m_settings, newTag(), stdString(name), *stream, fileContentType, transfer, timeLimitMs);
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
    Transfer transfer(notifier.get(), 0, 0.5);
    bool prepared = Host::compressLog(forCompressor, [&](double f) {
        transfer.report(f);
        return !transfer.cancelled();
    });
    if (transfer.abandoned()) {
        ::close(fd);
        Error::set(Errors::Cancelled);
        return {};
    }
    if (!prepared) {
        ::close(fd);
        Error::set(Errors::IoError);
        return {};
    }
    Ref<Services::Filesystem::Client::File> file = Host::HostFile::adopt(fd, "compressed system log");
    if (!file) return {};
    transfer.cover(0.5, 0.5);
    return store(*m_settings, newTag(), "Orvane-syslog-" + stdString(suffix) + ".log.gz", *file,
                 logContentType, transfer, timeLimitMs);
}

} // namespace Libraries::Tarnhold::Remote

namespace Host {
namespace {

using namespace Libraries::Tarnhold::Remote;

class HostStoreClient : public StoreClient {
  public:
    std::shared_ptr<const StoreSettings> reach(unsigned timeoutMs) override {
        StoreSettings s = readStoreSettings();
        if (s.endpoint.empty() || s.bucket.empty()) {
            std::string missing =
                s.endpoint.empty() ? "ORVANE_REMOTE_ENDPOINT (or remote.endpoint in the host configuration)"
                                   : "ORVANE_REMOTE_BUCKET (or remote.bucket in the host configuration)";
            notConfigured("no remote store is configured: set " + missing,
                          "Remote store not configured: set " + missing);
            Error::set(Errors::Unavailable);
            return {};
        }
        if (!s.problem.empty()) {
            notConfigured("the remote store settings cannot be used: " + s.problem,
                          "Remote store settings cannot be used: " + s.problem);
            Error::set(Errors::Unavailable);
            return {};
        }
        if (s.credentials.accessKey.empty())
            SysLogStream::writeLine(
                3,
                "No credentials for the remote store (ORVANE_REMOTE_ACCESS_KEY, AWS_ACCESS_KEY_ID or an AWS "
                "profile); requests go unsigned");
        if (!librariesLoaded()) {
            Error::set(Errors::Unavailable);
            return {};
        }
        bool answered = onTransferThread([&] {
            S3Client client(s, *CurlLibrary::get(), *Crypto::get(), timeoutMs);
            bool ok = client.reachable(timeoutMs);
            Error::set(ok ? 0 : client.error());
            return ok;
        });
        if (!answered) {
            unsigned code = Error::get();
            Error::set(code == Errors::Unavailable ? Unreachable : code);
            return {};
        }
        return std::make_shared<const StoreSettings>(std::move(s));
    }

    bool connect(const StoreSettings&) override { return true; }

    bool put(const StoreSettings& settings, const std::string& key, Services::Filesystem::Client::File& file,
             const char* contentType, TransferObserver& observer, unsigned timeLimitMs) override {
        if (!librariesLoaded()) {
            Error::set(Errors::Unavailable);
            return false;
        }
        return onTransferThread([&] {
            S3Client client(settings, *CurlLibrary::get(), *Crypto::get(), timeLimitMs);
            bool ok = client.put(key, file, contentType, observer);
            Error::set(ok ? 0 : client.error());
            return ok;
        });
    }
};

} // namespace

std::unique_ptr<StoreClient> makeHostStoreClient() {
    return std::make_unique<HostStoreClient>();
}

} // namespace Host

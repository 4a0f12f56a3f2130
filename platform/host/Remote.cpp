// The host's remote store: settings from the environment, the host configuration and the AWS
// files; requests made by the S3 client on a transfer thread of their own.
#include "CryptoLibrary.h"
#include "CurlLibrary.h"
#include "Encryption.h"
#include "HostFiles.h"
#include "HostPlatform.h"
#include "HostServices.h"
#include "RunResults.h"
#include "S3Client.h"
#include "TemporaryFile.h"
#include "platform/RemoteService.h"
#include "platform/SysLog.h"
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace Host {
namespace {

using namespace Libraries::Tarnhold::Remote;
using Services::Filesystem::Client::File;

constexpr unsigned Unreachable = 0x10004;

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

// Named where the user looks (standard error) and where support looks (the log).
void notConfigured(const std::string& said, const std::string& logged) {
    std::fprintf(stderr, "scrivletv2: %s\n", said.c_str());
    SysLogStream::writeLine(4, logged);
}

// A store that answered, with the settings it was reached by.
class HostStore : public Store {
  public:
    explicit HostStore(StoreSettings settings) : settings(std::move(settings)) {}
    std::string prefix() const override { return settings.prefix; }
    uint64_t maxBytes() const override { return settings.maxBytes; }
    const StoreSettings settings;
};

class HostRemote : public RemoteService {
  public:
    explicit HostRemote(HostPlatform& platform) : m_platform(platform) {}
    std::shared_ptr<const Store> reach(unsigned timeoutMs) override {
        StoreSettings s = readStoreSettings(m_platform.config().remote);
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
            S3Client client(s, *CurlLibrary::get(), *Crypto::get(), timeoutMs, m_platform.notes());
            bool ok = client.reachable(timeoutMs);
            Error::set(ok ? 0 : client.error());
            return ok;
        });
        if (!answered) {
            unsigned code = Error::get();
            Error::set(code == Errors::Unavailable ? Unreachable : code);
            return {};
        }
        return std::make_shared<const HostStore>(std::move(s));
    }

    // An upload to be encrypted has its recipients' keys found and checked here, when its client is
    // made: a key that cannot be used ends the upload before anything is read or sent.
    bool connect(const Store& store) override {
        const StoreSettings& settings = static_cast<const HostStore&>(store).settings;
        if (settings.encryptTo.empty()) return true;
        std::string problem;
        m_encryption = Encryption::forRecipients(settings.encryptTo, problem);
        if (m_encryption) return true;
        notConfigured("the upload cannot be encrypted, so nothing is sent: " + problem,
                      "Upload encryption unavailable: " + problem);
        Error::set(Errors::Failed);
        return false;
    }

    bool put(const Store& store, const std::string& key, File& file, const char* contentType,
             TransferObserver& observer, unsigned timeLimitMs) override {
        if (!librariesLoaded()) {
            Error::set(Errors::Unavailable);
            return false;
        }
        const StoreSettings& settings = static_cast<const HostStore&>(store).settings;
        return onTransferThread([&] {
            // Encrypted on the transfer thread too: the observer is asked whether to cancel as it goes.
            bool encrypting = !settings.encryptTo.empty();
            Ref<File> encrypted = encrypting ? encryptedCopy(file, observer) : Ref<File>();
            if (encrypting && !encrypted) return false;
            S3Client client(settings, *CurlLibrary::get(), *Crypto::get(), timeLimitMs, m_platform.notes());
            bool ok = encrypted ? client.put(key, *encrypted, Encryption::contentType, observer)
                                : client.put(key, file, contentType, observer);
            Error::set(ok ? 0 : client.error());
            if (ok) m_platform.notes().noteStoredKey(settings.prefix, key);
            return ok;
        });
    }

    // The compressed copy has no name at any time, so that no interruption can leave it behind.
    Ref<File> compressedLog(const std::function<bool(double)>& progress) override {
        int fd = anonymousTemporaryFile();
        int forCompressor = fd >= 0 ? ::dup(fd) : -1;
        if (forCompressor < 0) {
            if (fd >= 0) ::close(fd);
            Error::set(Errors::IoError);
            return {};
        }
        if (!m_platform.logs().compressLog(forCompressor, progress, {})) {
            ::close(fd);
            Error::set(Errors::IoError);
            return {};
        }
        return HostFile::adopt(fd, "compressed system log");
    }

  private:
    // The file encrypted into a file without a name, which is what is sent.
    Ref<File> encryptedCopy(File& file, TransferObserver& observer) {
        int fd = anonymousTemporaryFile();
        int forGpg = fd >= 0 ? ::dup(fd) : -1;
        std::string problem = "no temporary file can be made";
        if (!m_encryption) problem = "the recipients' keys were not checked";
        bool ok = forGpg >= 0 && m_encryption && file.setPosition(0) &&
                  m_encryption->encrypt(
                      file, forGpg, [&observer] { return observer.cancelled(); }, problem);
        if (forGpg >= 0) ::close(forGpg);
        if (!ok) {
            if (fd >= 0) ::close(fd);
            // A cancel is the user's own doing: nothing to explain.
            if (!observer.cancelled())
                notConfigured("the upload cannot be encrypted, so nothing is sent: " + problem,
                              "Upload encryption failed: " + problem);
            Error::set(Errors::IoError);
            return {};
        }
        return HostFile::adopt(fd, "encrypted upload");
    }
    HostPlatform& m_platform;
    std::unique_ptr<Encryption> m_encryption;
};

} // namespace

void installRemote(HostPlatform& platform) {
    installService<RemoteService>([&platform] {
        std::unique_ptr<RemoteService> service = std::make_unique<HostRemote>(platform);
        if (platform.faults().any()) service = withStoreFaults(std::move(service), platform.faults());
        return service;
    });
}

} // namespace Host

#include "MemoryRemote.h"
#include <thread>

namespace Libraries::Tarnhold::Remote {
namespace {

constexpr unsigned notReachable = 0x10004;
constexpr size_t step = 64 * 1024;

class MemoryStore : public Store {
  public:
    MemoryStore(std::string prefix, uint64_t maxBytes) : m_prefix(std::move(prefix)), m_maxBytes(maxBytes) {}
    std::string prefix() const override { return m_prefix; }
    uint64_t maxBytes() const override { return m_maxBytes; }

  private:
    std::string m_prefix;
    uint64_t m_maxBytes;
};

// Reads the file whole, step by step, telling the observer; false when the observer cancelled or
// the file could not be read (with the reason in Error::get).
bool readWhole(Services::Filesystem::Client::File& file, TransferObserver& observer, std::string& bytes) {
    uint64_t total = file.size();
    file.setPosition(0);
    char buffer[step];
    while (bytes.size() < total) {
        size_t n = file.readBytes(buffer, std::min<uint64_t>(step, total - bytes.size()));
        if (n == 0) {
            if (Error::get() == 0 || Error::get() == Errors::EndOfFile) Error::set(Errors::IoError);
            return false;
        }
        bytes.append(buffer, n);
        observer.sent(bytes.size(), total);
        if (observer.cancelled()) {
            Error::set(Errors::Cancelled);
            return false;
        }
    }
    return true;
}

} // namespace

std::shared_ptr<const Store> MemoryRemote::reach(unsigned) {
    if (!answers) {
        Error::set(notReachable);
        return {};
    }
    return std::make_shared<const MemoryStore>(prefix, maxBytes);
}

bool MemoryRemote::connect(const Store&) {
    return true;
}

bool MemoryRemote::put(const Store&, const std::string& key, Services::Filesystem::Client::File& file,
                       const char* contentType, TransferObserver& observer, unsigned) {
    bool stored = false;
    unsigned error = 0;
    std::thread transfer([&] {
        Object object{contentType, {}};
        if (!readWhole(file, observer, object.bytes)) {
            error = Error::get();
            return;
        }
        if (refuseWith) {
            error = refuseWith;
            return;
        }
        std::lock_guard lock(m_mutex);
        m_objects[key] = std::move(object);
        stored = true;
    });
    transfer.join();
    Error::set(error);
    return stored;
}

Ref<Services::Filesystem::Client::File>
MemoryRemote::compressedLog(const std::function<bool(double)>& progress) {
    if (!log) {
        Error::set(Errors::IoError);
        return {};
    }
    if (!progress(1.0)) {
        Error::set(Errors::Cancelled);
        return {};
    }
    return log;
}

std::map<std::string, MemoryRemote::Object> MemoryRemote::objects() const {
    std::lock_guard lock(m_mutex);
    return m_objects;
}

} // namespace Libraries::Tarnhold::Remote

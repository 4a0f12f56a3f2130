#pragma once
// What the remote-storage client library's calls reach: one RemoteService installed when the
// process starts (the host's S3 client, or a store held in memory in unit tests).
#include "Filesystem.h"
#include "ServiceSlot.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Libraries::Tarnhold::Remote {

// What a transfer tells its caller while it sends, and asks of it.
class TransferObserver {
  public:
    virtual ~TransferObserver() = default;
    // `bytes` of `total` have left so far (an attempt that is repeated counts from its start again).
    virtual void sent(uint64_t bytes, uint64_t total) = 0;
    virtual bool cancelled() = 0;
};

// A store that answered the capability query: where the uploads of the run go.
class Store {
  public:
    virtual ~Store() = default;
    // What the key of every object begins with.
    virtual std::string prefix() const = 0;
    // The largest upload the store is set to take; 0 when it sets none.
    virtual uint64_t maxBytes() const = 0;
};

class RemoteService {
  public:
    virtual ~RemoteService() = default;
    // The configured store, when it answered within the time; null with the reason in Error::get.
    virtual std::shared_ptr<const Store> reach(unsigned timeoutMs) = 0;
    // Whether an upload client can be made for the store; false with the reason in Error::get.
    virtual bool connect(const Store& store) = 0;
    // Sends the whole file under `key`; false with the reason in Error::get.
    virtual bool put(const Store& store, const std::string& key, Services::Filesystem::Client::File& file,
                     const char* contentType, TransferObserver& observer, unsigned timeLimitMs) = 0;
    // The system log, compressed into a file that has no name; progress from 0 to 1, which
    // answering false cancels. null with the reason in Error::get.
    virtual Ref<Services::Filesystem::Client::File>
    compressedLog(const std::function<bool(double)>& progress) = 0;
};

// Forwards every call to the service it wraps; a decorator overrides the calls it watches.
class RemoteServiceProxy : public RemoteService {
  public:
    explicit RemoteServiceProxy(std::unique_ptr<RemoteService> inner) : m_inner(std::move(inner)) {}
    std::shared_ptr<const Store> reach(unsigned timeoutMs) override { return m_inner->reach(timeoutMs); }
    bool connect(const Store& store) override { return m_inner->connect(store); }
    bool put(const Store& store, const std::string& key, Services::Filesystem::Client::File& file,
             const char* contentType, TransferObserver& observer, unsigned timeLimitMs) override {
        return m_inner->put(store, key, file, contentType, observer, timeLimitMs);
    }
    Ref<Services::Filesystem::Client::File>
    compressedLog(const std::function<bool(double)>& progress) override {
        return m_inner->compressedLog(progress);
    }

  private:
    std::unique_ptr<RemoteService> m_inner;
};

} // namespace Libraries::Tarnhold::Remote

// The name a use before the service is installed is reported with.
template <>
inline constexpr const char* serviceName<Libraries::Tarnhold::Remote::RemoteService> = "remote store service";

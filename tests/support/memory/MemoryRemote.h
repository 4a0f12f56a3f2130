#pragma once
// A remote store held in memory: it answers or not as a test says, keeps what is sent to it whole
// or not at all, and reports its progress in steps from a transfer thread, as the host's does.
#include "platform/RemoteService.h"
#include <map>
#include <mutex>

namespace Libraries::Tarnhold::Remote {

class MemoryRemote : public RemoteService {
  public:
    struct Object {
        std::string contentType;
        std::string bytes;
    };
    // What the store answers.
    std::string prefix = "uploads/";
    uint64_t maxBytes = 0;
    bool answers = true;     // false: the capability query fails (0x10004, not reachable)
    unsigned refuseWith = 0; // non-zero: every upload fails with this code
    // The compressed system log the store is sent for a log upload; null: it cannot be made.
    Ref<Services::Filesystem::Client::File> log;

    std::shared_ptr<const Store> reach(unsigned timeoutMs) override;
    bool connect(const Store& store) override;
    bool put(const Store& store, const std::string& key, Services::Filesystem::Client::File& file,
             const char* contentType, TransferObserver& observer, unsigned timeLimitMs) override;
    Ref<Services::Filesystem::Client::File>
    compressedLog(const std::function<bool(double)>& progress) override;

    std::map<std::string, Object> objects() const;

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, Object> m_objects;
};

} // namespace Libraries::Tarnhold::Remote

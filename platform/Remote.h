#pragma once
// Remote-storage client library: uploads to the ZEZ-Uvedaze, a write-only object store reached over
// the S3 protocol (PutObject, AWS Signature Version 4).
#include "Filesystem.h"
#include "String.h"
#include <memory>
#include <string>

namespace Interfaces {
class ProgressNotifier : public virtual RefCount {
  public:
    virtual void progress(int unused, double fraction) = 0;
};
} // namespace Interfaces

namespace Libraries::Tarnhold::Remote {

class Store; // a store that answered, made by the installed remote service

class Capabilities : public Object {
  public:
    class ZEZUvedaze : public Object {
      public:
        const std::shared_ptr<const Store>& store() const { return m_store; }

      private:
        explicit ZEZUvedaze(std::shared_ptr<const Store> store) : m_store(std::move(store)) {}
        std::shared_ptr<const Store> m_store;
        friend class Capabilities;
    };
    // Reads the store settings and checks within `timeoutMs` that the store answers.
    static Ref<Capabilities> create(bool refresh, unsigned timeoutMs, bool interactive);
    Ref<ZEZUvedaze> zezUvedaze() const { return m_capability; }

  private:
    Capabilities() = default;
    Ref<ZEZUvedaze> m_capability;
};

class ZEZUvedaze : public Object {
  public:
    class Progress : public virtual RefCount {
      public:
        // True when the transfer is to be abandoned.
        virtual bool abandon() = 0;
    };
    static Ref<ZEZUvedaze> create(const Ref<Capabilities::ZEZUvedaze>& capability);
    // Streams the file to the store; returns the tag, or empty with the reason in Error::get
    // (0x8442 abandoned, 0x8484 too large).
    Ref<String> uploadFile(const Ref<Services::Filesystem::Client::File>& stream, const Ref<String>& name,
                           const Ref<Progress>& notifier, unsigned timeLimitMs);
    // Gathers the system log (compressed) and sends it; fractions 0 to 0.5 while preparing.
    Ref<String> uploadSyslog(const Ref<String>& suffix, const Ref<Progress>& notifier, unsigned timeLimitMs);

  private:
    explicit ZEZUvedaze(std::shared_ptr<const Store> store) : m_store(std::move(store)) {}
    std::shared_ptr<const Store> m_store;
};

// A new tag: eight characters of a spoken-friendly alphabet.
std::string newTag();

} // namespace Libraries::Tarnhold::Remote

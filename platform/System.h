#pragma once
// System core of the hosted platform: system information, threads, semaphores, atomics, shared
// memory and the process exit code.
#include "Error.h"
#include "Object.h"
#include "String.h"
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Sys {
// System-information keys.
namespace Key {
inline constexpr unsigned Standalone = 0x20001;     // 0 when the platform runs on its own hardware
inline constexpr unsigned HostKind = 0x20002;       // 1 on a Windows host
inline constexpr unsigned HostFamily = 0x20003;     // 2 on a host whose root is a node of its own
inline constexpr unsigned HostPaths = 0x20012;      // non-zero when host paths are reached directly
inline constexpr unsigned LogRedirection = 0x20023; // the system log's redirection, a character per index
} // namespace Key
inline constexpr long long windowsHost = 1;
inline constexpr long long hostWithRootNode = 2;

// System-information query; a key with an index answers one character per index (0 past the end).
long long info(unsigned key, unsigned index = 0);
Ref<String> bootParameter();
} // namespace Sys

// What a thread runs.
class Exec : public virtual RefCount {
  public:
    virtual void run() = 0;
};

class Thd : public Object {
  public:
    static constexpr unsigned defaultPriority = 0xFFFFFFFF;
    static Ref<Thd> create(const Ref<Exec>& exec, unsigned priority, unsigned stackSize, unsigned flags,
                           const char* name);
    // Runs the thread's Exec on a thread of its own; the backend that made it counts it until it
    // returns.
    virtual bool start() = 0;
    static void sleep(unsigned milliseconds);
    // Waits until every thread the installed system service started has returned; false when the
    // time ran out.
    static bool waitForAll(unsigned timeoutMs);
    const std::string& name() const { return m_name; }
    const Ref<Exec>& exec() const { return m_exec; }

  protected:
    // A backend's own thread object (create() is what the program calls).
    Thd(Ref<Exec> exec, std::string name) : m_exec(std::move(exec)), m_name(std::move(name)) {}

  private:
    Ref<Exec> m_exec;
    std::string m_name;
};

class Sem : public Object {
  public:
    static Ref<Sem> create(unsigned count);
    // True when signalled within the timeout.
    bool wait(unsigned timeoutMs);
    void signal();
    explicit Sem(unsigned count) : m_count(count) {}

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    unsigned m_count;
};

namespace Atomic {
bool cas(volatile uint64_t* word, uint64_t expected, uint64_t desired);
}

// Memory a file transfer goes through: a shared-memory block or a file mapped onto one.
class TransferMemory : public virtual RefCount {
  public:
    virtual uint8_t* data() = 0;
    virtual size_t size() const = 0;
};

class ShMem : public Object, public TransferMemory {
  public:
    static Ref<ShMem> create(size_t bytes);
    ~ShMem() override;
    uint8_t* data() override { return m_data; }
    size_t size() const override { return m_size; }

    // What a backend keeps with the block while files are mapped onto it (the host's copy between
    // a source and a destination mapped onto the same block); it lasts as long as the block.
    class Attachment {
      public:
        virtual ~Attachment() = default;
    };
    Attachment* attachment() const { return m_attachment.get(); }
    void attach(std::unique_ptr<Attachment> attachment) { m_attachment = std::move(attachment); }

    // The backend's own block over memory from std::aligned_alloc, which it frees.
    ShMem(uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  private:
    uint8_t* m_data;
    size_t m_size;
    std::unique_ptr<Attachment> m_attachment;
};

namespace Proc {
// Ends the process with the low 8 bits of the code; a failure whose low byte is 0 exits with 255.
[[noreturn]] void setExitCode(unsigned code);
int exitStatusFor(unsigned code);
void setArguments(int argc, char** argv);
const std::vector<std::string>& arguments();
} // namespace Proc

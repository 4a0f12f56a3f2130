#include "platform/System.h"
#include "Host.h"
#include "HostFilesystem.h"
#include "HostPlatform.h"
#include "Signals.h"
#include "platform/FilesystemService.h"
#include "platform/SysLog.h"
#include "platform/SystemService.h"
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {
thread_local unsigned lastError = 0;
std::vector<std::string> processArguments;
} // namespace

Error Error::get() {
    return Error(lastError);
}
void Error::set(Error error) {
    lastError = error;
}

unsigned errorFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return Errors::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return Errors::NotWritable;
    case ENOTDIR:
        return Errors::NotADirectory;
    case ENAMETOOLONG:
    case ELOOP:
    case EXDEV: // a path the kernel would not follow out of its mount
        return Errors::InvalidPath;
    case EEXIST:
        return Errors::AlreadyExists;
    case ENOSPC:
    case EDQUOT:
        return Errors::NoSpace;
    case ENOTEMPTY:
        return Errors::NotEmpty;
    case ENOMEM:
        return Errors::OutOfMemory;
    case EWOULDBLOCK:
        return Errors::AlreadyOpened;
    default:
        return Errors::IoError;
    }
}

namespace Host {
namespace {

// The threads a system service started and that have not returned yet.
struct LiveThreads {
    std::mutex mutex;
    std::condition_variable changed;
    unsigned count = 0;
};

// A thread of the process, named after its Exec's purpose, counted while it runs.
class HostThread : public Thd {
  public:
    HostThread(const Ref<Exec>& exec, const std::string& name, LiveThreads& live)
        : Thd(exec, name), m_live(live) {}

    bool start() override {
        {
            std::lock_guard lock(m_live.mutex);
            m_live.count++;
        }
        std::thread([exec = exec(), name = name(), &live = m_live] {
            pthread_setname_np(pthread_self(), name.substr(0, maxThreadName).c_str());
            exec->run();
            std::lock_guard lock(live.mutex);
            live.count--;
            live.changed.notify_all();
        }).detach();
        return true;
    }

  private:
    // The kernel keeps 15 characters of a thread's name.
    static constexpr size_t maxThreadName = 15;
    LiveThreads& m_live;
};

// The system information and boot parameters of the configuration; threads, semaphores and
// page-aligned blocks of the process. The service outlives its threads: a service replaced is
// kept until the process ends.
class HostSystem : public SystemService {
  public:
    explicit HostSystem(HostPlatform& platform) : m_platform(platform) {}
    long long info(unsigned key, unsigned index) override {
        const Config& c = m_platform.config();
        if (key == Sys::Key::LogRedirection)
            return index < c.redirectText.size() ? static_cast<unsigned char>(c.redirectText[index]) : 0;
        auto it = c.sysInfo.find(key);
        return it == c.sysInfo.end() ? 0 : it->second;
    }
    std::string bootParameters() override { return m_platform.config().bootParameters; }
    Ref<Thd> createThread(const Ref<Exec>& exec, const std::string& name) override {
        return Ref<Thd>(new HostThread(exec, name, m_threads));
    }
    bool waitForThreads(unsigned timeoutMs) override {
        std::unique_lock lock(m_threads.mutex);
        return m_threads.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [this] { return m_threads.count == 0; });
    }
    Ref<Sem> createSemaphore(unsigned count) override { return Ref<Sem>(new Sem(count)); }
    Ref<ShMem> createSharedMemory(size_t bytes) override {
        constexpr size_t page = 4096;
        auto* data = static_cast<uint8_t*>(std::aligned_alloc(page, (bytes + page - 1) / page * page));
        if (!data) {
            Error::set(Errors::OutOfMemory);
            return {};
        }
        return Ref<ShMem>(new ShMem(data, bytes));
    }
    bool initCommandline() override { return true; }

  private:
    HostPlatform& m_platform;
    LiveThreads m_threads;
};

} // namespace

std::unique_ptr<SystemService> makeHostSystem(HostPlatform& platform) {
    return std::make_unique<HostSystem>(platform);
}

void installSystem(HostPlatform& platform) {
    installService<SystemService>([&platform] {
        std::unique_ptr<SystemService> service = makeHostSystem(platform);
        if (platform.faults().any()) service = withCoreFaults(std::move(service), platform.faults());
        return service;
    });
}

} // namespace Host

namespace Proc {
int exitStatusFor(unsigned code) {
    if (code != 0 && (code & 0xFF) == 0) return 255;
    return static_cast<int>(code & 0xFF);
}

void setExitCode(unsigned code) {
    // Platform threads finish their last steps (a log line, a closed dialog) before the process
    // tears down what they use.
    Thd::waitForAll(5000);
    // A run that shows no message (--silent) has its data on the medium before it ends all the same.
    service<Services::Filesystem::Client::FilesystemService>().flushWritten();
    // The full 32-bit code is kept in the log, since the process status holds only 8 bits.
    unsigned level = code == 0 ? 1 : 4;
    if (SysLogFilter::level() <= level && SysLogFilter::state(0)) {
        SysLogStream& line = SysLogStream::stdOutPrinter();
        line.setLevel(level).setTag(SysLogFilter::id(0));
        (line << "Exit code ").writeHex(code) << "h (" << std::to_string(code) << ")";
        line.end();
    }
    if (Signals::received()) Signals::endByReceived();
    std::exit(exitStatusFor(code));
}

void setArguments(int argc, char** argv) {
    processArguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
}
const std::vector<std::string>& arguments() {
    return processArguments;
}
} // namespace Proc

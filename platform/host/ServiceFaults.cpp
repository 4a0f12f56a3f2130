// The system core, the system log's export and the remote store failing or slowing on purpose, by
// the configuration's fault rules: decorators around the host's backends.
#include "Host.h"
#include "HostServices.h"
#include "platform/RemoteService.h"

namespace Host {
namespace {

using Libraries::Tarnhold::Remote::RemoteService;
using Libraries::Tarnhold::Remote::RemoteServiceProxy;
using Libraries::Tarnhold::Remote::Store;
using Libraries::Tarnhold::Remote::TransferObserver;

// "Thd::create" (subject: the thread's name), "Sem::create", "ShMem::create", "initCommandline".
class CoreFaults : public SystemServiceProxy {
  public:
    explicit CoreFaults(std::unique_ptr<SystemService> inner) : SystemServiceProxy(std::move(inner)) {}
    Ref<Thd> createThread(const Ref<Exec>& exec, const std::string& name) override {
        return failsNow("Thd::create", name) ? Ref<Thd>() : SystemServiceProxy::createThread(exec, name);
    }
    Ref<Sem> createSemaphore(unsigned count) override {
        return failsNow("Sem::create") ? Ref<Sem>() : SystemServiceProxy::createSemaphore(count);
    }
    Ref<ShMem> createSharedMemory(size_t bytes) override {
        return failsNow("ShMem::create") ? Ref<ShMem>() : SystemServiceProxy::createSharedMemory(bytes);
    }
    bool initCommandline() override {
        return !failsNow("initCommandline") && SystemServiceProxy::initCommandline();
    }
};

// "SysLog::exportLog" and "SysLogExport::run" (subject: the export's path) fail the export when it
// starts and before its copy takes its name; "SysLogExport::chunk" (the same subject, empty for
// the upload's copy) is called at every step of the compression, for its delay.
class LogFaults : public LogExporter {
  public:
    explicit LogFaults(std::unique_ptr<LogExporter> inner) : m_inner(std::move(inner)) {}
    Ref<SysLog::SysLogExport> exportLog(const Ref<String>& path) override {
        return failsNow("SysLog::exportLog", stdString(path)) ? Ref<SysLog::SysLogExport>()
                                                              : m_inner->exportLog(path);
    }
    bool compressLog(int target, const std::function<bool(double)>& progress,
                     const std::string& subject) override {
        auto slowed = [&](double fraction) {
            fault("SysLogExport::chunk", subject);
            return progress(fraction);
        };
        return m_inner->compressLog(target, slowed, subject);
    }
    bool finishExport(const std::string& path) override {
        return !failsNow("SysLogExport::run", path) && m_inner->finishExport(path);
    }

  private:
    std::unique_ptr<LogExporter> m_inner;
};

// "Capabilities::create", "ZEZUvedaze::create", "ZEZUvedaze::upload" (subject: the object's key).
class StoreFaults : public RemoteServiceProxy {
  public:
    explicit StoreFaults(std::unique_ptr<RemoteService> inner) : RemoteServiceProxy(std::move(inner)) {}
    std::shared_ptr<const Store> reach(unsigned timeoutMs) override {
        return failsNow("Capabilities::create") ? nullptr : RemoteServiceProxy::reach(timeoutMs);
    }
    bool connect(const Store& store) override {
        return !failsNow("ZEZUvedaze::create") && RemoteServiceProxy::connect(store);
    }
    bool put(const Store& store, const std::string& key, Services::Filesystem::Client::File& file,
             const char* contentType, TransferObserver& observer, unsigned timeLimitMs) override {
        return !failsNow("ZEZUvedaze::upload", key) &&
               RemoteServiceProxy::put(store, key, file, contentType, observer, timeLimitMs);
    }
};

} // namespace

std::unique_ptr<SystemService> withCoreFaults(std::unique_ptr<SystemService> inner) {
    return std::make_unique<CoreFaults>(std::move(inner));
}

std::unique_ptr<LogExporter> withLogFaults(std::unique_ptr<LogExporter> inner) {
    return std::make_unique<LogFaults>(std::move(inner));
}

std::unique_ptr<RemoteService> withStoreFaults(std::unique_ptr<RemoteService> inner) {
    return std::make_unique<StoreFaults>(std::move(inner));
}

} // namespace Host

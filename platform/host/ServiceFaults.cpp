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
    CoreFaults(std::unique_ptr<SystemService> inner, FaultRules& rules)
        : SystemServiceProxy(std::move(inner)), m_rules(rules) {}
    Ref<Thd> createThread(const Ref<Exec>& exec, const std::string& name) override {
        return m_rules.failsNow("Thd::create", name) ? Ref<Thd>()
                                                     : SystemServiceProxy::createThread(exec, name);
    }
    Ref<Sem> createSemaphore(unsigned count) override {
        return m_rules.failsNow("Sem::create") ? Ref<Sem>() : SystemServiceProxy::createSemaphore(count);
    }
    Ref<ShMem> createSharedMemory(size_t bytes) override {
        return m_rules.failsNow("ShMem::create") ? Ref<ShMem>()
                                                 : SystemServiceProxy::createSharedMemory(bytes);
    }
    bool initCommandline() override {
        return !m_rules.failsNow("initCommandline") && SystemServiceProxy::initCommandline();
    }

  private:
    FaultRules& m_rules;
};

// "SysLog::exportLog" and "SysLogExport::run" (subject: the export's path) fail the export when it
// starts and before its copy takes its name; "SysLogExport::chunk" (the same subject, empty for
// the upload's copy) is called at every step of the compression, for its delay.
class LogFaults : public LogExporter {
  public:
    LogFaults(std::unique_ptr<LogExporter> inner, FaultRules& rules)
        : m_inner(std::move(inner)), m_rules(rules) {}
    Ref<SysLog::SysLogExport> exportLog(const Ref<String>& path) override {
        return m_rules.failsNow("SysLog::exportLog", stdString(path)) ? Ref<SysLog::SysLogExport>()
                                                                      : m_inner->exportLog(path);
    }
    bool compressLog(int target, const std::function<bool(double)>& progress,
                     const std::string& subject) override {
        auto slowed = [&](double fraction) {
            m_rules.fault("SysLogExport::chunk", subject);
            return progress(fraction);
        };
        return m_inner->compressLog(target, slowed, subject);
    }
    bool finishExport(const std::string& path) override {
        return !m_rules.failsNow("SysLogExport::run", path) && m_inner->finishExport(path);
    }

  private:
    std::unique_ptr<LogExporter> m_inner;
    FaultRules& m_rules;
};

// "Capabilities::create", "ZEZUvedaze::create", "ZEZUvedaze::upload" (subject: the object's key).
class StoreFaults : public RemoteServiceProxy {
  public:
    StoreFaults(std::unique_ptr<RemoteService> inner, FaultRules& rules)
        : RemoteServiceProxy(std::move(inner)), m_rules(rules) {}
    std::shared_ptr<const Store> reach(unsigned timeoutMs) override {
        return m_rules.failsNow("Capabilities::create") ? nullptr : RemoteServiceProxy::reach(timeoutMs);
    }
    bool connect(const Store& store) override {
        return !m_rules.failsNow("ZEZUvedaze::create") && RemoteServiceProxy::connect(store);
    }
    bool put(const Store& store, const std::string& key, Services::Filesystem::Client::File& file,
             const char* contentType, TransferObserver& observer, unsigned timeLimitMs) override {
        return !m_rules.failsNow("ZEZUvedaze::upload", key) &&
               RemoteServiceProxy::put(store, key, file, contentType, observer, timeLimitMs);
    }

  private:
    FaultRules& m_rules;
};

} // namespace

std::unique_ptr<SystemService> withCoreFaults(std::unique_ptr<SystemService> inner, FaultRules& rules) {
    return std::make_unique<CoreFaults>(std::move(inner), rules);
}

std::unique_ptr<LogExporter> withLogFaults(std::unique_ptr<LogExporter> inner, FaultRules& rules) {
    return std::make_unique<LogFaults>(std::move(inner), rules);
}

std::unique_ptr<RemoteService> withStoreFaults(std::unique_ptr<RemoteService> inner, FaultRules& rules) {
    return std::make_unique<StoreFaults>(std::move(inner), rules);
}

} // namespace Host

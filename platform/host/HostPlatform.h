#pragma once
// The one object that owns the hosted platform's state for the run: the configuration and its
// fault rules, the namespace (mounts, nodes, held directories), and what the run has created,
// written and removed. The host's modules keep no state of their own; each reaches its part here.
// Each part's type belongs to the module that uses it; this object only holds and releases them.
#include "Host.h"
#include "HostServices.h"
#include <memory>
#include <mutex>

namespace Namespace {
struct State;
struct StateDeleter {
    void operator()(State* state) const;
};
std::unique_ptr<State, StateDeleter> makeState();
} // namespace Namespace

namespace Host {

struct FileRunState;
struct FileRunStateDeleter {
    void operator()(FileRunState* state) const;
};
std::unique_ptr<FileRunState, FileRunStateDeleter> makeFileRunState();
struct LogRunState;
struct LogRunStateDeleter {
    void operator()(LogRunState* state) const;
};
std::unique_ptr<LogRunState, LogRunStateDeleter> makeLogRunState();

class HostPlatform {
  public:
    // The run's platform, set up at its first use and kept until the process ends (the process's
    // own teardown must not meet the namespace gone).
    static HostPlatform& instance();

    const Config& config() const { return m_config; }
    FaultRules& faults() { return m_faults; }
    Namespace::State& names() { return *m_names; }
    FileRunState& files() { return *m_files; }
    LogRunState& logState() { return *m_logState; }
    // The log exporter, made at its first use (with the fault rules around it when there are any).
    LogExporter& logs();

  private:
    HostPlatform();
    const Config m_config;
    FaultRules m_faults;
    std::unique_ptr<Namespace::State, Namespace::StateDeleter> m_names;
    std::unique_ptr<FileRunState, FileRunStateDeleter> m_files;
    std::unique_ptr<LogRunState, LogRunStateDeleter> m_logState;
    std::once_flag m_logsMade;
    std::unique_ptr<LogExporter> m_logs;
};

} // namespace Host

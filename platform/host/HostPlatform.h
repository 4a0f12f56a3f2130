#pragma once
// The object that owns the hosted platform's state for the run: the configuration and its fault
// rules, the namespace (mounts, nodes, held directories), what the run has created, written and
// removed, the system log's state, and the results and failure causes its messages report. The
// program's start-up makes it and hands it to each host service it installs; the host's modules
// keep no state of their own. Each part's type belongs to the module that uses it; this object
// only holds and releases them.
#include "FileRunState.h"
#include "Host.h"
#include "HostServices.h"
#include "RunResults.h"
#include <atomic>
#include <memory>
#include <mutex>

namespace Namespace {
class Tree;
} // namespace Namespace

namespace Host {

struct LogRunState;
struct LogRunStateDeleter {
    void operator()(LogRunState* state) const;
};
std::unique_ptr<LogRunState, LogRunStateDeleter> makeLogRunState(const Config& config);

class HostPlatform {
  public:
    // Nothing is read yet: the configuration is loaded, and the parts made, at the first call that
    // needs one (a configuration that cannot be used ends the run there, saying why), so that a
    // run is set up only as far as it goes. Kept until the process ends: the process's own
    // teardown must not meet the namespace gone.
    HostPlatform();
    ~HostPlatform();
    HostPlatform(const HostPlatform&) = delete;
    HostPlatform& operator=(const HostPlatform&) = delete;

    const Config& config();
    FaultRules& faults();
    Namespace::Tree& names();
    FileRunState& files();
    LogRunState& logState();
    // What the run produced and why its last step failed, for the messages that say so.
    RunNotes& notes() { return m_notes; }
    // The log exporter, made at its first use (with the fault rules around it when there are any).
    LogExporter& logs();

  private:
    struct Parts;
    Parts& parts();
    std::once_flag m_partsMade;
    std::unique_ptr<Parts> m_parts;
    std::atomic<Parts*> m_partsReady{nullptr};
    std::once_flag m_logsMade;
    std::unique_ptr<LogExporter> m_logs;
    RunNotes m_notes;
};

} // namespace Host

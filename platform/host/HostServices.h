#pragma once
// How the host's services are installed behind the platform's facades, and the system log's
// compressed copies below the host's system log. Each is the host's own, or, when the configuration
// has fault rules, the same wrapped in a decorator that fails or slows the calls the rules name; the
// host's own carry no fault checks. The log exporter is made by HostPlatform at its first use.
#include "platform/Filesystem.h"
#include "platform/SysLog.h"
#include "platform/System.h"
#include "platform/SystemService.h"
#include <functional>
#include <memory>
#include <string>

namespace Libraries::Tarnhold::Remote {
class RemoteService;
} // namespace Libraries::Tarnhold::Remote

namespace Host {

class FaultRules;
class HostPlatform;

// The system log's compressed copies: an export to a platform path that runs on its own, and the
// compression itself into a descriptor. `subject` names what the copy is for (the export's path).
class LogExporter {
  public:
    virtual ~LogExporter() = default;
    virtual Ref<SysLog::SysLogExport> exportLog(const Ref<String>& path) = 0;
    virtual bool compressLog(int target, const std::function<bool(double)>& progress,
                             const std::string& subject) = 0;
    // The last step of an export before its copy takes its name: false keeps the name as it was.
    virtual bool finishExport(const std::string& path) = 0;
};

std::unique_ptr<LogExporter> makeHostLogExporter(HostPlatform& platform);
std::unique_ptr<SystemService> withCoreFaults(std::unique_ptr<SystemService> inner, FaultRules& rules);
std::unique_ptr<LogExporter> withLogFaults(std::unique_ptr<LogExporter> inner, FaultRules& rules);
std::unique_ptr<Libraries::Tarnhold::Remote::RemoteService>
withStoreFaults(std::unique_ptr<Libraries::Tarnhold::Remote::RemoteService> inner, FaultRules& rules);

// The host's system core, system log, remote store, clock, console and catalogue, installed
// behind the platform's facades, each handed the run's platform.
void installSystem(HostPlatform& platform);
std::unique_ptr<SystemService> makeHostSystem(HostPlatform& platform);
void installSysLog(HostPlatform& platform);
void installRemote(HostPlatform& platform);
void installClock(HostPlatform& platform);
void installConsole();
void installCatalogue(HostPlatform& platform);
// Every service the platform's facades reach, the host's own: the system core, the filesystem, the
// dialogs, the environment, the system log, the remote store, the clock, the console and the
// catalogue.
void installServices(HostPlatform& platform);

} // namespace Host

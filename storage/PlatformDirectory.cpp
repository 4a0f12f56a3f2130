// The platform's own storage directories: mount the node behind a path identifier and find the
// directory's path in the mounted tree.
#include "Storage.h"
#include "common/Log.h"
#include "common/PlatformNames.h"
#include "common/StepMarkers.h"
#include "platform/Environment.h"
#include "platform/System.h"
#include "platform/Time.h"

namespace Applications::Commands::Scrivlet {

namespace {
// The platform path identifiers of the log and file directories; each alternate is two further.
constexpr unsigned logDirectoryId = 7;
constexpr unsigned fileDirectoryId = 8;
constexpr unsigned alternateOffset = 2;
// How the platform directory's node is mounted (the mount service's flag bits 1 and 2).
constexpr unsigned mountFlags = 3;
} // namespace

Error accessPlatformDirectory(unsigned pathId, bool logNodeFailure, Ref<MountEntry>& mountEntry,
                              Ref<String>& path) {
    Error::set(0);
    mountEntry.reset();
    path.reset();

    Ref<String> node = PlatformEnvironment::getPathNode(pathId);
    if (!node) {
        Error code = Error::get();
        if (logNodeFailure) {
            LogLine(LogLevel::Problem) << "Failed to determine node of main platform path " << Code{pathId}
                                       << "; error: " << Code{code};
            LogLine(LogLevel::Failure) << "Main directory not available";
        }
        return Error(Errors::Failed | marker(PlatformDirectoryStep::NoNode));
    }

    Ref<Entry::Parameters> parameters = Entry::Parameters::create();
    parameters->setFlushTimeout(Entry::Parameters::defaultFlushTimeout());
    if (Sys::info(Sys::Key::HostKind) == Sys::windowsHost)
        parameters->options().push_back(String::create("win"));

    mountEntry = Entry::create(node, 0, mountFlags, parameters);
    if (!mountEntry) {
        LogLine(LogLevel::Problem) << "Failed to mount main platform directory node " << node
                                   << "; error: " << Code{Error::get()};
    } else {
        path = PlatformEnvironment::getPath(pathId);
        if (!path) {
            LogLine(LogLevel::Problem)
                << "Failed to determine path to main platform directory from node " << node << " mounted as "
                << mountEntry->mountPoint() << "; error: " << Code{Error::get()};
            mountEntry.reset();
        }
    }
    if (!mountEntry || !path) {
        LogLine(LogLevel::Failure) << "Failed to access platform directory for " << Code{pathId};
        mountEntry.reset();
        path.reset();
        return Error(Errors::Failed | marker(PlatformDirectoryStep::NotMounted));
    }

    if (Sys::info(Sys::Key::HostPaths) == 0) {
        Error::set(0);
        if (!PlatformEnvironment::ensureHostPathHierarchy(path, true) && Error::get() != Errors::Unavailable)
            LogLine(LogLevel::Problem) << "Failed to ensure accessibility of host path " << path;
    }
    return Error(0);
}

Error platformLogDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path) {
    return accessPlatformDirectory(logDirectoryId + alternateOffset * alternate, !alternate, mountEntry,
                                   path);
}

Error platformFileDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path) {
    return accessPlatformDirectory(fileDirectoryId + alternateOffset * alternate, !alternate, mountEntry,
                                   path);
}

} // namespace Applications::Commands::Scrivlet

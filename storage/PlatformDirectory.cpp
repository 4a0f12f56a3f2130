// The platform's own storage directories: mount the node behind a path identifier and find the
// directory's path in the mounted tree.
#include "Storage.h"
#include "common/Log.h"
#include "platform/Environment.h"
#include "platform/System.h"
#include "platform/Time.h"

namespace Applications::Commands::Scrivlet {

using Services::Mount::Client::Entry;

Error accessPlatformDirectory(unsigned pathId, bool logNodeFailure, Ref<MountEntry>& mountEntry,
                              Ref<String>& path) {
    Error::set(0);
    mountEntry.reset();
    path.reset();

    Ref<String> node = PlatformEnvironment::getPathNode(pathId);
    if (!node) {
        Error code = Error::get();
        if (logNodeFailure) {
            LogLine(3) << "Failed to determine node of main platform path " << Code{pathId}
                       << "; error: " << Code{code};
            LogLine(4) << "Main directory not available";
        }
        return Error(0x70008443);
    }

    Ref<Entry::Parameters> parameters = Entry::Parameters::create();
    parameters->setFlushTimeout(Entry::Parameters::defaultFlushTimeout());
    if (Sys::info(0x20002) == 1) parameters->options().push_back(String::create("win"));

    mountEntry = Entry::create(node, 0, 3, parameters);
    if (!mountEntry) {
        LogLine(3) << "Failed to mount main platform directory node " << node
                   << "; error: " << Code{Error::get()};
    } else {
        path = PlatformEnvironment::getPath(pathId);
        if (!path) {
            LogLine(3) << "Failed to determine path to main platform directory from node " << node
                       << " mounted as " << mountEntry->mountPoint() << "; error: " << Code{Error::get()};
            mountEntry.reset();
        }
    }
    if (!mountEntry || !path) {
        LogLine(4) << "Failed to access platform directory for " << Code{pathId};
        mountEntry.reset();
        path.reset();
        return Error(0x50008443);
    }

    if (Sys::info(0x20012) == 0) {
        Error::set(0);
        if (!PlatformEnvironment::ensureHostPathHierarchy(path, true) && Error::get() != 0x10002)
            LogLine(3) << "Failed to ensure accessibility of host path " << path;
    }
    return Error(0);
}

Error platformLogDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path) {
    return accessPlatformDirectory(7 + 2 * alternate, !alternate, mountEntry, path);
}

Error platformFileDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path) {
    return accessPlatformDirectory(8 + 2 * alternate, !alternate, mountEntry, path);
}

} // namespace Applications::Commands::Scrivlet

#pragma once
// One export of the system log to a file: compressed on a thread of its own into a replacement
// nobody can see, which takes the file's name only once it is whole and on its medium.
#include "platform/SysLog.h"
#include <string>

namespace Host {

class HostPlatform;

// Starts the export of the log to the platform path `path`; nothing, the reason in Error::get,
// when it cannot begin. The log is never exported into `storeDirectory`, its own store on the host.
Ref<SysLog::SysLogExport> startLogExport(HostPlatform& platform, const Ref<String>& path,
                                         const std::string& storeDirectory);

} // namespace Host

#pragma once
// The host's file service: platform paths resolved in the namespace and opened beneath their
// mounts; and the decorator that fails its opening calls by the fault rules.
#include "platform/FilesystemService.h"
#include <memory>

namespace Host {

class HostFilesystem : public Services::Filesystem::Client::FilesystemService {
  public:
    Ref<String> platformPath(const Ref<String>& path) override;
    Ref<Services::Filesystem::Client::FSItem> openItem(const Ref<String>& path) override;
    Ref<Services::Filesystem::Client::File> openFile(const Ref<String>& path, unsigned mode) override;
    Ref<Services::Filesystem::Client::Directory> openDirectory(const Ref<String>& path,
                                                               unsigned mode) override;
    bool mountInfo(std::vector<Services::Mount::Client::MountNode>& list) override;
    Ref<Services::Mount::Client::Entry> mount(const Ref<String>& node) override;
};

// Fails "FSItem::open", "File::open", "Directory::open" (subject: the platform path),
// "Mount::info" and "Entry::create" (subject: the node).
std::unique_ptr<Services::Filesystem::Client::FilesystemService>
withFilesystemFaults(std::unique_ptr<Services::Filesystem::Client::FilesystemService> inner);
// Installs the host's file service, with the fault rules when there are any, made at its first use.
void installFilesystem();

} // namespace Host

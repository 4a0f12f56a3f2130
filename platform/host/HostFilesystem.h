#pragma once
// The host's file service: platform paths resolved in the namespace and opened beneath their
// mounts; and the decorator that fails its calls by the fault rules. What the run has written and
// removed through it is kept in its platform's FileRunState.
#include "platform/FilesystemService.h"
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace Host {

class FaultRules;
class HostPlatform;

class HostFilesystem : public Services::Filesystem::Client::FilesystemService {
  public:
    explicit HostFilesystem(HostPlatform& platform) : m_platform(platform) {}
    Ref<String> platformPath(const Ref<String>& path) override;
    Ref<Services::Filesystem::Client::FSItem> openItem(const Ref<String>& path) override;
    Ref<Services::Filesystem::Client::File> openFile(const Ref<String>& path, unsigned mode) override;
    Ref<Services::Filesystem::Client::Directory> openDirectory(const Ref<String>& path,
                                                               unsigned mode) override;
    bool mountInfo(std::vector<Services::Mount::Client::MountNode>& list) override;
    Ref<Services::Mount::Client::Entry> mount(const Ref<String>& node) override;
    bool openNode(const Ref<String>& node) override;
    bool openProvider(const Ref<String>& node) override;
    bool openGenericProvider(const Ref<String>& node) override;
    Ref<Variant> nodeAttribute(const Ref<String>& node, const char* name) override;
    bool flushWritten() override;

    // Whether the run looked for that path and found nothing there (a name searched for being
    // free): such a name is later taken only if still free.
    bool foundFree(const Ref<String>& path);

  private:
    HostPlatform& m_platform;
};

// Fails the service's calls and the handles' operations by the fault rules: "FSItem::open",
// "File::open", "Directory::open", "FSItem::getAtr", "File::read", "File::write", "File::map",
// "File::setAttribute", "Directory::iterator" (subject: the platform path),
// "Directory::createDirectory", "Directory::createFile", "Directory::remove" (subject: the
// child's path), "Mount::info", "Entry::create", "Nodes::open", "Provider::create",
// "Generic::create" (subject: the node); and cuts reads and writes short by the byte limits.
std::unique_ptr<Services::Filesystem::Client::FilesystemService>
withFilesystemFaults(std::unique_ptr<Services::Filesystem::Client::FilesystemService> inner,
                     FaultRules& rules);
// Installs the host's file service, with the fault rules when there are any, made at its first use.
void installFilesystem(HostPlatform& platform);

} // namespace Host

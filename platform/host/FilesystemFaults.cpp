// Opening calls of the file service that fail on purpose, by the configuration's fault rules.
#include "Host.h"
#include "HostFilesystem.h"
#include "platform/Error.h"

namespace Host {
namespace {

using namespace Services::Filesystem::Client;
using Services::Mount::Client::Entry;
using Services::Mount::Client::MountNode;

class FilesystemFaults : public FilesystemServiceProxy {
  public:
    using FilesystemServiceProxy::FilesystemServiceProxy;

    Ref<FSItem> openItem(const Ref<String>& path) override {
        return failsOn("FSItem::open", path) ? Ref<FSItem>() : FilesystemServiceProxy::openItem(path);
    }
    Ref<File> openFile(const Ref<String>& path, unsigned mode) override {
        return failsOn("File::open", path) ? Ref<File>() : FilesystemServiceProxy::openFile(path, mode);
    }
    Ref<Directory> openDirectory(const Ref<String>& path, unsigned mode) override {
        return failsOn("Directory::open", path) ? Ref<Directory>()
                                                : FilesystemServiceProxy::openDirectory(path, mode);
    }
    bool mountInfo(std::vector<MountNode>& list) override {
        return !failsNow("Mount::info") && FilesystemServiceProxy::mountInfo(list);
    }
    Ref<Entry> mount(const Ref<String>& node) override {
        return failsNow("Entry::create", stdString(node)) ? Ref<Entry>()
                                                          : FilesystemServiceProxy::mount(node);
    }

  private:
    // The rules match the platform path the call names; a path that names none fails in the
    // service itself, as without rules.
    bool failsOn(std::string_view op, const Ref<String>& path) {
        Ref<String> platformPath = FilesystemServiceProxy::platformPath(path);
        return platformPath && failsNow(op, platformPath->str());
    }
};

} // namespace

std::unique_ptr<FilesystemService> withFilesystemFaults(std::unique_ptr<FilesystemService> inner) {
    return std::make_unique<FilesystemFaults>(std::move(inner));
}

void installFilesystem() {
    installFilesystemService([] {
        std::unique_ptr<FilesystemService> service = std::make_unique<HostFilesystem>();
        if (hasFaultRules()) service = withFilesystemFaults(std::move(service));
        return service;
    });
}

} // namespace Host

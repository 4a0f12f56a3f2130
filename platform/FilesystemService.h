#pragma once
// What the file service's opening calls reach: one FilesystemService installed when the process
// starts, possibly wrapped by decorators (FilesystemServiceProxy) that fail or count its calls.
// The handles it returns (FSItem, File, Directory, Entry) are its own.
#include "Filesystem.h"
#include "ServiceSlot.h"
#include <functional>
#include <memory>
#include <vector>

namespace Services::Filesystem::Client {

class FilesystemService {
  public:
    virtual ~FilesystemService() = default;
    // The platform path `path` names, absolute and normal: what fault rules and observers match
    // against. Null when it names none (the reason in Error::get).
    virtual Ref<String> platformPath(const Ref<String>& path) = 0;
    // Each null with the reason in Error::get.
    virtual Ref<FSItem> openItem(const Ref<String>& path) = 0;
    virtual Ref<File> openFile(const Ref<String>& path, unsigned mode) = 0;
    virtual Ref<Directory> openDirectory(const Ref<String>& path, unsigned mode) = 0;
    virtual bool mountInfo(std::vector<Services::Mount::Client::MountNode>& list) = 0;
    virtual Ref<Services::Mount::Client::Entry> mount(const Ref<String>& node) = 0;
    // The node's providers: false with the reason in Error::get when the node cannot be reached
    // that way; its attributes through the generic provider (an absent one has no entries).
    virtual bool openNode(const Ref<String>& node) = 0;
    virtual bool openProvider(const Ref<String>& node) = 0;
    virtual bool openGenericProvider(const Ref<String>& node) = 0;
    virtual Ref<Variant> nodeAttribute(const Ref<String>& node, const char* name) = 0;
    // Puts what was written through the service since the last flush on its medium; false (the
    // failure logged) when some of it could not be. Nothing that reads as "saved" is said before.
    virtual bool flushWritten() = 0;
};

// Forwards every call to the service it wraps; a decorator overrides the calls it watches.
class FilesystemServiceProxy : public FilesystemService {
  public:
    explicit FilesystemServiceProxy(std::unique_ptr<FilesystemService> inner) : m_inner(std::move(inner)) {}
    Ref<String> platformPath(const Ref<String>& path) override { return m_inner->platformPath(path); }
    Ref<FSItem> openItem(const Ref<String>& path) override { return m_inner->openItem(path); }
    Ref<File> openFile(const Ref<String>& path, unsigned mode) override {
        return m_inner->openFile(path, mode);
    }
    Ref<Directory> openDirectory(const Ref<String>& path, unsigned mode) override {
        return m_inner->openDirectory(path, mode);
    }
    bool mountInfo(std::vector<Services::Mount::Client::MountNode>& list) override {
        return m_inner->mountInfo(list);
    }
    Ref<Services::Mount::Client::Entry> mount(const Ref<String>& node) override {
        return m_inner->mount(node);
    }
    bool openNode(const Ref<String>& node) override { return m_inner->openNode(node); }
    bool openProvider(const Ref<String>& node) override { return m_inner->openProvider(node); }
    bool openGenericProvider(const Ref<String>& node) override { return m_inner->openGenericProvider(node); }
    Ref<Variant> nodeAttribute(const Ref<String>& node, const char* name) override {
        return m_inner->nodeAttribute(node, name);
    }
    bool flushWritten() override { return m_inner->flushWritten(); }

  private:
    std::unique_ptr<FilesystemService> m_inner;
};

} // namespace Services::Filesystem::Client

// The name a use before the service is installed is reported with.
template <>
inline constexpr const char* serviceName<Services::Filesystem::Client::FilesystemService> = "file service";

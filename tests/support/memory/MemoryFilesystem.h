#pragma once
// A file service held in memory: a tree of directories and files below "/", and nodes that are
// mounted at their mount points when asked. It lets tests drive the program's logic (paths shown,
// names, directory hierarchies, the name registry) without a disk, a root or a process, and see
// what it did to the tree afterwards.
#include "platform/FilesystemService.h"
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Services::Filesystem::Client {

class MemoryFilesystem : public FilesystemService {
  public:
    struct Entry;

    MemoryFilesystem();
    ~MemoryFilesystem() override;

    // Setting the tree up. Paths are platform paths; missing parents are made.
    void addDirectory(const std::string& path);
    void addFile(const std::string& path, const std::string& contents, long long modifiedMs = 0);
    // Nothing below the directory can be created, written or removed.
    void setReadOnly(const std::string& path);
    // At most this many bytes of file contents in the whole tree: a write past it is cut short with
    // "no space".
    void setCapacity(uint64_t bytes);
    // A node with its attributes (strings and integers); mounted at `mountPoint` when `mounted`,
    // otherwise when the program asks.
    void addNode(const std::string& name, const std::string& mountPoint,
                 std::map<std::string, std::string> textAttributes = {}, bool mounted = true);

    // Looking at the tree afterwards.
    bool isDirectory(const std::string& path) const;
    // The file's contents, or nothing when there is no file there.
    std::optional<std::string> contents(const std::string& path) const;
    // The names in a directory, sorted.
    std::vector<std::string> list(const std::string& path) const;

    Ref<String> platformPath(const Ref<String>& path) override;
    Ref<FSItem> openItem(const Ref<String>& path) override;
    Ref<File> openFile(const Ref<String>& path, unsigned mode) override;
    Ref<Directory> openDirectory(const Ref<String>& path, unsigned mode) override;
    bool mountInfo(std::vector<Services::Mount::Client::MountNode>& list) override;
    Ref<Services::Mount::Client::Entry> mount(const Ref<String>& node) override;
    bool openNode(const Ref<String>& node) override;
    bool openProvider(const Ref<String>& node) override;
    bool openGenericProvider(const Ref<String>& node) override;
    Ref<Variant> nodeAttribute(const Ref<String>& node, const char* name) override;
    // Memory has no medium to wait for.
    bool flushWritten() override { return true; }

    // What the handles share with the service: the tree's capacity and what is in use of it.
    struct Space {
        uint64_t capacity = UINT64_MAX;
        uint64_t used = 0;
    };

  private:
    struct MemoryNode {
        std::string mountPoint;
        std::map<std::string, std::string> attributes;
        bool mounted = false;
    };
    // The entry at a normal path, or null.
    std::shared_ptr<Entry> find(std::string_view path) const;
    // The directory a path's last name goes in, made when `make`; null when it cannot be.
    std::shared_ptr<Entry> parentOf(std::string_view path, bool make);
    std::shared_ptr<Entry> m_root;
    std::shared_ptr<Space> m_space;
    std::map<std::string, MemoryNode> m_nodes;
};

} // namespace Services::Filesystem::Client

#pragma once
// Filesystem, mount and node services of the hosted platform. Platform paths live in one namespace
// rooted at a host directory; nodes (drives) appear in it at their mount points while mounted.
#include "Error.h"
#include "String.h"
#include "System.h"
#include "Variant.h"
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Services::Filesystem::Client {

class Service {
  public:
    // Joins a relative path to a base; an absolute path is returned as it is.
    static Ref<String> absolute(const Ref<String>& path, const Ref<String>& base);
    static Ref<String> parent(const Ref<String>& path, bool keepTrailing);
    static Ref<String> name(const Ref<String>& path);
};

// The path of `name` in `directory` ("/" + name below the root), as every backend names the
// entries it lists.
Ref<String> childPath(std::string_view directory, std::string_view name);
// Whether `name` can be one entry of a directory: not empty, ".", ".." or anything with a "/".
bool isEntryName(const Ref<String>& name);

// The handles below are interfaces: the installed file service (FilesystemService.h) makes them,
// the host's over its real files and an in-memory one for tests. What every item has (its path,
// its kind, its size when found) is kept here; what it does is the backend's.

class FSItem : public Object {
  public:
    static Ref<FSItem> open(const Ref<String>& path, unsigned flags, unsigned mode);
    Ref<String> name() const;
    const Ref<String>& path() const { return m_path; }
    bool isFile() const { return m_isFile; }
    bool isDirectory() const { return m_isDirectory; }
    uint64_t size() const { return m_size; }
    // "TIME.MODIFY": integer milliseconds on the time base of Time::current.
    virtual Ref<Variant> getAtr(const char* name) const = 0;

  protected:
    explicit FSItem(Ref<String> path) : m_path(std::move(path)) {}
    void setKind(bool isFile, bool isDirectory, uint64_t size) {
        m_isFile = isFile;
        m_isDirectory = isDirectory;
        m_size = size;
    }

  private:
    Ref<String> m_path;
    bool m_isFile = false;
    bool m_isDirectory = false;
    uint64_t m_size = 0;
};

class File;

// How File::open opens a file.
namespace OpenMode {
inline constexpr unsigned Read = 0x03;        // an existing file, for reading
inline constexpr unsigned Probe = 0x04;       // an existing file only: whether something is there
inline constexpr unsigned Source = 0x0B;      // an existing file, for reading and mapping
inline constexpr unsigned Destination = 0x1B; // created, for writing and mapping
inline constexpr unsigned Exclusive = 0x113;  // read-write, created when absent, held by this run alone
} // namespace OpenMode

// How Directory::open opens a directory.
namespace DirectoryMode {
inline constexpr unsigned ReadWrite = 0x33;
inline constexpr unsigned ReadOnly = 0x23;
} // namespace DirectoryMode

// The wait value of a read or write that blocks until it is done.
inline constexpr unsigned waitForever = 0xFFFFFFFF;

// A file mapped onto a shared-memory block: a buffer for its reads (a source) or its writes (a
// destination). The backend that made it may move data between two files mapped onto the same
// block without passing it through the block (the host copies in the kernel).
class FileMapping final : public Object, public TransferMemory {
  public:
    FileMapping(Ref<ShMem> memory, File* file, bool destination)
        : m_memory(std::move(memory)), m_file(file), m_destination(destination) {}
    uint8_t* data() override { return m_memory->data(); }
    size_t size() const override { return m_memory->size(); }
    const Ref<ShMem>& memory() const { return m_memory; }
    File* file() const { return m_file; }
    bool isDestination() const { return m_destination; }

  private:
    Ref<ShMem> m_memory;
    File* m_file;
    bool m_destination;
};

class File : public FSItem {
  public:
    // Modes: 3 existing file for reading; 4 existence probe; 0x0B source for reading and mapping;
    // 0x1B destination, created, for writing and mapping; 0x113 read-write, created when absent,
    // exclusive (0x222 when already opened elsewhere, also by another process).
    static Ref<File> open(const Ref<String>& path, unsigned mode);
    // Another reader of the same open file, with a position of its own and the same fault limits,
    // so that two parts of the file can be read at once.
    virtual Ref<File> duplicate() const = 0;

    // The size now (the item's size() is the size when it was found).
    virtual uint64_t size() const = 0;
    virtual bool setPosition(uint64_t position) = 0;
    virtual uint64_t position() const = 0;
    virtual size_t read(TransferMemory& buffer, size_t length, unsigned wait) = 0;
    virtual size_t write(TransferMemory& buffer, size_t length, unsigned wait) = 0;
    // Byte-level access for character readers and appends.
    virtual size_t readBytes(void* data, size_t length) = 0;
    virtual size_t writeBytes(const void* data, size_t length) = 0;
    // Cuts the file back to `size` bytes (an append that came up short leaves nothing behind).
    virtual bool truncate(uint64_t size) = 0;
    virtual Ref<FileMapping> map(const Ref<ShMem>& memory) = 0;
    virtual void unmap(const Ref<FileMapping>& mapping) = 0;
    virtual bool setAttribute(const char* name, const Ref<Variant>& value) = 0;
    // The stream side of the file is the file itself.
    Ref<File> stream() { return Ref<File>(this); }

  protected:
    using FSItem::FSItem;
};

class Iterator : public Object {
  public:
    // The next entry, or empty at the end (which is also the first answer for an empty directory).
    virtual Ref<FSItem> next() = 0;
};

// A directory held open: children are created, removed and listed through it, so they stay in
// the directory that was opened whatever happens to its path afterwards.
class Directory : public Object {
  public:
    // Modes: 0x33 read-write (0x22 when it cannot be written), 0x23 read-only. 0x20: not found.
    static Ref<Directory> open(const Ref<String>& path, unsigned mode);
    virtual bool createDirectory(const Ref<String>& name) = 0;
    virtual bool createFile(const Ref<String>& name) = 0;
    // Removes a file or an empty directory; 0x60 when there is nothing to remove.
    virtual bool remove(const Ref<String>& name) = 0;
    virtual Ref<Iterator> iterator(unsigned filter, const Ref<String>& pattern) = 0;
    Ref<String> name() const;
    const Ref<String>& path() const { return m_path; }
    // Whether the path named a symbolic link (that stays on its drive) rather than the directory
    // itself; a caller that removes what it lists there may want to leave such a directory alone.
    bool reachedThroughLink() const { return m_reachedThroughLink; }

  protected:
    Directory(Ref<String> path, bool reachedThroughLink)
        : m_path(std::move(path)), m_reachedThroughLink(reachedThroughLink) {}

  private:
    Ref<String> m_path;
    bool m_reachedThroughLink;
};

// A node (a drive) known to the platform, mounted or not.
class Node : public Object {
  public:
    explicit Node(Ref<String> name) : m_name(std::move(name)) {}
    const Ref<String>& path() const { return m_name; }

  private:
    Ref<String> m_name;
};

class Nodes {
  public:
    static Ref<Node> open(const Ref<String>& nodeName);
};

} // namespace Services::Filesystem::Client

namespace Services::Nodes {
class Provider : public Object {
  public:
    static Ref<Provider> create(const Ref<Services::Filesystem::Client::Node>& node, unsigned flags);
    const Ref<String>& nodeName() const { return m_node; }

  private:
    explicit Provider(Ref<String> node) : m_node(std::move(node)) {}
    Ref<String> m_node;
};
namespace Providers {
class Generic : public Object {
  public:
    static Ref<Generic> create(const Ref<Provider>& provider);
    // The attribute as a Variant; an absent attribute has no entries.
    Ref<Variant> attribute(const char* name) const;

  private:
    explicit Generic(Ref<String> node) : m_node(std::move(node)) {}
    Ref<String> m_node;
};
} // namespace Providers
} // namespace Services::Nodes

namespace Services::Mount::Client {

struct MountNode {
    Ref<String> nodeName;
    std::vector<Ref<String>> mountPoints;
};

bool info(std::vector<MountNode>& list);

class Entry : public Object {
  public:
    class Parameters : public Object {
      public:
        static Ref<Parameters> create() { return Ref<Parameters>(new Parameters); }
        static unsigned defaultFlushTimeout() { return 5000; }
        // The host's mounts are directories, and what a run writes there is flushed by the run
        // itself (before a message says it is saved, before an original goes, before the run
        // ends): no mount waits for a time-out, so the value is accepted and not kept.
        void setFlushTimeout(unsigned) {}
        std::vector<Ref<String>>& options() { return m_options; }

      private:
        Parameters() = default;
        std::vector<Ref<String>> m_options;
    };

    // Mounts the node (or shares its existing mount); the mount lasts as long as the entry.
    static Ref<Entry> create(const Ref<String>& node, unsigned flags, unsigned mode,
                             const Ref<Parameters>& params);
    // A backend's mount of the node at the mount point; the backend's own entry ends the mount
    // when it is released.
    Entry(Ref<String> node, Ref<String> mountPoint)
        : m_node(std::move(node)), m_mountPoint(std::move(mountPoint)) {}
    const Ref<String>& nodeName() const { return m_node; }
    const Ref<String>& mountPoint() const { return m_mountPoint; }
    const Ref<String>& path() const { return m_mountPoint; }

  private:
    Ref<String> m_node;
    Ref<String> m_mountPoint;
};

} // namespace Services::Mount::Client

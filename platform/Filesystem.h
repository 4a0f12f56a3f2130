#pragma once
// Filesystem, mount and node services of the hosted platform. Platform paths live in one namespace
// rooted at a host directory; nodes (drives) appear in it at their mount points while mounted.
#include "Error.h"
#include "String.h"
#include "System.h"
#include "Variant.h"
#include <cstdint>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace Namespace {
class DirectoryHandle;
}
namespace Host {
class HostFilesystem; // makes the handles below
}

namespace Services::Filesystem::Client {

// A host directory held open; shared by a Directory and the items listed from it.
using Handle = std::shared_ptr<const Namespace::DirectoryHandle>;

class Service {
  public:
    // Joins a relative path to a base; an absolute path is returned as it is.
    static Ref<String> absolute(const Ref<String>& path, const Ref<String>& base);
    static Ref<String> parent(const Ref<String>& path, bool keepTrailing);
    static Ref<String> name(const Ref<String>& path);
};

class FSItem : public Object {
  public:
    static Ref<FSItem> open(const Ref<String>& path, unsigned flags, unsigned mode);
    ~FSItem() override;
    Ref<String> name() const;
    const Ref<String>& path() const { return m_path; }
    bool isFile() const { return m_isFile; }
    bool isDirectory() const { return m_isDirectory; }
    uint64_t size() const { return m_size; }
    // "TIME.MODIFY": integer milliseconds on the time base of Time::current.
    Ref<Variant> getAtr(const char* name) const;

  protected:
    // An item opened by path keeps its own descriptor; one found by listing a directory keeps that
    // directory and its name in it. Either way its status is never looked up by path again.
    FSItem(Ref<String> path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    FSItem(Ref<String> path, Handle directory, std::string name)
        : m_path(std::move(path)), m_directory(std::move(directory)), m_name(std::move(name)) {}
    void applyStat(const struct stat& st);
    bool currentStat(struct stat& st) const;
    Ref<String> m_path;
    int m_fd = -1;
    bool m_writable = false; // opened for writing: flushed to its medium once closed
    bool m_locked = false;   // holds the lock of an exclusive open (mode 0x113)
    dev_t m_device = 0;
    Handle m_directory;
    std::string m_name;
    bool m_isFile = false;
    bool m_isDirectory = false;
    uint64_t m_size = 0;
    long long m_modifiedMs = 0;
    friend class Directory;
    friend class Iterator;
    friend class Host::HostFilesystem;
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

// A file mapped onto a shared-memory block. Reads into a source mapping and writes from a
// destination mapping let the file service move the data itself (copy_file_range) when both sides
// of a transfer are mapped onto the same block.
class FileMapping : public Object, public TransferMemory {
  public:
    uint8_t* data() override { return m_memory->data(); }
    size_t size() const override { return m_memory->size(); }
    const Ref<ShMem>& memory() const { return m_memory; }
    File* file() const { return m_file; }
    bool isDestination() const { return m_destination; }

  private:
    FileMapping(Ref<ShMem> memory, File* file, bool destination)
        : m_memory(std::move(memory)), m_file(file), m_destination(destination) {}
    Ref<ShMem> m_memory;
    File* m_file;
    bool m_destination;
    friend class File;
};

class File : public FSItem {
  public:
    // Modes: 3 existing file for reading; 4 existence probe; 0x0B source for reading and mapping;
    // 0x1B destination, created, for writing and mapping; 0x113 read-write, created when absent,
    // exclusive (0x222 when already opened elsewhere, also by another process).
    static Ref<File> open(const Ref<String>& path, unsigned mode);
    // A descriptor of a host file outside the namespace, for reading (platform libraries' own
    // temporary files); the File owns it from here on.
    static Ref<File> adoptHost(int fd, const std::string& name);
    // Another reader of the same open file, with a position of its own and the same fault limits,
    // so that two parts of the file can be read at once.
    Ref<File> duplicate() const;

    uint64_t size() const;
    bool setPosition(uint64_t position);
    uint64_t position() const { return m_position; }
    size_t read(TransferMemory& buffer, size_t length, unsigned wait);
    size_t write(TransferMemory& buffer, size_t length, unsigned wait);
    // Byte-level access for character readers and appends.
    size_t readBytes(void* data, size_t length);
    size_t writeBytes(const void* data, size_t length);
    // Cuts the file back to `size` bytes (an append that came up short leaves nothing behind).
    bool truncate(uint64_t size);
    Ref<FileMapping> map(const Ref<ShMem>& memory);
    void unmap(const Ref<FileMapping>& mapping);
    bool setAttribute(const char* name, const Ref<Variant>& value);
    // The stream side of the file is the file itself.
    Ref<File> stream() { return Ref<File>(this); }

  private:
    using FSItem::FSItem;
    bool canOffloadTo(const ShMem& memory) const;
    size_t offload(ShMem& memory, size_t wanted);
    size_t readInto(uint8_t* data, size_t wanted, bool& failed);
    size_t limitFor(long long& budget, unsigned code, size_t length);
    bool stillLinked() const;
    friend class Iterator;
    friend class Host::HostFilesystem;
    uint64_t m_position = 0;
    long long m_readBudget = -1;
    unsigned m_readError = 0;
    long long m_writeBudget = -1;
    unsigned m_writeError = 0;
};

class Iterator : public Object {
  public:
    ~Iterator() override;
    // The next entry, or empty at the end (which is also the first answer for an empty directory).
    Ref<FSItem> next();

  private:
    Iterator(Ref<String> path, Handle directory, void* dir)
        : m_path(std::move(path)), m_directory(std::move(directory)), m_dir(dir) {}
    Ref<String> m_path;
    Handle m_directory;
    void* m_dir;
    friend class Directory;
};

// A directory held open: children are created, removed and listed through its descriptor, so
// they stay in the directory that was opened whatever happens to its path afterwards.
class Directory : public Object {
  public:
    // Modes: 0x33 read-write (0x22 when it cannot be written), 0x23 read-only. 0x20: not found.
    static Ref<Directory> open(const Ref<String>& path, unsigned mode);
    bool createDirectory(const Ref<String>& name);
    bool createFile(const Ref<String>& name);
    // Removes a file or an empty directory; 0x60 when there is nothing to remove.
    bool remove(const Ref<String>& name);
    Ref<Iterator> iterator(unsigned filter, const Ref<String>& pattern);
    Ref<String> name() const;
    const Ref<String>& path() const { return m_path; }
    // Whether the path named a symbolic link (that stays on its drive) rather than the directory
    // itself; a caller that removes what it lists there may want to leave such a directory alone.
    bool reachedThroughLink() const { return m_reachedThroughLink; }

  private:
    friend class Replacement;
    friend class Host::HostFilesystem;
    Directory(Ref<String> path, Handle handle, bool writable, bool reachedThroughLink)
        : m_path(std::move(path)), m_handle(std::move(handle)), m_writable(writable),
          m_reachedThroughLink(reachedThroughLink) {}
    // Whether a child of this name may be created or removed here.
    bool mayChange(const Ref<String>& name, const char* op) const;
    Ref<String> m_path;
    Handle m_handle;
    bool m_writable;
    bool m_reachedThroughLink;
};

// A file written in full where nobody can see it (a file without a name, or a hidden name where
// the filesystem cannot make one without), then put in place of a name in `directory` with one
// rename, so that no reader, concurrent run or crash ever sees it half written. Dropped without
// being committed, it leaves nothing behind.
class Replacement {
  public:
    static std::unique_ptr<Replacement> create(const Ref<Directory>& directory, std::string name);
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    // Where the contents are written.
    int descriptor() const { return m_fd; }
    // Puts the file with its data on the medium in place of the name (replacing what is there).
    bool commit();

  private:
    Replacement(Handle directory, std::string name, int fd, std::string hiddenName)
        : m_directory(std::move(directory)), m_name(std::move(name)), m_fd(fd),
          m_hiddenName(std::move(hiddenName)) {}
    Handle m_directory;
    std::string m_name;
    int m_fd;
    std::string m_hiddenName; // empty for a file without a name
    bool m_committed = false;
};

// Written data reaches its medium before the platform says anything that could read as "saved":
// every file written during the run is flushed (one syncfs per filesystem) before a dialog is
// shown and before the process ends. Failures are logged.
void flushWrittenFiles();
// How many files (not directories) Directory::remove has removed during the run.
unsigned long removedFileCount();

class Node : public Object {
  public:
    const Ref<String>& path() const { return m_name; }

  private:
    explicit Node(Ref<String> name) : m_name(std::move(name)) {}
    Ref<String> m_name;
    friend class Nodes;
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
        void setFlushTimeout(unsigned ms) { m_flushTimeout = ms; }
        unsigned flushTimeout() const { return m_flushTimeout; }
        std::vector<Ref<String>>& options() { return m_options; }

      private:
        Parameters() = default;
        unsigned m_flushTimeout = 0;
        std::vector<Ref<String>> m_options;
    };

    // Mounts the node (or shares its existing mount); the mount lasts as long as the entry.
    static Ref<Entry> create(const Ref<String>& node, unsigned flags, unsigned mode,
                             const Ref<Parameters>& params);
    ~Entry() override;
    const Ref<String>& nodeName() const { return m_node; }
    const Ref<String>& mountPoint() const { return m_mountPoint; }
    const Ref<String>& path() const { return m_mountPoint; }

  private:
    friend class Host::HostFilesystem;
    Entry(Ref<String> node, Ref<String> mountPoint)
        : m_node(std::move(node)), m_mountPoint(std::move(mountPoint)) {}
    Ref<String> m_node;
    Ref<String> m_mountPoint;
};

} // namespace Services::Mount::Client

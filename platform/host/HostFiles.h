#pragma once
// The host's handles of the file service: items, files, directories and their listings over real
// descriptors, each found once by path and never looked up by that path again.
#include "FileRunState.h"
#include "Namespace.h"
#include "platform/Filesystem.h"
#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace Host {

class HostPlatform;
class RunNotes;

// Where a host item is: its own descriptor, or (an item found by listing a directory) its name in
// that directory, held open. Either way its status is never looked up by path again.
class ItemPlace {
  public:
    ItemPlace() = default;
    explicit ItemPlace(int fd) : m_fd(fd) {}
    // Found by its name in a directory: the name is the last `nameLength` bytes of its path.
    ItemPlace(Namespace::Handle directory, Ref<String> path, size_t nameLength)
        : m_directory(std::move(directory)), m_path(std::move(path)),
          m_nameAt(m_path->length() - nameLength) {}
    ItemPlace(const ItemPlace&) = delete;
    ItemPlace& operator=(const ItemPlace&) = delete;
    ~ItemPlace();

    int fd() const { return m_fd; }
    bool writable() const { return m_run != nullptr; }
    bool currentStat(struct stat& st) const;
    // "TIME.MODIFY", or null with the reason in Error::get.
    Ref<Variant> attribute(const char* name) const;
    // Opened for reading: its modification time is the one it had when it was opened. A copy
    // stamped with it is never newer than the data it began from, so a copy of a file that
    // changed meanwhile looks older than it is and is copied again by whatever compares
    // times, never skipped; and the copy asks the kernel nothing more.
    void keepModifiedTime(const struct timespec& modified) { m_modifiedAtOpen = modified; }
    // Opened for writing: its filesystem is flushed before the run says anything could be saved
    // (the run's state learns of it when the file is closed); `locked`: it holds the lock of an
    // exclusive open.
    void markWritten(dev_t device, bool locked, FileRunState& run) {
        m_device = device;
        m_run = &run;
        m_locked = locked;
    }

  private:
    int m_fd = -1;
    Namespace::Handle m_directory;
    Ref<String> m_path; // ends with the name in m_directory, kept as where it begins
    size_t m_nameAt = 0;
    dev_t m_device = 0;
    std::optional<struct timespec> m_modifiedAtOpen;
    FileRunState* m_run = nullptr; // set when opened for writing
    bool m_locked = false;
};

// An item opened for its status alone, or found by listing that is not a regular file.
class HostItem : public Services::Filesystem::Client::FSItem {
  public:
    template <typename... Place>
    HostItem(Ref<String> path, const struct stat& st, Place&&... place)
        : FSItem(std::move(path)), m_place(std::forward<Place>(place)...) {
        applyStat(st);
    }
    Ref<Variant> getAtr(const char* name) const override;

  private:
    void applyStat(const struct stat& st);
    ItemPlace m_place;
};

// The monotonic clock to a few milliseconds, read without the time stamp counter: a written file
// reads it when it is opened and at its writes, to space its checks that it is still linked.
inline std::chrono::nanoseconds coarseNow() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

class HostFile : public Services::Filesystem::Client::File {
  public:
    template <typename... Place>
    HostFile(Ref<String> path, const struct stat& st, Place&&... place)
        : File(std::move(path)), m_place(std::forward<Place>(place)...) {
        applyStat(st);
    }
    // A descriptor of a host file outside the namespace, for reading (platform libraries' own
    // temporary files); the File owns it from here on.
    static Ref<File> adopt(int fd, const std::string& name);

    Ref<Variant> getAtr(const char* name) const override;
    Ref<File> duplicate() const override;
    uint64_t size() const override;
    bool setPosition(uint64_t position) override;
    uint64_t position() const override { return m_position; }
    size_t read(TransferMemory& buffer, size_t length, unsigned wait) override;
    size_t write(TransferMemory& buffer, size_t length, unsigned wait) override;
    size_t readBytes(void* data, size_t length) override;
    size_t writeBytes(const void* data, size_t length) override;
    bool truncate(uint64_t size) override;
    Ref<Services::Filesystem::Client::FileMapping> map(const Ref<ShMem>& memory) override;
    void unmap(const Ref<Services::Filesystem::Client::FileMapping>& mapping) override;
    bool setAttribute(const char* name, const Ref<Variant>& value) override;

    int fd() const { return m_place.fd(); }
    // Opened for writing by its name, so linked now (see linkCheckDue).
    void markWritten(const struct stat& st, bool locked, FileRunState& run) {
        m_place.markWritten(st.st_dev, locked, run);
        m_linkCheckedAt = coarseNow();
    }
    void keepModifiedTime(const struct stat& st) { m_place.keepModifiedTime(st.st_mtim); }
    // Where a read or write that fails says why (the host's words: "No space left on device").
    void reportFailuresTo(RunNotes& notes) { m_notes = &notes; }

  private:
    void applyStat(const struct stat& st);
    void failTransfer(int error) const;
    void noteFailure(const char* why) const;
    size_t readInto(uint8_t* data, size_t wanted, bool& failed);
    size_t writeFrom(const uint8_t* data, size_t length);
    bool stillLinked() const;
    bool linkCheckDue();
    ItemPlace m_place;
    uint64_t m_position = 0;
    std::chrono::nanoseconds m_linkCheckedAt{};
    RunNotes* m_notes = nullptr;
};

class HostDirectory : public Services::Filesystem::Client::Directory {
  public:
    HostDirectory(Ref<String> path, Namespace::Handle handle, bool writable, bool reachedThroughLink,
                  HostPlatform& platform)
        : Directory(std::move(path), reachedThroughLink), m_handle(std::move(handle)), m_writable(writable),
          m_platform(platform) {}
    bool createDirectory(const Ref<String>& name) override;
    bool createFile(const Ref<String>& name) override;
    bool remove(const Ref<String>& name) override;
    Ref<Services::Filesystem::Client::Iterator> iterator(unsigned filter,
                                                         const Ref<String>& pattern) override;

    const Namespace::Handle& handle() const { return m_handle; }
    bool writable() const { return m_writable; }
    // The platform whose namespace and run state the directory's changes are kept in.
    HostPlatform& platform() const { return m_platform; }

  private:
    // Whether a child of this name may be created or removed here.
    bool mayChange(const Ref<String>& name) const;
    void noteWhyNotMade(const Ref<String>& name, int error) const;
    Namespace::Handle m_handle;
    bool m_writable;
    HostPlatform& m_platform;
};

// Ends the node's mount when the last holder lets it go.
class HostEntry : public Services::Mount::Client::Entry {
  public:
    HostEntry(const Ref<String>& node, const Ref<String>& mountPoint, Namespace::Tree& names)
        : Entry(node, mountPoint), m_names(names) {}
    ~HostEntry() override;

  private:
    Namespace::Tree& m_names;
};

using Services::Filesystem::Client::childPath;
using Services::Filesystem::Client::isEntryName;

} // namespace Host

// The file service failing on purpose, by the configuration's fault rules: a decorator around the
// service that wraps every handle it returns in one that fails or cuts short the calls the rules
// name, and forwards the rest.
#include "Host.h"
#include "HostFiles.h"
#include "HostFilesystem.h"
#include "platform/Error.h"

namespace Host {
namespace {

using namespace Services::Filesystem::Client;
using Services::Mount::Client::Entry;
using Services::Mount::Client::MountNode;

// What a byte-limit rule leaves of a file's reads or writes: the transfer that reaches the limit is
// cut short there and fails with the rule's error.
struct ByteBudget {
    long long left = -1; // no limit
    unsigned error = 0;

    static ByteBudget of(std::string_view op, const Ref<String>& path) {
        auto limit = byteLimit(op, path->str());
        return limit ? ByteBudget{limit->first, limit->second} : ByteBudget{};
    }
    bool limited() const { return left >= 0; }
    size_t take(size_t length) {
        if (!limited()) return length;
        size_t allowed = static_cast<size_t>(std::min<long long>(left, static_cast<long long>(length)));
        left -= static_cast<long long>(allowed);
        return allowed;
    }
};

class FaultyItem : public FSItem {
  public:
    explicit FaultyItem(Ref<FSItem> inner) : FSItem(inner->path()), m_inner(std::move(inner)) {
        setKind(m_inner->isFile(), m_inner->isDirectory(), m_inner->FSItem::size());
    }
    Ref<Variant> getAtr(const char* name) const override {
        return failsNow("FSItem::getAtr", path()->str()) ? Ref<Variant>() : m_inner->getAtr(name);
    }

  private:
    Ref<FSItem> m_inner;
};

class FaultyFile : public File {
  public:
    explicit FaultyFile(Ref<File> inner)
        : FaultyFile(inner, ByteBudget::of("File::read", inner->path()),
                     ByteBudget::of("File::write", inner->path())) {}
    FaultyFile(Ref<File> inner, ByteBudget reads, ByteBudget writes)
        : File(inner->path()), m_inner(std::move(inner)), m_reads(reads), m_writes(writes) {
        setKind(m_inner->isFile(), m_inner->isDirectory(), m_inner->FSItem::size());
    }

    Ref<Variant> getAtr(const char* name) const override {
        return failsNow("FSItem::getAtr", path()->str()) ? Ref<Variant>() : m_inner->getAtr(name);
    }
    // A second reader shares what is left of the reads' budget at the time.
    Ref<File> duplicate() const override {
        Ref<File> copy = m_inner->duplicate();
        return copy ? Ref<File>(new FaultyFile(copy, m_reads, {})) : copy;
    }
    uint64_t size() const override { return m_inner->size(); }
    bool setPosition(uint64_t position) override { return m_inner->setPosition(position); }
    uint64_t position() const override { return m_inner->position(); }

    size_t read(TransferMemory& buffer, size_t length, unsigned wait) override {
        if (failsNow("File::read", path()->str())) return 0;
        length = std::min(length, buffer.size());
        size_t wanted = m_reads.take(length);
        size_t got = m_inner->read(buffer, wanted, wait);
        return cutShort(got, wanted, length, m_reads);
    }
    size_t write(TransferMemory& buffer, size_t length, unsigned wait) override {
        if (failsNow("File::write", path()->str())) return 0;
        size_t allowed = m_writes.take(length);
        size_t done = m_inner->write(buffer, allowed, wait);
        return cutShort(done, allowed, length, m_writes);
    }
    size_t readBytes(void* data, size_t length) override {
        if (failsNow("File::read", path()->str())) return 0;
        size_t wanted = m_reads.take(length);
        return cutShort(m_inner->readBytes(data, wanted), wanted, length, m_reads);
    }
    size_t writeBytes(const void* data, size_t length) override {
        if (failsNow("File::write", path()->str())) return 0;
        size_t allowed = m_writes.take(length);
        return cutShort(m_inner->writeBytes(data, allowed), allowed, length, m_writes);
    }
    bool truncate(uint64_t size) override { return m_inner->truncate(size); }

    // A file with a byte budget is mapped here, not by the service: the service then never moves
    // its bytes itself, and every byte goes through the budget.
    Ref<FileMapping> map(const Ref<ShMem>& memory) override {
        if (failsNow("File::map", path()->str())) return {};
        if (!memory || (!m_reads.limited() && !m_writes.limited())) return m_inner->map(memory);
        Ref<FileMapping> probe = m_inner->map(memory);
        if (!probe) return probe;
        bool destination = probe->isDestination();
        m_inner->unmap(probe);
        return Ref<FileMapping>(new FileMapping(memory, this, destination));
    }
    void unmap(const Ref<FileMapping>& mapping) override {
        if (mapping && mapping->file() != this) m_inner->unmap(mapping);
    }
    bool setAttribute(const char* name, const Ref<Variant>& value) override {
        return !failsNow("File::setAttribute", path()->str()) && m_inner->setAttribute(name, value);
    }

  private:
    // A transfer the budget cut short fails with the rule's error, whatever the file said.
    static size_t cutShort(size_t moved, size_t allowed, size_t length, const ByteBudget& budget) {
        if (allowed < length && moved < length && (moved == allowed || Error::get() == Errors::EndOfFile))
            Error::set(budget.error);
        return moved;
    }

    Ref<File> m_inner;
    ByteBudget m_reads;
    ByteBudget m_writes;
};

Ref<FSItem> faultyItem(Ref<FSItem> item) {
    if (!item) return item;
    if (auto* file = dynamic_cast<File*>(item.get())) return Ref<File>(new FaultyFile(Ref<File>(file)));
    return Ref<FSItem>(new FaultyItem(std::move(item)));
}

class FaultyIterator : public Iterator {
  public:
    explicit FaultyIterator(Ref<Iterator> inner) : m_inner(std::move(inner)) {}
    Ref<FSItem> next() override { return faultyItem(m_inner->next()); }

  private:
    Ref<Iterator> m_inner;
};

class FaultyDirectory : public Directory {
  public:
    explicit FaultyDirectory(Ref<Directory> inner)
        : Directory(inner->path(), inner->reachedThroughLink()), m_inner(std::move(inner)) {}

    bool createDirectory(const Ref<String>& name) override {
        return !failsOnChild("Directory::createDirectory", name) && m_inner->createDirectory(name);
    }
    bool createFile(const Ref<String>& name) override {
        return !failsOnChild("Directory::createFile", name) && m_inner->createFile(name);
    }
    bool remove(const Ref<String>& name) override {
        return !failsOnChild("Directory::remove", name) && m_inner->remove(name);
    }
    Ref<Iterator> iterator(unsigned filter, const Ref<String>& pattern) override {
        if (failsNow("Directory::iterator", path()->str())) return {};
        Ref<Iterator> inner = m_inner->iterator(filter, pattern);
        return inner ? Ref<Iterator>(new FaultyIterator(inner)) : inner;
    }

  private:
    // A name that cannot be an entry fails in the directory itself, as without rules.
    bool failsOnChild(std::string_view op, const Ref<String>& name) const {
        return isEntryName(name) && failsNow(op, childPath(path()->str(), name->str()));
    }
    Ref<Directory> m_inner;
};

class FilesystemFaults : public FilesystemServiceProxy {
  public:
    using FilesystemServiceProxy::FilesystemServiceProxy;

    Ref<FSItem> openItem(const Ref<String>& path) override {
        return failsOn("FSItem::open", path) ? Ref<FSItem>()
                                             : faultyItem(FilesystemServiceProxy::openItem(path));
    }
    Ref<File> openFile(const Ref<String>& path, unsigned mode) override {
        if (failsOn("File::open", path)) return {};
        Ref<File> file = FilesystemServiceProxy::openFile(path, mode);
        return file ? Ref<File>(new FaultyFile(file)) : file;
    }
    Ref<Directory> openDirectory(const Ref<String>& path, unsigned mode) override {
        if (failsOn("Directory::open", path)) return {};
        Ref<Directory> directory = FilesystemServiceProxy::openDirectory(path, mode);
        return directory ? Ref<Directory>(new FaultyDirectory(directory)) : directory;
    }
    bool mountInfo(std::vector<MountNode>& list) override {
        return !failsNow("Mount::info") && FilesystemServiceProxy::mountInfo(list);
    }
    Ref<Entry> mount(const Ref<String>& node) override {
        return failsNow("Entry::create", stdString(node)) ? Ref<Entry>()
                                                          : FilesystemServiceProxy::mount(node);
    }
    bool openNode(const Ref<String>& node) override {
        return FilesystemServiceProxy::openNode(node) && !failsNow("Nodes::open", node->str());
    }
    bool openProvider(const Ref<String>& node) override {
        return !failsNow("Provider::create", node->str()) && FilesystemServiceProxy::openProvider(node);
    }
    bool openGenericProvider(const Ref<String>& node) override {
        return !failsNow("Generic::create", node->str()) && FilesystemServiceProxy::openGenericProvider(node);
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
    installService<FilesystemService>([] {
        std::unique_ptr<FilesystemService> service = std::make_unique<HostFilesystem>();
        if (hasFaultRules()) service = withFilesystemFaults(std::move(service));
        return service;
    });
}

} // namespace Host

// The file service failing on purpose, by the configuration's fault rules: a decorator around the
// service that wraps every handle it returns in one that fails or cuts short the calls the rules
// name, and forwards the rest.
#include "HostFiles.h"
#include "HostFilesystem.h"
#include "HostPlatform.h"
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

    static ByteBudget of(FaultRules& rules, std::string_view op, const Ref<String>& path) {
        auto limit = rules.byteLimit(op, stdString(path));
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
    FaultyItem(Ref<FSItem> inner, FaultRules& rules)
        : FSItem(inner->path()), m_inner(std::move(inner)), m_rules(rules) {
        setKind(m_inner->isFile(), m_inner->isDirectory(), m_inner->FSItem::size());
    }
    Ref<Variant> getAtr(const char* name) const override {
        return m_rules.failsNow("FSItem::getAtr", stdString(path())) ? Ref<Variant>() : m_inner->getAtr(name);
    }

  private:
    Ref<FSItem> m_inner;
    FaultRules& m_rules;
};

class FaultyFile : public File {
  public:
    FaultyFile(Ref<File> inner, FaultRules& rules)
        : FaultyFile(inner, rules, ByteBudget::of(rules, "File::read", inner->path()),
                     ByteBudget::of(rules, "File::write", inner->path())) {}
    FaultyFile(Ref<File> inner, FaultRules& rules, ByteBudget reads, ByteBudget writes)
        : File(inner->path()), m_inner(std::move(inner)), m_rules(rules), m_reads(reads), m_writes(writes) {
        setKind(m_inner->isFile(), m_inner->isDirectory(), m_inner->FSItem::size());
    }

    Ref<Variant> getAtr(const char* name) const override {
        return m_rules.failsNow("FSItem::getAtr", stdString(path())) ? Ref<Variant>() : m_inner->getAtr(name);
    }
    // A second reader shares what is left of the reads' budget at the time.
    Ref<File> duplicate() const override {
        Ref<File> copy = m_inner->duplicate();
        return copy ? Ref<File>(new FaultyFile(copy, m_rules, m_reads, {})) : copy;
    }
    uint64_t size() const override { return m_inner->size(); }
    bool setPosition(uint64_t position) override { return m_inner->setPosition(position); }
    uint64_t position() const override { return m_inner->position(); }

    size_t read(TransferMemory& buffer, size_t length, unsigned wait) override {
        if (m_rules.failsNow("File::read", stdString(path()))) return 0;
        length = std::min(length, buffer.size());
        size_t wanted = m_reads.take(length);
        size_t got = m_inner->read(buffer, wanted, wait);
        return cutShort(got, wanted, length, m_reads);
    }
    size_t write(TransferMemory& buffer, size_t length, unsigned wait) override {
        if (m_rules.failsNow("File::write", stdString(path()))) return 0;
        size_t allowed = m_writes.take(length);
        size_t done = m_inner->write(buffer, allowed, wait);
        return cutShort(done, allowed, length, m_writes);
    }
    size_t readBytes(void* data, size_t length) override {
        if (m_rules.failsNow("File::read", stdString(path()))) return 0;
        size_t wanted = m_reads.take(length);
        return cutShort(m_inner->readBytes(data, wanted), wanted, length, m_reads);
    }
    size_t writeBytes(const void* data, size_t length) override {
        if (m_rules.failsNow("File::write", stdString(path()))) return 0;
        size_t allowed = m_writes.take(length);
        return cutShort(m_inner->writeBytes(data, allowed), allowed, length, m_writes);
    }
    bool truncate(uint64_t size) override { return m_inner->truncate(size); }

    // A file with a byte budget is mapped here, not by the service: the service then never moves
    // its bytes itself, and every byte goes through the budget.
    Ref<FileMapping> map(const Ref<ShMem>& memory) override {
        if (m_rules.failsNow("File::map", stdString(path()))) return {};
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
        return !m_rules.failsNow("File::setAttribute", stdString(path())) &&
               m_inner->setAttribute(name, value);
    }

  private:
    // A transfer the budget cut short fails with the rule's error, whatever the file said.
    static size_t cutShort(size_t moved, size_t allowed, size_t length, const ByteBudget& budget) {
        if (allowed < length && moved < length && (moved == allowed || Error::get() == Errors::EndOfFile))
            Error::set(budget.error);
        return moved;
    }

    Ref<File> m_inner;
    FaultRules& m_rules;
    ByteBudget m_reads;
    ByteBudget m_writes;
};

Ref<FSItem> faultyItem(Ref<FSItem> item, FaultRules& rules) {
    if (!item) return item;
    if (auto* file = dynamic_cast<File*>(item.get()))
        return Ref<File>(new FaultyFile(Ref<File>(file), rules));
    return Ref<FSItem>(new FaultyItem(std::move(item), rules));
}

class FaultyIterator : public Iterator {
  public:
    FaultyIterator(Ref<Iterator> inner, FaultRules& rules) : m_inner(std::move(inner)), m_rules(rules) {}
    Ref<FSItem> next() override { return faultyItem(m_inner->next(), m_rules); }

  private:
    Ref<Iterator> m_inner;
    FaultRules& m_rules;
};

class FaultyDirectory : public Directory {
  public:
    FaultyDirectory(Ref<Directory> inner, FaultRules& rules)
        : Directory(inner->path(), inner->reachedThroughLink()), m_inner(std::move(inner)), m_rules(rules) {}

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
        if (m_rules.failsNow("Directory::iterator", stdString(path()))) return {};
        Ref<Iterator> inner = m_inner->iterator(filter, pattern);
        return inner ? Ref<Iterator>(new FaultyIterator(inner, m_rules)) : inner;
    }

  private:
    // A name that cannot be an entry fails in the directory itself, as without rules.
    bool failsOnChild(std::string_view op, const Ref<String>& name) const {
        return isEntryName(name) && m_rules.failsNow(op, stdString(childPath(path()->str(), name->str())));
    }
    Ref<Directory> m_inner;
    FaultRules& m_rules;
};

class FilesystemFaults : public FilesystemServiceProxy {
  public:
    FilesystemFaults(std::unique_ptr<FilesystemService> inner, FaultRules& rules)
        : FilesystemServiceProxy(std::move(inner)), m_rules(rules) {}

    Ref<FSItem> openItem(const Ref<String>& path) override {
        return failsOn("FSItem::open", path) ? Ref<FSItem>()
                                             : faultyItem(FilesystemServiceProxy::openItem(path), m_rules);
    }
    Ref<File> openFile(const Ref<String>& path, unsigned mode) override {
        if (failsOn("File::open", path)) return {};
        Ref<File> file = FilesystemServiceProxy::openFile(path, mode);
        return file ? Ref<File>(new FaultyFile(file, m_rules)) : file;
    }
    Ref<Directory> openDirectory(const Ref<String>& path, unsigned mode) override {
        if (failsOn("Directory::open", path)) return {};
        Ref<Directory> directory = FilesystemServiceProxy::openDirectory(path, mode);
        return directory ? Ref<Directory>(new FaultyDirectory(directory, m_rules)) : directory;
    }
    bool mountInfo(std::vector<MountNode>& list) override {
        return !m_rules.failsNow("Mount::info") && FilesystemServiceProxy::mountInfo(list);
    }
    Ref<Entry> mount(const Ref<String>& node) override {
        return m_rules.failsNow("Entry::create", stdString(node)) ? Ref<Entry>()
                                                                  : FilesystemServiceProxy::mount(node);
    }
    bool openNode(const Ref<String>& node) override {
        return FilesystemServiceProxy::openNode(node) && !m_rules.failsNow("Nodes::open", stdString(node));
    }
    bool openProvider(const Ref<String>& node) override {
        return !m_rules.failsNow("Provider::create", stdString(node)) &&
               FilesystemServiceProxy::openProvider(node);
    }
    bool openGenericProvider(const Ref<String>& node) override {
        return !m_rules.failsNow("Generic::create", stdString(node)) &&
               FilesystemServiceProxy::openGenericProvider(node);
    }

  private:
    // The rules match the platform path the call names; a path that names none fails in the
    // service itself, as without rules.
    bool failsOn(std::string_view op, const Ref<String>& path) {
        Ref<String> platformPath = FilesystemServiceProxy::platformPath(path);
        return platformPath && m_rules.failsNow(op, stdString(platformPath));
    }
    FaultRules& m_rules;
};

} // namespace

std::unique_ptr<FilesystemService> withFilesystemFaults(std::unique_ptr<FilesystemService> inner,
                                                        FaultRules& rules) {
    return std::make_unique<FilesystemFaults>(std::move(inner), rules);
}

void installFilesystem(HostPlatform& platform) {
    installService<FilesystemService>([&platform] {
        std::unique_ptr<FilesystemService> service = std::make_unique<HostFilesystem>(platform);
        if (platform.faults().any()) service = withFilesystemFaults(std::move(service), platform.faults());
        return service;
    });
}

} // namespace Host

#include "MemoryFilesystem.h"
#include <algorithm>
#include <cstring>

namespace Services::Filesystem::Client {

struct MemoryFilesystem::Entry {
    bool directory = false;
    bool readOnly = false;
    bool heldExclusively = false; // by an open for reading and writing that is still open
    long long modifiedMs = 0;
    std::string data;
    std::map<std::string, std::shared_ptr<Entry>, std::less<>> children;
};

namespace {

using EntryPtr = std::shared_ptr<MemoryFilesystem::Entry>;
using Space = MemoryFilesystem::Space;

bool fail(unsigned code) {
    Error::set(code);
    return false;
}

// The names of a platform path; "" and "." are skipped, ".." is refused as the host refuses it.
std::optional<std::vector<std::string>> namesOf(std::string_view path) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = std::min(path.find('/', start), path.size());
        std::string name(path.substr(start, end - start));
        if (name == "..") return std::nullopt;
        if (!name.empty() && name != ".") names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names)
        path += "/" + name;
    return path.empty() ? "/" : path;
}

class MemoryItem : public FSItem {
  public:
    MemoryItem(Ref<String> path, EntryPtr entry) : FSItem(std::move(path)), m_entry(std::move(entry)) {
        setKind(!m_entry->directory, m_entry->directory, m_entry->data.size());
    }
    Ref<Variant> getAtr(const char* name) const override {
        if (std::strcmp(name, "TIME.MODIFY") != 0) {
            Error::set(Errors::NotSupported);
            return {};
        }
        return Variant::ofInteger(m_entry->modifiedMs);
    }

  private:
    EntryPtr m_entry;
};

class MemoryFile : public File {
  public:
    MemoryFile(Ref<String> path, EntryPtr entry, std::shared_ptr<Space> space, bool writable, bool exclusive)
        : File(std::move(path)), m_entry(std::move(entry)), m_space(std::move(space)), m_writable(writable),
          m_exclusive(exclusive) {
        setKind(!m_entry->directory, m_entry->directory, m_entry->data.size());
        if (m_exclusive) m_entry->heldExclusively = true;
    }
    ~MemoryFile() override {
        if (m_exclusive) m_entry->heldExclusively = false;
    }

    Ref<Variant> getAtr(const char* name) const override { return MemoryItem(path(), m_entry).getAtr(name); }
    Ref<File> duplicate() const override {
        return Ref<File>(new MemoryFile(path(), m_entry, m_space, false, false));
    }
    uint64_t size() const override { return m_entry->data.size(); }
    bool setPosition(uint64_t position) override {
        m_position = position;
        return true;
    }
    uint64_t position() const override { return m_position; }
    size_t read(TransferMemory& buffer, size_t length, unsigned) override {
        return readBytes(buffer.data(), std::min(length, buffer.size()));
    }
    size_t write(TransferMemory& buffer, size_t length, unsigned) override {
        return writeBytes(buffer.data(), std::min(length, buffer.size()));
    }
    size_t readBytes(void* data, size_t length) override {
        const std::string& bytes = m_entry->data;
        size_t got = m_position >= bytes.size() ? 0 : std::min<size_t>(length, bytes.size() - m_position);
        if (got > 0) std::memcpy(data, bytes.data() + m_position, got);
        m_position += got;
        if (got < length) Error::set(Errors::EndOfFile);
        return got;
    }
    size_t writeBytes(const void* data, size_t length) override {
        if (!m_writable || m_entry->directory) {
            Error::set(Errors::NotWritable);
            return 0;
        }
        std::string& bytes = m_entry->data;
        uint64_t end = m_position + length;
        uint64_t growth = end > bytes.size() ? end - bytes.size() : 0;
        uint64_t room = m_space->capacity - m_space->used;
        size_t done = growth <= room ? length : static_cast<size_t>(length - (growth - room));
        if (m_position + done > bytes.size()) {
            m_space->used += m_position + done - bytes.size();
            bytes.resize(m_position + done);
        }
        std::memcpy(bytes.data() + m_position, data, done);
        m_position += done;
        if (done < length) Error::set(Errors::NoSpace);
        return done;
    }
    bool truncate(uint64_t size) override {
        if (!m_writable) return fail(Errors::NotWritable);
        std::string& bytes = m_entry->data;
        if (size > bytes.size()) return fail(Errors::NotSupported);
        m_space->used -= bytes.size() - size;
        bytes.resize(size);
        return true;
    }
    Ref<FileMapping> map(const Ref<ShMem>& memory) override {
        if (!memory) {
            Error::set(Errors::NotSupported);
            return {};
        }
        return Ref<FileMapping>(new FileMapping(memory, this, m_writable));
    }
    void unmap(const Ref<FileMapping>&) override {}
    bool setAttribute(const char* name, const Ref<Variant>& value) override {
        if (std::strcmp(name, "TIME.MODIFY") != 0 || !value || value->count() == 0 ||
            value->entry(0).type != 1)
            return fail(Errors::NotSupported);
        m_entry->modifiedMs = value->entry(0).integer;
        return true;
    }

  private:
    EntryPtr m_entry;
    std::shared_ptr<Space> m_space;
    uint64_t m_position = 0;
    bool m_writable;
    bool m_exclusive;
};

Ref<FSItem> itemFor(Ref<String> path, EntryPtr entry, const std::shared_ptr<Space>& space) {
    if (entry->directory) return Ref<FSItem>(new MemoryItem(std::move(path), std::move(entry)));
    return Ref<File>(new MemoryFile(std::move(path), std::move(entry), space, false, false));
}

class MemoryIterator : public Iterator {
  public:
    MemoryIterator(std::string path, const EntryPtr& directory, std::shared_ptr<Space> space)
        : m_path(std::move(path)), m_space(std::move(space)) {
        // A listing is what was there when it started.
        for (const auto& [name, entry] : directory->children)
            m_entries.emplace_back(name, entry);
    }
    Ref<FSItem> next() override {
        if (m_next == m_entries.size()) return {};
        const auto& [name, entry] = m_entries[m_next++];
        return itemFor(childPath(m_path, name), entry, m_space);
    }

  private:
    std::string m_path;
    std::shared_ptr<Space> m_space;
    std::vector<std::pair<std::string, EntryPtr>> m_entries;
    size_t m_next = 0;
};

class MemoryDirectory : public Directory {
  public:
    MemoryDirectory(Ref<String> path, EntryPtr entry, std::shared_ptr<Space> space, bool writable)
        : Directory(std::move(path), false), m_entry(std::move(entry)), m_space(std::move(space)),
          m_writable(writable) {}

    bool createDirectory(const Ref<String>& name) override { return create(name, true); }
    bool createFile(const Ref<String>& name) override { return create(name, false); }
    bool remove(const Ref<String>& name) override {
        if (!mayChange(name)) return false;
        auto found = m_entry->children.find(name->str());
        if (found == m_entry->children.end()) return fail(Errors::NothingToRemove);
        if (found->second->directory && !found->second->children.empty()) return fail(Errors::NotEmpty);
        m_space->used -= found->second->data.size();
        m_entry->children.erase(found);
        return true;
    }
    Ref<Iterator> iterator(unsigned, const Ref<String>&) override {
        return Ref<Iterator>(new MemoryIterator(stdString(path()), m_entry, m_space));
    }

  private:
    bool mayChange(const Ref<String>& name) const {
        if (!isEntryName(name)) return fail(Errors::InvalidPath);
        if (!m_writable) return fail(Errors::NotWritable);
        return true;
    }
    bool create(const Ref<String>& name, bool directory) {
        if (!mayChange(name)) return false;
        auto [at, made] = m_entry->children.try_emplace(stdString(name));
        if (!made) return fail(Errors::AlreadyExists);
        at->second = std::make_shared<MemoryFilesystem::Entry>();
        at->second->directory = directory;
        return true;
    }
    EntryPtr m_entry;
    std::shared_ptr<Space> m_space;
    bool m_writable;
};

} // namespace

MemoryFilesystem::MemoryFilesystem() : m_root(std::make_shared<Entry>()), m_space(std::make_shared<Space>()) {
    m_root->directory = true;
}

MemoryFilesystem::~MemoryFilesystem() = default;

void MemoryFilesystem::setCapacity(uint64_t bytes) {
    m_space->capacity = bytes;
}

std::shared_ptr<MemoryFilesystem::Entry> MemoryFilesystem::find(std::string_view path) const {
    auto names = namesOf(path);
    if (!names) return {};
    EntryPtr at = m_root;
    for (const std::string& name : *names) {
        auto found = at->directory ? at->children.find(name) : at->children.end();
        if (found == at->children.end()) return {};
        at = found->second;
    }
    return at;
}

std::shared_ptr<MemoryFilesystem::Entry> MemoryFilesystem::parentOf(std::string_view path, bool make) {
    auto names = namesOf(path);
    if (!names || names->empty()) return {};
    names->pop_back();
    EntryPtr at = m_root;
    for (const std::string& name : *names) {
        auto found = at->children.find(name);
        if (found == at->children.end()) {
            if (!make) return {};
            auto made = std::make_shared<Entry>();
            made->directory = true;
            made->readOnly = at->readOnly;
            found = at->children.emplace(name, made).first;
        }
        if (!found->second->directory) return {};
        at = found->second;
    }
    return at;
}

void MemoryFilesystem::addDirectory(const std::string& path) {
    if (find(path)) return;
    EntryPtr parent = parentOf(path, true);
    if (!parent) return;
    auto made = std::make_shared<Entry>();
    made->directory = true;
    made->readOnly = parent->readOnly;
    parent->children[namesOf(path)->back()] = made;
}

void MemoryFilesystem::addFile(const std::string& path, const std::string& contents, long long modifiedMs) {
    EntryPtr parent = parentOf(path, true);
    if (!parent) return;
    auto made = std::make_shared<Entry>();
    made->data = contents;
    made->modifiedMs = modifiedMs;
    m_space->used += contents.size();
    parent->children[namesOf(path)->back()] = made;
}

void MemoryFilesystem::setReadOnly(const std::string& path) {
    std::vector<EntryPtr> pending{find(path)};
    while (!pending.empty()) {
        EntryPtr entry = pending.back();
        pending.pop_back();
        if (!entry) continue;
        entry->readOnly = true;
        for (const auto& [name, child] : entry->children)
            pending.push_back(child);
    }
}

void MemoryFilesystem::addNode(const std::string& name, const std::string& mountPoint,
                               std::map<std::string, std::string> textAttributes, bool mounted) {
    m_nodes[name] = {mountPoint, std::move(textAttributes), mounted};
    if (mounted) addDirectory(mountPoint);
}

bool MemoryFilesystem::isDirectory(const std::string& path) const {
    EntryPtr entry = find(path);
    return entry && entry->directory;
}

std::optional<std::string> MemoryFilesystem::contents(const std::string& path) const {
    EntryPtr entry = find(path);
    if (!entry || entry->directory) return std::nullopt;
    return entry->data;
}

std::vector<std::string> MemoryFilesystem::list(const std::string& path) const {
    std::vector<std::string> names;
    if (EntryPtr entry = find(path))
        for (const auto& [name, child] : entry->children)
            names.push_back(name);
    return names;
}

Ref<String> MemoryFilesystem::platformPath(const Ref<String>& path) {
    auto names = isEmpty(path) ? std::nullopt : namesOf(path->str());
    if (!names) {
        Error::set(Errors::InvalidPath);
        return {};
    }
    return String::create(joined(*names));
}

Ref<FSItem> MemoryFilesystem::openItem(const Ref<String>& path) {
    Ref<String> normal = platformPath(path);
    if (!normal) return {};
    EntryPtr entry = find(normal->str());
    if (!entry) {
        Error::set(Errors::NotFound);
        return {};
    }
    return Ref<FSItem>(new MemoryItem(normal, entry));
}

Ref<File> MemoryFilesystem::openFile(const Ref<String>& path, unsigned mode) {
    Ref<String> normal = platformPath(path);
    if (!normal) return {};
    EntryPtr entry = find(normal->str());
    bool writing = mode == OpenMode::Destination || mode == OpenMode::Exclusive;
    if (mode == OpenMode::Probe && entry)
        return Ref<File>(new MemoryFile(normal, entry, m_space, false, false));
    if (entry && entry->directory) {
        Error::set(writing ? Errors::AlreadyExists : Errors::NotFound);
        return {};
    }
    if (!writing) {
        if (!entry) Error::set(Errors::NotFound);
        return entry ? Ref<File>(new MemoryFile(normal, entry, m_space, false, false)) : Ref<File>();
    }
    EntryPtr parent = parentOf(normal->str(), false);
    if (!parent) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (parent->readOnly) {
        Error::set(Errors::NotWritable);
        return {};
    }
    if (mode == OpenMode::Exclusive && entry && entry->heldExclusively) {
        Error::set(Errors::AlreadyOpened);
        return {};
    }
    if (!entry) {
        entry = std::make_shared<Entry>();
        parent->children[namesOf(normal->str())->back()] = entry;
    } else if (mode == OpenMode::Destination) {
        m_space->used -= entry->data.size();
        entry->data.clear();
    }
    return Ref<File>(new MemoryFile(normal, entry, m_space, true, mode == OpenMode::Exclusive));
}

Ref<Directory> MemoryFilesystem::openDirectory(const Ref<String>& path, unsigned mode) {
    Ref<String> normal = platformPath(path);
    if (!normal) return {};
    EntryPtr entry = find(normal->str());
    if (!entry || !entry->directory) {
        Error::set(entry ? Errors::NotADirectory : Errors::NotFound);
        return {};
    }
    bool wantsWrite = mode == DirectoryMode::ReadWrite;
    if (wantsWrite && entry->readOnly) {
        Error::set(Errors::NotWritable);
        return {};
    }
    return Ref<Directory>(new MemoryDirectory(normal, entry, m_space, wantsWrite));
}

bool MemoryFilesystem::mountInfo(std::vector<Services::Mount::Client::MountNode>& list) {
    for (const auto& [name, node] : m_nodes)
        if (node.mounted) list.push_back({String::create(name), {String::create(node.mountPoint)}});
    return true;
}

// A node mounted here stays mounted: nothing in memory needs releasing.
Ref<Services::Mount::Client::Entry> MemoryFilesystem::mount(const Ref<String>& node) {
    auto found = m_nodes.find(stdString(node));
    if (found == m_nodes.end()) {
        Error::set(Errors::NotFound);
        return {};
    }
    found->second.mounted = true;
    addDirectory(found->second.mountPoint);
    return Ref<Services::Mount::Client::Entry>(
        new Services::Mount::Client::Entry(node, String::create(found->second.mountPoint)));
}

bool MemoryFilesystem::openNode(const Ref<String>& node) {
    return m_nodes.count(stdString(node)) ? true : fail(Errors::NotFound);
}

bool MemoryFilesystem::openProvider(const Ref<String>& node) {
    return openNode(node);
}

bool MemoryFilesystem::openGenericProvider(const Ref<String>& node) {
    return openNode(node);
}

Ref<Variant> MemoryFilesystem::nodeAttribute(const Ref<String>& node, const char* name) {
    Ref<Variant> value = Variant::create();
    auto found = m_nodes.find(stdString(node));
    if (found == m_nodes.end()) return value;
    auto attribute = found->second.attributes.find(name);
    if (attribute != found->second.attributes.end()) value->append({2, 0, String::create(attribute->second)});
    return value;
}

} // namespace Services::Filesystem::Client

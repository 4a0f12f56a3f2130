// The file service's handles: the path operations, which are text and the same on every host,
// and the opening calls, which go to the installed service.
#include "Filesystem.h"
#include "FilesystemService.h"
#include <algorithm>
#include <string>

namespace Services::Filesystem::Client {

Ref<String> Service::absolute(const Ref<String>& path, const Ref<String>& base) {
    if (!path) return base;
    if (path->at(0) == '/' || isEmpty(base)) return path;
    std::string_view rel = path->str();
    while (rel.substr(0, 2) == "./")
        rel.remove_prefix(2);
    if (rel == ".") rel = {};
    if (rel.empty()) return base;
    // Built in place: this runs for every file an export copies.
    std::string_view start = base->str();
    bool slash = start.back() != '/';
    return String::build(start.size() + slash + rel.size(), [&](char* out) {
        out = std::copy(start.begin(), start.end(), out);
        if (slash) *out++ = '/';
        std::copy(rel.begin(), rel.end(), out);
    });
}

Ref<String> Service::parent(const Ref<String>& path, bool) {
    if (isEmpty(path)) return String::create("");
    long slash = path->findLast('/');
    if (slash < 0) return String::create(".");
    if (slash == 0) return String::create("/");
    return path->substring(0, static_cast<size_t>(slash));
}

Ref<String> Service::name(const Ref<String>& path) {
    if (!path) return String::create("");
    long slash = path->findLast('/');
    return slash < 0 ? path : path->substring(static_cast<size_t>(slash) + 1);
}

Ref<String> childPath(std::string_view directory, std::string_view name) {
    if (directory == "/") directory = {};
    return String::build(directory.size() + 1 + name.size(), [&](char* out) {
        out = std::copy(directory.begin(), directory.end(), out);
        *out++ = '/';
        std::copy(name.begin(), name.end(), out);
    });
}

bool isEntryName(const Ref<String>& name) {
    return !isEmpty(name) && name->str() != "." && name->str() != ".." && name->findLast('/') < 0;
}

} // namespace Services::Filesystem::Client

// The opening calls, each to the installed FilesystemService.

namespace Services::Filesystem::Client {

Ref<FSItem> FSItem::open(const Ref<String>& path, unsigned, unsigned) {
    return service<FilesystemService>().openItem(path);
}

Ref<File> File::open(const Ref<String>& path, unsigned mode) {
    return service<FilesystemService>().openFile(path, mode);
}

Ref<Directory> Directory::open(const Ref<String>& path, unsigned mode) {
    return service<FilesystemService>().openDirectory(path, mode);
}

Ref<String> FSItem::name() const {
    return Service::name(m_path);
}

Ref<String> Directory::name() const {
    return Service::name(m_path);
}

Ref<Node> Nodes::open(const Ref<String>& nodeName) {
    if (isEmpty(nodeName)) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (!service<FilesystemService>().openNode(nodeName)) return {};
    return Ref<Node>(new Node(nodeName));
}

} // namespace Services::Filesystem::Client

namespace Services::Nodes {

using Services::Filesystem::Client::FilesystemService;

Ref<Provider> Provider::create(const Ref<Services::Filesystem::Client::Node>& node, unsigned) {
    if (!node) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (!service<FilesystemService>().openProvider(node->path())) return {};
    return Ref<Provider>(new Provider(node->path()));
}

Ref<Providers::Generic> Providers::Generic::create(const Ref<Provider>& provider) {
    if (!provider) {
        Error::set(Errors::NotFound);
        return {};
    }
    if (!service<FilesystemService>().openGenericProvider(provider->nodeName())) return {};
    return Ref<Generic>(new Generic(provider->nodeName()));
}

Ref<Variant> Providers::Generic::attribute(const char* name) const {
    Ref<Variant> value = service<FilesystemService>().nodeAttribute(m_node, name);
    return value ? value : Variant::create();
}

} // namespace Services::Nodes

namespace Services::Mount::Client {

bool info(std::vector<MountNode>& list) {
    return service<Services::Filesystem::Client::FilesystemService>().mountInfo(list);
}

Ref<Entry> Entry::create(const Ref<String>& node, unsigned, unsigned, const Ref<Parameters>&) {
    if (isEmpty(node)) {
        Error::set(Errors::NotFound);
        return {};
    }
    return service<Services::Filesystem::Client::FilesystemService>().mount(node);
}

} // namespace Services::Mount::Client

// The path operations of the file service: text only, the same on every host.
#include "Filesystem.h"
#include <string>

namespace Services::Filesystem::Client {

Ref<String> Service::absolute(const Ref<String>& path, const Ref<String>& base) {
    if (!path) return base;
    if (path->at(0) == '/' || isEmpty(base)) return path;
    std::string rel = path->str();
    while (rel.rfind("./", 0) == 0)
        rel.erase(0, 2);
    if (rel == ".") rel.clear();
    std::string b = base->str();
    if (rel.empty()) return base;
    return String::create(b.back() == '/' ? b + rel : b + "/" + rel);
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

} // namespace Services::Filesystem::Client

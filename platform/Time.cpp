#include "Time.h"
#include "Host.h"
#include "Namespace.h"
#include <chrono>
#include <ctime>
#include <filesystem>

Ref<Time> Time::current(long long offsetMs, unsigned) {
    const Host::Config& c = Host::config();
    long long now = c.fixedClockMs ? *c.fixedClockMs
                                   : std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count();
    return Ref<Time>(new Time(now + offsetMs));
}

Ref<Time> Time::create(long long milliseconds, unsigned) {
    return Ref<Time>(new Time(milliseconds));
}

long long Time::tzOffsetMs() {
    return Host::config().tzOffsetMs;
}

long long TimeServer::tzOffset(bool) {
    return Time::tzOffsetMs();
}

Ref<String> Date::currtime(const char* format, const Ref<Time>& time) {
    Ref<Time> t = time ? time : Time::current(TimeServer::tzOffset(true), 4);
    std::time_t seconds = static_cast<std::time_t>(t->milliseconds() / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, std::string(format) == "Y-m-d" ? "%Y-%m-%d" : "%Y%m%d", &parts);
    return String::create(text);
}

namespace PlatformEnvironment {
namespace {
const Host::PathConfig* pathConfig(unsigned id) {
    const auto& paths = Host::config().paths;
    auto it = paths.find(id);
    return it == paths.end() ? nullptr : &it->second;
}
} // namespace

Ref<String> getPathNode(unsigned pathId) {
    const Host::PathConfig* p = pathConfig(pathId);
    if (auto code = Host::fault("PlatformEnvironment::getPathNode", std::to_string(pathId))) {
        Error::set(*code);
        return {};
    }
    if (!p || !Namespace::findNode(p->node)) {
        Error::set(Errors::NotFound);
        return {};
    }
    return String::create(p->node);
}

Ref<String> getPath(unsigned pathId) {
    const Host::PathConfig* p = pathConfig(pathId);
    if (auto code = Host::fault("PlatformEnvironment::getPath", std::to_string(pathId))) {
        Error::set(*code);
        return {};
    }
    if (!p) {
        Error::set(Errors::NotFound);
        return {};
    }
    for (const Namespace::Mounted& m : Namespace::mounts())
        if (m.node == p->node)
            return String::create(p->relative.empty() ? m.mountPoint : m.mountPoint + "/" + p->relative);
    Error::set(Errors::NotFound);
    return {};
}

bool ensureHostPathHierarchy(const Ref<String>& path, bool) {
    if (auto code = Host::fault("PlatformEnvironment::ensureHostPathHierarchy", stdString(path))) {
        Error::set(*code);
        return false;
    }
    unsigned error = 0;
    auto resolved = Namespace::resolve(stdString(path), error);
    if (!resolved) {
        Error::set(error);
        return false;
    }
    int err = 0;
    if (Namespace::makeDirectories(*resolved, err)) return true;
    Error::set(err == EXDEV || err == ELOOP ? Errors::InvalidPath : Errors::NotWritable);
    return false;
}
} // namespace PlatformEnvironment

Ref<ProductDescription> ProductDescription::open() {
    if (!Host::config().product || Host::fault("ProductDescription::open")) {
        Error::set(Errors::NotFound);
        return {};
    }
    return Ref<ProductDescription>(new ProductDescription);
}

Ref<String> ProductDescription::lookup(const char* group, const char* key) const {
    if (std::string(group) != "product") return {};
    const auto& product = *Host::config().product;
    auto it = product.find(key);
    return it == product.end() ? Ref<String>() : String::create(it->second);
}

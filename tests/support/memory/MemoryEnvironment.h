#pragma once
// An environment kept in memory: the well-known paths and the product description a test gives it.
#include "platform/EnvironmentService.h"
#include "platform/Error.h"
#include <map>
#include <optional>
#include <string>

namespace PlatformEnvironment {

class MemoryEnvironment : public EnvironmentService {
  public:
    struct WellKnownPath {
        std::string node;
        std::string path;
    };
    std::map<unsigned, WellKnownPath> paths;
    std::optional<std::map<std::string, std::string>> product;

    Ref<String> pathNode(unsigned pathId) override {
        auto it = paths.find(pathId);
        return it == paths.end() ? notFound() : String::create(it->second.node);
    }
    Ref<String> path(unsigned pathId) override {
        auto it = paths.find(pathId);
        return it == paths.end() ? notFound() : String::create(it->second.path);
    }
    bool ensureHostPathHierarchy(const Ref<String>&, bool) override { return true; }
    bool hasProductDescription() override { return product || (notFound(), false); }
    Ref<String> productValue(const char* group, const char* key) override {
        if (!product || std::string(group) != "product") return {};
        auto it = product->find(key);
        return it == product->end() ? Ref<String>() : String::create(it->second);
    }

  private:
    static Ref<String> notFound() {
        Error::set(Errors::NotFound);
        return {};
    }
};

} // namespace PlatformEnvironment

#pragma once
// A system whose information and boot parameters a test gives; threads, semaphores and memory come
// from the service it wraps.
#include "platform/SystemService.h"
#include <map>

class MemorySystem : public SystemServiceProxy {
  public:
    explicit MemorySystem(std::unique_ptr<SystemService> inner) : SystemServiceProxy(std::move(inner)) {}
    std::map<unsigned, long long> values;
    std::string boot;

    long long info(unsigned key, unsigned) override {
        auto value = values.find(key);
        return value == values.end() ? 0 : value->second;
    }
    std::string bootParameters() override { return boot; }
};

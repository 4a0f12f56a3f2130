#pragma once
// A suite of end-to-end tests against the S3-protocol test store, started once for the suite
// behind its signature-checking front; each test is skipped, saying why, where the store cannot
// run.
#include "ObjectStore.h"
#include "Sandbox.h"
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Testing {

class StoreTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { store = std::make_unique<ObjectStore>(); }
    static void TearDownTestSuite() { store.reset(); }
    void SetUp() override {
        if (!store->running()) GTEST_SKIP() << store->problem();
    }
    // The binary run with the settings of the store (or of another of its fronts), `extra` over them.
    RunResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {},
                  const StoreFront* front = nullptr) {
        std::map<std::string, std::string> env = (front ? *front : store->front()).environment();
        for (const auto& [name, value] : extra)
            env[name] = value;
        return box.run(args, env);
    }

    static inline std::unique_ptr<ObjectStore> store;
    Sandbox box;
};

} // namespace Testing

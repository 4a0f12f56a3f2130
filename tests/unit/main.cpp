// Unit tests run against a platform root of their own, made before the platform is first used, and
// with dialogs that only ever exist in memory.
#include "UnitPlatform.h"
#include "support/memory/MemoryDialogs.h"
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

Host::HostPlatform& unitPlatform() {
    // Never destroyed: a mode's last thread may reach it while the process ends.
    static auto* platform = new Host::HostPlatform;
    return *platform;
}

int main(int argc, char** argv) {
    std::string root = (std::filesystem::temp_directory_path() / "scrivlet-unit-XXXXXX").string();
    if (!mkdtemp(root.data())) return 2;
    setenv("ORVANE_ROOT", root.c_str(), 1);
    unsetenv("ORVANE_CONFIG");
    setenv("ORVANE_UI", "headless", 1);
    setenv("ORVANE_UI_TRANSCRIPT", (root + "/transcript.jsonl").c_str(), 1);
    Host::installServices(unitPlatform());
    installService<Services::Skarnel::DialogService>(
        [] { return std::make_unique<Services::Skarnel::MemoryDialogs>(); });
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(root);
    return result;
}

#pragma once
// Shared set-up of the fuzz targets: a platform root of their own, made once per process, and
// helpers that cut the fuzzer's bytes into the inputs a target needs.
#include "platform/System.h"
#include "platform/host/HostPlatform.h"
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace Fuzzing {

inline std::string makeRoot() {
    std::string root = (std::filesystem::temp_directory_path() / "scrivlet-fuzz-XXXXXX").string();
    if (!mkdtemp(root.data())) std::abort();
    setenv("ORVANE_ROOT", root.c_str(), 1);
    unsetenv("ORVANE_CONFIG");
    setenv("ORVANE_UI", "headless", 1);
    // Never destroyed: the fuzzer's process ends without tearing down what a thread may reach.
    auto* platform = new Host::HostPlatform;
    platform->config();
    Host::installServices(*platform);
    return root;
}

// The bytes split at each NUL, as a command line would arrive.
inline std::vector<std::string> splitAtNul(const uint8_t* data, size_t size) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    return parts;
}

} // namespace Fuzzing

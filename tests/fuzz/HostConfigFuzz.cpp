// The host configuration reader: any bytes as host.json must load or be refused, never crash.
#include "FuzzSupport.h"
#include <fstream>

namespace {
std::string configFile;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    configFile = Fuzzing::makeRoot() + "/fuzz-host.json";
    setenv("ORVANE_CONFIG", configFile.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::ofstream(configFile, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), size);
    std::string problem;
    std::optional<Host::Config> config = Host::tryLoadConfig(configFile, problem);
    if (!config) return 0;
    Host::FaultRules rules(config->faultRules);
    (void)rules.fault("File::open", "/x");
    (void)rules.byteLimit("File::read", "/x");
    return 0;
}

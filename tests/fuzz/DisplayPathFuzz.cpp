// displayPath over arbitrary platform paths, on the embedded default's mounts, for both kinds of
// user interface (the first byte chooses).
#include "FuzzSupport.h"
#include "storage/Storage.h"

using namespace Applications::Commands::Scrivlet;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzzing::makeRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunContext run;
    run.uiTypeOther = size > 0 && (data[0] & 1);
    Ref<String> path = String::create(std::string(reinterpret_cast<const char*>(data), size));
    Ref<String> shown = displayPath(run, path, {});
    if (!shown) std::abort();
    return 0;
}

// The command-line parser over the program's option table, fed arbitrary argument lists.
#include "FuzzSupport.h"
#include "common/Parameters.h"

using Applications::Commands::Scrivlet::Parameters;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzzing::makeRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments = Fuzzing::splitAtNul(data, size);
    std::vector<char*> argv{const_cast<char*>("scrivletv2")};
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Proc::setArguments(static_cast<int>(argv.size() - 1), argv.data());
    Ref<Parameters> parameters(new Parameters);
    // A valid parse never leaves the mode outside the table of modes.
    if (parameters->valid && parameters->mode > 6) std::abort();
    return 0;
}

// Both formatters: the program's "{1}" formatter and the platform's "{1}"/"%1" formatter, with a
// template and arguments taken from the input.
#include "FuzzSupport.h"
#include "common/StringFormatter.h"
#include "platform/Formatter.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzzing::makeRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts = Fuzzing::splitAtNul(data, size);
    Ref<String> text = String::create(parts[0]);
    uint64_t number = size >= 8 ? *reinterpret_cast<const uint64_t*>(data) : size;
    unsigned radix = 2 + (size % 35);

    Ref<Applications::Commands::Scrivlet::StringFormatter> ours =
        Applications::Commands::Scrivlet::StringFormatter::create(text);
    for (size_t i = 1; i < parts.size(); i++)
        ours->arg(String::create(parts[i]));
    ours->arg(number, radix);
    Ref<String> result = ours->result();

    for (unsigned mode : {0u, 1u}) {
        Ref<Libraries::IO::Characters::StringFormatter> platform =
            Libraries::IO::Characters::StringFormatter::create(text, mode);
        if (!platform) continue;
        for (size_t i = 1; i < parts.size(); i++)
            platform->arg(String::create(parts[i]));
        platform->arg(number, radix);
        (void)platform->result();
    }
    // Without placeholders nothing changes.
    if (parts.size() == 1 && parts[0].find('{') == std::string::npos && result && result->str() != parts[0])
        std::abort();
    return 0;
}

// StringUtil::split with every separator, limit and quoting setting taken from the input, and
// the registry's own line form (separator "=", two parts, quotes and escapes honoured).
#include "FuzzSupport.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzzing::makeRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    char separator = static_cast<char>(data[0]);
    unsigned limit = data[1] % 8;
    bool quotes = data[2] & 1;
    Ref<String> text = String::create(std::string(reinterpret_cast<const char*>(data + 3), size - 3));
    std::vector<Ref<String>> parts = StringUtil::split(text, separator, limit, quotes, '\\', '"');
    if (limit > 0 && parts.size() > limit) std::abort();
    size_t total = 0;
    for (const Ref<String>& p : parts)
        total += p ? p->length() : 0;
    if (total > text->length()) std::abort();
    (void)StringUtil::split(text, '=', 2, true, '\\', '"');
    return 0;
}

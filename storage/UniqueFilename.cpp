#include "UniqueFilename.h"
#include "platform/Filesystem.h"
#include "platform/Text.h"

namespace Applications::Commands::Scrivlet {

using namespace Services::Filesystem::Client;

namespace {
// Galloping stops at the first power of two not below this; its index is the last one tried.
constexpr uint64_t gallopLimit = 0x7FFFFFFF;
} // namespace

IndexedName::IndexedName(const Ref<String>& name, const Ref<String>& dir, bool wholeName) : directory(dir) {
    long dot = wholeName ? -1 : name->findLast('.');
    if (dot < 0) {
        base = name;
        return;
    }
    base = name->substring(0, static_cast<size_t>(dot));
    extension = name->substring(static_cast<size_t>(dot) + 1);
}

Ref<String> IndexedName::candidate(uint64_t n) const {
    Ref<String> digits = StrConv::str(n, 10, 3);
    Ref<String> name = base->concat('-')->concat(digits);
    return extension ? name->concat('.')->concat(extension) : name;
}

bool IndexedName::isTaken(uint64_t n, Ref<String>& name) const {
    name = candidate(n);
    return static_cast<bool>(FSItem::open(Service::absolute(name, directory), 0, 4));
}

Ref<String> uniqueFilename(const Ref<String>& name, const Ref<String>& directory, bool wholeName) {
    if (!name) return {};
    IndexedName indexed(name, directory, wholeName);
    Ref<String> candidate;
    uint64_t lo = 1, hi = 1, i = 1;
    for (;;) {
        if (!indexed.isTaken(i, candidate)) {
            hi = i;
            break;
        }
        lo = i;
        if (i >= gallopLimit) break;
        i *= 2;
    }
    while (hi > lo + 1) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (indexed.isTaken(mid, candidate))
            lo = mid;
        else
            hi = mid;
    }
    if (indexed.isTaken(hi, candidate)) return {};
    return candidate;
}

} // namespace Applications::Commands::Scrivlet

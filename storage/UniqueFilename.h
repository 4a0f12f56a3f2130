#pragma once
// Indexed names ("report-001.txt") that do not exist yet, found by a galloping search and bisection.
#include "platform/String.h"
#include <cstdint>

namespace Applications::Commands::Scrivlet {

class IndexedName {
  public:
    IndexedName(const Ref<String>& name, const Ref<String>& directory, bool wholeName);
    Ref<String> candidate(uint64_t n) const;
    // True when something exists under the candidate for n; the candidate is returned in `name`.
    bool isTaken(uint64_t n, Ref<String>& name) const;

    Ref<String> base;
    Ref<String> extension;
    Ref<String> directory;
};

Ref<String> uniqueFilename(const Ref<String>& name, const Ref<String>& directory, bool wholeName);

} // namespace Applications::Commands::Scrivlet

#pragma once
// The cases of a table-driven test are named by their `name` field: in test listings and failure
// messages (instead of a dump of the case's bytes) and in the names of the instantiated tests.
// A file brings PrintTo into the namespace of its case types (`using Testing::PrintTo;`), where
// GoogleTest looks for it.
#include <ostream>
#include <string>

namespace Testing {

template <typename Case>
concept NamedCase = requires(const Case& c) {
    std::string(c.name);
};

template <NamedCase Case> void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// The name generator of INSTANTIATE_TEST_SUITE_P for named cases.
inline constexpr auto caseName = [](const auto& info) { return std::string(info.param.name); };

} // namespace Testing

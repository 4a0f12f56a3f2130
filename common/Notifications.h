#pragma once
// When a dialog may be shown, by the options -s, --show-progress and --show-success.
#include "app/Parameters.h"

namespace Applications::Commands::Scrivlet {

inline bool progressRule(const Parameters& p) {
    return !p.silent || p.showProgress;
}
inline bool errorRule(const Parameters& p) {
    return !p.silent || p.showProgress || p.showSuccess;
}
inline bool successRule(const Parameters& p) {
    return !p.silent || p.showSuccess;
}

} // namespace Applications::Commands::Scrivlet

#pragma once
// The dialogs that tell the user something, and when they may be shown, by the options -s,
// --show-progress and --show-success.
#include "Parameters.h"

namespace Applications::Commands::Scrivlet {

// An error dialog.
void notifyError(const Ref<String>& title, const Ref<String>& text);
// An information dialog: `text` with {1} = `firstValue`, followed by a line `secondText` with {2} =
// `secondValue` when there is one. The dialog's answer, 0 when it could not be shown.
int notifyInformation(const Ref<String>& title, const Ref<String>& text, const Ref<String>& secondText,
                      const Ref<String>& firstValue, const Ref<String>& secondValue);
// A question with the answers yes and no; true for yes.
bool askYesNo(const Ref<String>& title, const Ref<String>& text);

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

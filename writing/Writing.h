#pragma once
// Saving to drives: the file save engine and the modes "file", "screenshot" and "log".
#include "TargetLocation.h"
#include "common/RunContext.h"
#include "platform/Error.h"
#include <utility>
#include <vector>

namespace Applications::Commands::Scrivlet {

// The wait dialog's title and text while the locations are searched.
using WaitTexts = std::pair<Ref<String>, Ref<String>>;

// Copies the run's source to every usable location under `filename`; `result` says how it ended.
void saveFile(const RunContext& run, Error& result, const Ref<String>& filename, const WaitTexts& waitTexts);
// Removes the files of the locations (only those marked failed, with `onlyFailed`).
void removeIncompleteFiles(std::vector<TargetLocation>& locations, bool onlyFailed);

void fileMode(const RunContext& run, Error& result);
void screenshotMode(const RunContext& run, Error& result);
void logMode(const RunContext& run, Error& result);

} // namespace Applications::Commands::Scrivlet

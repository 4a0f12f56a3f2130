#pragma once
// Modes "file-upload", "screenshot-upload" and "log-upload": a file or the system log sent to the
// remote store, and the tag it answered shown.
#include "common/RunContext.h"
#include "platform/Error.h"
#include <cstdint>

namespace Applications::Commands::Scrivlet {

Error fileUpload(const RunContext& run);
Error screenshotUpload(const RunContext& run);
Error logUpload(const RunContext& run);
// Uploads the run's source under `uploadName`.
Error uploadFile(const RunContext& run, const Ref<String>& uploadName);
// The failure dialogs; an empty `text` stands for the general failure message.
void reportFileUploadFailure(const RunContext& run, uint32_t code, const Ref<String>& text);
void reportLogUploadFailure(const RunContext& run, uint32_t code, const Ref<String>& text);

} // namespace Applications::Commands::Scrivlet

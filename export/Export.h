#pragma once
// State shared by the three steps of the log export: the selection dialog, the copy and the
// clearing of old files on the boot drive.
#include "common/RunContext.h"
#include "platform/Error.h"
#include "platform/Skarnel.h"
#include <vector>

namespace Applications::Commands::Scrivlet {

// The fixed codes of a selection the export cannot use: a clearing period outside the table, one
// reaching back before the clock began, and a file whose modification time is not a number.
inline constexpr unsigned badPeriod = 0x11008446;
inline constexpr unsigned periodBeforeClock = 0x12008484;
inline constexpr unsigned badTimestamp = 0x13008446;

struct ExportCategory {
    Ref<String> path;
    Ref<Services::Filesystem::Client::Directory> directory;
    Ref<Services::Skarnel::Client::Elements::CheckBox> checkBox;
    bool writable = true;
    std::vector<Ref<String>> filesToRemove;
};

struct ExportState {
    ExportState(const RunContext& application, Ref<String> baseDirectory)
        : app(application), base(std::move(baseDirectory)) {}
    const RunContext& app;
    Ref<String> base;
    std::vector<ExportCategory> categories;
    Ref<Services::Skarnel::Client::FSItem> destination;
    bool clearing = false;
    long long cutoff = 0;

    // Filled by the copy and read by the clearing.
    Ref<Services::Skarnel::Client::Progress> progress;
    size_t removeCount = 0;
    bool anyError = false;
    bool aborted = false;
};

void reportSourceFailure(const RunContext& app, uint32_t code);
void reportExportFailure(const RunContext& app, const Ref<String>& path, uint32_t code);
bool askContinueAfterCopyFailure(const RunContext& app, const Ref<String>& relativePath, uint32_t code);

// Mode "export": the platform's logs, screenshots and analysis files from the boot drive to a
// drive the user chooses, and old files cleared afterwards; returns the mode's result.
Error exportLogs(const RunContext& run);

// The copy half of the export; returns the mode's result.
Error copyExport(ExportState& state);
// Removes the chosen old files after a copy that was not aborted.
void clearOldFiles(ExportState& state);

} // namespace Applications::Commands::Scrivlet

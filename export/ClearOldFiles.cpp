// Removing the old files an export has chosen from the boot drive's category directories.
#include "Export.h"
#include "common/Log.h"
#include "common/Notifications.h"

namespace Applications::Commands::Scrivlet {

void clearOldFiles(ExportState& state) {
    const RunContext& app = state.app;
    if (state.anyError &&
        !askYesNo(app.text("EXPORT FAILED. CONTINUE WITH CLEARING", 3),
                  app.text("AT LEAST ONE ERROR OCCURRED WHEN EXPORTING THE FILES.\nDO YOU WANT TO REMOVE OLD "
                           "FILES NEVERTHELESS?",
                           4)))
        return;
    LogLine(LogLevel::Trace) << "Files to delete: " << Code{state.removeCount};
    if (state.removeCount == 0) return;
    if (state.progress) state.progress->setText(app.text("REMOVING OLD FILES...", 81));

    size_t k = 0;
    for (ExportCategory& category : state.categories) {
        if (!category.directory) continue;
        for (const Ref<String>& name : category.filesToRemove) {
            if (!category.directory->remove(name))
                LogLine(LogLevel::Failure) << "Failed to remove file " << name << " in directory "
                                           << category.path << "; error: " << Code{Error::get()};
            k++;
            if (state.progress) {
                if (state.progress->cancelled(true)) return;
                state.progress->setValue(1000 + k * 1000 / state.removeCount);
            }
        }
    }
}

} // namespace Applications::Commands::Scrivlet

#pragma once
// The one object the program runs: the parsed command line, the message catalogue and the
// operations the modes share. Each operation is the function of the same name in the folder it
// belongs to; the application only forwards to it.
#include "common/RunContext.h"
#include "platform/Error.h"
#include "storage/Storage.h"
#include "writing/Writing.h"
#include <vector>

namespace Applications::Commands::Scrivlet {

class Application : public Object, public RunContext {
  public:
    Application();
    ~Application() override;

    Error run();

    // Notifications (common/Notifications.h).
    void notifyError(const Ref<String>& title, const Ref<String>& text);
    int notifyInformation(const Ref<String>& title, const Ref<String>& text, const Ref<String>& secondText,
                          const Ref<String>& firstValue, const Ref<String>& secondValue);
    bool askYesNo(const Ref<String>& title, const Ref<String>& text);

    // Storage locations and names (storage/Storage.h).
    Ref<String> displayPath(const Ref<String>& path, const Ref<MountEntry>& mountEntry);
    Ref<String> predeterminedFilename(const Ref<String>& extension);
    Ref<String> determineFilename(const Ref<String>& directory, const Ref<String>& name,
                                  const Ref<MountEntry>& mountEntry, bool wholeName);
    Error accessPlatformDirectory(unsigned pathId, bool logNodeFailure, Ref<MountEntry>& mountEntry,
                                  Ref<String>& path);
    Error platformLogDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path);
    Error platformFileDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path);

    // Writing files (writing/Writing.h).
    void saveFile(Error& result, const Ref<String>& filename, const WaitTexts& waitTexts);
    void removeIncompleteFiles(std::vector<TargetLocation>& locations, bool onlyFailed);

    // Log export (export/Export.h).
    Error exportLogs();

    // Uploads (upload/Upload.h).
    Error fileUpload();
    Error screenshotUpload();
    Error logUpload();
    Error uploadFile(const Ref<String>& uploadName);
    void reportFileUploadFailure(uint32_t code, const Ref<String>& text);
    void reportLogUploadFailure(uint32_t code, const Ref<String>& text);

    bool ready = false;
};

} // namespace Applications::Commands::Scrivlet

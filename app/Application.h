#pragma once
// The one object every mode works on: the parsed command line, the message catalogue and the
// operations the modes share. Each operation lives in the subsystem it belongs to.
#include "app/Parameters.h"
#include "platform/Filesystem.h"
#include "platform/Text.h"
#include "platform/Catalogue.h"
#include <utility>
#include <vector>

namespace Applications::Commands::Scrivlet {

struct TargetLocation;
using MountEntry = Services::Mount::Client::Entry;
using WaitTexts = std::pair<Ref<String>, Ref<String>>;

class Application : public Object {
  public:
    Application();
    ~Application() override;

    Error run();
    Ref<String> text(const char* key, unsigned number) const { return catalogue->lookup(key, number); }

    // Notifications (common/Notifications.cpp).
    void notifyError(const Ref<String>& title, const Ref<String>& text);
    int notifyInformation(const Ref<String>& title, const Ref<String>& text, const Ref<String>& secondText,
                          const Ref<String>& firstValue, const Ref<String>& secondValue);
    bool askYesNo(const Ref<String>& title, const Ref<String>& text);

    // Storage locations and names (storage/).
    Ref<String> displayPath(const Ref<String>& path, const Ref<MountEntry>& mountEntry);
    Ref<String> predeterminedFilename(const Ref<String>& extension);
    Ref<String> determineFilename(const Ref<String>& directory, const Ref<String>& name,
                                  const Ref<MountEntry>& mountEntry, bool wholeName);
    Error accessPlatformDirectory(unsigned pathId, bool logNodeFailure, Ref<MountEntry>& mountEntry,
                                  Ref<String>& path);
    Error platformLogDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path);
    Error platformFileDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path);

    // Writing files (writing/).
    void saveFile(Error& result, const Ref<String>& filename, const WaitTexts& waitTexts);
    void removeIncompleteFiles(std::vector<TargetLocation>& locations, bool onlyFailed);

    // Log export (export/).
    Error exportLogs();

    // Uploads (upload/).
    Error fileUpload();
    Error screenshotUpload();
    Error logUpload();
    Error uploadFile(const Ref<String>& uploadName);
    void reportFileUploadFailure(uint32_t code, const Ref<String>& text);
    void reportLogUploadFailure(uint32_t code, const Ref<String>& text);

    bool ready = false;
    bool uiTypeOther = false;
    Ref<Parameters> parameters;
    Ref<I18N> catalogue;
};

// Mode handlers (writing/).
void fileMode(Application& application, Error& result);
void screenshotMode(Application& application, Error& result);
void logMode(Application& application, Error& result);
// The text after the last "." of a source path, or the whole path when it has none.
Ref<String> extensionOf(const Ref<String>& source);

} // namespace Applications::Commands::Scrivlet

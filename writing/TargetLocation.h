#pragma once
// The destinations of a save: where each is and the file written there, the drive-selection dialog
// that supplies one when the platform has none, and the tally that ends a save when the last
// destination drops out.
#include "common/DeterminePathDialog.h"
#include "common/RunContext.h"
#include "platform/Skarnel.h"
#include "storage/Storage.h"

namespace Applications::Commands::Scrivlet {

struct TargetLocation {
    Ref<MountEntry> mount;
    Ref<String> directory;
    Ref<String> path;
    Ref<Services::Skarnel::Client::FSItem> dialogItem;
    Ref<Services::Filesystem::Client::File> file;
    bool failed = false;
};

// What a save asks of the drive-selection dialog, and what it says when the dialog fails.
struct DriveRequest {
    unsigned flags = 0;
    Ref<String> prompt;
    Ref<String> defaultName;    // none when empty
    Ref<String> failureMessage; // {1} the file name, {2} and {3} the code
    bool showFailure = true;
};

// The dialog's flags: a drive or a name, the host's drives (`hostFlags`) where host paths are
// reached directly, and the boot drive unless --dont-force-boot.
unsigned driveDialogFlags(const Parameters& p, unsigned hostFlags);

// Shows the drive-selection dialog. 0 with the chosen item; 0x2007 when the user closed it, which
// is passed on without a message; otherwise the dialog's code, marked and reported.
Error chooseDrive(const RunContext& app, const DriveRequest& request, const Ref<String>& filename,
                  Ref<Services::Skarnel::Client::FSItem>& item);

// The directory a location writes to: the product hierarchy below a drive chosen in the dialog,
// otherwise the location's own directory once its levels exist; null when they could not be made.
Ref<String> targetDirectory(const TargetLocation& location, bool forLogs);

// What a save shows and ends with when its last location drops out.
struct SaveEnding {
    unsigned titleNumber;
    Ref<String> message;
    Error code;
    bool show = true;
};

// Counts the locations that drop out of a save; all of them share one count.
class LocationTally {
  public:
    LocationTally(const RunContext& app, size_t locations, Ref<DeterminePathDialog>* waitDialog)
        : m_app(app), m_locations(locations), m_waitDialog(waitDialog) {}

    // One more location dropped out. While others remain the save goes on (true). When it was the
    // last: the wait dialog closes, `ending` is shown when it may be, `result` takes its code, and
    // the save is over (false).
    bool dropOut(const SaveEnding& ending, Error& result);

    size_t locations() const { return m_locations; }
    size_t failures() const { return m_failures; }

  private:
    const RunContext& m_app;
    size_t m_locations;
    size_t m_failures = 0;
    Ref<DeterminePathDialog>* m_waitDialog;
};

} // namespace Applications::Commands::Scrivlet

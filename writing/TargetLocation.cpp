#include "TargetLocation.h"
#include "common/Log.h"
#include "common/Notifications.h"
#include "common/StepMarkers.h"
#include "common/StringFormatter.h"
#include "platform/System.h"

namespace Applications::Commands::Scrivlet {

using Services::Skarnel::Client::FSItem;
namespace Flags = Services::Skarnel::Client::Flags;

unsigned driveDialogFlags(const Parameters& p, unsigned hostFlags) {
    unsigned flags = p.allowRename ? Flags::AllowRename : Flags::DriveOnly | Flags::NoNewFolder;
    flags |= Sys::info(Sys::Key::HostPaths) != 0 ? hostFlags : Flags::WritableOnly;
    if (!p.dontForceBoot) flags |= Flags::ForceBoot;
    return flags;
}

Error chooseDrive(const RunContext& app, const DriveRequest& request, const Ref<String>& filename,
                  Ref<FSItem>& item) {
    Ref<Services::Skarnel::Client::Parameters> dialog = Services::Skarnel::Client::Parameters::create();
    dialog->setFlags(request.flags);
    dialog->setPrompt(request.prompt);
    if (request.defaultName) dialog->setDefaultName(request.defaultName);
    item = FSItem::create(dialog);
    if (item) return Error(0);
    Error code = Error::get();
    if (code == Errors::DialogClosed) return code;
    LogLine(LogLevel::Failure) << "Could not initialize storage location; error: " << Code{code};
    code = code | marker(SaveStep::DriveDialog);
    if (request.showFailure)
        notifyError(app.text("Error", 45), formatMessage(request.failureMessage, filename, code));
    return code;
}

Ref<String> targetDirectory(const TargetLocation& location, bool forLogs) {
    if (location.dialogItem) return productSubdirectory(location.dialogItem->path(), forLogs);
    Ref<String> boundary = location.mount ? location.mount->mountPoint() : Ref<String>();
    return ensureDirectoryHierarchy(location.directory, boundary, false) ? location.directory : Ref<String>();
}

bool LocationTally::dropOut(const SaveEnding& ending, Error& result) {
    if (++m_failures < m_locations) return true;
    if (m_waitDialog) m_waitDialog->reset();
    if (ending.show) notifyError(m_app.text("Error", ending.titleNumber), ending.message);
    result = ending.code;
    return false;
}

} // namespace Applications::Commands::Scrivlet

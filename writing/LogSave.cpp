// Mode "log": the system log exports itself to each location while a progress dialog follows it.
#include "Writing.h"
#include "common/DeterminePathDialog.h"
#include "common/Log.h"
#include "common/Notifications.h"
#include "common/PlatformNames.h"
#include "common/StepMarkers.h"
#include "common/StringFormatter.h"
#include "platform/Console.h"
#include "platform/SysLog.h"
#include "platform/System.h"
#include "storage/DirectoryHierarchy.h"

namespace Applications::Commands::Scrivlet {

using Services::Skarnel::Client::FSItem;
namespace {

constexpr unsigned pollMs = 200;
// How often a cancelled export is asked whether it has closed its file.
constexpr unsigned cancelPollMs = 10;
// The states of an export the status query reports.
constexpr unsigned exportRunning = 0;
constexpr unsigned exportFailed = 3;
// The system log is not available when either of these option bits is set.
constexpr uint32_t logUnavailableOptions = 3;

void showUnavailable(const RunContext& app) {
    std::string redirect;
    for (unsigned i = 0;; i++) {
        long long c = Sys::info(Sys::Key::LogRedirection, i);
        if (c == 0) break;
        redirect += static_cast<char>(c & 0xFF);
    }
    Ref<String> message =
        redirect.empty()
            ? StringUtil::replace(
                  app.text("The system log is not available, it's output is redirected to {file}", 50),
                  "{file}", String::create(redirect), 0)
            : app.text("The system log is not available as it's disabled due to a boot parameter.", 51);
    notifyError(app.text("SysLog not available", 49), message);
}

Error chooseDrive(const RunContext& app, std::vector<TargetLocation>& locations,
                  const Ref<String>& filename) {
    const Parameters& p = *app.parameters;
    namespace Flags = Services::Skarnel::Client::Flags;
    DriveRequest request;
    request.flags = driveDialogFlags(p, Flags::HostLogDrives | Flags::HostDrives | Flags::WritableOnly);
    if (p.silent) request.flags |= Flags::Quiet;
    request.prompt = app.text("Select drive in which to store the log", 26);
    request.failureMessage = app.text("Could not store file: {1}; error: 0x{2} ({3})", 46);
    request.showFailure = errorRule(p);
    TargetLocation l;
    if (Error code = Scrivlet::chooseDrive(app, request, filename, l.dialogItem); code != 0) return code;
    locations.push_back(l);
    return Error(0);
}

// Returns false when every location failed (`result` says how).
bool settlePaths(const RunContext& app, std::vector<TargetLocation>& locations, const Ref<String>& filename,
                 Error& result) {
    const Parameters& p = *app.parameters;
    LocationTally tally(app, locations.size(), nullptr);
    const Error noLocation(Errors::Failed | marker(LogSaveStep::NoLocation));
    for (TargetLocation& l : locations) {
        Ref<String> dir = targetDirectory(l, true);
        if (!dir) {
            LogLine(LogLevel::Failure)
                << "Failed to ensure folder hierarchy " << l.directory << " on " << l.mount->mountPoint();
            l.failed = true;
            SaveEnding ending{45,
                              formatMessage(app.text("Could not store file: {1}; error: 0x{2} ({3})", 46),
                                            filename, noLocation),
                              noLocation, errorRule(p)};
            if (!tally.dropOut(ending, result)) return false;
            continue;
        }
        Ref<String> full = Service::absolute(filename, dir);
        l.path = determineFilename(app, dir, filename, l.mount, false);
        if (!l.path) {
            LogLine(LogLevel::Failure)
                << "Could not determine unique filename for " << filename << " in path " << dir;
            l.failed = true;
            SaveEnding ending{
                57, formatMessage(app.text("Could not determine unique filename for {1}", 58), full),
                Error(Errors::Failed), errorRule(p)};
            if (!tally.dropOut(ending, result)) return false;
        }
    }
    std::erase_if(locations, [](const TargetLocation& l) { return l.failed; });
    return true;
}

// Follows one export; false when the user cancelled.
bool follow(const Ref<SysLogExport>& job, TargetLocation& l, const Ref<Progress>& progress, uint64_t base) {
    unsigned state = 0;
    double fraction = 0;
    while (job->status(state, fraction) && state == exportRunning) {
        if (progress) {
            if (progress->cancelled(true)) return false;
            progress->setValue(base + static_cast<uint64_t>(fraction * 100.0));
        }
        Thd::sleep(pollMs);
    }
    if (state == exportFailed) l.failed = true;
    return true;
}

// The locations to save to, each with its file's path: the platform's log directories, or the drive
// the user chooses. False when there are none (`result` says why).
bool findLocations(const RunContext& app, const Ref<String>& filename, std::vector<TargetLocation>& locations,
                   Error& result) {
    const Parameters& p = *app.parameters;
    Ref<DeterminePathDialog> waitDialog;
    if (!p.allowRename) {
        waitDialog = DeterminePathDialog::create(
            app.text("Determining log locations", 67),
            app.text("Determining the locations to use for the log files; this will take a while", 68), p,
            *app.catalogue);
        for (bool alternate : {false, true}) {
            TargetLocation l;
            if (platformLogDirectory(alternate, l.mount, l.directory) == 0) locations.push_back(l);
        }
    }
    if (locations.empty()) {
        waitDialog.reset();
        result = chooseDrive(app, locations, filename);
        if (result != 0) return false;
    }
    return settlePaths(app, locations, filename, result);
}

// Ends a cancelled export: its file closed, then every file this save made removed.
void abandon(const Ref<SysLogExport>& job, std::vector<TargetLocation>& locations, Ref<Progress>& progress) {
    job->cancel();
    progress.reset();
    for (TargetLocation& each : locations)
        each.dialogItem.reset();
    // Let the cancelled export close its file before the file is removed.
    unsigned state = 0;
    double fraction = 0;
    while (job->status(state, fraction) && state == exportRunning)
        Thd::sleep(cancelPollMs);
    removeIncompleteFiles(locations, false);
    locations.clear();
    StdIO::stdOutPrinter() << "User aborted";
    StdIO::stdOutPrinter().endl();
}

// The log exported to each location in turn, a progress dialog following; what failed is marked
// and its file removed. False when the user cancelled.
bool exportToEach(const RunContext& app, std::vector<TargetLocation>& locations) {
    Ref<Progress> progress;
    if (progressRule(*app.parameters))
        progress = Progress::create(app.text("Saving log", 86),
                                    formatMessage(app.text("Saving {1}", 88),
                                                  displayPath(app, locations[0].path, locations[0].mount)),
                                    locations.size() * 100, false, true);
    uint64_t base = 0;
    for (TargetLocation& l : locations) {
        if (progress)
            progress->setText(formatMessage(app.text("Saving {1}", 88), displayPath(app, l.path, l.mount)));
        Ref<SysLogExport> job = SysLog::exportLog(l.path);
        if (!job) {
            LogLine(LogLevel::Failure) << "Failed to initiate export to " << l.path;
            l.failed = true;
        } else if (!follow(job, l, progress, base)) {
            abandon(job, locations, progress);
            return false;
        }
        base += 100;
        if (progress) progress->setValue(base);
    }
    removeIncompleteFiles(locations, true);
    return true;
}

// Tells where the log was saved, or that it was saved nowhere.
void reportSaved(const RunContext& app, std::vector<TargetLocation>& locations, const Ref<String>& filename,
                 Error& result) {
    const Parameters& p = *app.parameters;
    Ref<String> first =
        locations[0].failed ? Ref<String>() : displayPath(app, locations[0].path, locations[0].mount);
    Ref<String> second;
    if (locations.size() > 1 && !locations[1].failed)
        second = displayPath(app, locations[1].path, locations[1].mount);
    if (isEmpty(first) && !isEmpty(second)) std::swap(first, second);
    for (TargetLocation& l : locations) {
        l.mount.reset();
        l.dialogItem.reset();
    }

    if (isEmpty(first)) {
        if (errorRule(p))
            notifyError(app.text("Error", 45),
                        formatMessage(app.text("Could not store file {1}: 0x{2} ({3})", 46), filename,
                                      Errors::Failed | marker(LogSaveStep::NothingSaved)));
        result = Error(Errors::Failed);
        return;
    }
    if (successRule(p)) {
        Error::set(0);
        int shown = app.uiTypeOther
                        ? notifyInformation(app.text("Information", 99), app.text("Log saved as:\n - {1}", 1),
                                            app.text(" - {2}", 2), first, second)
                        : notifyInformation(app.text("Information", 99), app.text("Log saved as {1}", 100),
                                            app.text("and {2}", 101), first, second);
        if (shown == 0)
            LogLine(LogLevel::Failure)
                << "Failed to show success information dialog; error: " << Code{Error::get()};
    }
    result = Error(0);
}

} // namespace

void logMode(const RunContext& app, Error& result) {
    const Parameters& p = *app.parameters;
    if ((SysLog::options() & logUnavailableOptions) != 0) {
        if (!p.silent) showUnavailable(app);
        result = Error(Errors::LogUnavailable);
        return;
    }
    Ref<String> filename =
        !isEmpty(p.source()) ? p.source() : predeterminedFilename(app, String::create("log"));
    std::vector<TargetLocation> locations;
    if (!findLocations(app, filename, locations, result)) return;
    if (!exportToEach(app, locations)) {
        result = Error(Errors::Cancelled);
        return;
    }
    reportSaved(app, locations, filename, result);
}

} // namespace Applications::Commands::Scrivlet

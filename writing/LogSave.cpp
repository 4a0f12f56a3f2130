// Mode "log": the system log exports itself to each location while a progress dialog follows it.
#include "Writing.h"
#include "common/DeterminePathDialog.h"
#include "common/Log.h"
#include "common/Notifications.h"
#include "common/StringFormatter.h"
#include "platform/Console.h"
#include "platform/SysLog.h"
#include "platform/System.h"
#include "storage/DirectoryHierarchy.h"

namespace Applications::Commands::Scrivlet {

using namespace Services::Filesystem::Client;
using Services::Skarnel::Client::FSItem;
using Services::Skarnel::Client::Progress;

namespace {

constexpr unsigned pollMs = 200;

void showUnavailable(const RunContext& app) {
    std::string redirect;
    for (unsigned i = 0;; i++) {
        long long c = Sys::info(0x20023, i);
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
    Ref<Services::Skarnel::Client::Parameters> dialog = Services::Skarnel::Client::Parameters::create();
    unsigned flags = (p.allowRename ? 0x02 : 0x84) | (Sys::info(0x20012) != 0 ? 0x508 : 0x08);
    if (!p.dontForceBoot) flags |= 0x40;
    if (p.silent) flags |= 0x800;
    dialog->setFlags(flags);
    dialog->setPrompt(app.text("Select drive in which to store the log", 26));
    Ref<FSItem> item = FSItem::create(dialog);
    if (item) {
        TargetLocation l;
        l.dialogItem = item;
        locations.push_back(l);
        return Error(0);
    }
    Error code = Error::get();
    if (code == 0x2007) return code;
    LogLine(4) << "Could not initialize storage location; error: " << Code{code};
    code = code | 0x40000000;
    if (errorRule(p))
        notifyError(
            app.text("Error", 45),
            formatMessage(app.text("Could not store file: {1}; error: 0x{2} ({3})", 46), filename, code));
    return code;
}

// Returns false when every location failed (`result` says how).
bool settlePaths(const RunContext& app, std::vector<TargetLocation>& locations, const Ref<String>& filename,
                 Error& result) {
    const Parameters& p = *app.parameters;
    size_t failures = 0;
    for (TargetLocation& l : locations) {
        Ref<String> dir;
        if (l.dialogItem) {
            dir = productSubdirectory(l.dialogItem->path(), true);
        } else if (!ensureDirectoryHierarchy(l.directory, l.mount->mountPoint(), false)) {
            LogLine(4) << "Failed to ensure folder hierarchy " << l.directory << " on "
                       << l.mount->mountPoint();
            l.failed = true;
            if (++failures == locations.size()) {
                if (errorRule(p))
                    notifyError(app.text("Error", 45),
                                formatMessage(app.text("Could not store file: {1}; error: 0x{2} ({3})", 46),
                                              filename, 0x80008443));
                result = Error(0x80008443);
                return false;
            }
            continue;
        } else {
            dir = l.directory;
        }
        Ref<String> full = Service::absolute(filename, dir);
        l.path = determineFilename(app, dir, filename, l.mount, false);
        if (!l.path) {
            LogLine(4) << "Could not determine unique filename for " << filename << " in path " << dir;
            l.failed = true;
            if (++failures == locations.size()) {
                if (errorRule(p))
                    notifyError(
                        app.text("Error", 57),
                        formatMessage(app.text("Could not determine unique filename for {1}", 58), full));
                result = Error(0x8443);
                return false;
            }
        }
    }
    std::erase_if(locations, [](const TargetLocation& l) { return l.failed; });
    return true;
}

// Follows one export; false when the user cancelled.
bool follow(const Ref<SysLogExport>& job, TargetLocation& l, const Ref<Progress>& progress, uint64_t base) {
    unsigned state = 0;
    double fraction = 0;
    while (job->status(state, fraction) && state == 0) {
        if (progress) {
            if (progress->cancelled(true)) return false;
            progress->setValue(base + static_cast<uint64_t>(fraction * 100.0));
        }
        Thd::sleep(pollMs);
    }
    if (state == 3) l.failed = true;
    return true;
}

} // namespace

void logMode(const RunContext& app, Error& result) {
    const Parameters& p = *app.parameters;
    if ((SysLog::options() & 3) != 0) {
        if (!p.silent) showUnavailable(app);
        result = Error(0x8483);
        return;
    }
    Ref<String> filename =
        !isEmpty(p.source()) ? p.source() : predeterminedFilename(app, String::create("log"));

    std::vector<TargetLocation> locations;
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
        if (result != 0) return;
    }
    if (!settlePaths(app, locations, filename, result)) return;
    waitDialog.reset();

    Ref<Progress> progress;
    if (progressRule(p))
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
            LogLine(4) << "Failed to initiate export to " << l.path;
            l.failed = true;
        } else if (!follow(job, l, progress, base)) {
            job->cancel();
            progress.reset();
            for (TargetLocation& each : locations)
                each.dialogItem.reset();
            // Let the cancelled export close its file before the file is removed.
            unsigned state = 0;
            double fraction = 0;
            while (job->status(state, fraction) && state == 0)
                Thd::sleep(10);
            removeIncompleteFiles(locations, false);
            locations.clear();
            StdIO::stdOutPrinter() << "User aborted";
            StdIO::stdOutPrinter().endl();
            result = Error(0x8442);
            return;
        }
        base += 100;
        if (progress) progress->setValue(base);
    }
    removeIncompleteFiles(locations, true);
    progress.reset();

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
            notifyError(
                app.text("Error", 45),
                formatMessage(app.text("Could not store file {1}: 0x{2} ({3})", 46), filename, 0x20008443));
        result = Error(0x8443);
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
            LogLine(4) << "Failed to show success information dialog; error: " << Code{Error::get()};
    }
    result = Error(0);
}

} // namespace Applications::Commands::Scrivlet

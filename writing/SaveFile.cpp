// The file save engine: copies the source to every usable location through one shared block.
#include "Writing.h"
#include "common/DeterminePathDialog.h"
#include "common/Log.h"
#include "common/Notifications.h"
#include "common/PlatformNames.h"
#include "common/StepMarkers.h"
#include "common/StringFormatter.h"
#include "platform/Console.h"
#include "platform/System.h"
#include "storage/DirectoryHierarchy.h"
#include "storage/UniqueFilename.h"

namespace Applications::Commands::Scrivlet {

using Services::Skarnel::Client::FSItem;
namespace {

constexpr size_t copyBlock = 0x10000;

struct SaveRun {
    const RunContext& app;
    const Parameters& p;
    std::vector<TargetLocation> locations;
    Ref<DeterminePathDialog> waitDialog;

    void error(unsigned number, const Ref<String>& message) {
        notifyError(app.text("Error", number), message);
    }
    void releaseAll() {
        for (TargetLocation& l : locations) {
            l.file.reset();
            l.mount.reset();
            l.dialogItem.reset();
        }
    }
};

// How many times one location searches a new name after its candidate was opened elsewhere.
constexpr unsigned nameRetries = 5;

// Step 3: the drive-selection dialog.
Error chooseDrive(SaveRun& run, const Ref<String>& filename) {
    run.waitDialog.reset();
    namespace Flags = Services::Skarnel::Client::Flags;
    DriveRequest request;
    request.flags = driveDialogFlags(run.p, Flags::HostDrives | Flags::WritableOnly);
    request.prompt = run.app.text("Select drive in which to store the file", 25);
    request.defaultName = filename;
    request.failureMessage = run.app.text("Could not create file: {1}; error: 0x{2} ({3})", 46);
    TargetLocation location;
    if (Error code = Scrivlet::chooseDrive(run.app, request, filename, location.dialogItem); code != 0)
        return code;
    if (run.p.allowRename) {
        location.path = location.dialogItem->path();
        location.file = location.dialogItem->file();
    }
    run.locations.push_back(location);
    return Error(0);
}

// One location's target with --add-index: a fresh name search each time the candidate is already
// opened elsewhere, at most 6 names.
// Returns false when the save is over (`result` says how).
bool createIndexed(SaveRun& run, TargetLocation& l, const Ref<String>& filename, const Ref<String>& dir,
                   LocationTally& tally, Error& result) {
    unsigned retries = 0;
    for (;;) {
        Ref<String> name = uniqueFilename(filename, dir, false);
        if (!name) {
            LogLine(LogLevel::Failure)
                << "Could not determine unique filename for " << filename << " in path " << dir;
            if (!tally.dropOut(
                    {57,
                     formatMessage(run.app.text("Could not determine unique filename for {1}", 58), l.path),
                     Error(Errors::Failed)},
                    result))
                return false;
            continue;
        }
        l.path = Service::absolute(name, dir);
        if (Ref<File> file = File::open(l.path, OpenMode::Exclusive)) {
            l.file = file->stream();
            return true;
        }
        Error code = Error::get();
        if (code == Errors::AlreadyOpened && retries < nameRetries) {
            LogLine(LogLevel::Problem)
                << "Determining filename again, because file is already opened: " << l.path;
            retries++;
            continue;
        }
        code = code | marker(SaveStep::IndexedCreate);
        return tally.dropOut(
            {45,
             formatMessage(run.app.text("Could not create file: {1}; error: 0x{2} ({3})", 46), l.path, code),
             code},
            result);
    }
}

bool createPlain(SaveRun& run, TargetLocation& l, LocationTally& tally, Error& result) {
    if (File::open(l.path, OpenMode::Probe)) {
        // An existing file is never overwritten; the location drops out.
        return tally.dropOut(
            {37, formatMessage(run.app.text("File already exists: {1}", 38), l.path), Error(Errors::Failed)},
            result);
    }
    if (Ref<File> file = File::open(l.path, OpenMode::Exclusive)) {
        l.file = file->stream();
        return true;
    }
    Error code = Error::get() | marker(SaveStep::Create);
    return tally.dropOut(
        {45, formatMessage(run.app.text("Could not create file: {1}; error: 0x{2} ({3})", 46), l.path, code),
         code},
        result);
}

// Step 4: a directory and a free target on every location.
bool settleTargets(SaveRun& run, const Ref<String>& filename, Error& result) {
    LocationTally tally(run.app, run.locations.size(), &run.waitDialog);
    const Error noLocation(Errors::Failed | marker(SaveStep::NoLocation));
    for (TargetLocation& l : run.locations) {
        Ref<String> dir = targetDirectory(l, false);
        if (!dir) {
            SaveEnding ending{45,
                              formatMessage(run.app.text("Could not store file: {1}; error: 0x{2} ({3})", 46),
                                            filename, noLocation),
                              noLocation, progressRule(run.p)};
            if (!tally.dropOut(ending, result)) return false;
            continue;
        }
        l.path = Service::absolute(filename, dir);
        bool goOn = run.p.addIndex ? createIndexed(run, l, filename, dir, tally, result)
                                   : createPlain(run, l, tally, result);
        if (!goOn) return false;
    }
    LogLine(LogLevel::Trace) << "Usable entries of " << Code{tally.locations()}
                             << " available: " << Code{tally.locations() - tally.failures()};
    return true;
}

enum class CopyOutcome { Done, Cancelled, Failed };

CopyOutcome copyAll(SaveRun& run, const Ref<File>& source, const Ref<ShMem>& block,
                    TransferMemory& sourceBuffer, const Ref<Progress>& progress) {
    uint64_t size = source->size();
    for (size_t index = 0; index < run.locations.size(); index++) {
        TargetLocation l = run.locations[index];
        source->setPosition(0);
        if (progress)
            progress->setText(
                formatMessage(run.app.text("Saving file: {1}", 85), displayPath(run.app, l.path, l.mount)));
        Ref<FileMapping> destination = l.file->map(block);
        if (!destination)
            LogLine(LogLevel::Problem)
                << "Could not map destination file, using non mapped write; error: " << Code{Error::get()};
        TransferMemory& destinationBuffer = destination ? static_cast<TransferMemory&>(*destination) : *block;
        uint64_t remaining = size, done = 0;
        while (remaining != 0) {
            size_t n = source->read(
                sourceBuffer, static_cast<size_t>(std::min<uint64_t>(remaining, copyBlock)), waitForever);
            if (n == 0) {
                Error code = Error::get() | marker(SaveStep::Read);
                run.error(45, formatMessage(run.app.text("Error reading from file {1}: 0x{2}h ({3})", 46),
                                            displayPath(run.app, run.p.source(), {}), code));
                return CopyOutcome::Failed;
            }
            size_t m = l.file->write(destinationBuffer, n, waitForever);
            if (m != n) {
                Error code = Error::get() | marker(SaveStep::Write);
                run.error(45, formatMessage(run.app.text("Error writing to file {1}: 0x{2}h ({3})", 46),
                                            displayPath(run.app, l.path, l.mount), code));
                return CopyOutcome::Failed;
            }
            remaining -= n;
            done += n;
            if (progress) {
                progress->setValue(size * index + done);
                if (progress->cancelled(false)) return CopyOutcome::Cancelled;
            }
        }
        if (destination) l.file->unmap(destination);
    }
    return CopyOutcome::Done;
}

// The locations and a free target on each: the platform's file directories, or the drive the user
// chooses. False when the save is over (`result` says how).
bool findTargets(SaveRun& run, const Ref<String>& filename, const WaitTexts& waitTexts, Error& result) {
    const Parameters& p = run.p;
    if (!p.allowRename) {
        run.waitDialog =
            DeterminePathDialog::create(waitTexts.first, waitTexts.second, p, *run.app.catalogue);
        for (bool alternate : {false, true}) {
            TargetLocation l;
            if (platformFileDirectory(alternate, l.mount, l.directory) == 0) run.locations.push_back(l);
        }
    }
    if (p.allowRename || run.locations.empty()) {
        result = chooseDrive(run, filename);
        if (result != 0) return false;
    }
    if (!p.allowRename && !settleTargets(run, filename, result)) return false;
    std::erase_if(run.locations, [](const TargetLocation& l) { return !l.file; });
    run.waitDialog.reset();
    return true;
}

// The block every copy goes through; null, the failure shown, when there is none.
Ref<ShMem> makeBlock(SaveRun& run, const Ref<String>& filename) {
    Ref<ShMem> block = ShMem::create(copyBlock);
    if (block) return block;
    Error code = Error::get();
    LogLine(LogLevel::Failure) << "Could not create shared memory; error: " << Code{code};
    run.error(45, formatMessage(run.app.text("Could not create file: {1}; error: 0x{2} ({3})", 46),
                                run.locations.empty() ? filename : run.locations[0].path,
                                code | marker(SaveStep::CopyBuffer)));
    return {};
}

// Ends a cancelled save: every target this save made removed.
void abandon(SaveRun& run, Ref<Progress>& progress) {
    StdIO::stdOutPrinter() << "User aborted";
    StdIO::stdOutPrinter().endl();
    for (TargetLocation& l : run.locations) {
        l.dialogItem.reset();
        l.file.reset();
    }
    removeIncompleteFiles(run.locations, false);
    progress.reset();
}

// Tells where the file was saved.
void reportSaved(SaveRun& run, Ref<Progress>& progress) {
    const RunContext& app = run.app;
    Ref<String> first, second;
    if (!run.locations.empty()) first = displayPath(app, run.locations[0].path, run.locations[0].mount);
    if (run.locations.size() >= 2) second = displayPath(app, run.locations[1].path, run.locations[1].mount);
    progress.reset();
    run.releaseAll();
    Error::set(0);
    if (notifyInformation(app.text("Information", 96), app.text("File saved as {1}", 97),
                          app.text("and {2}", 98), first, second) == 0)
        LogLine(LogLevel::Failure) << "Failed to show success information dialog; error: "
                                   << Code{Error::get()};
}

} // namespace

void saveFile(const RunContext& app, Error& result, const Ref<String>& filename, const WaitTexts& waitTexts) {
    SaveRun run{app, *app.parameters, {}, {}};
    const Parameters& p = *app.parameters;

    Ref<File> source = File::open(p.source(), OpenMode::Read);
    if (!source) {
        Error code = Error::get();
        run.error(41, formatMessage(app.text("Could not open source file: {1}; error: 0x{2}h ({3})", 42),
                                    p.source(), code));
        result = Error(Errors::Failed);
        return;
    }
    if (!findTargets(run, filename, waitTexts, result)) return;
    Ref<ShMem> block = makeBlock(run, filename);
    if (!block) {
        result = Error(Errors::Failed);
        return;
    }
    Ref<FileMapping> sourceMapping = source->map(block);
    if (!sourceMapping)
        LogLine(LogLevel::Problem) << "Could not map source file, using non mapped read; error: "
                                   << Code{Error::get()};
    TransferMemory& sourceBuffer = sourceMapping ? static_cast<TransferMemory&>(*sourceMapping) : *block;

    Ref<Progress> progress;
    if (!run.locations.empty()) {
        const TargetLocation& first = run.locations[0];
        progress = Progress::create(
            app.text("Saving file", 84),
            formatMessage(app.text("Saving file: {1}", 85), displayPath(app, first.path, first.mount)),
            run.locations.size() * source->size(), false, true);
    }
    switch (copyAll(run, source, block, sourceBuffer, progress)) {
    case CopyOutcome::Failed:
        progress.reset();
        run.releaseAll();
        result = Error(Errors::Failed);
        return;
    case CopyOutcome::Cancelled:
        abandon(run, progress);
        result = Error(Errors::Cancelled);
        return;
    case CopyOutcome::Done:
        reportSaved(run, progress);
        result = Error(0);
        return;
    }
}

void removeIncompleteFiles(std::vector<TargetLocation>& locations, bool onlyFailed) {
    for (TargetLocation& l : locations) {
        if (onlyFailed && !l.failed) continue;
        if (!l.path) continue;
        Ref<String> parent = Service::parent(l.path, false);
        Ref<String> name = Service::name(l.path);
        Ref<Directory> directory = Directory::open(parent, DirectoryMode::ReadWrite);
        if (!directory) {
            LogLine(LogLevel::Problem)
                << "Failed to open directory " << parent << "; error: " << Code{Error::get()};
            continue;
        }
        if (!directory->remove(name) && Error::get() != Errors::NothingToRemove)
            LogLine(LogLevel::Problem)
                << "Failed to remove incomplete file " << l.path << "; error: " << Code{Error::get()};
    }
}

} // namespace Applications::Commands::Scrivlet

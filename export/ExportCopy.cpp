// Mode "export", second half: the export directory, the listing, the copy through one 1 MiB block
// and the undo of an aborted export.
#include "EntryList.h"
#include "Export.h"
#include "common/Log.h"
#include "common/Notifications.h"
#include "common/PlatformNames.h"
#include "common/StepMarkers.h"
#include "common/StringFormatter.h"
#include "platform/System.h"
#include "platform/Time.h"
#include "storage/Storage.h"
#include <algorithm>

namespace Applications::Commands::Scrivlet {

namespace {

constexpr size_t exportBlock = 0x100000;

struct CopyRun {
    ExportState& state;
    Ref<String> exportPath;
    Ref<Directory> driveDirectory;
    Ref<Directory> exportDirectory;
    EntryList exportList;
    uint64_t total = 0;
    uint64_t copied = 0;
    Ref<ShMem> block;
    Ref<String> failedFile;
    Ref<String> exportingText; // the progress text's pattern, looked up once for every file

    const RunContext& app() { return state.app; }
    void fail(const Ref<String>& entry, uint32_t code) {
        state.anyError = true;
        if (askContinueAfterCopyFailure(app(), entry, code)) {
            state.aborted = true;
            failedFile = entry;
        }
    }
};

// Returns 0 or the mode's result; files chosen for removal are noted on their category.
Error listFiles(CopyRun& run) {
    ExportState& state = run.state;
    for (ExportCategory& category : state.categories) {
        if (!category.directory || !category.checkBox->checked()) continue;
        std::string prefix = "./" + stdString(category.directory->name()) + "/";
        Ref<Iterator> iterator = category.directory->iterator(0, {});
        while (Ref<FSItem> item = iterator ? iterator->next() : Ref<FSItem>()) {
            if (!item->isFile()) continue;
            run.total += item->size();
            run.exportList.add(prefix, item->name()->str());
            if (!state.clearing || !category.writable) continue;
            if (state.cutoff == 0) {
                category.filesToRemove.push_back(item->name());
                continue;
            }
            Ref<Variant> modified = item->getAtr("TIME.MODIFY");
            if (!modified || modified->count() == 0 || modified->entry(0).type != 1) {
                reportSourceFailure(run.app(), badTimestamp);
                return Error(badTimestamp);
            }
            if (modified->entry(0).integer < state.cutoff) category.filesToRemove.push_back(item->name());
        }
    }
    return Error(0);
}

Ref<FileMapping> mapSide(const Ref<File>& file, const Ref<ShMem>& block, const char* what,
                         const Ref<String>& entry) {
    Ref<FileMapping> mapping = file->map(block);
    if (!mapping) LogLine(LogLevel::Problem) << what << entry << "; error: " << Code{Error::get()};
    return mapping;
}

void chunkLoop(CopyRun& run, const Ref<String>& entry, File& source, TransferMemory& in, File& destination,
               TransferMemory& out) {
    ExportState& state = run.state;
    for (;;) {
        Error::set(0);
        size_t n = source.read(in, exportBlock, waitForever);
        bool last = n < exportBlock;
        if (last) {
            Error code = Error::get();
            if (code != 0 && code != Errors::EndOfFile) {
                LogLine(LogLevel::Failure)
                    << "Failed to read data from " << entry << "; error: " << Code{code};
                run.fail(entry, code | marker(ExportStep::Read));
                return;
            }
        }
        size_t written = destination.write(out, n, waitForever);
        if (written != n) {
            Error code = Error::get();
            LogLine(LogLevel::Failure)
                << "Failed to write all data to " << entry << "; error: " << Code{code};
            run.fail(entry, code | marker(ExportStep::Write));
            return;
        }
        run.copied += n;
        if (state.progress) {
            state.progress->setValue(run.total == 0 ? 1000 : run.copied * 1000 / run.total);
            if (state.progress->cancelled(true)) {
                state.aborted = true;
                run.failedFile = entry;
                return;
            }
        }
        if (last) return;
    }
}

void copyEntry(CopyRun& run, const Ref<String>& entry) {
    ExportState& state = run.state;
    if (state.progress) state.progress->setText(formatMessage(run.exportingText, entry));

    Ref<File> source = File::open(Service::absolute(entry, state.base), OpenMode::Source);
    if (!source) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << "Failed to open file " << entry << "; error: " << Code{code};
        return run.fail(entry, code | marker(ExportStep::OpenSource));
    }
    Ref<String> target = Service::absolute(entry, run.exportPath);
    if (!ensureDirectoryHierarchy(target, run.exportPath, true)) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << "Failed to create file " << target << "; error: " << Code{code};
        return run.fail(entry, code | marker(ExportStep::TargetFolder));
    }
    Ref<File> destination = File::open(target, OpenMode::Destination);
    if (!destination) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << "Failed to open file " << target << "; error: " << Code{code};
        return run.fail(entry, code | marker(ExportStep::CreateTarget));
    }

    Ref<FileMapping> in = mapSide(source, run.block, "Failed to map source file ", entry);
    Ref<FileMapping> out = mapSide(destination, run.block, "Failed to map destination file ", entry);
    chunkLoop(run, entry, *source, in ? static_cast<TransferMemory&>(*in) : *run.block, *destination,
              out ? static_cast<TransferMemory&>(*out) : *run.block);
    if (in) source->unmap(in);
    if (out) destination->unmap(out);
    destination->setAttribute("TIME.MODIFY", source->getAtr("TIME.MODIFY"));
}

// Removes what an aborted export copied, up to and including the file being worked on.
void undoExport(CopyRun& run) {
    bool removalError = false;
    Ref<String> lastParent;
    Ref<Directory> parentDirectory;
    std::vector<Ref<String>> directories;
    for (size_t index = 0; index < run.exportList.size(); index++) {
        Ref<String> entry = run.exportList[index];
        Ref<String> target = Service::absolute(entry, run.exportPath);
        Ref<String> parent = Service::parent(target, false);
        bool stop = entry->equals(run.failedFile);
        if (!parent->equals(lastParent)) {
            parentDirectory = Directory::open(parent, DirectoryMode::ReadWrite);
            if (!parentDirectory) {
                LogLine(LogLevel::Problem) << "Failed to open directory for file removal: " << parent;
                removalError = true;
                lastParent.reset();
                if (stop) break;
                continue;
            }
            lastParent = parent;
            directories.push_back(parent);
        }
        if (!parentDirectory->remove(Service::name(target))) {
            LogLine(LogLevel::Problem) << "Failed to remove " << target << "; error: " << Code{Error::get()};
            removalError = true;
        }
        if (stop) break;
    }
    parentDirectory.reset();

    std::sort(directories.begin(), directories.end(),
              [](const Ref<String>& a, const Ref<String>& b) { return a->compare(b) == 2; });
    for (const Ref<String>& directory : directories) {
        Ref<String> parent = Service::parent(directory, false);
        Ref<Directory> container = Directory::open(parent, DirectoryMode::ReadWrite);
        if (!container) {
            LogLine(LogLevel::Problem)
                << "Failed to open directory for removal: " << parent << "; error: " << Code{Error::get()};
            removalError = true;
        } else if (!container->remove(Service::name(directory))) {
            LogLine(LogLevel::Problem)
                << "Failed to remove directory " << directory << "; error: " << Code{Error::get()};
            removalError = true;
        }
    }

    run.exportDirectory.reset();
    if (!removalError && !run.driveDirectory->remove(Service::name(run.exportPath)))
        LogLine(LogLevel::Problem) << "Failed to remove directory " << run.exportPath
                                   << "; error: " << Code{Error::get()};
}

// Steps that make the export directory; returns 0 or the mode's result.
Error prepareExportDirectory(CopyRun& run) {
    const RunContext& app = run.app();
    Ref<String> drive = run.state.destination->path();
    Ref<String> baseName = String::create("LogExport.")->concat(Date::currtime("Y-m-d"));
    run.exportPath = determineFilename(app, drive, baseName, {}, true);
    if (!run.exportPath) {
        LogLine(LogLevel::Failure) << "Failed to determine unique filename for " << baseName << " in path "
                                   << drive;
        notifyError(app.text("Error", 57),
                    formatMessage(app.text("Could not determine unique filename for {1}", 58), baseName));
        return Error(Errors::Failed | marker(ExportStep::NoName));
    }
    auto failure = [&](const char* what, const Ref<String>& path, uint32_t mark) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << what << path << "; error: " << Code{code};
        reportExportFailure(app, run.exportPath, code | mark);
        return code | mark;
    };
    run.driveDirectory = Directory::open(drive, DirectoryMode::ReadWrite);
    if (!run.driveDirectory)
        return failure("Failed to open directory ", drive, marker(ExportStep::DriveFolder));
    if (!run.driveDirectory->createDirectory(Service::name(run.exportPath)))
        return failure("Failed to create directory ", run.exportPath, marker(ExportStep::CreateExport));
    run.exportDirectory = Directory::open(run.exportPath, DirectoryMode::ReadWrite);
    if (!run.exportDirectory)
        return failure("Failed to open directory ", run.exportPath, marker(ExportStep::OpenExport));
    return Error(0);
}

} // namespace

void reportExportFailure(const RunContext& app, const Ref<String>& path, uint32_t code) {
    notifyError(
        app.text("Export failed", 33),
        formatMessage(app.text("Failed to prepare export to {1}.\nErrorCode: 0x{2} ({3})", 34), path, code));
}

bool askContinueAfterCopyFailure(const RunContext& app, const Ref<String>& relativePath, uint32_t code) {
    Ref<String> text = formatMessage(
        app.text("Failed to copy file {1}.\nErrorcode: 0x{2} ({3})\nDo you want to continue?", 32),
        relativePath, code);
    return Dialog::show(Dialog::Continue, app.text("Copy failed", 31), text, 3, 1) != 1;
}

Error copyExport(ExportState& state) {
    const RunContext& app = state.app;
    state.progress = Progress::create(app.text("Exporting...", 80), app.text("Preparing data...", 83),
                                      state.clearing ? 2000 : 1000, true, true);
    if (!state.progress)
        LogLine(LogLevel::Problem) << "Failed to create progress dialog" << Code{Error::get()};

    CopyRun run{state, {}, {}, {}, {}, 0, 0, {}, {}, app.text("Exporting {1}", 82)};
    if (Error e = prepareExportDirectory(run); e != 0) return e;
    if (Error e = listFiles(run); e != 0) return e;

    for (const ExportCategory& category : state.categories)
        state.removeCount += category.filesToRemove.size();
    if (state.progress) state.progress->setMaximum(state.removeCount != 0 ? 2000 : 1000);
    LogLine(LogLevel::Trace) << "Count of files to export: " << Code{run.exportList.size()};

    run.block = ShMem::create(exportBlock);
    if (!run.block) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << "Failed to create shared memory; error: " << Code{code};
        reportExportFailure(app, run.exportPath, code | marker(ExportStep::CopyBuffer));
        return code | marker(ExportStep::CopyBuffer);
    }
    if (state.progress) {
        state.progress->restart();
        state.progress->setValue(0);
        state.progress->setStep(0);
        state.progress->redraw();
    }

    for (size_t index = 0; index < run.exportList.size(); index++) {
        copyEntry(run, run.exportList[index]);
        if (state.aborted) break;
    }
    if (state.clearing && !state.aborted) clearOldFiles(state);

    state.progress.reset();
    state.categories.clear();
    if (state.aborted) {
        undoExport(run);
        return Error(Errors::Cancelled);
    }
    run.exportDirectory.reset();
    Dialog::show(Dialog::Information, app.text("Export successful", 94),
                 formatMessage(app.text("Logs successfully exported to {1}", 95), run.exportPath), Dialog::Ok,
                 Dialog::Ok);
    return Error(0);
}

} // namespace Applications::Commands::Scrivlet

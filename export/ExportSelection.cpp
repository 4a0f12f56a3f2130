// Mode "export", first half: the boot drive, its category directories and the selection dialog.
#include "Export.h"
#include "common/Log.h"
#include "common/Notifications.h"
#include "common/PlatformNames.h"
#include "common/StepMarkers.h"
#include "common/StringFormatter.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace Applications::Commands::Scrivlet {

using Services::Skarnel::Client::FSItem;
namespace Elements = Services::Skarnel::Client::Elements;
using DialogParameters = Services::Skarnel::Client::Parameters;
namespace Flags = Services::Skarnel::Client::Flags;

namespace {

constexpr long long dayMs = 86400000;

struct ClearPeriod {
    uint32_t days;
    const char* label;
    unsigned number;
    bool preselected;
};

constexpr ClearPeriod clearPeriods[] = {
    {1, "1 DAY", 12, false},    {7, "1 WEEK", 14, false},   {30, "1 MONTH", 13, false},
    {90, "3 MONTHS", 16, true}, {365, "1 YEAR", 15, false},
};

Ref<String> findBootNode() {
    return StringUtil::valueOf(Sys::bootParameter(), "boot.node");
}

Error addCategory(ExportState& state, const char* name, const char* checkBoxId, const Ref<String>& label,
                  bool checkedByDefault, const Ref<String>& hintAvailable, const Ref<String>& hintEmpty) {
    ExportCategory category;
    category.path = Service::absolute(String::create(name), state.base);
    category.directory = Directory::open(category.path, DirectoryMode::ReadWrite);
    if (!category.directory && Error::get() == Errors::NotWritable) {
        LogLine(LogLevel::Problem) << "Failed to open as read/write: " << category.path;
        category.writable = false;
        category.directory = Directory::open(category.path, DirectoryMode::ReadOnly);
    }
    // A category directory that is a link is never listed: whatever the link names, on the drive or
    // off it (the platform refuses the latter as an invalid path), the clearing would remove there.
    bool linked =
        category.directory ? category.directory->reachedThroughLink() : Error::get() == Errors::InvalidPath;
    if (linked) {
        LogLine(LogLevel::Problem) << "Category directory " << category.path
                                   << " is a symbolic link; not used";
        category.directory.reset();
    } else if (!category.directory) {
        Error code = Error::get();
        if (code != Errors::NotFound) {
            LogLine(LogLevel::Failure)
                << "Failed to open logs directory " << category.path << "; error: " << Code{code};
            reportSourceFailure(state.app, code | marker(ExportStep::Category));
            return code | marker(ExportStep::Category);
        }
        LogLine(LogLevel::Trace) << "Directory not found: " << category.path;
    } else {
        Ref<Iterator> iterator = category.directory->iterator(0, {});
        if (!iterator) {
            Error code = Error::get();
            LogLine(LogLevel::Failure)
                << "Failed to create iterator for " << category.path << "; error: " << Code{code};
            reportSourceFailure(state.app, code | marker(ExportStep::Category));
            return code | marker(ExportStep::Category);
        }
        if (!iterator->next()) category.directory.reset();
    }

    category.checkBox = Elements::CheckBox::create(String::create(checkBoxId));
    category.checkBox->setText(label);
    if (!category.directory) {
        category.checkBox->setEnabled(false);
        category.checkBox->setHint(hintEmpty);
    } else {
        if (checkedByDefault) category.checkBox->setChecked(true);
        category.checkBox->setHint(hintAvailable);
    }
    state.categories.push_back(std::move(category));
    return Error(0);
}

Error probeCategories(ExportState& state) {
    const RunContext& app = state.app;
    if (Error e = addCategory(state, "Logs", "cbLogs", app.text("Logs", 19), true,
                              app.text("Export log files", 21), app.text("No logs available", 20));
        e != 0)
        return e;
    if (Error e =
            addCategory(state, "Screenshots", "cbScreenshots", app.text("Screenshots", 22), false,
                        app.text("Export screenshot files", 24), app.text("No screenshots available", 23));
        e != 0)
        return e;
    return addCategory(state, "Analyze", "cbAnalyze", app.text("Analyze", 6), false,
                       app.text("Export analyze files", 8), app.text("No analyze files available", 7));
}

struct ClearGroup {
    Ref<Elements::GroupBox> group;
    Ref<Elements::DropDown> dropDown;
};

ClearGroup buildClearGroup(const RunContext& app, Ref<DialogParameters>& dialog) {
    ClearGroup clear;
    clear.group = Elements::GroupBox::create(String::create("gbClear"));
    clear.group->setText(app.text("CLEAR DATA", 9));
    clear.group->setCheckable(true);
    clear.group->setChecked(true);
    dialog->elements().push_back(clear.group);

    Ref<Elements::Label> label = Elements::Label::create(String::create("lblClear"));
    label->setText(app.text("AFTER EXPORT REMOVE FILES THAT ARE OLDER THAN", 10));
    label->setHint(
        app.text("REMOVE ALL FILES OF THE SELECTED CATEGORIES AFTER THEY WERE EXPORTED THAT ARE OLDER "
                 "THAN THE VALUE SELECTED IN THE DROPDOWN",
                 11));
    clear.group->append(label);

    clear.dropDown = Elements::DropDown::create(String::create("ddClear"));
    clear.dropDown->setHint(label->hint());
    for (const ClearPeriod& row : clearPeriods)
        clear.dropDown->addItem(app.text(row.label, row.number));
    for (size_t i = 0; i < std::size(clearPeriods); i++) {
        if (clearPeriods[i].preselected) {
            clear.dropDown->select(static_cast<long>(i));
            break;
        }
    }
    clear.group->append(clear.dropDown);
    return clear;
}

// Shows the dialog; returns 0 with the chosen item in the state, or the mode's result.
Error showDialog(ExportState& state, bool offerClearing, ClearGroup& clear) {
    const RunContext& app = state.app;
    Ref<DialogParameters> dialog = DialogParameters::create();
    dialog->setFlags(Flags::DriveOnly | Flags::WritableOnly | Flags::NoNewFolder | Flags::HostDrives |
                     Flags::WithElements);
    dialog->setPrompt(app.text("Select drive to which to export the logs", 18));
    dialog->setTitle(app.text("Export system files", 5));
    Ref<Elements::GroupBox> elements = Elements::GroupBox::create(String::create("gbElements"));
    elements->setText(app.text("Select elements to export", 17));
    for (const ExportCategory& category : state.categories)
        elements->append(category.checkBox);
    dialog->elements().push_back(elements);
    if (offerClearing) clear = buildClearGroup(app, dialog);

    state.destination = FSItem::create(dialog);
    if (state.destination) return Error(0);
    Error code = Error::get();
    if (code == Errors::DialogClosed) return code;
    LogLine(LogLevel::Failure) << "Failed to initialize storage location; error: " << Code{code};
    code = code | marker(ExportStep::Dialog);
    notifyError(
        app.text("Export failed", 29),
        formatCode(app.text("Failed to access destination drive.\nErrorcode: 0x{1} ({2})", 30), code));
    return code;
}

Error chooseCutoff(ExportState& state, const ClearGroup& clear) {
    state.cutoff = 0;
    state.clearing = clear.group && clear.group->checked();
    if (!state.clearing) return Error(0);
    long index = clear.dropDown->selectedIndex();
    if (index == -1) return Error(0);
    if (index < 0 || index >= static_cast<long>(std::size(clearPeriods))) {
        reportSourceFailure(state.app, badPeriod);
        return Error(badPeriod);
    }
    long long period = clearPeriods[index].days * dayMs;
    long long now = Time::current(TimeServer::tzOffset(true), 4)->milliseconds();
    if (now <= period) {
        reportSourceFailure(state.app, periodBeforeClock);
        return Error(periodBeforeClock);
    }
    state.cutoff = now - period;
    LogLine(LogLevel::Trace) << "Removing files after export that are older than "
                             << Date::currtime("Y-m-d", Time::create(state.cutoff, 0));
    return Error(0);
}

void showInformation(const RunContext& app, unsigned titleNumber, const char* title, unsigned textNumber,
                     const char* text) {
    Dialog::show(Dialog::Information, app.text(title, titleNumber), app.text(text, textNumber), Dialog::Ok,
                 Dialog::Ok);
}

} // namespace

void reportSourceFailure(const RunContext& app, uint32_t code) {
    notifyError(app.text("Prepare source failed", 35),
                formatCode(app.text("Failed to access logs directory.\nErrorcode: 0x{1} ({2})", 36), code));
}

Error exportLogs(const RunContext& app) {
    if (Sys::info(Sys::Key::HostKind) == Sys::windowsHost) return Error(0);
    Ref<String> bootNode = findBootNode();
    if (!bootNode) {
        LogLine(LogLevel::Problem) << "No boot drive parameter found";
        return Error(0);
    }
    Ref<Entry> bootMount = Entry::create(bootNode, 0, 0, Entry::Parameters::create());
    if (!bootMount) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << "Failed to ensure that boot drive is mounted; error: " << Code{code};
        reportSourceFailure(app, code | marker(ExportStep::BootMount));
        return code | marker(ExportStep::BootMount);
    }

    ExportState state(app, Service::absolute(String::create("./Orvane"), bootMount->path()));
    if (Error e = probeCategories(state); e != 0) return e;

    bool anyFiles = false, offerClearing = false;
    for (const ExportCategory& category : state.categories) {
        if (!category.directory) continue;
        anyFiles = true;
        offerClearing = offerClearing || category.writable;
    }
    if (!anyFiles) {
        showInformation(app, 71, "No files available", 72,
                        "There are no files available that can be exported");
        return Error(0);
    }
    if (!offerClearing)
        LogLine(LogLevel::Problem)
            << "None of the directories can be written to; not showing option to clear old files";

    ClearGroup clear;
    if (Error e = showDialog(state, offerClearing, clear); e != 0) return e;
    if (Error e = chooseCutoff(state, clear); e != 0) return e;

    bool anyChecked = false;
    for (const ExportCategory& category : state.categories)
        anyChecked = anyChecked || category.checkBox->checked();
    if (!anyChecked) {
        showInformation(app, 73, "No elements selected", 74, "No elements were selected for export.");
        return Error(0);
    }
    return copyExport(state);
}

} // namespace Applications::Commands::Scrivlet

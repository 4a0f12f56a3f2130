// Modes "file-upload", "screenshot-upload" and "log-upload": send a file or the system log to the
// ZEZ-Uvedaze and show the tag it answered.
#include "Upload.h"
#include "UploadProgress.h"
#include "common/Log.h"
#include "common/PlatformNames.h"
#include "common/StepMarkers.h"
#include "platform/Formatter.h"
#include "storage/Storage.h"

namespace Applications::Commands::Scrivlet {

using Libraries::IO::Characters::StringFormatter;
using Libraries::Tarnhold::Remote::Capabilities;
using Libraries::Tarnhold::Remote::ZEZUvedaze;

namespace {

constexpr unsigned transferLimitMs = 30000;
constexpr unsigned capabilityLimitMs = 5000;

void showFailure(const RunContext& app, const Ref<String>& title, Ref<String> text, uint32_t code) {
    Ref<StringFormatter> line = StringFormatter::create(app.text("ERROR: 0x{1} ({2})", 56), 1);
    line->arg(StrConv::str(code, 16, 8)).arg(code, 10);
    Dialog::show(Dialog::Failure, title, text->concat("\n\n")->concat(line->result()), Dialog::Ok,
                 Dialog::Ok);
}

void showSuccess(const Ref<String>& title, const Ref<String>& message, const Ref<String>& tag) {
    Ref<StringFormatter> text = StringFormatter::create(message, 0);
    text->arg(tag);
    Dialog::show(Dialog::Information, title, text->result(), Dialog::Ok, Dialog::Ok);
}

// The capability query and the client; `client` stays empty when the service is not available.
using FailureReport = void (*)(const RunContext&, uint32_t, const Ref<String>&);

Ref<ZEZUvedaze> connect(const RunContext& app, FailureReport report, const char* clientFailure) {
    Ref<Capabilities> capabilities = Capabilities::create(false, capabilityLimitMs, false);
    if (!capabilities) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << "Capability query for ZEZ-Uvedaze failed; error: " << Code{code};
        report(app, code | marker(UploadStep::Capabilities), {});
        return {};
    }
    Ref<ZEZUvedaze> client = ZEZUvedaze::create(capabilities->zezUvedaze());
    if (!client) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << clientFailure << Code{code};
        report(app, code | marker(UploadStep::Client), {});
    }
    return client;
}

Ref<Progress> createProgress(const Ref<String>& title, const Ref<String>& text, uint64_t maximum) {
    Ref<Progress> progress = Progress::create(title, text, maximum, false, true);
    if (!progress)
        LogLine(LogLevel::Problem) << "Failed to create progress dialog; error: " << Code{Error::get()};
    return progress;
}

} // namespace

Error fileUpload(const RunContext& app) {
    const Parameters& parameters = *app.parameters;
    Ref<String> name = !isEmpty(parameters.destination()) ? parameters.destination() : parameters.source();
    return uploadFile(app, Service::name(name));
}

Error screenshotUpload(const RunContext& app) {
    const Parameters& parameters = *app.parameters;
    if (!isEmpty(parameters.destination())) return uploadFile(app, parameters.destination());
    if (isEmpty(parameters.source())) {
        LogLine(LogLevel::Failure) << "Filename is invalid";
        return Error(Errors::Failed);
    }
    return uploadFile(app, predeterminedFilename(app, extensionOf(parameters.source())));
}

Error uploadFile(const RunContext& app, const Ref<String>& uploadName) {
    const Parameters& parameters = *app.parameters;
    Ref<ZEZUvedaze> client =
        connect(app, reportFileUploadFailure, "File upload for ZEZ-Uvedaze not available; error: ");
    if (!client) return Error(Errors::Unavailable);

    Ref<File> file = File::open(parameters.source(), 3);
    if (!file) {
        Error code = Error::get();
        LogLine(LogLevel::Failure) << "Failed to open file " << parameters.source()
                                   << "; error: " << Code{code};
        reportFileUploadFailure(app, code | marker(UploadStep::OpenFile), {});
        return Error(Errors::Failed);
    }
    Ref<Progress> progress =
        createProgress(app.text("UPLOADING FILE...", 89), app.text("UPLOADING FILE...", 90), 100);
    Ref<UploadFileProgress> notifier = makeRef<UploadFileProgress>(progress);

    Ref<String> tag = client->uploadFile(file->stream(), uploadName, notifier, transferLimitMs);
    if (tag) {
        LogLine(LogLevel::Trace) << "File upload ok; tag: " << tag;
        showSuccess(app.text("UPLOAD FILE SUCCESSFUL", 75), app.text("UPLOADED LOG AS #%1", 76), tag);
        return Error(0);
    }
    Error code = Error::get();
    if (code == Errors::Cancelled) {
        LogLine(LogLevel::Trace) << "User aborted file upload";
        return code;
    }
    LogLine(LogLevel::Failure) << "File upload failed; error: " << Code{code};
    progress.reset();
    notifier.reset();
    reportFileUploadFailure(app, code | marker(UploadStep::FileTransfer),
                            code == Errors::TooLarge ? app.text("SIZE OF DATA TO UPLOAD IS TOO LARGE", 63)
                                                     : Ref<String>());
    return Error(Errors::Failed);
}

void reportFileUploadFailure(const RunContext& app, uint32_t code, const Ref<String>& message) {
    showFailure(app, app.text("UPLOAD FILE FAILED", 61),
                isEmpty(message) ? app.text("UPLOAD OF FILE FAILED", 62) : message, code);
}

Error logUpload(const RunContext& app) {
    const Parameters& parameters = *app.parameters;
    Ref<Progress> progress =
        createProgress(app.text("UPLOADING LOG...", 91), app.text("PREPARING LOG...", 92), 200);
    Ref<ZEZUvedaze> client =
        connect(app, reportLogUploadFailure, "System log upload for ZEZ-Uvedaze not available; error: ");
    if (!client) return Error(Errors::Unavailable);

    Ref<String> suffix = !isEmpty(parameters.suffix) ? parameters.suffix : String::create("user");
    Ref<UploadSyslogProgress> notifier = makeRef<UploadSyslogProgress>(progress, app.catalogue);

    Ref<String> tag = client->uploadSyslog(suffix, notifier, transferLimitMs);
    if (tag) {
        LogLine(LogLevel::Trace) << "System log upload ok; tag: " << tag;
        progress.reset();
        notifier.reset();
        showSuccess(app.text("UPLOAD LOG SUCCESSFUL", 77), app.text("UPLOADED LOG AS #%1", 78), tag);
        return Error(0);
    }
    Error code = Error::get();
    if (code == Errors::Cancelled) {
        LogLine(LogLevel::Trace) << "User aborted system log upload";
        return code;
    }
    LogLine(LogLevel::Failure) << "System log upload failed; error: " << Code{code};
    reportLogUploadFailure(app, code | marker(UploadStep::LogTransfer),
                           code == Errors::TooLarge ? app.text("SIZE OF DATA TO UPLOAD IS TOO LARGE", 63)
                                                    : Ref<String>());
    return Error(Errors::Failed);
}

void reportLogUploadFailure(const RunContext& app, uint32_t code, const Ref<String>& message) {
    showFailure(app, app.text("UPLOAD LOG FAILED", 61),
                isEmpty(message) ? app.text("UPLOAD OF LOG FAILED", 64) : message, code);
}

} // namespace Applications::Commands::Scrivlet

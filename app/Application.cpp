#include "Application.h"
#include "HelpScreen.h"
#include "common/Log.h"
#include "common/Notifications.h"
#include "export/Export.h"
#include "platform/Catalogue.h"
#include "platform/Console.h"
#include "platform/Skarnel.h"
#include "platform/SysLog.h"
#include "upload/Upload.h"

namespace Applications::Commands::Scrivlet {

Application::Application() {
    char language[11] = {};
    std::string current = stdString(Libraries::Environment::Locale::currentLanguage()).substr(0, 10);
    current.copy(language, 10);
    catalogue = I18N::create("orvane.tool.scrivlet", "31", "3120", language,
                             Libraries::Environment::Release::stage());
    parameters = Ref<Parameters>(new Parameters);

    if (!parameters->valid) {
        StdIO::stdOutPrinter() << "Invalid arguments";
        StdIO::stdOutPrinter().endl();
        return;
    }
    if (parameters->help) {
        printHelpScreen();
        return;
    }
    if (parameters->mode == Modes::File && isEmpty(parameters->source())) {
        StdIO::stdOutPrinter() << "No filename specified";
        StdIO::stdOutPrinter().endl();
        return;
    }
    uiTypeOther = Services::Skarnel::Client::Service::type(Services::Skarnel::Client::Service::anyQuery) !=
                  Services::Skarnel::Client::Service::ownInterface;
    ready = true;
}

Application::~Application() {
    catalogue.reset();
    parameters.reset();
}

Error Application::run() {
    Error result;
    switch (parameters->mode) {
    case Modes::File:
        fileMode(*this, result);
        return result;
    case Modes::Log:
        logMode(*this, result);
        return result;
    case Modes::Screenshot:
        screenshotMode(*this, result);
        return result;
    case Modes::Export:
        return exportLogs();
    case Modes::LogUpload:
        return logUpload();
    case Modes::FileUpload:
        return fileUpload();
    case Modes::ScreenshotUpload:
        return screenshotUpload();
    default:
        LogLine(LogLevel::Failure) << "Invalid operation mode: " << Code{parameters->mode};
        return Error(1);
    }
}

// The operations, each forwarded to its own folder.

void Application::notifyError(const Ref<String>& title, const Ref<String>& text) {
    Scrivlet::notifyError(title, text);
}

int Application::notifyInformation(const Ref<String>& title, const Ref<String>& text,
                                   const Ref<String>& secondText, const Ref<String>& firstValue,
                                   const Ref<String>& secondValue) {
    return Scrivlet::notifyInformation(title, text, secondText, firstValue, secondValue);
}

bool Application::askYesNo(const Ref<String>& title, const Ref<String>& text) {
    return Scrivlet::askYesNo(title, text);
}

Ref<String> Application::displayPath(const Ref<String>& path, const Ref<MountEntry>& mountEntry) {
    return Scrivlet::displayPath(*this, path, mountEntry);
}

Ref<String> Application::predeterminedFilename(const Ref<String>& extension) {
    return Scrivlet::predeterminedFilename(*this, extension);
}

Ref<String> Application::determineFilename(const Ref<String>& directory, const Ref<String>& name,
                                           const Ref<MountEntry>& mountEntry, bool wholeName) {
    return Scrivlet::determineFilename(*this, directory, name, mountEntry, wholeName);
}

Error Application::accessPlatformDirectory(unsigned pathId, bool logNodeFailure, Ref<MountEntry>& mountEntry,
                                           Ref<String>& path) {
    return Scrivlet::accessPlatformDirectory(pathId, logNodeFailure, mountEntry, path);
}

Error Application::platformLogDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path) {
    return Scrivlet::platformLogDirectory(alternate, mountEntry, path);
}

Error Application::platformFileDirectory(bool alternate, Ref<MountEntry>& mountEntry, Ref<String>& path) {
    return Scrivlet::platformFileDirectory(alternate, mountEntry, path);
}

void Application::saveFile(Error& result, const Ref<String>& filename, const WaitTexts& waitTexts) {
    Scrivlet::saveFile(*this, result, filename, waitTexts);
}

void Application::removeIncompleteFiles(std::vector<TargetLocation>& locations, bool onlyFailed) {
    Scrivlet::removeIncompleteFiles(locations, onlyFailed);
}

Error Application::exportLogs() {
    return Scrivlet::exportLogs(*this);
}

Error Application::fileUpload() {
    return Scrivlet::fileUpload(*this);
}

Error Application::screenshotUpload() {
    return Scrivlet::screenshotUpload(*this);
}

Error Application::logUpload() {
    return Scrivlet::logUpload(*this);
}

Error Application::uploadFile(const Ref<String>& uploadName) {
    return Scrivlet::uploadFile(*this, uploadName);
}

void Application::reportFileUploadFailure(uint32_t code, const Ref<String>& text) {
    Scrivlet::reportFileUploadFailure(*this, code, text);
}

void Application::reportLogUploadFailure(uint32_t code, const Ref<String>& text) {
    Scrivlet::reportLogUploadFailure(*this, code, text);
}

} // namespace Applications::Commands::Scrivlet

using Applications::Commands::Scrivlet::Application;

int scrivletMain() {
    SysLog::procName(String::create("scrivlet"));
    Libraries::Commandline::initCommandline(1, {}, {}, nullptr, nullptr);
    Ref<Application> application(new Application);
    int code = application->ready ? static_cast<int>(static_cast<unsigned>(application->run())) : 1;
    application.reset();
    return code;
}

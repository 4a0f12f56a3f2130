#include "Application.h"
#include "common/Log.h"
#include "platform/Skarnel.h"
#include "platform/SysLog.h"
#include "platform/Console.h"
#include "platform/Catalogue.h"

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
    if (parameters->mode == 0 && isEmpty(parameters->source())) {
        StdIO::stdOutPrinter() << "No filename specified";
        StdIO::stdOutPrinter().endl();
        return;
    }
    uiTypeOther = Services::Skarnel::Client::Service::type(0xFFFFFFFF) != 1;
    ready = true;
}

Application::~Application() {
    catalogue.reset();
    parameters.reset();
}

Error Application::run() {
    Error result;
    switch (parameters->mode) {
    case 0:
        fileMode(*this, result);
        return result;
    case 1:
        logMode(*this, result);
        return result;
    case 2:
        screenshotMode(*this, result);
        return result;
    case 3:
        return exportLogs();
    case 4:
        return logUpload();
    case 5:
        return fileUpload();
    case 6:
        return screenshotUpload();
    default:
        LogLine(4) << "Invalid operation mode: " << Code{parameters->mode};
        return Error(1);
    }
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

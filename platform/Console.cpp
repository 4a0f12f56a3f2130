// The standard-output printer: each call goes to the installed ConsoleService.
#include "Console.h"
#include "ConsoleService.h"
#include "ServiceSlot.h"

namespace {
ServiceSlot<ConsoleService>& installed() {
    return slotFor<ConsoleService>("console service");
}
} // namespace

void installConsoleService(ConsoleServiceFactory factory) {
    installed().install(std::move(factory));
}

void installConsoleService(std::unique_ptr<ConsoleService> service) {
    installed().install(std::move(service));
}

ConsoleService& consoleService() {
    return installed().get();
}

StdIO::Printer& StdIO::Printer::operator<<(const char* text) {
    consoleService().write(text);
    return *this;
}

StdIO::Printer& StdIO::Printer::operator<<(const Ref<String>& text) {
    if (text) consoleService().write(text->str());
    return *this;
}

StdIO::Printer& StdIO::Printer::endl() {
    consoleService().write("\n");
    consoleService().flush();
    return *this;
}

void StdIO::note(const Ref<String>& line) {
    if (line) consoleService().note(line->str());
}

StdIO::Printer& StdIO::stdOutPrinter() {
    static Printer printer;
    return printer;
}

// The standard-output printer: each call goes to the installed ConsoleService.
#include "Console.h"
#include "ConsoleService.h"

StdIO::Printer& StdIO::Printer::operator<<(const char* text) {
    service<ConsoleService>().write(text);
    return *this;
}

StdIO::Printer& StdIO::Printer::operator<<(const Ref<String>& text) {
    if (text) service<ConsoleService>().write(text->str());
    return *this;
}

StdIO::Printer& StdIO::Printer::endl() {
    service<ConsoleService>().write("\n");
    service<ConsoleService>().flush();
    return *this;
}

void StdIO::note(const Ref<String>& line) {
    if (line) service<ConsoleService>().note(line->str());
}

StdIO::Printer& StdIO::stdOutPrinter() {
    static Printer printer;
    return printer;
}

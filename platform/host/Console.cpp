#include "platform/Console.h"
#include <cstdio>

StdIO::Printer& StdIO::Printer::operator<<(const char* text) {
    std::fputs(text, stdout);
    return *this;
}

StdIO::Printer& StdIO::Printer::operator<<(const Ref<String>& text) {
    if (text) std::fwrite(text->c_str(), 1, text->length(), stdout);
    return *this;
}

StdIO::Printer& StdIO::Printer::endl() {
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return *this;
}

StdIO::Printer& StdIO::stdOutPrinter() {
    static Printer printer;
    return printer;
}

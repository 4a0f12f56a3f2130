// The host's console: the process's standard output.
#include "HostServices.h"
#include "VisibleText.h"
#include "platform/ConsoleService.h"
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace Host {
namespace {

class HostConsole : public ConsoleService {
  public:
    void write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
    void flush() override { std::fflush(stdout); }
    // NO_COLOR turns colours off when it is set to anything but an empty text (no-color.org).
    bool colour() override {
        const char* noColour = std::getenv("NO_COLOR");
        return isatty(STDOUT_FILENO) && !(noColour && *noColour);
    }
    // On standard error, its control characters made visible (a name in it is anybody's).
    void note(std::string_view line) override {
        std::fprintf(stderr, "scrivletv2: %s\n", Ui::visibleText(line, false).c_str());
    }
};

} // namespace

void installConsole() {
    installService<ConsoleService>([] { return std::make_unique<HostConsole>(); });
}

} // namespace Host

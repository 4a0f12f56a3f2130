// The runtime start-up: keeps the arguments for the command-line library, runs the program's entry
// and hands its result to Proc::setExitCode.
#include "HostPlatform.h"
#include "Signals.h"
#include "platform/System.h"

int scrivletMain();

int main(int argc, char** argv) {
    Signals::install();
    // Lives as long as the process: the run ends in Proc::setExitCode, which exits without
    // returning here, so nothing a late thread reaches is torn down before it.
    Host::HostPlatform platform;
    Host::installServices(platform);
    Proc::setArguments(argc, argv);
    Proc::setExitCode(static_cast<unsigned>(scrivletMain()));
}

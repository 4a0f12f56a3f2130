// The runtime start-up: keeps the arguments for the command-line library, runs the program's entry
// and hands its result to Proc::setExitCode.
#include "HostServices.h"
#include "Signals.h"
#include "platform/System.h"

int scrivletMain();

int main(int argc, char** argv) {
    Signals::install();
    Host::installServices();
    Proc::setArguments(argc, argv);
    Proc::setExitCode(static_cast<unsigned>(scrivletMain()));
}

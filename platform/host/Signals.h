#pragma once
// Interruption by the user or the system: SIGINT (Ctrl-C), SIGTERM and SIGHUP (a closed terminal).
//
// The first of them only records itself. Every progress dialog then answers "cancelled", so the
// running mode takes its own cancellation path (targets removed, the export undone, the upload
// abandoned), exactly as for the cancel key. When the mode has ended, the process ends by that same
// signal, so that a calling shell sees 128 + its number. A second signal ends the process at once.
struct termios;

namespace Signals {

void install();
// The signal received, or 0.
int received();
// Ends the process by the signal received (its default action), once the run is over.
[[noreturn]] void endByReceived();
// A terminal the run has put in a mode of its own: should a second signal end the run at once, the
// terminal gets these settings back first. Null forgets it.
void restoreTerminalOnAbruptEnd(int fd, const struct termios* settings);

} // namespace Signals

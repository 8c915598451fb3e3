// Ends the program cleanly on SIGTERM (a logout, `kill`), SIGINT (Ctrl+C in the terminal that
// started it) and SIGHUP (that terminal closed): the handler only writes the signal's number
// into a pipe, and the window thread, reading it, ends the program the way its own exit does.
#pragma once

#include <functional>

namespace app {

// Installs the handlers; `end` runs on the window thread when one of the signals arrives.
void endOnSignals(std::function<void(int signal)> end);

}  // namespace app

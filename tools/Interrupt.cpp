#include "Interrupt.h"

#include <signal.h>

#include <atomic>

namespace cli {

namespace {
volatile sig_atomic_t gInterrupted = 0;

void onSignal(int) {
  gInterrupted = 1;
}
}  // namespace

void stopOnSignals() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int s : {SIGINT, SIGTERM}) sigaction(s, &action, nullptr);
}

bool interrupted() {
  return gInterrupted != 0;
}

}  // namespace cli

// Ctrl+C (SIGINT) and SIGTERM stop a render or a play where it stands: the handler only sets a
// flag, which the render loops read between blocks; they then stop the engine, leave no
// partial output file, and the program ends with status 130.
#pragma once

namespace cli {

constexpr int kInterruptedStatus = 130;  // 128 + SIGINT, as shells report it

void stopOnSignals();
bool interrupted();

}  // namespace cli

// Records the default capture device into a new WAV file the way the control does (a fresh
// pass, the save step at the quarter mark and at the wrap) until it is killed. After every
// save step it prints "saved <bytes>" on its standard output.
//
//   lumo_engine_record FILE [QUALITY]      QUALITY is a QualityConstants value, 2 by default
#include <poll.h>

#include <cstdio>
#include <cstdlib>

#include "modDXAPI.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [QUALITY]\n", argv[0]);
    return 2;
  }
  const int32_t quality = argc > 2 ? std::atoi(argv[2]) : 2;
  if (quality < 1 || quality > 2048 || lumo::QualityCodes()[quality - 1].empty()) {
    std::fprintf(stderr, "no such quality: %d\n", quality);
    return 2;
  }
  const std::string code = lumo::QualityCodes()[quality - 1];
  lumo::DXEngine& e = lumo::engine();
  const auto drivers = lumo::enumerateDrivers();
  const lumo::DriverEntry driver =
      drivers.empty() ? lumo::DriverEntry{} : drivers[lumo::defaultCaptureDriver(drivers) - 1];
  if (!e.openCapture(quality, code, driver)) {
    std::fprintf(stderr, "%s\n", e.LastErrorMessage.c_str());
    return 1;
  }
  e.setupCaptureNotifications();
  int32_t number = 0;
  std::string message;
  if (!e.recordFile.create(argv[1], e.captureFormat, &number, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  e.saveStep(code, false, true);
  e.captureBuffer->start(true);
  const int32_t wrap = e.CaptureNotifyTable[0].event;
  const int32_t quarter = e.CaptureNotifyTable[66].event;
  for (;;) {
    pollfd p{e.notificationFd(), POLLIN, 0};
    poll(&p, 1, -1);
    int32_t id;
    while (e.takeNotification(id)) {
      if (id != wrap && id != quarter) continue;
      e.saveStep(code, id == wrap, false);
      std::printf("saved %.0f\n", e.SavedByteCount);
      std::fflush(stdout);
    }
  }
}

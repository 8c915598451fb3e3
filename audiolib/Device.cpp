#include "Device.h"

#include <SDL2/SDL.h>

#include "bass.h"

namespace audiolib {
namespace {

// 512 frames (11.6 ms at 44.1 kHz): a switch of the remover is heard within a block or two.
constexpr int kBlockFrames = 512;

bool ensureSdlAudio() {
  if (SDL_WasInit(SDL_INIT_AUDIO)) return true;
  return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

class SdlOutput final : public OutputDevice {
 public:
  SdlOutput(RenderFn render) : render_(std::move(render)) {}
  ~SdlOutput() override { stop(); }

  bool open(const char* name, int rate, std::string* why) {
    SDL_AudioSpec want{}, have{};
    want.freq = rate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = kBlockFrames;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    dev_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (dev_ == 0) {
      if (why) *why = SDL_GetError();
      return false;
    }
    rate_ = have.freq;
    samples_ = have.samples;
    SDL_PauseAudioDevice(dev_, 0);
    return true;
  }

  int sampleRate() const override { return rate_; }
  int latencyMs() const override {
    // SDL keeps about two periods queued in the sound server.
    return int(2 * 1000LL * samples_ / (rate_ ? rate_ : 44100));
  }
  void stop() override {
    if (dev_) {
      SDL_CloseAudioDevice(dev_);
      dev_ = 0;
    }
  }

 private:
  static void callback(void* self, Uint8* stream, int len) {
    auto* me = static_cast<SdlOutput*>(self);
    me->render_(reinterpret_cast<float*>(stream), len / int(2 * sizeof(float)));
  }

  RenderFn render_;
  SDL_AudioDeviceID dev_ = 0;
  int rate_ = 44100;
  int samples_ = kBlockFrames;
};

}  // namespace

void sdlAudioShutdown() {
  if (SDL_WasInit(SDL_INIT_AUDIO)) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

int sdlOutputCount() {
  if (!ensureSdlAudio()) return 0;
  const int n = SDL_GetNumAudioDevices(0);
  return n < 0 ? 0 : n;
}

std::unique_ptr<OutputDevice> openSdlOutput(int index, int rate, RenderFn render, int* error,
                                            std::string* why) {
  if (!ensureSdlAudio()) {
    if (why) *why = SDL_GetError();
    *error = BASS_ERROR_DRIVER;
    return nullptr;
  }
  const char* name = nullptr;  // the system's default output
  if (index >= 2) {
    name = SDL_GetAudioDeviceName(index - 2, 0);
    if (!name) {
      *error = BASS_ERROR_DEVICE;
      return nullptr;
    }
  }
  auto dev = std::make_unique<SdlOutput>(std::move(render));
  if (!dev->open(name, rate, why)) {
    *error = BASS_ERROR_START;
    return nullptr;
  }
  return dev;
}

}  // namespace audiolib

#include "OpenmptDecoder.h"

#include <cmath>
#include <new>

#include "bass.h"

namespace audiolib {

namespace {

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;

int bassError(int openmptError) {
  return openmptError == OPENMPT_ERROR_OUT_OF_MEMORY ? BASS_ERROR_MEM : BASS_ERROR_FILEFORM;
}

}  // namespace

std::unique_ptr<OpenmptDecoder> OpenmptDecoder::create(std::span<const uint8_t> data,
                                                       int sampleRate, bool loop, bool ramp,
                                                       int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  if (sampleRate < kMinRate || sampleRate > kMaxRate) {
    *error = BASS_ERROR_ILLPARAM;
    return nullptr;
  }
  // libopenmpt writes its warnings to stderr unless told otherwise; the engine stays quiet.
  int mptError = OPENMPT_ERROR_OK;
  const int probe = openmpt_probe_file_header(
      OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, data.data(), data.size(), data.size(),
      openmpt_log_func_silent, nullptr, openmpt_error_func_ignore, nullptr, &mptError, nullptr);
  if (probe != OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS) {
    *error =
        probe == OPENMPT_PROBE_FILE_HEADER_RESULT_ERROR ? bassError(mptError) : BASS_ERROR_FILEFORM;
    return nullptr;
  }
  // "stop": the last read ends where the song does, without libopenmpt's short fade-out.
  // sync_samples: a seek into a held note plays that note, not silence until the next one.
  const openmpt_module_initial_ctl ctls[] = {
      {"play.at_end", "stop"}, {"seek.sync_samples", "1"}, {nullptr, nullptr}};
  Handle module(openmpt_module_create_from_memory2(
      data.data(), data.size(), openmpt_log_func_silent, nullptr, openmpt_error_func_ignore,
      nullptr, &mptError, nullptr, ctls));
  if (!module) {
    *error = bassError(mptError);
    return nullptr;
  }
  openmpt_module_set_repeat_count(module.get(), loop ? -1 : 0);
  if (!ramp)
    openmpt_module_set_render_param(module.get(), OPENMPT_MODULE_RENDER_VOLUMERAMPING_STRENGTH, 0);
  // The duration is libopenmpt's walk through the song's orders; pattern jumps and tempo
  // effects can make it any length, so it is checked before it becomes a frame count.
  const double seconds = openmpt_module_get_duration_seconds(module.get());
  if (std::isfinite(seconds) && seconds > double(kMaxFileSeconds)) {
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  const int64_t length =
      std::isfinite(seconds) && seconds > 0 ? int64_t(std::llround(seconds * sampleRate)) : 0;
  auto* decoder = new (std::nothrow) OpenmptDecoder(std::move(module), sampleRate, length);
  if (!decoder) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  *error = BASS_OK;
  return std::unique_ptr<OpenmptDecoder>(decoder);
}

uint32_t OpenmptDecoder::channelType() const {
  return BASS_CTYPE_MUSIC;
}

int64_t OpenmptDecoder::read(float* out, int64_t frames) {
  if (frames <= 0) return 0;
  return int64_t(
      openmpt_module_read_interleaved_float_stereo(module_.get(), rate_, size_t(frames), out));
}

bool OpenmptDecoder::seek(int64_t frame) {
  if (frame < 0 || frame > length_) return false;
  openmpt_module_set_position_seconds(module_.get(), double(frame) / rate_);
  return true;
}

}  // namespace audiolib

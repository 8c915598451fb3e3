#include "WaveSetup.h"

namespace recorder {

const std::array<WaveSetupItem, 12> kWaveSetupItems{{
    {"11KHz @ 8bit Mono", std::nullopt},
    {"11KHz @ 16bit Mono", audiolib::CaptureFormat{11025, 1, 16}},
    {"11KHz @ 8bit Stereo", audiolib::CaptureFormat{11025, 2, 8}},
    {"11KHz @ 16bit Stereo", audiolib::CaptureFormat{11025, 2, 16}},
    {"22KHz @ 8bit Mono", audiolib::CaptureFormat{22050, 1, 8}},
    {"22KHz @ 16bit Mono", audiolib::CaptureFormat{22050, 1, 16}},
    {"22KHz @ 8bit Stereo", audiolib::CaptureFormat{22050, 2, 8}},
    {"22KHz @ 16bit Stereo", audiolib::CaptureFormat{22050, 2, 16}},
    {"44KHz @ 8bit Mono", audiolib::CaptureFormat{44100, 1, 8}},
    {"44KHz @ 16bit Mono", audiolib::CaptureFormat{44100, 1, 16}},
    {"44KHz @ 8bit Stereo", audiolib::CaptureFormat{44100, 2, 8}},
    {"44KHz @ 16bit Stereo", audiolib::CaptureFormat{44100, 2, 16}},
}};

audiolib::CaptureFormat& recordingFormat() {
  static audiolib::CaptureFormat format{44100, 2, 16};
  return format;
}

}  // namespace recorder

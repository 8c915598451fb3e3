#include "WmaEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <taglib/asffile.h>
#include <taglib/asftag.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "bass.h"

namespace audiolib {

namespace {

constexpr int kRate = 44100;
// The ASF data packets: a packet header, and per frame a payload header (see packetSize).
constexpr int kPacketHeaderBytes = 16;
constexpr int kPayloadHeaderBytes = 17;
constexpr int kTargetPacketBytes = 3200;  // the muxer's default size, kept where frames allow

struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecDeleter>;

// A wmav2 encoder for 44.1 kHz stereo at `bitrate`, opened, or null when it refuses the rate.
CodecContext openCodec(int bitrate) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  if (!codec) return nullptr;
  CodecContext c(avcodec_alloc_context3(codec));
  if (!c) return nullptr;
  c->sample_rate = kRate;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&c->ch_layout, 2);
  c->bit_rate = bitrate;
  c->time_base = AVRational{1, kRate};
  if (avcodec_open2(c.get(), codec, nullptr) < 0) return nullptr;
  return c;
}

// Bytes of one coded frame at `bitrate` (the codec's block align).
int frameBytes(int bitrate, int frameSize) {
  return int(int64_t(bitrate) * frameSize / (8 * kRate));
}

}  // namespace

struct WmaEncoder::Av {
  AVFormatContext* format = nullptr;
  CodecContext codec;
  AVStream* stream = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  ~Av() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    if (format) {
      if (format->pb) avio_closep(&format->pb);
      avformat_free_context(format);
    }
  }
};

WmaEncoder::WmaEncoder() : av_(std::make_unique<Av>()) {}

WmaEncoder::~WmaEncoder() = default;

const std::vector<uint32_t>& WmaEncoder::rates() {
  static const std::vector<uint32_t> list = [] {
    // The steps a ripper offers; the codec decides which of them it takes for CD audio.
    static const uint32_t candidates[] = {320000, 256000, 192000, 160000, 128000, 96000, 80000,
                                          64000,  48000,  40000,  32000,  24000,  20000, 16000};
    std::vector<uint32_t> ok;
    // The codec logs every rate it refuses; asking is not an error.
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    for (uint32_t r : candidates)
      if (openCodec(int(r))) ok.push_back(r);
    av_log_set_level(level);
    return ok;
  }();
  return list;
}

std::unique_ptr<WmaEncoder> WmaEncoder::open(int rate, int bitrate, const std::string& path,
                                             int* error) {
  if (rate != kRate ||
      std::find(rates().begin(), rates().end(), uint32_t(bitrate)) == rates().end()) {
    *error = BASS_ERROR_CODEC;
    return nullptr;
  }
  std::unique_ptr<WmaEncoder> e(new WmaEncoder);
  e->path_ = path;
  Av& av = *e->av_;
  // The ASF packets carry per frame a payload header of their own, and the file's bit rate
  // counts them: the codec gets what is left of the chosen rate, and a packet holds a whole
  // number of frames, so that no packet is padded and the file runs at the rate chosen.
  CodecContext probe = openCodec(bitrate);
  if (!probe) {
    *error = BASS_ERROR_CODEC;
    return nullptr;
  }
  const int frameSize = probe->frame_size;
  const int target = frameBytes(bitrate, frameSize);
  const int perPacket = std::max(1, kTargetPacketBytes / (target + kPayloadHeaderBytes));
  const int budget =
      target - kPayloadHeaderBytes - (kPacketHeaderBytes + perPacket - 1) / perPacket;
  int codecRate = int(int64_t(budget) * 8 * kRate / frameSize);
  av.codec = openCodec(codecRate);
  if (!av.codec) {
    codecRate = bitrate;
    av.codec = std::move(probe);
  }
  const int coded =
      av.codec->block_align > 0 ? av.codec->block_align : frameBytes(codecRate, frameSize);
  const int packetSize =
      std::clamp(perPacket * (coded + kPayloadHeaderBytes) + kPacketHeaderBytes, 100, 65536);

  if (avformat_alloc_output_context2(&av.format, nullptr, "asf", path.c_str()) < 0 || !av.format) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  av_opt_set_int(av.format->priv_data, "packet_size", packetSize, 0);
  av.stream = avformat_new_stream(av.format, nullptr);
  av.packet = av_packet_alloc();
  av.frame = av_frame_alloc();
  if (!av.stream || !av.packet || !av.frame ||
      avcodec_parameters_from_context(av.stream->codecpar, av.codec.get()) < 0) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  av.stream->time_base = AVRational{1, kRate};
  if (avio_open(&av.format->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
    *error = BASS_ERROR_CREATE;
    return nullptr;
  }
  *error = BASS_OK;
  return e;
}

bool WmaEncoder::setTag(const std::string& name, const std::string& value, int* error) {
  if (tagsEnded_ || started_) {
    *error = BASS_ERROR_NOTAVAIL;
    return false;
  }
  if (name.empty()) {
    tagsEnded_ = true;
    return start(error);
  }
  tags_.emplace_back(name, value);
  *error = BASS_OK;
  return true;
}

bool WmaEncoder::start(int* error) {
  if (started_) return true;
  started_ = true;
  if (avformat_write_header(av_->format, nullptr) < 0) {
    failed_ = true;
    *error = BASS_ERROR_CREATE;
    return false;
  }
  *error = BASS_OK;
  return true;
}

bool WmaEncoder::drain(int* error) {
  Av& av = *av_;
  for (;;) {
    const int r = avcodec_receive_packet(av.codec.get(), av.packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) break;
    av_packet_rescale_ts(av.packet, av.codec->time_base, av.stream->time_base);
    av.packet->stream_index = av.stream->index;
    if (av_interleaved_write_frame(av.format, av.packet) < 0) break;
  }
  failed_ = true;
  *error = BASS_ERROR_CREATE;  // the disc is full or the file went away
  return false;
}

bool WmaEncoder::encodeFrame(const float* const* planes, int frames, int* error) {
  Av& av = *av_;
  AVFrame* f = av.frame;
  av_frame_unref(f);
  f->nb_samples = av.codec->frame_size;
  f->format = AV_SAMPLE_FMT_FLTP;
  f->sample_rate = kRate;
  av_channel_layout_copy(&f->ch_layout, &av.codec->ch_layout);
  if (av_frame_get_buffer(f, 0) < 0) {
    *error = BASS_ERROR_MEM;
    return false;
  }
  for (int ch = 0; ch < 2; ++ch) {
    auto* dst = reinterpret_cast<float*>(f->data[ch]);
    std::memcpy(dst, planes[ch], size_t(frames) * sizeof(float));
    // The codec takes whole frames only: the last one is padded with silence.
    std::fill(dst + frames, dst + f->nb_samples, 0.0f);
  }
  f->pts = pts_;
  pts_ += f->nb_samples;
  if (avcodec_send_frame(av.codec.get(), f) < 0) {
    failed_ = true;
    *error = BASS_ERROR_CODEC;
    return false;
  }
  return drain(error);
}

bool WmaEncoder::write(const uint8_t* pcm, size_t bytes, int* error) {
  if (failed_) {
    *error = BASS_ERROR_CREATE;
    return false;
  }
  if (!started_) {
    tagsEnded_ = true;
    if (!start(error)) return false;
  }
  const int frameSize = av_->codec->frame_size;
  auto push = [&](const uint8_t* b) {
    int16_t l, r;
    std::memcpy(&l, b, 2);
    std::memcpy(&r, b + 2, 2);
    left_.push_back(float(l) / 32768.0f);
    right_.push_back(float(r) / 32768.0f);
  };
  size_t i = 0;
  while (partialBytes_ > 0 && i < bytes) {
    partial_[partialBytes_++] = pcm[i++];
    if (partialBytes_ == 4) {
      push(partial_);
      partialBytes_ = 0;
    }
  }
  for (; i + 4 <= bytes; i += 4) {
    push(pcm + i);
    if (int(left_.size()) == frameSize) {
      const float* planes[2] = {left_.data(), right_.data()};
      if (!encodeFrame(planes, frameSize, error)) return false;
      left_.clear();
      right_.clear();
    }
  }
  for (; i < bytes; ++i) partial_[partialBytes_++] = pcm[i];
  *error = BASS_OK;
  return true;
}

bool WmaEncoder::close() {
  int error = BASS_OK;
  bool ok = !failed_;
  if (!started_) ok = start(&error) && ok;
  if (ok && !left_.empty()) {
    const float* planes[2] = {left_.data(), right_.data()};
    ok = encodeFrame(planes, int(left_.size()), &error);
  }
  if (ok && avcodec_send_frame(av_->codec.get(), nullptr) >= 0) ok = drain(&error);
  if (started_ && av_->format->pb) ok = av_write_trailer(av_->format) >= 0 && ok;
  av_.reset();  // closes the file
  if (!ok || tags_.empty()) return ok;

  TagLib::ASF::File file(path_.c_str(), false);
  TagLib::ASF::Tag* tag = file.isValid() ? file.tag() : nullptr;
  if (!tag) return false;
  for (const auto& [name, value] : tags_) {
    const TagLib::String v(value, TagLib::String::UTF8);
    // The five fields of the ASF content description object have setters of their own;
    // every other name is an extended attribute.
    if (name == "Title")
      tag->setTitle(v);
    else if (name == "Author")
      tag->setArtist(v);
    else if (name == "Description")
      tag->setComment(v);
    else if (name == "Copyright")
      tag->setCopyright(v);
    else if (name == "Rating")
      tag->setRating(v);
    else
      tag->setAttribute(TagLib::String(name, TagLib::String::UTF8), TagLib::ASF::Attribute(v));
  }
  return file.save();
}

}  // namespace audiolib

// ---- the add-on's interface ---------------------------------------------------------------

namespace {

struct Encoders {
  std::mutex mutex;
  std::map<DWORD, std::unique_ptr<audiolib::WmaEncoder>> open;
  DWORD next = 1;
  std::vector<DWORD> rates;  // zero-terminated copy handed out
};

Encoders& encoders() {
  static Encoders* e = new Encoders;
  return *e;
}

template <class T, class Body>
T guardedWma(T failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    audiolib::setLastError(BASS_ERROR_MEM);
  } catch (...) {
    audiolib::setLastError(BASS_ERROR_UNKNOWN);
  }
  return failure;
}

// The encoder of `handle`, taken out of the table while it works so that a slow write holds
// no lock; null with BASS_ERROR_HANDLE.
std::unique_ptr<audiolib::WmaEncoder> take(DWORD handle) {
  std::lock_guard lock(encoders().mutex);
  auto it = encoders().open.find(handle);
  if (it == encoders().open.end() || !it->second) {
    audiolib::setLastError(BASS_ERROR_HANDLE);
    return nullptr;
  }
  return std::move(it->second);
}

void giveBack(DWORD handle, std::unique_ptr<audiolib::WmaEncoder> e) {
  std::lock_guard lock(encoders().mutex);
  encoders().open[handle] = std::move(e);
}

}  // namespace

const DWORD* BASS_WMA_EncodeGetRates(DWORD freq, DWORD flags) {
  return guardedWma<const DWORD*>(nullptr, [&]() -> const DWORD* {
    const auto& r = audiolib::WmaEncoder::rates();
    if (freq != 44100 || r.empty()) {
      audiolib::setLastError(BASS_ERROR_CODEC);
      return nullptr;
    }
    std::lock_guard lock(encoders().mutex);
    if (encoders().rates.empty()) {
      encoders().rates.assign(r.begin(), r.end());
      encoders().rates.push_back(0);
    }
    audiolib::setLastError(BASS_OK);
    return encoders().rates.data();
  });
}

HWMENCODE BASS_WMA_EncodeOpenFile(DWORD freq, DWORD flags, DWORD bitrate, const char* file) {
  return guardedWma<HWMENCODE>(0u, [&]() -> HWMENCODE {
    if (!file || !*file) {
      audiolib::setLastError(BASS_ERROR_ILLPARAM);
      return 0u;
    }
    int error = BASS_OK;
    auto e = audiolib::WmaEncoder::open(int(freq), int(bitrate), file, &error);
    if (!e) {
      audiolib::setLastError(error);
      return 0u;
    }
    // Without the tags flag no tags come: the header can be written at once.
    if (!(flags & BASS_WMA_ENCODE_TAGS) && !e->setTag("", "", &error)) {
      audiolib::setLastError(error);
      return 0u;
    }
    std::lock_guard lock(encoders().mutex);
    const DWORD h = encoders().next++;
    encoders().open[h] = std::move(e);
    audiolib::setLastError(BASS_OK);
    return h;
  });
}

BOOL BASS_WMA_EncodeSetTag(HWMENCODE handle, const char* tag, const char* text) {
  return guardedWma<BOOL>(FALSE, [&]() -> BOOL {
    auto e = take(handle);
    if (!e) return FALSE;
    int error = BASS_OK;
    const bool ok = e->setTag(tag ? tag : "", text ? text : "", &error);
    giveBack(handle, std::move(e));
    audiolib::setLastError(error);
    return ok ? TRUE : FALSE;
  });
}

BOOL BASS_WMA_EncodeWrite(HWMENCODE handle, const void* buffer, DWORD length) {
  return guardedWma<BOOL>(FALSE, [&]() -> BOOL {
    if (!buffer && length) {
      audiolib::setLastError(BASS_ERROR_ILLPARAM);
      return FALSE;
    }
    auto e = take(handle);
    if (!e) return FALSE;
    int error = BASS_OK;
    const bool ok = e->write(static_cast<const uint8_t*>(buffer), length, &error);
    giveBack(handle, std::move(e));
    audiolib::setLastError(error);
    return ok ? TRUE : FALSE;
  });
}

void BASS_WMA_EncodeClose(HWMENCODE handle) {
  guardedWma<int>(0, [&]() -> int {
    std::unique_ptr<audiolib::WmaEncoder> e;
    {
      std::lock_guard lock(encoders().mutex);
      auto it = encoders().open.find(handle);
      if (it == encoders().open.end() || !it->second) {
        audiolib::setLastError(BASS_ERROR_HANDLE);
        return 0;
      }
      e = std::move(it->second);
      encoders().open.erase(it);
    }
    audiolib::setLastError(e->close() ? BASS_OK : BASS_ERROR_CREATE);
    return 0;
  });
}

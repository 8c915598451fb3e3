#include "CdDecoder.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "Engine.h"

namespace audiolib {

namespace {

// Paranoia's progress callback has no user pointer: the decoder reading on this thread.
thread_local bool tReadFailed = false;

void paranoiaCallback(long, paranoia_cb_mode_t mode) {
  if (mode == PARANOIA_CB_READERR || mode == PARANOIA_CB_SKIP) tReadFailed = true;
}

// The notifier: a thread of its own that runs the read-error syncs outside every lock.
class Notifier {
 public:
  static Notifier& get() {
    static Notifier* n = new Notifier;  // lives as long as the process, like the engine
    return *n;
  }
  void post(DWORD handle, DWORD track) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({handle, track});
      if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
  }

 private:
  struct Item {
    DWORD handle, track;
  };
  void run() {
    for (;;) {
      Item item;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return !queue_.empty(); });
        item = queue_.front();
        queue_.pop_front();
      }
      struct Call {
        SYNCPROC* proc;
        HSYNC sync;
        void* user;
      };
      std::vector<Call> calls;
      {
        Engine& e = Engine::get();
        std::lock_guard lock(e.mutex);
        Channel* c = e.find(item.handle);
        if (!c) continue;
        for (auto it = c->syncs.begin(); it != c->syncs.end();) {
          if ((it->type & ~BASS_SYNC_ONETIME) == BASS_SYNC_CD_ERROR) {
            calls.push_back({it->proc, it->handle, it->user});
            if (it->type & BASS_SYNC_ONETIME) {
              it = c->syncs.erase(it);
              continue;
            }
          }
          ++it;
        }
      }
      for (const Call& call : calls) call.proc(call.sync, item.handle, item.track, call.user);
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  std::thread thread_;
};

}  // namespace

// libcdio's own log handler ends the process on an error message (a sheet it can't parse
// says so at that level): its messages go to stderr only when ORIVELR_CD_LOG is set.
void cdioLog(cdio_log_level_t level, const char* message) {
  static const bool show = std::getenv("ORIVELR_CD_LOG") != nullptr;
  if (show) std::fprintf(stderr, "libcdio (%d): %s\n", int(level), message);
}

void routeCdioLog() {
  static std::once_flag logging;
  std::call_once(logging, [] { cdio_log_set_handler(cdioLog); });
}

CdIo_t* openCdio(const std::string& path, bool image) {
  routeCdioLog();
  if (!image) return cdio_open(path.c_str(), DRIVER_DEVICE);
  const auto dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  for (char& ch : ext) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  // By the sheet itself: the bin/cue driver would look for a data file named like the sheet.
  if (ext == "toc") return cdio_open_cdrdao(path.c_str());
  if (ext == "nrg") return cdio_open_nrg(path.c_str());
  return cdio_open_cue(path.c_str());
}

void postCdError(DWORD handle, DWORD track) {
  Notifier::get().post(handle, track);
}

void CdErrorReport::setHandle(DWORD handle) {
  std::lock_guard lock(mutex_);
  handle_ = handle;
  if (pending_) postCdError(handle_, track_);
  pending_ = false;
}

void CdErrorReport::raise() {
  std::lock_guard lock(mutex_);
  if (raised_) return;  // one notification per stream: the window frees it at the first
  raised_ = true;
  if (handle_)
    postCdError(handle_, track_);
  else
    pending_ = true;
}

struct CdDecoder::Handles {
  CdIo_t* cdio = nullptr;
  cdrom_drive_t* drive = nullptr;
  cdrom_paranoia_t* paranoia = nullptr;
  ~Handles() {
    if (paranoia) cdio_paranoia_free(paranoia);
    if (drive) cdio_cddap_close_no_free_cdio(drive);
    if (cdio) cdio_destroy(cdio);
  }
};

CdDecoder::CdDecoder(const CdTrackSource& track, std::shared_ptr<CdErrorReport> report)
    : track_(track), report_(std::move(report)), h_(std::make_unique<Handles>()) {}

CdDecoder::~CdDecoder() = default;

std::unique_ptr<CdDecoder> CdDecoder::open(const CdTrackSource& track,
                                           std::shared_ptr<CdErrorReport> report, int* error) {
  std::unique_ptr<CdDecoder> d(new CdDecoder(track, std::move(report)));
  Handles& h = *d->h_;
  h.cdio = openCdio(track.path, track.image);
  if (!h.cdio) {
    *error = BASS_ERROR_NOCD;
    return nullptr;
  }
  h.drive = cdio_cddap_identify_cdio(h.cdio, CDDA_MESSAGE_FORGETIT, nullptr);
  if (!h.drive || cdio_cddap_open(h.drive) != 0) {
    *error = BASS_ERROR_CDREAD;
    return nullptr;
  }
  h.paranoia = cdio_paranoia_init(h.drive);
  if (!h.paranoia) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  // An image reads back what it holds: paranoia's overlap checks only cost time there. A real
  // drive gets every check, and may skip a spot it cannot read after its retries (reported).
  cdio_paranoia_modeset(h.paranoia, track.image ? PARANOIA_MODE_DISABLE
                                                : (PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP));
  if (!d->seek(0)) {
    *error = BASS_ERROR_CDREAD;
    return nullptr;
  }
  *error = BASS_OK;
  return d;
}

bool CdDecoder::seek(int64_t frame) {
  const int64_t length = lengthFrames();
  if (frame < 0 || frame > length) return false;
  const int32_t sector = int32_t(frame / kCdFramesPerSector);
  if (cdio_paranoia_seek(h_->paranoia, track_.firstSector + sector, SEEK_SET) < 0) return false;
  nextSector_ = sector;
  sectorUsed_ = kCdFramesPerSector;
  failed_ = false;
  const int skip = int(frame % kCdFramesPerSector);
  if (skip > 0) {
    if (!readSector()) return false;
    sectorUsed_ = skip;
  }
  return true;
}

bool CdDecoder::readSector() {
  tReadFailed = false;
  const int16_t* data = cdio_paranoia_read_limited(h_->paranoia, paranoiaCallback, 10);
  if (!data || tReadFailed) {
    failed_ = true;
    if (report_) report_->raise();
    return false;
  }
  std::memcpy(sector_, data, sizeof sector_);
  ++nextSector_;
  sectorUsed_ = 0;
  return true;
}

int64_t CdDecoder::read(float* out, int64_t frames) {
  if (failed_) return -1;
  int64_t done = 0;
  while (done < frames) {
    if (sectorUsed_ == kCdFramesPerSector) {
      if (nextSector_ >= track_.sectors) break;
      if (!readSector()) return done > 0 ? done : -1;
    }
    const int64_t n = std::min<int64_t>(frames - done, kCdFramesPerSector - sectorUsed_);
    const int16_t* s = sector_ + sectorUsed_ * 2;
    float* o = out + done * 2;
    for (int64_t i = 0; i < n * 2; ++i) o[i] = float(s[i]) * (1.0f / 32768.0f);
    sectorUsed_ += int(n);
    done += n;
  }
  return done;
}

}  // namespace audiolib

#include "CdDrive.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/mmc.h>
#include <cdio/mmc_hl_cmds.h>
#include <cdio/mmc_ll_cmds.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "CdDecoder.h"
#include "Engine.h"
#include "PrefetchDecoder.h"
#include "bass.h"

using audiolib::setLastError;

namespace audiolib {

std::string makeCdTextBlock(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string block;
  for (const auto& [key, value] : entries) {
    block += key;
    block += '=';
    // A zero inside a value would end its string early and shift every key after it.
    for (char ch : value) block += ch == '\0' ? ' ' : ch;
    block += '\0';
  }
  block += '\0';
  return block;
}

namespace {

struct CdioDeleter {
  void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using Cdio = std::unique_ptr<CdIo_t, CdioDeleter>;

struct Drive {
  std::string path;
  bool image = false;
  std::string description;
  Cdio cdio;
  bool locked = false;
  std::string cdtext;  // the last block handed out by BASS_CD_GetID
};

class Drives {
 public:
  std::mutex mutex;

  // The drive list, read again when ORIVELR_CD_IMAGES has changed. Under `mutex`.
  std::vector<Drive>& list() {
    const char* env = std::getenv("ORIVELR_CD_IMAGES");
    const std::string images = env ? env : "";
    if (!scanned_ || images != images_) rescan(images);
    return drives_;
  }

  Drive* find(DWORD index) {
    auto& l = list();
    if (index >= l.size()) {
      setLastError(BASS_ERROR_DEVICE);
      return nullptr;
    }
    return &l[index];
  }

 private:
  void rescan(const std::string& images) {
    if (!scanned_) {
      routeCdioLog();
      // Real drives are listed once: a drive does not come and go while the program runs.
      if (char** devices = cdio_get_devices(DRIVER_DEVICE)) {
        for (char** d = devices; *d; ++d) real_.push_back(*d);
        cdio_free_device_list(devices);
      }
    }
    scanned_ = true;
    images_ = images;
    drives_.clear();
    for (const std::string& path : real_) {
      Drive d;
      d.path = d.description = path;
      drives_.push_back(std::move(d));
    }
    size_t from = 0;
    while (from <= images.size()) {
      size_t to = images.find(':', from);
      if (to == std::string::npos) to = images.size();
      if (to > from) {
        Drive d;
        d.path = images.substr(from, to - from);
        d.image = true;
        d.description = "image: " + d.path;
        drives_.push_back(std::move(d));
      }
      from = to + 1;
    }
  }

  bool scanned_ = false;
  std::string images_;
  std::vector<std::string> real_;
  std::vector<Drive> drives_;
};

Drives& drives() {
  static Drives* d = new Drives;
  return *d;
}

// The drive's libcdio handle, opened when first needed; a real drive is opened again when
// its disc has changed. Null (BASS_ERROR_NOCD) when there is no readable disc or image.
CdIo_t* handleOf(Drive& d, bool refresh = false) {
  if (d.cdio && !d.image && refresh && cdio_get_media_changed(d.cdio.get()) == 1) d.cdio.reset();
  if (!d.cdio) {
    d.cdio.reset(openCdio(d.path, d.image));
    d.cdtext.clear();
  }
  if (!d.cdio) setLastError(BASS_ERROR_NOCD);
  return d.cdio.get();
}

// The disc's tracks: libcdio's first track number and the count; false without a disc.
bool discTracks(CdIo_t* p, int* first, int* count) {
  const track_t n = cdio_get_num_tracks(p);
  const track_t f = cdio_get_first_track_num(p);
  if (n == CDIO_INVALID_TRACK || f == CDIO_INVALID_TRACK || n == 0) return false;
  *first = f;
  *count = n;
  return true;
}

template <class T, class Body>
T guardedCd(T failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    setLastError(BASS_ERROR_MEM);
  } catch (...) {
    setLastError(BASS_ERROR_UNKNOWN);
  }
  return failure;
}

template <class T>
T cdFail(int code, T result) {
  setLastError(code);
  return result;
}
template <class T>
T cdOk(T result) {
  setLastError(BASS_OK);
  return result;
}

constexpr DWORD kBad = 0xFFFFFFFFu;

// The drive's track `track` (0-based) on a disc that is there, or the failure's code.
int trackOf(Drive& d, DWORD track, CdIo_t** p, int* cdioTrack) {
  *p = handleOf(d);
  if (!*p) return BASS_ERROR_NOCD;
  int first = 0, count = 0;
  if (!discTracks(*p, &first, &count)) return BASS_ERROR_NOCD;
  if (track >= DWORD(count)) return BASS_ERROR_CDTRACK;
  *cdioTrack = first + int(track);
  return BASS_OK;
}

// Maximum read speed and buffer size from the drive's MMC capabilities page (0x2A).
void readCapabilitiesPage(CdIo_t* p, DWORD* speed, DWORD* cache) {
  unsigned char buf[64] = {};
  if (mmc_mode_sense_10(p, buf, sizeof buf, CDIO_MMC_CAPABILITIES_PAGE) != DRIVER_OP_SUCCESS)
    return;
  const unsigned char* page = buf + 8;  // after the mode parameter header
  if ((page[0] & 0x3F) != CDIO_MMC_CAPABILITIES_PAGE) return;
  *speed = DWORD(page[8] << 8 | page[9]);
  *cache = DWORD(page[12] << 8 | page[13]);
}

// The CD stream made last with BASS_STREAM_FREEPREV; under the engine's lock.
HSTREAM gPreviousCdStream = 0;

}  // namespace
}  // namespace audiolib

using namespace audiolib;

const char* BASS_CD_GetDriveDescription(DWORD drive) {
  return guardedCd<const char*>(nullptr, [&]() -> const char* {
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    return d ? cdOk(d->description.c_str()) : nullptr;
  });
}

DWORD BASS_CD_GetDriveLetter(DWORD drive) {
  return guardedCd<DWORD>(kBad, [&]() -> DWORD {
    std::lock_guard lock(drives().mutex);
    return drives().find(drive) ? cdOk(drive) : kBad;
  });
}

BOOL BASS_CD_GetInfo(DWORD drive, BASS_CD_INFO* info) {
  return guardedCd<BOOL>(FALSE, [&]() -> BOOL {
    if (!info || info->size < sizeof(BASS_CD_INFO)) return cdFail(BASS_ERROR_ILLPARAM, FALSE);
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return FALSE;
    BASS_CD_INFO r{};
    r.size = sizeof(BASS_CD_INFO);
    CdIo_t* p = handleOf(*d);
    if (!p) return FALSE;
    cdio_drive_read_cap_t read = 0;
    cdio_drive_write_cap_t write = 0;
    cdio_drive_misc_cap_t misc = 0;
    cdio_get_drive_cap(p, &read, &write, &misc);
    const bool file = d->image || (misc & CDIO_DRIVE_CAP_MISC_FILE);
    if (!file) {
      const struct {
        cdio_drive_read_cap_t cap;
        DWORD flag;
      } map[] = {
          {CDIO_DRIVE_CAP_READ_CD_R, BASS_CD_RWFLAG_READCDR},
          {CDIO_DRIVE_CAP_READ_CD_RW, BASS_CD_RWFLAG_READCDRW},
          {CDIO_DRIVE_CAP_READ_DVD_ROM, BASS_CD_RWFLAG_READDVD},
          {CDIO_DRIVE_CAP_READ_DVD_R, BASS_CD_RWFLAG_READDVDR},
          {CDIO_DRIVE_CAP_READ_DVD_RAM, BASS_CD_RWFLAG_READDVDRAM},
          {CDIO_DRIVE_CAP_READ_MODE2_FORM1, BASS_CD_RWFLAG_READM2F1},
          {CDIO_DRIVE_CAP_READ_MODE2_FORM2, BASS_CD_RWFLAG_READM2F2},
          {CDIO_DRIVE_CAP_READ_CD_DA, BASS_CD_RWFLAG_READCDDA},
      };
      for (const auto& m : map)
        if (read & m.cap) r.rwflags |= m.flag;
      if (misc & CDIO_DRIVE_CAP_MISC_MULTI_SESSION) r.rwflags |= BASS_CD_RWFLAG_READMULTI;
      r.canlock = (misc & CDIO_DRIVE_CAP_MISC_LOCK) ? TRUE : FALSE;
      r.canopen =
          (misc & (CDIO_DRIVE_CAP_MISC_EJECT | CDIO_DRIVE_CAP_MISC_CLOSE_TRAY)) ? TRUE : FALSE;
      readCapabilitiesPage(p, &r.maxspeed, &r.cache);
    } else {
      // An image reads audio as a drive would, and has neither door nor lock.
      r.rwflags = BASS_CD_RWFLAG_READCDDA | BASS_CD_RWFLAG_READCDDASPEED;
    }
    r.cdtext = cdio_get_cdtext(p) ? TRUE : FALSE;
    *info = r;
    return cdOk(TRUE);
  });
}

BOOL BASS_CD_IsReady(DWORD drive) {
  return guardedCd<BOOL>(FALSE, [&]() -> BOOL {
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return FALSE;
    CdIo_t* p = handleOf(*d, true);
    int first = 0, count = 0;
    if (!p || !discTracks(p, &first, &count)) return cdFail(BASS_ERROR_NOCD, FALSE);
    return cdOk(TRUE);
  });
}

DWORD BASS_CD_GetTracks(DWORD drive) {
  return guardedCd<DWORD>(kBad, [&]() -> DWORD {
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return kBad;
    CdIo_t* p = handleOf(*d);
    int first = 0, count = 0;
    if (!p || !discTracks(p, &first, &count)) return cdFail(BASS_ERROR_NOCD, kBad);
    return cdOk(DWORD(count));
  });
}

DWORD BASS_CD_GetTrackLength(DWORD drive, DWORD track) {
  return guardedCd<DWORD>(kBad, [&]() -> DWORD {
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return kBad;
    CdIo_t* p = nullptr;
    int t = 0;
    if (int e = trackOf(*d, track, &p, &t)) return cdFail(e, kBad);
    const unsigned sectors = cdio_get_track_sec_count(p, track_t(t));
    if (sectors == 0) return cdFail(BASS_ERROR_CDREAD, kBad);
    return cdOk(DWORD(sectors) * DWORD(kCdFramesPerSector * 4));
  });
}

const char* BASS_CD_GetID(DWORD drive, DWORD id) {
  return guardedCd<const char*>(nullptr, [&]() -> const char* {
    if (id != BASS_CDID_CDTEXT) return cdFail<const char*>(BASS_ERROR_ILLPARAM, nullptr);
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return nullptr;
    CdIo_t* p = handleOf(*d);
    int first = 0, count = 0;
    if (!p || !discTracks(p, &first, &count)) return cdFail<const char*>(BASS_ERROR_NOCD, nullptr);
    cdtext_t* text = cdio_get_cdtext(p);
    if (!text) return cdFail<const char*>(BASS_ERROR_NOTAVAIL, nullptr);
    std::vector<std::pair<std::string, std::string>> entries;
    const struct {
      cdtext_field_t field;
      const char* key;
    } fields[] = {{CDTEXT_FIELD_TITLE, "TITLE"},
                  {CDTEXT_FIELD_PERFORMER, "PERFORMER"},
                  {CDTEXT_FIELD_SONGWRITER, "SONGWRITER"},
                  {CDTEXT_FIELD_COMPOSER, "COMPOSER"},
                  {CDTEXT_FIELD_MESSAGE, "MESSAGE"}};
    // Entry 0 is the disc, entry n the n-th track of the list (whatever libcdio numbers it).
    for (int n = 0; n <= count; ++n) {
      const track_t t = track_t(n == 0 ? 0 : first + n - 1);
      for (const auto& f : fields)
        if (const char* v = cdtext_get_const(text, f.field, t))
          entries.emplace_back(f.key + std::to_string(n), v);
    }
    if (entries.empty()) return cdFail<const char*>(BASS_ERROR_NOTAVAIL, nullptr);
    d->cdtext = makeCdTextBlock(entries);
    return cdOk(d->cdtext.c_str());
  });
}

BOOL BASS_CD_Door(DWORD drive, DWORD action) {
  return guardedCd<BOOL>(FALSE, [&]() -> BOOL {
    if (action > BASS_CD_DOOR_UNLOCK) return cdFail(BASS_ERROR_ILLPARAM, FALSE);
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return FALSE;
    // An image has no door; libcdio would "eject" it by closing the handle under us.
    if (d->image) return cdFail(BASS_ERROR_NOTAVAIL, FALSE);
    CdIo_t* p = handleOf(*d);
    if (!p) return cdFail(BASS_ERROR_DEVICE, FALSE);
    cdio_drive_read_cap_t read = 0;
    cdio_drive_write_cap_t write = 0;
    cdio_drive_misc_cap_t misc = 0;
    cdio_get_drive_cap(p, &read, &write, &misc);
    if (misc & CDIO_DRIVE_CAP_MISC_FILE) return cdFail(BASS_ERROR_NOTAVAIL, FALSE);
    driver_return_code_t rc = DRIVER_OP_ERROR;
    switch (action) {
      case BASS_CD_DOOR_OPEN:
        // Unlocked first: a locked tray does not move.
        if (d->locked) mmc_prevent_allow_medium_removal(p, false, false, 0);
        d->locked = false;
        rc = mmc_eject_media(p);
        break;
      case BASS_CD_DOOR_CLOSE:
        rc = mmc_close_tray(p);
        if (rc == DRIVER_OP_SUCCESS) d->cdio.reset();  // a new disc may be in
        break;
      case BASS_CD_DOOR_LOCK:
      case BASS_CD_DOOR_UNLOCK:
        rc = mmc_prevent_allow_medium_removal(p, action == BASS_CD_DOOR_LOCK, false, 0);
        if (rc == DRIVER_OP_SUCCESS) d->locked = action == BASS_CD_DOOR_LOCK;
        break;
    }
    if (rc != DRIVER_OP_SUCCESS)
      return cdFail(rc == DRIVER_OP_UNSUPPORTED || rc == DRIVER_OP_NOT_PERMITTED
                        ? BASS_ERROR_NOTAVAIL
                        : BASS_ERROR_DEVICE,
                    FALSE);
    return cdOk(TRUE);
  });
}

BOOL BASS_CD_DoorIsOpen(DWORD drive) {
  return guardedCd<BOOL>(FALSE, [&]() -> BOOL {
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return FALSE;
    if (d->image) return cdOk(FALSE);
    CdIo_t* p = handleOf(*d);
    if (!p) return FALSE;
    return cdOk(mmc_get_tray_status(p) == 1 ? TRUE : FALSE);
  });
}

BOOL BASS_CD_DoorIsLocked(DWORD drive) {
  return guardedCd<BOOL>(FALSE, [&]() -> BOOL {
    std::lock_guard lock(drives().mutex);
    Drive* d = drives().find(drive);
    if (!d) return FALSE;
    return cdOk(d->locked ? TRUE : FALSE);
  });
}

HSTREAM BASS_CD_StreamCreate(DWORD drive, DWORD track, DWORD flags) {
  return guardedCd<HSTREAM>(0u, [&]() -> HSTREAM {
    if (inRender()) return cdFail(BASS_ERROR_NOTAVAIL, 0u);
    CdTrackSource source;
    {
      std::lock_guard lock(drives().mutex);
      Drive* d = drives().find(drive);
      if (!d) return 0u;
      CdIo_t* p = nullptr;
      int t = 0;
      if (int e = trackOf(*d, track, &p, &t)) return cdFail(e, 0u);
      if (cdio_get_track_format(p, track_t(t)) != TRACK_FORMAT_AUDIO)
        return cdFail(BASS_ERROR_NOTAUDIO, 0u);
      source.path = d->path;
      source.image = d->image;
      source.cdioTrack = t;
      source.firstSector = cdio_get_track_lsn(p, track_t(t));
      source.sectors = int32_t(cdio_get_track_sec_count(p, track_t(t)));
      if (source.firstSector == CDIO_INVALID_LSN || source.sectors <= 0)
        return cdFail(BASS_ERROR_CDREAD, 0u);
    }
    auto report = std::make_shared<CdErrorReport>(track);
    int error = BASS_OK;
    std::unique_ptr<Decoder> decoder = CdDecoder::open(source, report, &error);
    if (!decoder) return cdFail(error, 0u);
    flags &= BASS_SAMPLE_FLOAT | BASS_STREAM_AUTOFREE | BASS_STREAM_DECODE | BASS_STREAM_FREEPREV;

    Engine& e = Engine::get();
    std::lock_guard lock(e.mutex);
    if (!e.initialised) return cdFail(BASS_ERROR_INIT, 0u);
    // A played track reads ahead on a thread of its own: a drive that stalls on a scratch
    // then holds up that thread, not the engine's feeder, which takes what is there and comes
    // back (rendering offline, it waits for it). A decoding stream reads on demand.
    if (!(flags & BASS_STREAM_DECODE))
      decoder = std::make_unique<PrefetchDecoder>(std::move(decoder), e.output == nullptr);
    if ((flags & BASS_STREAM_FREEPREV) && gPreviousCdStream) {
      if (Channel* prev = e.find(gPreviousCdStream)) e.free(prev);
      gPreviousCdStream = 0;
    }
    const DWORD chFlags = flags & ~BASS_STREAM_FREEPREV;
    auto channel = std::make_unique<Channel>(chFlags, 44100, 2, BASS_CTYPE_STREAM_CD,
                                             decoder->lengthFrames(), e.rate, false);
    auto src = std::make_unique<Source>();
    src->decoder = std::move(decoder);
    src->flags = chFlags;
    const HSTREAM h = e.add(std::move(channel), std::move(src));
    if (!h) return cdFail(BASS_ERROR_NOCHAN, 0u);
    if (flags & BASS_STREAM_FREEPREV) gPreviousCdStream = h;
    report->setHandle(h);
    return cdOk(h);
  });
}

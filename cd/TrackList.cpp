#include "TrackList.h"

#include <cmath>
#include <cstring>

#include "Seconds2HMS.h"
#include "bass.h"

namespace cd {

namespace {

std::string twoDigits(int n) {
  return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string entry(const std::vector<std::string>& table, int n) {
  return size_t(n) < table.size() ? table[size_t(n)] : std::string();
}

// A block from the library ends with an empty string; this is its length with that end.
size_t blockSize(const char* block) {
  size_t n = 0;
  while (block[n] != '\0') n += std::strlen(block + n) + 1;
  return n + 1;
}

}  // namespace

std::vector<DriveLine> listDrives() {
  std::vector<DriveLine> drives;
  for (DWORD a = 0;; ++a) {
    const char* description = BASS_CD_GetDriveDescription(a);
    if (!description) break;
    drives.push_back({int(a), description});
  }
  return drives;
}

long trackSeconds(int64_t lengthBytes) {
  return long(std::lround(double(lengthBytes) / double(kCdBytesPerSecond)));
}

std::string trackLine(int track, int64_t lengthBytes) {
  return twoDigits(track + 1) + "\tTrack " + std::to_string(track + 1) + "\t[" +
         Seconds2HMS(trackSeconds(lengthBytes)) + "]";
}

std::string cdTextTrackLine(int track, const std::string& performer, const std::string& title,
                            int64_t lengthBytes) {
  return twoDigits(track + 1) + "\t" + performer + " / " + title + "\t[" +
         Seconds2HMS(trackSeconds(lengthBytes)) + "]";
}

TrackListing loadTrackList(uint32_t drive) {
  TrackListing list;
  if (!BASS_CD_IsReady(drive)) return list;
  const DWORD n = BASS_CD_GetTracks(drive);
  if (n == DWORD(-1)) {
    list.status = TrackListing::TrackCountFailed;
    return list;
  }
  list.status = TrackListing::Listed;
  CdTextTables text;
  if (const char* block = BASS_CD_GetID(drive, BASS_CDID_CDTEXT)) {
    text = parseCdText(block, blockSize(block));
    list.fromCdText = true;
    list.artist = entry(text.performer, 0);
    list.album = entry(text.title, 0);
  } else {
    list.artist = kUnknownArtist;
    list.album = kUnknownAlbum;
  }
  for (int t = 0; t < int(n); ++t) {
    const DWORD length = BASS_CD_GetTrackLength(drive, DWORD(t));
    if (length == DWORD(-1) || length == 0) {
      list.failures.push_back({t, BASS_ErrorGetCode()});
      continue;
    }
    list.lines.push_back(list.fromCdText ? cdTextTrackLine(t, entry(text.performer, t + 1),
                                                           entry(text.title, t + 1), length)
                                         : trackLine(t, length));
  }
  return list;
}

}  // namespace cd

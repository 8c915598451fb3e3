// The drive list and the track list of the CD window: what LoadTrackList and
// LoadTrackListFromCDText put into the list, the artist and the album, with the messages the
// window shows on the way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CdText.h"

namespace cd {

constexpr long kCdBytesPerSecond = 176400;  // 44.1 kHz, 16-bit stereo
inline constexpr const char* kUnknownArtist = "Unknown Artist";
inline constexpr const char* kUnknownAlbum = "Unknown Album";
inline constexpr const char* kTrackCountError = "Error retreiving number of tracks.";
inline constexpr const char* kTrackLengthError = "There was an error.";
inline constexpr const char* kPlaybackError =
    "There was an error playing back and Audio CD stream. Most probable cause is the CD drive "
    "was opened.";

struct DriveLine {
  int index;         // the library's drive index (the item data)
  std::string text;  // the line: the device path, or "image: " and the image file
};

// Every drive the library lists, in its order (the window's lastDriveIndex is size() - 1).
std::vector<DriveLine> listDrives();

// Whole seconds of a track of `lengthBytes`, rounded as the window rounds them.
long trackSeconds(int64_t lengthBytes);
// "01\tTrack 1\t[03:25]": the line of track index `track` (0-based) without CD-TEXT.
std::string trackLine(int track, int64_t lengthBytes);
// "01\tPerformer / Title\t[03:25]".
std::string cdTextTrackLine(int track, const std::string& performer, const std::string& title,
                            int64_t lengthBytes);

struct TrackListing {
  enum Status { Listed, NoDisc, TrackCountFailed } status = NoDisc;
  std::string artist;
  std::string album;
  std::vector<std::string> lines;
  // Tracks whose length could not be read (left out of `lines`), with the error code each
  // gave: the window shows ShowErrorCode(kTrackLengthError, code) for each.
  struct Failure {
    int track;
    int code;
  };
  std::vector<Failure> failures;
  bool fromCdText = false;
};

// LoadTrackList of drive `drive`: empty with NoDisc when no disc is ready, TrackCountFailed
// when the count can't be read (the window shows kTrackCountError), else the lines, from the
// disc's CD-TEXT when it has one.
TrackListing loadTrackList(uint32_t drive);

}  // namespace cd

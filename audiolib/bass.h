// The audio library interface of orivelR: the operations the player, the CD window and the
// renderer call, by their names, over the system's own engine (audiolib/Engine.*).
//
// Handles are 32-bit and 0 means failure. Every failing call returns 0 (or FALSE), leaves an
// error code for the calling thread (BASS_ErrorGetCode, BASS_FX_ErrorGetCode) and never throws.
// Positions and lengths are bytes of the channel's own decoded format (its rate, its channel
// count, 4 bytes a sample for float channels, 2 for 16-bit ones).
#pragma once

#include <cstdint>
#include <memory>

namespace audiolib {
class ChannelRenderer;
}

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HMUSIC = DWORD;
using HCHANNEL = DWORD;
using HDSP = DWORD;
using HSYNC = DWORD;
using HBUS = DWORD;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// ---- error codes (BASS_ErrorGetCode / BASS_FX_ErrorGetCode) -------------------------------
constexpr int BASS_OK = 0;
constexpr int BASS_ERROR_MEM = 1;        // out of memory
constexpr int BASS_ERROR_FILEOPEN = 2;   // the file could not be opened
constexpr int BASS_ERROR_DRIVER = 3;     // no output device driver available
constexpr int BASS_ERROR_HANDLE = 5;     // not a valid handle (or of the wrong kind)
constexpr int BASS_ERROR_FORMAT = 6;     // unsupported sample format
constexpr int BASS_ERROR_POSITION = 7;   // invalid position
constexpr int BASS_ERROR_INIT = 8;       // BASS_Init has not succeeded
constexpr int BASS_ERROR_START = 9;      // the output could not be started
constexpr int BASS_ERROR_ALREADY = 14;   // already initialised / already attached
constexpr int BASS_ERROR_NOCHAN = 18;    // no free channel slot
constexpr int BASS_ERROR_ILLTYPE = 19;   // unknown type (effect, sync, config option)
constexpr int BASS_ERROR_ILLPARAM = 20;  // an illegal parameter
constexpr int BASS_ERROR_DEVICE = 23;    // no such device
constexpr int BASS_ERROR_NOTAVAIL = 37;  // not available on this channel
constexpr int BASS_ERROR_DECODE = 38;    // the channel is (or is not) a decoding channel
constexpr int BASS_ERROR_FILEFORM = 41;  // the file's format is not recognised
constexpr int BASS_ERROR_ENDED = 45;     // the channel has ended
constexpr int BASS_ERROR_UNKNOWN = -1;

// ---- flags -------------------------------------------------------------------------------
constexpr DWORD BASS_SAMPLE_LOOP = 0x4;          // loop the channel (modules: loop the song)
constexpr DWORD BASS_SAMPLE_FLOAT = 0x100;       // 32-bit float samples
constexpr DWORD BASS_MUSIC_RAMP = 0x200;         // volume ramping of module notes
constexpr DWORD BASS_STREAM_AUTOFREE = 0x40000;  // the engine frees the channel at its end
constexpr DWORD BASS_STREAM_FREEPREV = 0x10000;  // free the previous stream of the same kind
constexpr DWORD BASS_STREAM_DECODE = 0x200000;   // decode only, read with BASS_ChannelGetData

// ---- configuration options (BASS_SetConfig) ----------------------------------------------
constexpr DWORD BASS_CONFIG_FLOATDSP = 9;  // DSP callbacks and effects get float samples

// ---- channel states (BASS_ChannelIsActive) -----------------------------------------------
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2;
constexpr DWORD BASS_ACTIVE_PAUSED = 3;

// ---- syncs (BASS_ChannelSetSync) ---------------------------------------------------------
constexpr DWORD BASS_SYNC_END = 2;               // the channel reached its end
constexpr DWORD BASS_SYNC_SLIDE = 5;             // an attribute slide finished
constexpr DWORD BASS_SYNC_ONETIME = 0x80000000;  // flag: remove the sync after it fired

// Devices of BASS_Init: 0 renders on demand (no sound, see BASS_MixGetData); 1 (or -1) is the
// system's default output; 2, 3, ... are the output devices in the order SDL lists them.
constexpr int BASS_DEVICE_NOSOUND = 0;
constexpr int BASS_DEVICE_DEFAULT = 1;

// ---- effect types of the effects add-on and their records --------------------------------
constexpr int kFxChannelGain = 4;  // {left, right}: linear gains of the stream's two channels
constexpr int kFxPeakingEq = 5;    // EqBand: one band of a peaking equaliser per band index
constexpr int kFxCompressor = 11;  // {10, 10, 10, gain dB, release ms}: make-up gain + limiter
// This system's own: the remover that keeps the band (centre extraction in the frequency
// domain, stereo streams only; it delays the stream by its window) and a plain delay, which
// keeps a stream in step with one that went through it.
constexpr int kFxCentreRemover = 20;  // FxCentreRemover
constexpr int kFxDelay = 21;          // FxDelay

struct FxChannelGain {
  float left;
  float right;
};

struct EqBand {
  int32_t band;      // band index; a new index adds a band, a known one is updated
  DWORD sampleRate;  // rate the centre frequency is meant for (the stream's rate)
  float bandwidth;   // octaves
  float q;           // 0 = use the bandwidth
  float center;      // Hz
  float gain;        // dB
};
static_assert(sizeof(EqBand) == 24);

struct FxCompressor {
  float threshold;  // the first three fields are the record's own and are kept as given
  float attack;
  float ratio;
  float gain;     // make-up gain in dB, 0 = unchanged
  float release;  // limiter release in ms
};

// ---- records -----------------------------------------------------------------------------
struct BASS_CHANNELINFO {
  DWORD freq;   // sample rate
  DWORD chans;  // channel count
  DWORD flags;  // creation flags (BASS_SAMPLE_FLOAT, BASS_STREAM_DECODE, ...)
  DWORD ctype;  // kind of channel, BASS_CTYPE_*
};
constexpr DWORD BASS_CTYPE_STREAM = 0x10000;
constexpr DWORD BASS_CTYPE_STREAM_WAV = 0x10001;  // any PCM file read by libsndfile
constexpr DWORD BASS_CTYPE_STREAM_MP3 = 0x10005;
constexpr DWORD BASS_CTYPE_MUSIC = 0x20000;

// kFxCentreRemover: `voice` 0..1 of the song as it was blended back, `width` 0..1 how close to
// the centre a sound must be to go.
struct FxCentreRemover {
  float voice;
  float width;
};
// kFxDelay: the delay in frames, 0 .. kMaxDelayFrames.
struct FxDelay {
  int frames;
};
constexpr int kMaxDelayFrames = 16384;

// ---- callbacks ---------------------------------------------------------------------------
// A DSP callback changes `length` bytes of samples at `buffer` in place, on the mixing thread.
using DSPPROC = void(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user);
// A sync callback runs on the engine's event thread, never on the mixing thread.
using SYNCPROC = void(HSYNC handle, DWORD channel, DWORD data, void* user);
// A stream callback writes up to `length` bytes at `buffer` and returns the count written,
// or'ed with BASS_STREAMPROC_END at the stream's end. Called on the engine's feeder thread.
using STREAMPROC = DWORD(HSTREAM handle, void* buffer, DWORD length, void* user);
constexpr DWORD BASS_STREAMPROC_END = 0x80000000;

// ---- the engine --------------------------------------------------------------------------
DWORD BASS_GetVersion();  // low word major, high word minor
BOOL BASS_SetConfig(DWORD option, DWORD value);
DWORD BASS_GetConfig(DWORD option);
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);
BOOL BASS_Free();
int BASS_ErrorGetCode();
BOOL BASS_SetVolume(DWORD volume);  // master output volume 0..100
DWORD BASS_GetVolume();             // master output volume 0..100, or -1 (0xFFFFFFFF)
// Device 0 only: renders the next `length` bytes of the output mix (float stereo at the
// device rate) into `buffer`, advancing every playing channel; returns the bytes written.
DWORD BASS_MixGetData(void* buffer, DWORD length);
// Latency of the output in milliseconds between a rendered block and the speakers.
DWORD BASS_GetLatency();

// ---- streams and modules -----------------------------------------------------------------
HSTREAM BASS_StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user);
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                      DWORD freq);
// A stream whose float stereo frames at the device rate `renderer` makes while the engine mixes
// (the MIDI synthesizer). Played, stopped, metered and given DSP like any stream.
HSTREAM BASS_StreamCreateRendered(std::unique_ptr<audiolib::ChannelRenderer> renderer, DWORD flags);
BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags);
BOOL BASS_StreamFree(HSTREAM handle);
BOOL BASS_MusicFree(HMUSIC handle);
QWORD BASS_StreamGetLength(DWORD handle);  // bytes, or -1 (all bits set) on failure

// ---- channels ----------------------------------------------------------------------------
DWORD BASS_ChannelIsActive(DWORD handle);
BOOL BASS_ChannelStop(DWORD handle);
BOOL BASS_ChannelPause(DWORD handle);
BOOL BASS_ChannelResume(DWORD handle);
QWORD BASS_ChannelGetPosition(DWORD handle);  // bytes, or -1 on failure
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos);
float BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);  // negative on failure
QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double seconds);
// freq: -1 keeps, 0 the channel's own rate; volume 0..100, -1 keeps; pan -100..100, -101 keeps.
BOOL BASS_ChannelSetAttributes(DWORD handle, int freq, int volume, int pan);
BOOL BASS_ChannelGetAttributes(DWORD handle, DWORD* freq, DWORD* volume, int* pan);
// Slides to the given attributes over `time` ms (same "keep" values); a SLIDE sync fires at
// the end.
BOOL BASS_ChannelSlideAttributes(DWORD handle, int freq, int volume, int pan, DWORD time);
DWORD BASS_ChannelIsSliding(DWORD handle);
BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);
// Peak level of the latest block: left in the low word, right in the high word (0..32768);
// -1 (0xFFFFFFFF) when the channel is not playing.
DWORD BASS_ChannelGetLevel(DWORD handle);
// Decoding channels: decodes up to `length` bytes through the channel's DSP chain; returns
// the bytes written, or -1 (0xFFFFFFFF) at the end or on failure.
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);
HDSP BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, void* user, int priority);
BOOL BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp);
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync);

// ---- song buses --------------------------------------------------------------------------
// A song's streams played as one: a stream added to a bus is mixed into it (with its own DSP,
// volume and pan as before), and the bus moves the sum in key and tempo and gives it the song's
// gain before the master mix. Positions and lengths of its streams stay in song time.
HBUS BASS_BusCreate();
// Its streams go back to the master mix.
BOOL BASS_BusFree(HBUS bus);
// A stream is in one bus at most; a decoding channel joins none (BASS_ERROR_DECODE).
BOOL BASS_BusAddChannel(HBUS bus, DWORD handle);
// Key in semitones (-6..6) and tempo as a share of the song's own (0.5..1.5; 0.9 is slower).
// The first change away from 0 and 1 builds the bus's stretcher, which takes a moment.
BOOL BASS_BusSetKeyTempo(HBUS bus, float semitones, float tempo);
// The song's gain in dB (-60..40); `ramp` FALSE takes it at once, else it moves there gently.
BOOL BASS_BusSetGain(HBUS bus, float dB, BOOL ramp);
// The delay in ms that the bus's stretcher adds now (0 when it is out of the path).
float BASS_BusGetLatency(HBUS bus);

// ---- the effects add-on ------------------------------------------------------------------
DWORD BASS_FX_GetVersion();
int BASS_FX_ErrorGetCode();
BOOL BASS_FX_DSP_Set(DWORD handle, int type, int priority);
BOOL BASS_FX_DSP_Remove(DWORD handle, int type);
BOOL BASS_FX_DSP_SetParameters(DWORD handle, int type, const void* params);
BOOL BASS_FX_DSP_GetParameters(DWORD handle, int type, void* params);
// Frames (at the channel's rate) by which the channel's effects delay it; -1 on failure.
int BASS_FX_GetLatency(DWORD handle);

// ---- the CD add-on (audiolib/CdDrive.cpp) ------------------------------------------------
// Drives are the machine's CD drives followed by the CD images (.cue, .toc) named in the
// colon-separated environment variable ORIVELR_CD_IMAGES; a drive's index is its place in
// that list. The list is read again when the variable changes.
constexpr int BASS_ERROR_NOCD = 12;      // no disc in the drive (or an unreadable image)
constexpr int BASS_ERROR_CDTRACK = 13;   // no such track on the disc
constexpr int BASS_ERROR_NOTAUDIO = 17;  // a data track, not audio
constexpr int BASS_ERROR_CREATE = 33;    // the output file could not be created
constexpr int BASS_ERROR_CDREAD = 34;    // the disc could not be read
constexpr int BASS_ERROR_CODEC = 44;     // no encoder for the format or bit rate asked for

constexpr DWORD BASS_CTYPE_STREAM_CD = 0x10200;
constexpr DWORD BASS_SYNC_CD_ERROR = 1000;  // a read error on a CD stream; data: the track
constexpr DWORD BASS_CDID_CDTEXT = 4;       // BASS_CD_GetID: the disc's CD-TEXT block

// BASS_CD_Door actions.
constexpr DWORD BASS_CD_DOOR_CLOSE = 0;
constexpr DWORD BASS_CD_DOOR_OPEN = 1;
constexpr DWORD BASS_CD_DOOR_LOCK = 2;
constexpr DWORD BASS_CD_DOOR_UNLOCK = 3;

// BASS_CD_INFO.rwflags bits.
constexpr DWORD BASS_CD_RWFLAG_READCDR = 0x1;
constexpr DWORD BASS_CD_RWFLAG_READCDRW = 0x2;
constexpr DWORD BASS_CD_RWFLAG_READCDRW2 = 0x4;
constexpr DWORD BASS_CD_RWFLAG_READDVD = 0x8;
constexpr DWORD BASS_CD_RWFLAG_READDVDR = 0x10;
constexpr DWORD BASS_CD_RWFLAG_READDVDRAM = 0x20;
constexpr DWORD BASS_CD_RWFLAG_READM2F1 = 0x100000;
constexpr DWORD BASS_CD_RWFLAG_READM2F2 = 0x200000;
constexpr DWORD BASS_CD_RWFLAG_READMULTI = 0x400000;
constexpr DWORD BASS_CD_RWFLAG_READCDDA = 0x1000000;
constexpr DWORD BASS_CD_RWFLAG_READCDDASPEED = 0x2000000;

struct BASS_CD_INFO {
  DWORD size;      // set to sizeof(BASS_CD_INFO) (28) by the caller
  DWORD rwflags;   // BASS_CD_RWFLAG_* bits
  BOOL canlock;    // the door can be locked
  BOOL canopen;    // the door can be opened and closed
  DWORD maxspeed;  // maximum read speed in KB/s, 0 when unknown
  DWORD cache;     // the drive's buffer in KB, 0 when unknown
  BOOL cdtext;     // the disc in the drive has CD-TEXT
};
static_assert(sizeof(BASS_CD_INFO) == 28);

// The drive's device path ("/dev/sr0"), or "image: <path>" for an image; null past the last
// drive. Valid until the drive list is read again.
const char* BASS_CD_GetDriveDescription(DWORD drive);
// There are no drive letters here: the drive's index, so that the letter a window makes of
// it ('A' + the value) tells the drives apart. The description carries the device path.
DWORD BASS_CD_GetDriveLetter(DWORD drive);  // -1 (0xFFFFFFFF) past the last drive
BOOL BASS_CD_GetInfo(DWORD drive, BASS_CD_INFO* info);
BOOL BASS_CD_IsReady(DWORD drive);
DWORD BASS_CD_GetTracks(DWORD drive);        // -1 when there is no readable disc
DWORD BASS_CD_GetTrackLength(DWORD drive, DWORD track);  // bytes of 44.1 kHz 16-bit stereo, -1
// BASS_CDID_CDTEXT: zero-terminated "TITLEn=..." and "PERFORMERn=..." strings (n = 0 for the
// disc, 1.. for the tracks), ended by an empty string; null when the disc has no CD-TEXT.
// Valid until the next call for the same drive.
const char* BASS_CD_GetID(DWORD drive, DWORD id);
BOOL BASS_CD_Door(DWORD drive, DWORD action);
BOOL BASS_CD_DoorIsOpen(DWORD drive);
BOOL BASS_CD_DoorIsLocked(DWORD drive);  // the lock this program set on the drive
// A stream of audio track `track` (0-based) at 44.1 kHz, 16-bit stereo, seekable. Flags:
// BASS_STREAM_DECODE, BASS_STREAM_AUTOFREE, BASS_STREAM_FREEPREV (free the CD stream made
// before with that flag), BASS_SAMPLE_FLOAT.
HSTREAM BASS_CD_StreamCreate(DWORD drive, DWORD track, DWORD flags);

// ---- the WMA add-on (audiolib/WmaEncoder.cpp) --------------------------------------------
using HWMENCODE = DWORD;
constexpr DWORD BASS_WMA_ENCODE_TAGS = 0x10000;  // tags are set before the first write

// The bit rates (bits per second) the encoder takes for 44.1 kHz stereo, highest first,
// ended by 0; null for any other rate or when no encoder is there.
const DWORD* BASS_WMA_EncodeGetRates(DWORD freq, DWORD flags);
// An encoder writing 16-bit stereo PCM at `freq` to `file`, or 0.
HWMENCODE BASS_WMA_EncodeOpenFile(DWORD freq, DWORD flags, DWORD bitrate, const char* file);
// Tags: "Title", "Author", "WM/AlbumTitle", "Description", "Rating", "Copyright",
// "WM/Genre", "WM/Year"; an empty name ends the tags (the file's header is then written).
BOOL BASS_WMA_EncodeSetTag(HWMENCODE handle, const char* tag, const char* text);
BOOL BASS_WMA_EncodeWrite(HWMENCODE handle, const void* buffer, DWORD length);
void BASS_WMA_EncodeClose(HWMENCODE handle);

namespace audiolib {
// Leaves `code` as the calling thread's BASS_ErrorGetCode (for the add-ons' own files).
void setLastError(int code);
}  // namespace audiolib

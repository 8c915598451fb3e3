#include "VRMixer.h"

#include <pulse/pulseaudio.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

namespace recorder {

int answerNoLine(std::string& text) {
  text = kNoLineText;
  return kNoLineRecSourceType;
}

namespace {

using Clock = std::chrono::steady_clock;
// How long one call may wait for the server, all its requests together.
constexpr auto kCallBound = std::chrono::seconds(2);

// The microphone loopback: short enough to sing with, long enough not to crackle.
constexpr int kLoopbackLatencyMs = 20;
constexpr const char* kLoopbackName = "orivelR microphone";
// Marks the loopbacks orivelR loads with their owner, "host:pid:start time", so that a later
// orivelR can remove one whose owner was killed before it could.
constexpr std::string_view kOwnerKey = "orivelr.owner=";

pa_volume_t toVolume(int level) {
  level = std::clamp(level, 0, 100);
  return pa_volume_t(std::lround(double(level) * PA_VOLUME_NORM / 100.0));
}

// The slider shows no more than 100, whatever the server allows.
int toLevel(const pa_cvolume& v) {
  const long level = std::lround(double(pa_cvolume_avg(&v)) * 100.0 / PA_VOLUME_NORM);
  return int(std::clamp(level, 0L, 100L));
}

// The port type that a record source type asks for; nullopt for the types without one.
std::optional<pa_device_port_type_t> portTypeOf(int type) {
  switch (type) {
    case 1:
      return PA_DEVICE_PORT_TYPE_LINE;
    case 6:
      return PA_DEVICE_PORT_TYPE_PHONE;
    case 7:
      return PA_DEVICE_PORT_TYPE_AUX;
    case 8:
      return PA_DEVICE_PORT_TYPE_SPDIF;
    case 9:
      return PA_DEVICE_PORT_TYPE_ANALOG;
    default:
      return std::nullopt;
  }
}

// Field 22 of /proc/<pid>/stat: when the process started, in clock ticks since boot. With the
// pid it names one process, even after the pid has been reused.
std::optional<unsigned long long> processStart(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const size_t paren = line.rfind(')');  // the command name may hold blanks and brackets
  if (paren == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(paren + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i)
    if (!(fields >> field)) return std::nullopt;
  try {
    return std::stoull(field);
  } catch (...) {
    return std::nullopt;
  }
}

std::string hostName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

std::string ownOwnerTag() {
  const long pid = long(getpid());
  return hostName() + ":" + std::to_string(pid) + ":" +
         std::to_string(processStart(pid).value_or(0));
}

// The owner tag in a module argument, or empty.
std::string ownerTagIn(std::string_view argument) {
  const size_t at = argument.find(kOwnerKey);
  if (at == std::string_view::npos) return {};
  std::string_view rest = argument.substr(at + kOwnerKey.size());
  if (!rest.empty() && rest.front() == '"') rest.remove_prefix(1);
  const size_t end = rest.find_first_of("\"' ");
  return std::string(rest.substr(0, end));
}

// A tag of this machine whose process has gone (or whose pid now belongs to another process).
// Processes we may not look at count as alive: a loopback is never removed on a guess.
bool ownerGone(const std::string& tag) {
  const size_t second = tag.rfind(':');
  if (second == std::string::npos || second == 0) return false;
  const size_t first = tag.rfind(':', second - 1);
  if (first == std::string::npos) return false;
  if (tag.substr(0, first) != hostName()) return false;
  long pid = 0;
  unsigned long long start = 0;
  try {
    pid = std::stol(tag.substr(first + 1, second - first - 1));
    start = std::stoull(tag.substr(second + 1));
  } catch (...) {
    return false;
  }
  if (pid <= 0) return false;
  if (kill(pid_t(pid), 0) != 0 && errno == ESRCH) return true;
  const auto now = processStart(pid);  // also when the process is another user's
  return now && *now != start;
}

struct DeviceInfo {
  uint32_t index = PA_INVALID_INDEX;
  std::string name;
  pa_cvolume volume{};
  uint32_t monitorOf = PA_INVALID_INDEX;  // for a source: the sink it monitors
  int portType = -1;                      // of the active port; -1 = none
};

struct InputInfo {
  uint32_t index = PA_INVALID_INDEX;
  uint32_t module = PA_INVALID_INDEX;
  pa_cvolume volume{};
  bool mute = false;
};

struct ModuleInfo {
  uint32_t index = PA_INVALID_INDEX;
  std::string name;
  std::string argument;
};

DeviceInfo fromSink(const pa_sink_info& i) {
  DeviceInfo d;
  d.index = i.index;
  d.name = i.name ? i.name : "";
  d.volume = i.volume;
  if (i.active_port) d.portType = int(i.active_port->type);
  return d;
}

DeviceInfo fromSource(const pa_source_info& i) {
  DeviceInfo d;
  d.index = i.index;
  d.name = i.name ? i.name : "";
  d.volume = i.volume;
  d.monitorOf = i.monitor_of_sink;
  if (i.active_port) d.portType = int(i.active_port->type);
  return d;
}

InputInfo fromInput(const pa_sink_input_info& i) {
  return {i.index, i.owner_module, i.volume, i.mute != 0};
}

}  // namespace

struct VRMixer::Impl {
  explicit Impl(VRMixer& owner) : self(owner), ownerTag(ownOwnerTag()) {}

  // One request on the server: its callback fills the result and finishes it.
  struct Request {
    Impl* d = nullptr;
    bool done = false;
    bool ok = false;
  };
  template <class T>
  struct Collect : Request {
    std::vector<T> items;
  };

  VRMixer& self;
  const std::string ownerTag;
  pa_threaded_mainloop* loop = nullptr;
  pa_context* ctx = nullptr;
  bool loopStarted = false;

  // One public call at a time; recursive, since a no-line handler may call back in.
  std::recursive_mutex callMutex;
  int callDepth = 0;
  Clock::time_point deadline;

  // Callers wait here for the main loop's callbacks.
  std::mutex waitMutex;
  std::condition_variable waitCv;
  pa_context_state_t seenState = PA_CONTEXT_UNCONNECTED;  // the context's, as last told

  std::atomic<int> recType{kRecSrcMic};  // read by the level setters without the call lock
  int playLine = kPlaySelectMic;
  std::atomic<int> playLevel{100};
  std::string noLineText;
  // Shared with the main loop's thread.
  std::atomic<bool> playMuted{true};
  std::atomic<uint32_t> loopModule{PA_INVALID_INDEX};
  std::atomic<uint32_t> loopInput{PA_INVALID_INDEX};
  std::atomic<bool> inputMuted{false};  // last known mute of the loopback's stream

  // ---- levels on their way to the server ----------------------------------------------------
  // A setter leaves its level here and returns; the sender applies the latest of each, so a
  // slider's rapid steps become one request when the server is slow. A level stays here, for
  // the getters, until the sender has applied it.
  struct Pending {
    std::optional<int> master;
    std::optional<std::pair<int, int>> rec;  // the record source type and its level
    std::optional<int> play;
    int sending = 0;  // levels taken but not yet applied
    bool quit = false;
  };
  std::mutex pendingMutex;
  std::condition_variable pendingCv;
  Pending pending;
  std::optional<int> sentMaster, sentRec, sentPlay;  // in flight, for the getters
  std::thread sender;

  bool readyNow() {
    std::lock_guard lock(waitMutex);
    return seenState == PA_CONTEXT_READY;
  }

  // Without a connection the level still goes to the sender, which connects again.
  template <class Set>
  bool post(Set set) {
    {
      std::lock_guard lock(pendingMutex);
      set(pending);
    }
    pendingCv.notify_one();
    return readyNow();
  }

  void sendLoop() {
    std::unique_lock lock(pendingMutex);
    for (;;) {
      pendingCv.wait(lock,
                     [&] { return pending.quit || pending.master || pending.rec || pending.play; });
      if (!pending.master && !pending.rec && !pending.play) return;  // quit with nothing left
      const auto master = std::exchange(pending.master, std::nullopt);
      const auto rec = std::exchange(pending.rec, std::nullopt);
      const auto play = std::exchange(pending.play, std::nullopt);
      sentMaster = master;
      sentRec = rec ? std::optional<int>(rec->second) : std::nullopt;
      sentPlay = play;
      lock.unlock();
      {
        Call call(*this);
        if (master)
          if (const auto s = sink("@DEFAULT_SINK@")) setSinkVolume(*s, *master);
        if (rec)
          if (const auto s = sourceOfType(rec->first)) setSourceVolume(*s, rec->second);
        if (play && loopbackLoaded())
          if (const auto in = input(loopInput.load())) setInputVolume(*in, *play);
      }
      lock.lock();
      sentMaster = sentRec = sentPlay = std::nullopt;
    }
  }

  // The level a setter left that the server may not have yet.
  std::optional<int> unsent(std::optional<int> Pending::*queued, std::optional<int> Impl::*sent) {
    std::lock_guard lock(pendingMutex);
    if (pending.*queued) return pending.*queued;
    return this->*sent;
  }

  void stopSender() {
    {
      std::lock_guard lock(pendingMutex);
      pending.quit = true;
    }
    pendingCv.notify_one();
    if (sender.joinable()) sender.join();
  }

  // Holds the call lock; the outermost call sets the bound and first (re)connects, so that a
  // loopback lost with a restarted server is forgotten before the call looks at it.
  class Call {
   public:
    explicit Call(Impl& d) : d_(d), lock_(d.callMutex) {
      if (d_.callDepth++ > 0) return;
      d_.deadline = Clock::now() + kCallBound;
      d_.ensureConnected();
    }
    ~Call() { --d_.callDepth; }

   private:
    Impl& d_;
    std::lock_guard<std::recursive_mutex> lock_;
  };

  // ---- connection ---------------------------------------------------------------------------

  bool start() {
    loop = pa_threaded_mainloop_new();
    if (!loop) return false;
    pa_threaded_mainloop_set_name(loop, "orivelR mixer");
    loopStarted = pa_threaded_mainloop_start(loop) == 0;
    return loopStarted;
  }

  void stop() {
    if (loopStarted) pa_threaded_mainloop_stop(loop);  // no callback runs after this
    dropContext();
    if (loop) pa_threaded_mainloop_free(loop);
    loop = nullptr;
    loopStarted = false;
  }

  // Without the loop's lock, or with the loop stopped.
  void dropContext() {
    if (!ctx) return;
    if (loopStarted) pa_threaded_mainloop_lock(loop);
    pa_context_set_state_callback(ctx, nullptr, nullptr);
    pa_context_set_subscribe_callback(ctx, nullptr, nullptr);
    pa_context_disconnect(ctx);
    pa_context_unref(ctx);
    ctx = nullptr;
    if (loopStarted) pa_threaded_mainloop_unlock(loop);
    std::lock_guard lock(waitMutex);
    seenState = PA_CONTEXT_UNCONNECTED;
  }

  pa_context_state_t contextState() {
    pa_threaded_mainloop_lock(loop);
    const auto s = ctx ? pa_context_get_state(ctx) : PA_CONTEXT_UNCONNECTED;
    pa_threaded_mainloop_unlock(loop);
    return s;
  }

  bool isReady() { return loopStarted && contextState() == PA_CONTEXT_READY; }

  // Connects when there is no working connection (the first call, or the server went away
  // and may have come back), within the call's bound.
  bool ensureConnected() {
    if (!loopStarted || pa_threaded_mainloop_in_thread(loop)) return false;
    if (isReady()) return true;
    dropContext();
    pa_threaded_mainloop_lock(loop);
    ctx = pa_context_new(pa_threaded_mainloop_get_api(loop), "orivelR mixer");
    bool ok = ctx != nullptr;
    if (ok) {
      {
        std::lock_guard lock(waitMutex);
        seenState = PA_CONTEXT_CONNECTING;
      }
      pa_context_set_state_callback(ctx, &Impl::onContextState, this);
      pa_context_set_subscribe_callback(ctx, &Impl::onEvent, this);
      ok = pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }
    pa_threaded_mainloop_unlock(loop);
    if (!ok) return false;
    {
      std::unique_lock lock(waitMutex);
      waitCv.wait_until(lock, deadline, [&] {
        return seenState == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(seenState);
      });
    }
    if (!isReady()) return false;
    pa_threaded_mainloop_lock(loop);
    if (pa_operation* op =
            pa_context_subscribe(ctx, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
      pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop);
    removeStaleLoopbacks();
    return true;
  }

  static void onContextState(pa_context* c, void* p) {
    auto* d = static_cast<Impl*>(p);
    std::lock_guard lock(d->waitMutex);
    d->seenState = pa_context_get_state(c);
    d->waitCv.notify_all();
  }

  // ---- requests -----------------------------------------------------------------------------

  static void finish(Request* r, bool ok) {
    std::lock_guard lock(r->d->waitMutex);
    r->done = true;
    r->ok = ok;
    r->d->waitCv.notify_all();
  }

  // Issues one request and waits for its end, at most until the call's deadline; a request
  // that is still running then is cancelled, so its callback never runs after this returns.
  template <class Issue>
  bool await(Request& r, Issue issue) {
    if (!ensureConnected()) return false;
    r.d = this;
    pa_threaded_mainloop_lock(loop);
    pa_operation* op = issue(ctx);
    pa_threaded_mainloop_unlock(loop);
    if (!op) return false;
    {
      std::unique_lock lock(waitMutex);
      waitCv.wait_until(lock, deadline, [&] { return r.done || !PA_CONTEXT_IS_GOOD(seenState); });
    }
    pa_threaded_mainloop_lock(loop);
    if (!r.done) pa_operation_cancel(op);
    pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop);
    return r.done && r.ok;
  }

  static void onSuccess(pa_context*, int success, void* r) {
    finish(static_cast<Request*>(r), success != 0);
  }

  // The callback of a list request: each entry converted and kept, the end finishing it.
  template <class Out, class Info, Out (*Convert)(const Info&)>
  static void collectInto(pa_context*, const Info* i, int eol, void* p) {
    auto* r = static_cast<Collect<Out>*>(p);
    if (eol == 0 && i) r->items.push_back(Convert(*i));
    if (eol != 0) finish(r, eol > 0);
  }

  std::optional<DeviceInfo> sink(const std::string& name) {
    Collect<DeviceInfo> r;
    const bool ok = await(r, [&](pa_context* c) {
      return pa_context_get_sink_info_by_name(c, name.c_str(),
                                              &collectInto<DeviceInfo, pa_sink_info, fromSink>, &r);
    });
    if (!ok || r.items.empty()) return std::nullopt;
    return r.items.front();
  }

  std::optional<DeviceInfo> source(const std::string& name) {
    Collect<DeviceInfo> r;
    const bool ok = await(r, [&](pa_context* c) {
      return pa_context_get_source_info_by_name(
          c, name.c_str(), &collectInto<DeviceInfo, pa_source_info, fromSource>, &r);
    });
    if (!ok || r.items.empty()) return std::nullopt;
    return r.items.front();
  }

  std::optional<std::vector<DeviceInfo>> sources() {
    Collect<DeviceInfo> r;
    const bool ok = await(r, [&](pa_context* c) {
      return pa_context_get_source_info_list(
          c, &collectInto<DeviceInfo, pa_source_info, fromSource>, &r);
    });
    if (!ok) return std::nullopt;
    return std::move(r.items);
  }

  std::optional<InputInfo> input(uint32_t index) {
    Collect<InputInfo> r;
    const bool ok = await(r, [&](pa_context* c) {
      return pa_context_get_sink_input_info(
          c, index, &collectInto<InputInfo, pa_sink_input_info, fromInput>, &r);
    });
    if (!ok || r.items.empty()) return std::nullopt;
    return r.items.front();
  }

  std::optional<std::vector<InputInfo>> inputs() {
    Collect<InputInfo> r;
    const bool ok = await(r, [&](pa_context* c) {
      return pa_context_get_sink_input_info_list(
          c, &collectInto<InputInfo, pa_sink_input_info, fromInput>, &r);
    });
    if (!ok) return std::nullopt;
    return std::move(r.items);
  }

  std::optional<std::vector<ModuleInfo>> modules() {
    Collect<ModuleInfo> r;
    const bool ok = await(r, [&](pa_context* c) {
      return pa_context_get_module_info_list(
          c,
          [](pa_context*, const pa_module_info* i, int eol, void* p) {
            auto* r = static_cast<Collect<ModuleInfo>*>(p);
            if (eol == 0 && i)
              r->items.push_back(
                  {i->index, i->name ? i->name : "", i->argument ? i->argument : ""});
            if (eol != 0) finish(r, eol > 0);
          },
          &r);
    });
    if (!ok) return std::nullopt;
    return std::move(r.items);
  }

  bool setSinkVolume(const DeviceInfo& s, int level) {
    pa_cvolume v;
    pa_cvolume_set(&v, s.volume.channels, toVolume(level));
    Request r;
    return await(r, [&](pa_context* c) {
      return pa_context_set_sink_volume_by_index(c, s.index, &v, &Impl::onSuccess, &r);
    });
  }

  bool setSourceVolume(const DeviceInfo& s, int level) {
    pa_cvolume v;
    pa_cvolume_set(&v, s.volume.channels, toVolume(level));
    Request r;
    return await(r, [&](pa_context* c) {
      return pa_context_set_source_volume_by_index(c, s.index, &v, &Impl::onSuccess, &r);
    });
  }

  bool setInputVolume(const InputInfo& in, int level) {
    pa_cvolume v;
    pa_cvolume_set(&v, in.volume.channels, toVolume(level));
    Request r;
    return await(r, [&](pa_context* c) {
      return pa_context_set_sink_input_volume(c, in.index, &v, &Impl::onSuccess, &r);
    });
  }

  bool setInputMute(uint32_t index, bool mute) {
    Request r;
    return await(r, [&](pa_context* c) {
      return pa_context_set_sink_input_mute(c, index, mute, &Impl::onSuccess, &r);
    });
  }

  bool unloadModule(uint32_t index) {
    Request r;
    return await(
        r, [&](pa_context* c) { return pa_context_unload_module(c, index, &Impl::onSuccess, &r); });
  }

  // ---- sources --------------------------------------------------------------------------------

  // The source that a record source type records from, as the machine is now.
  std::optional<DeviceInfo> sourceOfType(int type) {
    if (type == kRecSrcMic) return source("@DEFAULT_SOURCE@");
    if (type == kRecSrcWave) return source("@DEFAULT_MONITOR@");
    const auto port = portTypeOf(type);
    if (!port) return std::nullopt;
    const auto all = sources();
    if (!all) return std::nullopt;
    const auto fallback = source("@DEFAULT_SOURCE@");
    std::optional<DeviceInfo> found;
    for (const DeviceInfo& s : *all) {
      if (s.monitorOf != PA_INVALID_INDEX || s.portType != int(*port)) continue;
      if (fallback && s.index == fallback->index) return s;  // the default when it fits
      if (!found) found = s;
    }
    return found;
  }

  // ---- the microphone loopback --------------------------------------------------------------

  enum class Line { Ok, Missing, NoServer };

  // The microphone line exists when there is a default source that is not the monitor of the
  // default sink: a loopback from that monitor into its own sink would feed back on itself.
  Line microphone(std::optional<DeviceInfo>* mic = nullptr,
                  std::optional<DeviceInfo>* out = nullptr) {
    const auto src = source("@DEFAULT_SOURCE@");
    if (!src && !isReady()) return Line::NoServer;
    const auto snk = sink("@DEFAULT_SINK@");
    if (!snk && !isReady()) return Line::NoServer;
    if (!src || !snk || src->monitorOf == snk->index) return Line::Missing;
    if (mic) *mic = src;
    if (out) *out = snk;
    return Line::Ok;
  }

  bool noLine(std::string text) {
    if (self.onNoLine) self.onNoLine(text);
    noLineText = std::move(text);
    return false;
  }

  bool loopbackLoaded() const { return loopModule.load() != PA_INVALID_INDEX; }

  bool loadLoopback() {
    std::optional<DeviceInfo> mic, out;
    switch (microphone(&mic, &out)) {
      case Line::NoServer:
        return false;
      case Line::Missing:
        return noLine("No microphone line");
      case Line::Ok:
        break;
    }
    // Device names go into the module argument in quotes.
    if ((mic->name + out->name).find_first_of("\"'") != std::string::npos) return false;
    const std::string media = std::string("media.name=\"") + kLoopbackName + "\"";
    const std::string args = "source=\"" + mic->name + "\" sink=\"" + out->name +
                             "\" latency_msec=" + std::to_string(kLoopbackLatencyMs) +
                             " source_dont_move=true sink_dont_move=true"
                             " sink_input_properties='" +
                             media + " application.name=\"orivelR\" " + std::string(kOwnerKey) +
                             "\"" + ownerTag + "\"' source_output_properties='" + media + "'";
    struct Load : Request {
      uint32_t index = PA_INVALID_INDEX;
    } r;
    const bool loaded = await(r, [&](pa_context* c) {
      return pa_context_load_module(
          c, "module-loopback", args.c_str(),
          [](pa_context*, uint32_t index, void* p) {
            auto* r = static_cast<Load*>(p);
            r->index = index;
            finish(r, index != PA_INVALID_INDEX);
          },
          &r);
    });
    if (!loaded) return false;
    // The loopback makes its stream while it loads: it exists now.
    std::optional<InputInfo> stream;
    if (const auto all = inputs())
      for (const InputInfo& in : *all)
        if (in.module == r.index) stream = in;
    if (!stream) {
      unloadModule(r.index);
      return false;
    }
    inputMuted = false;
    loopInput = stream->index;
    loopModule = r.index;
    // A desktop's stream-restore may have given the new stream an old volume or mute. A
    // loopback whose level could not be set is not left playing.
    if (setInputVolume(*stream, playLevel) && setInputMute(stream->index, false)) return true;
    unloadLoopback();
    return false;
  }

  // A loopback that could not be removed is kept in mind, so that a later call (or the
  // destructor) tries again: a microphone must not stay on because the server was busy.
  bool unloadLoopback() {
    const uint32_t module = loopModule.exchange(PA_INVALID_INDEX);
    const uint32_t input = loopInput.exchange(PA_INVALID_INDEX);  // its removal is not news
    if (module == PA_INVALID_INDEX || unloadModule(module)) return true;
    loopModule = module;
    loopInput = input;
    return false;
  }

  // Runs on every (re)connection: removes tagged loopbacks whose owner has gone, and forgets
  // our own when it is no longer there (the server was restarted).
  void removeStaleLoopbacks() {
    const auto all = modules();
    if (!all) return;
    bool ownFound = false;
    for (const ModuleInfo& m : *all) {
      if (m.name != "module-loopback") continue;
      const std::string tag = ownerTagIn(m.argument);
      if (tag.empty()) continue;
      if (tag == ownerTag && m.index == loopModule.load())
        ownFound = true;
      else if (ownerGone(tag))
        unloadModule(m.index);
    }
    if (!ownFound && loopbackLoaded()) {
      loopModule = PA_INVALID_INDEX;
      loopInput = PA_INVALID_INDEX;
      playMuted = true;
    }
  }

  // ---- events from the server, on the main loop's thread --------------------------------------

  static void onEvent(pa_context* c, pa_subscription_event_type_t t, uint32_t index, void* p) {
    auto* d = static_cast<Impl*>(p);
    if ((t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) return;
    if (index == PA_INVALID_INDEX || index != d->loopInput.load()) return;
    const auto kind = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
      // Someone else removed the loopback: the microphone is no longer heard.
      d->loopInput = PA_INVALID_INDEX;
      d->loopModule = PA_INVALID_INDEX;
      d->playMuted = true;
      if (d->self.onPlayMuteChanged) d->self.onPlayMuteChanged(1);
    } else if (kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
      if (pa_operation* op = pa_context_get_sink_input_info(c, index, &Impl::onInputChanged, d))
        pa_operation_unref(op);
    }
  }

  static void onInputChanged(pa_context*, const pa_sink_input_info* i, int eol, void* p) {
    auto* d = static_cast<Impl*>(p);
    if (eol != 0 || !i || i->index != d->loopInput.load()) return;
    const bool mute = i->mute != 0;
    if (d->inputMuted.exchange(mute) == mute) return;  // our own change, or no mute change
    d->playMuted = mute;
    if (d->self.onPlayMuteChanged) d->self.onPlayMuteChanged(mute ? 1 : 0);
  }
};

// ---- VRMixer ------------------------------------------------------------------------------------

VRMixer::VRMixer() : d_(std::make_unique<Impl>(*this)) {
  {
    Impl::Call call(*d_);
    if (d_->start()) d_->ensureConnected();
  }
  d_->sender = std::thread([d = d_.get()] { d->sendLoop(); });
}

VRMixer::~VRMixer() {
  d_->stopSender();  // the last levels set reach the server first
  {
    Impl::Call call(*d_);
    if (d_->loopbackLoaded()) d_->unloadLoopback();
  }
  d_->stop();
}

bool VRMixer::connected() const {
  return d_->isReady();
}

bool VRMixer::setRecSourceType(int type) {
  Impl::Call call(*d_);
  if (type < 0 || type >= int(kRecSrcTypeItems.size())) return false;
  if (!d_->sourceOfType(type)) return false;
  d_->recType = type;
  return true;
}

int VRMixer::recSourceType() const {
  return d_->recType.load();
}

std::string VRMixer::recordSourceName() {
  Impl::Call call(*d_);
  const auto s = d_->sourceOfType(d_->recType);
  return s ? s->name : std::string();
}

bool VRMixer::setRecVolume(int level) {
  const int type = d_->recType.load();
  return d_->post([&](Impl::Pending& p) { p.rec = std::pair(type, std::clamp(level, 0, 100)); });
}

int VRMixer::recVolume() {
  {
    std::lock_guard lock(d_->pendingMutex);
    if (d_->pending.rec) return d_->pending.rec->second;
    if (d_->sentRec) return *d_->sentRec;
  }
  Impl::Call call(*d_);
  const auto s = d_->sourceOfType(d_->recType);
  return s ? toLevel(s->volume) : -1;
}

bool VRMixer::setMasterVolume(int level) {
  return d_->post([&](Impl::Pending& p) { p.master = std::clamp(level, 0, 100); });
}

int VRMixer::masterVolume() {
  if (const auto level = d_->unsent(&Impl::Pending::master, &Impl::sentMaster)) return *level;
  Impl::Call call(*d_);
  const auto s = d_->sink("@DEFAULT_SINK@");
  return s ? toLevel(s->volume) : -1;
}

bool VRMixer::setPlaySelect(int line) {
  Impl::Call call(*d_);
  if (line != kPlaySelectMic) return d_->noLine("No playback line " + std::to_string(line));
  switch (d_->microphone()) {
    case Impl::Line::NoServer:
      return false;
    case Impl::Line::Missing:
      return d_->noLine("No microphone line");
    case Impl::Line::Ok:
      break;
  }
  d_->playLine = line;
  return true;
}

int VRMixer::playSelect() const {
  std::lock_guard lock(d_->callMutex);
  return d_->playLine;
}

bool VRMixer::setPlayVolume(int level) {
  level = std::clamp(level, 0, 100);
  d_->playLevel = level;  // what a loopback loaded later starts at
  return d_->post([&](Impl::Pending& p) { p.play = level; });
}

int VRMixer::playVolume() {
  if (const auto level = d_->unsent(&Impl::Pending::play, &Impl::sentPlay)) return *level;
  Impl::Call call(*d_);
  if (!d_->loopbackLoaded()) return d_->playLevel;
  const auto in = d_->input(d_->loopInput.load());
  return in ? toLevel(in->volume) : -1;
}

bool VRMixer::setPlayMute(bool mute) {
  Impl::Call call(*d_);
  if (mute) {
    if (!d_->unloadLoopback()) return false;
    d_->playMuted = true;
    return true;
  }
  bool ok;
  if (d_->loopbackLoaded()) {
    // Muted from outside: the loopback is still there, only its stream is muted.
    d_->inputMuted = false;
    ok = d_->setInputMute(d_->loopInput.load(), false);
  } else {
    ok = d_->loadLoopback();
  }
  if (ok) d_->playMuted = false;
  return ok;
}

bool VRMixer::playMute() const {
  return d_->playMuted.load();
}

const std::string& VRMixer::noLineText() const {
  return d_->noLineText;
}

}  // namespace recorder

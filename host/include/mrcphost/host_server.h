// The server side of the host: loads a plugin library, runs its engine and channels the way an MRCP
// server does, and lets a caller (oxahost, an in-process ASR client, tests) talk to the channels.
//
// Threads: every plugin method-table call runs on the server's task thread; every audio stream
// read or write runs on the server's single media thread, one call per channel per frame
// (10 ms), whatever the number of channels. Plugin answers arrive on whatever thread the plugin
// uses and are queued per channel; callers wait for them with a deadline, never without one.
#ifndef MRCPHOST_HOST_SERVER_H
#define MRCPHOST_HOST_SERVER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mrcphost/host_audio.h"
#include "mrcphost/mrcphost.h"

namespace mrcphost {

using SteadyClock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
using NameValues = std::vector<std::pair<std::string, std::string>>;

// A message that crossed between host and plugin: its MRCPv2 wire text and its parts.
struct MRCPHOST_API WireMessage {
  SteadyClock::time_point time;
  std::string text;  // MRCPv2 wire text
  mrcp_message_type_e type = MRCP_MESSAGE_TYPE_UNKNOWN;
  std::string name;  // method of a request or of the request a response answers; event name
  mrcp_request_id request_id = 0;
  int status_code = 0;  // responses only
  mrcp_request_state_e request_state = MRCP_REQUEST_STATE_UNKNOWN;
  NameValues headers;  // as written, Channel-Identifier and Content-Length included
  std::string body;

  // First header of that name (ASCII case-insensitive), or null.
  const std::string *Header(const std::string &header_name) const;
};

// Fills a WireMessage from a message (text written as MRCPv2). False when it cannot be written.
MRCPHOST_API bool MakeWireMessage(const mrcp_message_t *message, WireMessage *out);

// Runs closures one after another on a thread of its own.
class MRCPHOST_API TaskQueue {
 public:
  TaskQueue() = default;
  ~TaskQueue();
  TaskQueue(const TaskQueue &) = delete;
  TaskQueue &operator=(const TaskQueue &) = delete;

  void Start(const std::string &name);
  void Post(std::function<void()> work);
  // Runs work on the queue and waits until it has run. False when the deadline passed first;
  // the work still runs later and must own what it touches.
  bool Call(std::function<void()> work, SteadyClock::time_point deadline);
  // Runs what is queued, then ends the thread. False when the thread did not end in time
  // (stuck in a call); it is then left running.
  bool Stop(Millis timeout);
  bool IsCurrent() const;

 private:
  void Run();

  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::deque<std::function<void()>> m_Queue;  // guarded by m_Mutex
  bool m_Stopping = false;                     // guarded by m_Mutex
  bool m_Done = false;                         // guarded by m_Mutex
  std::thread m_Thread;
  std::atomic<std::thread::id> m_ThreadId{};
};

// One thread ticking every media stream once per period.
class MRCPHOST_API MediaClock {
 public:
  class Stream {
   public:
    virtual ~Stream() = default;
    virtual void OnMediaJoin() = 0;   // before the first tick
    virtual void OnMediaTick() = 0;   // once per period
    virtual void OnMediaLeave() = 0;  // after the last tick
  };
  // Time as the clock sees it; tests substitute a simulated one.
  class TimeSource {
   public:
    virtual ~TimeSource() = default;
    virtual SteadyClock::time_point Now() = 0;
    virtual void SleepUntil(SteadyClock::time_point when) = 0;
  };

  explicit MediaClock(std::chrono::microseconds period = Millis(10), TimeSource *time = nullptr);
  ~MediaClock();
  MediaClock(const MediaClock &) = delete;
  MediaClock &operator=(const MediaClock &) = delete;

  void Start();
  // False when the thread did not end in time (a stream call is stuck).
  bool Stop(Millis timeout);
  // Add and Remove call OnMediaJoin / OnMediaLeave on the calling thread, between two ticks.
  // False when no gap between ticks came before the deadline.
  bool Add(Stream *stream, SteadyClock::time_point deadline);
  bool Remove(Stream *stream, SteadyClock::time_point deadline);
  // One tick of every stream on the calling thread.
  void Tick();
  uint64_t Ticks() const { return m_Ticks.load(); }
  uint64_t DroppedTicks() const { return m_Dropped.load(); }
  std::chrono::microseconds Period() const { return m_Period; }

  // Ticks due at now for the deadline *next; advances *next past them. A clock that fell more than
  // max_behind periods behind drops the backlog (counted in *dropped) and restarts from now.
  static unsigned DueTicks(SteadyClock::time_point now, SteadyClock::time_point *next,
                           std::chrono::microseconds period, unsigned max_behind, uint64_t *dropped);

 private:
  void Run();

  const std::chrono::microseconds m_Period;
  TimeSource *m_Time;
  std::unique_ptr<TimeSource> m_OwnTime;
  // A tick runs the streams without holding the mutex; Add and Remove wait for the gap between ticks.
  std::mutex m_StreamsMutex;
  std::condition_variable m_IdleCond;
  bool m_Ticking = false;           // guarded by m_StreamsMutex
  std::vector<Stream *> m_Streams;  // changed under m_StreamsMutex while no tick runs
  std::atomic<bool> m_Running{false};
  std::atomic<uint64_t> m_Ticks{0};
  std::atomic<uint64_t> m_Dropped{0};
  std::mutex m_DoneMutex;
  std::condition_variable m_DoneCond;
  bool m_Done = true;  // guarded by m_DoneMutex
  std::thread m_Thread;
};

// Outcome of an operation that waits for a plugin's answer.
enum class HostResult { kOk, kRefused, kTimedOut, kFailed };
MRCPHOST_API const char *HostResultName(HostResult result);

class Engine;
class Server;

struct ChannelConfig {
  std::string id;  // channel identifier; generated when empty
  mrcp_version_e version = MRCP_VERSION_2;
  std::string codec;  // "LPCM", "PCMU", "PCMA"; empty: the plugin's first offer
  unsigned rate = 0;  // 0: the lowest rate of that offer
  NameValues attribs;
};

class MRCPHOST_API Channel : public MediaClock::Stream {
 public:
  // Told of every message the plugin sends, on the plugin's thread, before a waiter can take it;
  // must not block nor call back into the channel.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void OnChannelMessage(Channel &channel, const WireMessage &message) = 0;
    // A request on its way to the plugin, on the sending thread.
    virtual void OnChannelRequest(Channel &, const WireMessage &) {}
  };
  struct Stats {
    uint64_t frames_written = 0;    // write-frame calls
    uint64_t frames_read = 0;       // read-frame calls
    uint64_t audio_frames_read = 0;  // read-frame calls that returned audio
    uint64_t input_frames_queued = 0;  // frames of queued input still to be written
  };
  using Matcher = std::function<bool(const WireMessage &)>;

  ~Channel() override;

  const std::string &Id() const { return m_Id; }
  mrcp_resource_id Resource() const;
  mrcp_version_e Version() const { return m_Version; }
  // The negotiated codec (the sink's for a recognizer, the source's for a synthesizer), or null.
  const mpf_codec_descriptor_t *Codec() const;
  bool IsOpen() const { return m_IsOpen.load(); }
  void SetObserver(Observer *observer);

  HostResult Open(Millis timeout, std::string *error);
  HostResult Close(Millis timeout, std::string *error);

  // A request for this channel, allocated from a pool that lives as long as the channel.
  mrcp_message_t *CreateRequest(mrcp_method_id method_id);
  // Parses a request written by hand (see MRCP_PARSE_TEMPLATE) into a request for this channel.
  mrcp_message_t *ParseRequest(const std::string &text, std::string *error);
  // Gives the request its id, channel identifier and version, and hands it to the plugin.
  bool SendRequest(mrcp_message_t *request, WireMessage *sent, std::string *error);
  bool SendRequest(const std::string &text, WireMessage *sent, std::string *error);

  // The first message not taken yet that matches; takes it. False when none came before the deadline.
  bool WaitMessage(const Matcher &match, SteadyClock::time_point deadline, WireMessage *out);
  // True when no matching message is waiting or arrives before the deadline; otherwise the first
  // one goes to *offending (and is taken).
  bool ExpectNone(const Matcher &match, SteadyClock::time_point deadline, WireMessage *offending);
  std::vector<WireMessage> Received() const;

  // Input audio (sink), already in the channel's codec and rate. Fast input is written as fast as
  // the plugin takes it (many frames per tick) instead of one frame per period.
  bool QueueAudio(std::vector<uint8_t> bytes, bool fast, std::string *error);
  bool QueueAudioFile(const std::string &path, bool fast, std::string *error);
  bool QueueSilence(Millis duration, std::string *error);
  // RFC 4733 events: per digit, tone frames (start marker, ..., end marker) then gap frames of silence.
  bool QueueDtmf(const std::string &digits, Millis tone, Millis gap, std::string *error);
  // True once every queued input frame has been written.
  bool WaitInputDrained(SteadyClock::time_point deadline);

  // Output audio (source): keeps what read-frame returns when on.
  void SetRecording(bool on);
  AudioBuffer RecordedAudio() const;
  // Waits until at least that much audio has been read from the plugin.
  bool WaitOutputAudio(Millis amount, SteadyClock::time_point deadline);
  Stats GetStats() const;

  // MediaClock::Stream
  void OnMediaJoin() override;
  void OnMediaTick() override;
  void OnMediaLeave() override;

 private:
  friend class Engine;
  struct Feed;
  struct Pending;

  Channel(Engine *engine, std::string id, const ChannelConfig &config);
  bool Negotiate(const ChannelConfig &config, std::string *error);
  void WriteOneFrame();
  void ReadOneFrame();
  void Deliver(WireMessage message);
  bool FindMatch(const Matcher &match, WireMessage *out);  // with m_InboxMutex held
  bool QueueFeed(std::unique_ptr<Feed> feed, std::string *error);
  HostResult Destroy(SteadyClock::time_point deadline, std::string *error);

  // Event table entries the plugin calls.
  static const mrcp_engine_channel_event_vtable_t *EventTable();
  static apt_bool_t OnOpenAnswer(mrcp_engine_channel_t *channel, apt_bool_t status);
  static apt_bool_t OnCloseAnswer(mrcp_engine_channel_t *channel);
  static apt_bool_t OnMessage(mrcp_engine_channel_t *channel, mrcp_message_t *message);

  Engine *m_Engine;
  Server *m_Server;
  const std::string m_Id;
  const mrcp_version_e m_Version;
  apr_pool_t *m_Pool = nullptr;  // the channel's pool, handed to the plugin
  mrcp_engine_channel_t *m_Handle = nullptr;
  mpf_audio_stream_t *m_Stream = nullptr;
  mpf_codec_t *m_SinkCodec = nullptr;
  mpf_codec_t *m_SourceCodec = nullptr;
  std::atomic<bool> m_IsOpen{false};
  bool m_InMedia = false;
  bool m_Destroyed = false;

  // Answers of the plugin, shared with the event table entries.
  std::shared_ptr<Pending> m_Pending;

  mutable std::mutex m_InboxMutex;
  std::condition_variable m_InboxCond;
  std::vector<WireMessage> m_Inbox;   // guarded by m_InboxMutex
  std::vector<bool> m_Taken;          // per message of m_Inbox; guarded by m_InboxMutex
  size_t m_FirstUntaken = 0;          // guarded by m_InboxMutex
  std::mutex m_ObserverMutex;         // held while the observer runs, so SetObserver(nullptr) waits for it
  Observer *m_Observer = nullptr;     // guarded by m_ObserverMutex
  std::vector<std::pair<mrcp_request_id, std::string>> m_Requests;  // sent: id, method; guarded by m_InboxMutex
  mrcp_request_id m_NextRequestId = 1;  // guarded by m_InboxMutex
  std::vector<apr_pool_t *> m_RequestPools;  // one per request, freed with the channel; guarded by m_InboxMutex

  // Media thread state.
  mutable std::mutex m_FeedMutex;
  std::condition_variable m_FeedCond;
  std::deque<std::unique_ptr<Feed>> m_Feeds;  // guarded by m_FeedMutex
  uint64_t m_QueuedFrames = 0;                // guarded by m_FeedMutex
  std::vector<uint8_t> m_WriteBuffer;  // media thread only
  uint8_t m_SilenceByte = 0;           // of the sink's codec
  std::vector<uint8_t> m_ReadBuffer;   // media thread only
  unsigned m_TickDivider = 1;          // frames of more than one period come every n-th tick
  unsigned m_TickPhase = 0;            // media thread only
  std::atomic<uint64_t> m_FramesWritten{0};
  std::atomic<uint64_t> m_FramesRead{0};
  std::atomic<uint64_t> m_AudioFramesRead{0};
  mutable std::mutex m_RecordMutex;
  std::condition_variable m_RecordCond;
  bool m_Recording = false;             // guarded by m_RecordMutex
  std::vector<uint8_t> m_Recorded;      // guarded by m_RecordMutex
  uint64_t m_OutputBytes = 0;           // guarded by m_RecordMutex
};

// A plugin library with its engine.
class MRCPHOST_API Engine {
 public:
  ~Engine();
  const std::string &Name() const { return m_Name; }
  const std::string &Path() const { return m_Path; }
  mrcp_resource_id Resource() const;
  bool IsOpen() const { return m_IsOpen.load(); }
  mrcp_engine_t *Handle() const { return m_Handle; }

  HostResult Open(Millis timeout, std::string *error);
  // Closes the open channels, then the engine.
  HostResult Close(Millis timeout, std::string *error);
  // Creates a channel through the plugin and negotiates its codec; the channel is not open yet.
  std::shared_ptr<Channel> CreateChannel(const ChannelConfig &config, Millis timeout, std::string *error);
  std::vector<std::shared_ptr<Channel>> Channels() const;

 private:
  friend class Server;
  friend class Channel;
  struct Pending;

  Engine(Server *server, std::string path, std::string name);
  bool Load(const NameValues &params, apr_size_t max_channels, Millis timeout, std::string *error);
  HostResult Destroy(Millis timeout, std::string *error);
  void Forget(Channel *channel);

  static const mrcp_engine_event_vtable_t *EventTable();
  static apt_bool_t OnOpenAnswer(mrcp_engine_t *engine, apt_bool_t status);
  static apt_bool_t OnCloseAnswer(mrcp_engine_t *engine);

  Server *m_Server;
  const std::string m_Path;
  const std::string m_Name;
  void *m_Library = nullptr;
  apr_pool_t *m_Pool = nullptr;
  mrcp_engine_t *m_Handle = nullptr;
  std::atomic<bool> m_IsOpen{false};
  bool m_Destroyed = false;
  std::shared_ptr<Pending> m_Pending;
  mutable std::mutex m_ChannelsMutex;
  std::vector<std::shared_ptr<Channel>> m_Channels;  // guarded by m_ChannelsMutex
};

struct ServerConfig {
  std::string root_dir = ".";  // conf/, data/, var/ (with var/status) below it
  bool create_var_dirs = true;  // make var/ and var/status when missing
  std::chrono::microseconds media_period = Millis(10);
  MediaClock::TimeSource *media_time = nullptr;  // null: the steady clock
  bool run_media_thread = true;  // false: the owner ticks Media() itself
};

class MRCPHOST_API Server {
 public:
  explicit Server(ServerConfig config);
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Creates the directory layout and starts the task and media threads; creates a console logger
  // when the process has none.
  bool Start(std::string *error);
  // Loads the library, checks its version, hands it the logger and log source and lets it create
  // its engine (not opened yet).
  Engine *LoadPlugin(const std::string &path, const std::string &name, const NameValues &params,
                     apr_size_t max_channels, Millis timeout, std::string *error);
  // Closes and destroys every engine, then stops the threads. False when something did not end
  // in time; the process should then exit without unwinding further.
  bool Shutdown(Millis timeout);

  const apt_dir_layout_t *Layout() const { return m_Layout; }
  const std::string &RootDir() const { return m_Config.root_dir; }
  TaskQueue &Tasks() { return m_Tasks; }
  MediaClock &Media() { return m_Media; }

 private:
  ServerConfig m_Config;
  apr_pool_t *m_Pool = nullptr;
  apt_dir_layout_t *m_Layout = nullptr;
  TaskQueue m_Tasks;
  MediaClock m_Media;
  bool m_Started = false;
  std::vector<std::unique_ptr<Engine>> m_Engines;
};

}  // namespace mrcphost

#endif  // MRCPHOST_HOST_SERVER_H

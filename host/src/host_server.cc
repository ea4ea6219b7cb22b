// The server side: plugin loading, engine and channel life cycle, message routing, media.
#include "mrcphost/host_server.h"

#include <apr_strings.h>
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"
#include "mrcphost/host_mrcp_text.h"

namespace mrcphost {

namespace {

using internal::ChannelBinding;
using internal::EngineBinding;

// Frames a fast input feed may write in one period: fast input runs at up to 50 times real time
// without holding up the other channels of the tick for long.
constexpr unsigned kFastFramesPerTick = 50;

apt_log_source_t *HostLog() {
  static apt_log_source_t *source = [] {
    apt_log_source_t *s = nullptr;
    apt_log_source_assign("MRCPHOST", &s);
    return s;
  }();
  return source;
}

long ToMillis(Millis d) { return static_cast<long>(d.count()); }

bool SetError(std::string *error, const std::string &text) {
  if (error) *error = text;
  return false;
}

HostResult Outcome(HostResult result, std::string *error, const std::string &text) {
  SetError(error, text);
  return result;
}

int RateBit(unsigned rate) {
  switch (rate) {
    case 8000:
      return MPF_SAMPLE_RATE_8000;
    case 16000:
      return MPF_SAMPLE_RATE_16000;
    case 32000:
      return MPF_SAMPLE_RATE_32000;
    case 48000:
      return MPF_SAMPLE_RATE_48000;
    default:
      return 0;
  }
}

unsigned LowestRate(int mask) {
  const unsigned rates[] = {8000, 16000, 32000, 48000};
  for (unsigned rate : rates) {
    if (mask & RateBit(rate)) return rate;
  }
  return 0;
}

apr_byte_t PayloadType(const std::string &codec) {
  if (strcasecmp(codec.c_str(), "PCMU") == 0) return 0;
  if (strcasecmp(codec.c_str(), "PCMA") == 0) return 8;
  return 96;  // dynamic
}

std::string DescribeOffers(const mpf_codec_capabilities_t &codecs) {
  std::string out;
  for (int i = 0; codecs.attrib_arr && i < codecs.attrib_arr->nelts; ++i) {
    const auto &attribs = APR_ARRAY_IDX(codecs.attrib_arr, i, mpf_codec_attribs_t);
    if (!out.empty()) out += "; ";
    out += attribs.name.buf ? std::string(attribs.name.buf, attribs.name.length) : "?";
    std::string rates;
    for (unsigned rate : {8000u, 16000u, 32000u, 48000u}) {
      if (attribs.sample_rates & RateBit(rate)) rates += (rates.empty() ? "/" : ",") + std::to_string(rate);
    }
    out += rates;
  }
  return out.empty() ? "nothing" : out;
}

bool MakeDirs(const std::string &path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < path.size()) partial += path[i];
  }
  return true;
}

// State that the plugin's answers fill; shared so that a late answer never touches freed memory.
struct Answers {
  std::mutex mutex;
  std::condition_variable cond;
  int open_answer = -1;  // guarded by mutex; -1 none, else the status
  int open_call = -1;    // guarded by mutex; -1 not returned, else the result of the open call
  bool close_answered = false;  // guarded by mutex
  int close_call = -1;          // guarded by mutex

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    open_answer = -1;
    open_call = -1;
    close_answered = false;
    close_call = -1;
  }
  void Set(int Answers::*field, int value) {
    std::lock_guard<std::mutex> lock(mutex);
    this->*field = value;
    cond.notify_all();
  }
  void SetClosed() {
    std::lock_guard<std::mutex> lock(mutex);
    close_answered = true;
    cond.notify_all();
  }
  // Waits for an open answer or a failed open call.
  HostResult WaitOpen(SteadyClock::time_point deadline, const std::string &what, Millis timeout, std::string *error) {
    std::unique_lock<std::mutex> lock(mutex);
    cond.wait_until(lock, deadline, [this] { return open_answer >= 0 || open_call == 0; });
    if (open_answer == 1) return HostResult::kOk;
    if (open_answer == 0) return Outcome(HostResult::kRefused, error, what + " open answered FALSE");
    if (open_call == 0) return Outcome(HostResult::kRefused, error, what + " open returned FALSE");
    return Outcome(HostResult::kTimedOut, error,
                   what + " open not answered within " + std::to_string(ToMillis(timeout)) + " ms");
  }
  HostResult WaitClose(SteadyClock::time_point deadline, const std::string &what, Millis timeout, std::string *error) {
    std::unique_lock<std::mutex> lock(mutex);
    cond.wait_until(lock, deadline, [this] { return close_answered || close_call == 0; });
    if (close_answered) return HostResult::kOk;
    if (close_call == 0) return Outcome(HostResult::kRefused, error, what + " close returned FALSE");
    return Outcome(HostResult::kTimedOut, error,
                   what + " close not answered within " + std::to_string(ToMillis(timeout)) + " ms");
  }
};

// The open and close calls of an engine or a channel, on the task thread; their results and the
// plugin's answers land in the shared state.
template <typename Handle>
void PostOpen(TaskQueue &tasks, std::shared_ptr<Answers> pending, Handle *handle) {
  tasks.Post([pending, handle] {
    if (!handle->method_vtable->open) {
      pending->Set(&Answers::open_answer, 1);
      return;
    }
    pending->Set(&Answers::open_call, handle->method_vtable->open(handle) ? 1 : 0);
  });
}

template <typename Handle>
void PostClose(TaskQueue &tasks, std::shared_ptr<Answers> pending, Handle *handle) {
  tasks.Post([pending, handle] {
    if (!handle->method_vtable->close) {
      pending->SetClosed();
      return;
    }
    pending->Set(&Answers::close_call, handle->method_vtable->close(handle) ? 1 : 0);
  });
}

// False when the destroy call did not return before the deadline.
template <typename Handle>
bool CallDestroy(TaskQueue &tasks, Handle *handle, SteadyClock::time_point deadline) {
  return tasks.Call(
      [handle] {
        if (handle->method_vtable->destroy) handle->method_vtable->destroy(handle);
      },
      deadline);
}

}  // namespace

struct Engine::Pending : Answers {};
struct Channel::Pending : Answers {};

const char *HostResultName(HostResult result) {
  switch (result) {
    case HostResult::kOk:
      return "ok";
    case HostResult::kRefused:
      return "refused";
    case HostResult::kTimedOut:
      return "timed out";
    case HostResult::kFailed:
      return "failed";
  }
  return "?";
}

const std::string *WireMessage::Header(const std::string &header_name) const {
  for (const auto &header : headers) {
    if (strcasecmp(header.first.c_str(), header_name.c_str()) == 0) return &header.second;
  }
  return nullptr;
}

bool MakeWireMessage(const mrcp_message_t *message, WireMessage *out) {
  std::string text;
  if (!internal::WriteMessageText(message, MRCP_VERSION_2, &text)) return false;
  const mrcp_start_line_t &sl = message->start_line;
  out->time = SteadyClock::now();
  out->type = sl.message_type;
  out->name = sl.method_name.buf ? std::string(sl.method_name.buf, sl.method_name.length) : std::string();
  out->request_id = sl.request_id;
  out->status_code = sl.message_type == MRCP_MESSAGE_TYPE_RESPONSE ? static_cast<int>(sl.status_code) : 0;
  out->request_state = sl.request_state;
  out->body = message->body.buf ? std::string(message->body.buf, message->body.length) : std::string();
  out->headers.clear();
  // The headers as written: every line between the start line and the empty line.
  size_t pos = text.find("\r\n");
  while (pos != std::string::npos) {
    pos += 2;
    size_t eol = text.find("\r\n", pos);
    if (eol == std::string::npos || eol == pos) break;
    size_t colon = text.find(':', pos);
    if (colon != std::string::npos && colon < eol) {
      size_t value = colon + 1;
      if (value < eol && text[value] == ' ') ++value;
      out->headers.emplace_back(text.substr(pos, colon - pos), text.substr(value, eol - value));
    }
    pos = eol;
  }
  out->text = std::move(text);
  return true;
}

// ---------- Channel ----------

struct Channel::Feed {
  struct Event {
    bool tone;  // false: a frame of silence between digits
    int marker;
    apr_uint32_t event_id;
    apr_uint32_t duration;
  };
  std::vector<uint8_t> audio;  // whole frames
  size_t offset = 0;
  uint64_t silence_frames = 0;
  std::vector<Event> events;
  size_t next_event = 0;
  bool fast = false;

  uint64_t Frames(size_t frame_bytes) const {
    return (frame_bytes ? (audio.size() - offset) / frame_bytes : 0) + silence_frames + (events.size() - next_event);
  }
};

Channel::Channel(Engine *engine, std::string id, const ChannelConfig &config)
    : m_Engine(engine),
      m_Server(engine->m_Server),
      m_Id(std::move(id)),
      m_Version(config.version == MRCP_VERSION_1 ? MRCP_VERSION_1 : MRCP_VERSION_2),
      m_Pending(std::make_shared<Pending>()) {}

Channel::~Channel() {
  // A channel the plugin may still hold (destroy never returned) keeps its memory.
  if (!m_Destroyed && m_Handle) return;
  for (apr_pool_t *pool : m_RequestPools) apr_pool_destroy(pool);
  if (m_Pool) apr_pool_destroy(m_Pool);
}

mrcp_resource_id Channel::Resource() const { return m_Engine->Resource(); }

const mpf_codec_descriptor_t *Channel::Codec() const {
  if (m_SinkCodec) return m_SinkCodec->descriptor;
  if (m_SourceCodec) return m_SourceCodec->descriptor;
  return nullptr;
}

void Channel::SetObserver(Observer *observer) {
  std::lock_guard<std::mutex> lock(m_ObserverMutex);
  m_Observer = observer;
}

bool Channel::Negotiate(const ChannelConfig &config, std::string *error) {
  if (!m_Stream) {
    if (!config.codec.empty()) return SetError(error, "the plugin's channel has no audio stream");
    return true;
  }
  const mpf_stream_capabilities_t *caps = m_Stream->capabilities;
  if (!caps || !caps->codecs.attrib_arr || caps->codecs.attrib_arr->nelts == 0) {
    return SetError(error, "the plugin's audio stream offers no codec");
  }
  const mpf_codec_attribs_t *chosen = nullptr;
  unsigned rate = 0;
  for (int i = 0; i < caps->codecs.attrib_arr->nelts && !chosen; ++i) {
    const auto &attribs = APR_ARRAY_IDX(caps->codecs.attrib_arr, i, mpf_codec_attribs_t);
    if (!config.codec.empty() && !apt_string_compare_nocase(&attribs.name, config.codec.c_str())) continue;
    if (config.rate != 0) {
      if (!(attribs.sample_rates & RateBit(config.rate))) continue;
      rate = config.rate;
    } else {
      rate = LowestRate(attribs.sample_rates);
      if (rate == 0) continue;
    }
    chosen = &attribs;
  }
  if (!chosen) {
    std::string wanted = (config.codec.empty() ? std::string("any codec") : config.codec) +
                         (config.rate ? "/" + std::to_string(config.rate) : std::string());
    return SetError(error, "the plugin offers no " + wanted + " (it offers " + DescribeOffers(caps->codecs) + ")");
  }
  const std::string name(chosen->name.buf, chosen->name.length);
  const unsigned frame_ms = chosen->frame_duration ? static_cast<unsigned>(chosen->frame_duration) : 10;
  const auto period_ms = static_cast<unsigned>(m_Server->Media().Period().count() / 1000);
  if (period_ms == 0 || frame_ms % period_ms != 0) {
    return SetError(error, "frame duration " + std::to_string(frame_ms) + " ms is not a multiple of the media period");
  }
  const size_t frame_bytes = FrameBytes(name, rate, frame_ms);
  if (frame_bytes == 0) return SetError(error, "codec " + name + " is not supported by the host");
  m_TickDivider = frame_ms / period_ms;

  auto *descriptor = static_cast<mpf_codec_descriptor_t *>(apr_pcalloc(m_Pool, sizeof(mpf_codec_descriptor_t)));
  descriptor->payload_type = PayloadType(name);
  apt_string_assign(&descriptor->name, name.c_str(), m_Pool);
  descriptor->sampling_rate = static_cast<apr_uint16_t>(rate);
  descriptor->channel_count = 1;
  descriptor->frame_duration = frame_ms;
  auto *codec = static_cast<mpf_codec_t *>(apr_pcalloc(m_Pool, sizeof(mpf_codec_t)));
  codec->descriptor = descriptor;
  const int direction = m_Stream->direction ? m_Stream->direction : caps->direction;
  if (direction & STREAM_DIRECTION_SEND) {
    m_Stream->tx_descriptor = descriptor;
    m_SinkCodec = codec;
    m_SilenceByte = SilenceByte(name);
    m_WriteBuffer.assign(frame_bytes, m_SilenceByte);
  }
  if (direction & STREAM_DIRECTION_RECEIVE) {
    m_Stream->rx_descriptor = descriptor;
    m_SourceCodec = codec;
    m_ReadBuffer.assign(frame_bytes, SilenceByte(name));
  }
  if (!m_SinkCodec && !m_SourceCodec) return SetError(error, "the plugin's audio stream has no direction");
  return true;
}

HostResult Channel::Open(Millis timeout, std::string *error) {
  const auto deadline = SteadyClock::now() + timeout;
  if (!m_Handle || m_Destroyed) return Outcome(HostResult::kFailed, error, "channel " + m_Id + " does not exist");
  if (m_IsOpen.load()) return Outcome(HostResult::kFailed, error, "channel " + m_Id + " is open already");
  if (!m_Engine->IsOpen()) return Outcome(HostResult::kFailed, error, "the engine is not open");
  m_Pending->Reset();
  apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_INFO, "Open Channel <%s>", m_Id.c_str());
  PostOpen(m_Server->Tasks(), m_Pending, m_Handle);
  HostResult result = m_Pending->WaitOpen(deadline, "channel", timeout, error);
  if (result != HostResult::kOk) return result;
  m_IsOpen.store(true);
  if (m_SinkCodec || m_SourceCodec) {
    if (!m_Server->Media().Add(this, deadline)) {
      return Outcome(HostResult::kFailed, error, "the media thread did not take the channel in time");
    }
    m_InMedia = true;
  }
  return HostResult::kOk;
}

HostResult Channel::Close(Millis timeout, std::string *error) {
  const auto deadline = SteadyClock::now() + timeout;
  if (!m_Handle || m_Destroyed) return Outcome(HostResult::kFailed, error, "channel " + m_Id + " does not exist");
  if (m_InMedia) {
    if (!m_Server->Media().Remove(this, deadline)) {
      return Outcome(HostResult::kFailed, error, "the media thread did not let the channel go in time");
    }
    m_InMedia = false;
  }
  HostResult result = HostResult::kOk;
  if (m_IsOpen.exchange(false)) {
    apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_INFO, "Close Channel <%s>", m_Id.c_str());
    PostClose(m_Server->Tasks(), m_Pending, m_Handle);
    result = m_Pending->WaitClose(deadline, "channel", timeout, error);
    // A plugin that has not answered may still be working with the channel: leave it alive.
    if (result == HostResult::kTimedOut) return result;
  }
  std::string destroy_error;
  HostResult destroyed = Destroy(deadline, &destroy_error);
  if (destroyed != HostResult::kOk && result == HostResult::kOk) {
    return Outcome(destroyed, error, destroy_error);
  }
  return result;
}

HostResult Channel::Destroy(SteadyClock::time_point deadline, std::string *error) {
  if (m_Destroyed || !m_Handle) return HostResult::kOk;
  if (!CallDestroy(m_Server->Tasks(), m_Handle, deadline)) {
    return Outcome(HostResult::kTimedOut, error, "channel destroy did not return in time");
  }
  m_Destroyed = true;
  m_Engine->Forget(this);
  return HostResult::kOk;
}

mrcp_message_t *Channel::CreateRequest(mrcp_method_id method_id) {
  apr_pool_t *pool = nullptr;
  if (apr_pool_create(&pool, nullptr) != APR_SUCCESS) return nullptr;
  {
    std::lock_guard<std::mutex> lock(m_InboxMutex);
    m_RequestPools.push_back(pool);
  }
  return mrcp_request_create(Resource(), m_Version, method_id, pool);
}

mrcp_message_t *Channel::ParseRequest(const std::string &text, std::string *error) {
  apr_pool_t *pool = nullptr;
  if (apr_pool_create(&pool, nullptr) != APR_SUCCESS) return nullptr;
  {
    std::lock_guard<std::mutex> lock(m_InboxMutex);
    m_RequestPools.push_back(pool);
  }
  mrcp_text_error_t parse_error;
  mrcp_message_t *message =
      mrcp_message_parse(text.data(), text.size(), Resource(), MRCP_PARSE_TEMPLATE, nullptr, &parse_error, pool);
  if (!message) {
    SetError(error, parse_error.text);
    return nullptr;
  }
  if (message->start_line.message_type != MRCP_MESSAGE_TYPE_REQUEST) {
    SetError(error, "not a request");
    return nullptr;
  }
  if (message->resource != Resource()) {
    SetError(error, std::string("the request is for ") + mrcp_resource_name_get(message->resource) +
                        " but the channel is " + mrcp_resource_name_get(Resource()));
    return nullptr;
  }
  return message;
}

bool Channel::SendRequest(const std::string &text, WireMessage *sent, std::string *error) {
  mrcp_message_t *request = ParseRequest(text, error);
  return request && SendRequest(request, sent, error);
}

bool Channel::SendRequest(mrcp_message_t *request, WireMessage *sent, std::string *error) {
  if (!request) return SetError(error, "no request");
  if (!m_IsOpen.load()) return SetError(error, "channel " + m_Id + " is not open");
  mrcp_request_id id;
  {
    std::lock_guard<std::mutex> lock(m_InboxMutex);
    id = m_NextRequestId++;
    const char *method = mrcp_method_name_get(Resource(), request->start_line.method_id);
    m_Requests.emplace_back(id, method ? method : "");
  }
  mrcp_start_line_t &sl = request->start_line;
  sl.message_type = MRCP_MESSAGE_TYPE_REQUEST;
  sl.version = m_Version;
  sl.request_id = id;
  apt_string_assign(&request->channel_id.session_id, m_Id.c_str(), request->pool);
  apt_string_set(&request->channel_id.resource_name, mrcp_resource_name_get(Resource()));
  WireMessage wire;
  if (!MakeWireMessage(request, &wire)) return SetError(error, "the request cannot be written");
  apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_DEBUG, "Send %s %" APR_SIZE_T_FMT " <%s>", wire.name.c_str(), id,
          m_Id.c_str());
  {
    std::lock_guard<std::mutex> lock(m_ObserverMutex);
    if (m_Observer) m_Observer->OnChannelRequest(*this, wire);
  }
  mrcp_engine_channel_t *handle = m_Handle;
  m_Server->Tasks().Post([handle, request] {
    if (!handle->method_vtable->process_request || !handle->method_vtable->process_request(handle, request)) {
      apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_WARNING, "Plugin Failed to Take Request %" APR_SIZE_T_FMT " <%.*s>",
              request->start_line.request_id, static_cast<int>(request->channel_id.session_id.length),
              request->channel_id.session_id.buf);
    }
  });
  if (sent) *sent = std::move(wire);
  return true;
}

void Channel::Deliver(WireMessage message) {
  std::lock_guard<std::mutex> inbox_lock(m_InboxMutex);
  if (message.type == MRCP_MESSAGE_TYPE_RESPONSE && message.name.empty()) {
    for (const auto &request : m_Requests) {
      if (request.first == message.request_id) message.name = request.second;
    }
  }
  {
    // The observer hears of a message before any waiter can take it.
    std::lock_guard<std::mutex> lock(m_ObserverMutex);
    if (m_Observer) m_Observer->OnChannelMessage(*this, message);
  }
  m_Inbox.push_back(std::move(message));
  m_Taken.push_back(false);
  m_InboxCond.notify_all();
}

bool Channel::FindMatch(const Matcher &match, WireMessage *out) {
  for (size_t i = m_FirstUntaken; i < m_Inbox.size(); ++i) {
    if (m_Taken[i] || !match(m_Inbox[i])) continue;
    if (out) *out = m_Inbox[i];
    m_Taken[i] = true;
    while (m_FirstUntaken < m_Inbox.size() && m_Taken[m_FirstUntaken]) ++m_FirstUntaken;
    return true;
  }
  return false;
}

bool Channel::WaitMessage(const Matcher &match, SteadyClock::time_point deadline, WireMessage *out) {
  std::unique_lock<std::mutex> lock(m_InboxMutex);
  bool found = false;
  m_InboxCond.wait_until(lock, deadline, [&] { return found = FindMatch(match, out); });
  return found;
}

bool Channel::ExpectNone(const Matcher &match, SteadyClock::time_point deadline, WireMessage *offending) {
  return !WaitMessage(match, deadline, offending);
}

std::vector<WireMessage> Channel::Received() const {
  std::lock_guard<std::mutex> lock(m_InboxMutex);
  return m_Inbox;
}

bool Channel::QueueFeed(std::unique_ptr<Feed> feed, std::string *error) {
  if (!m_SinkCodec) return SetError(error, "channel " + m_Id + " takes no audio");
  {
    std::lock_guard<std::mutex> lock(m_FeedMutex);
    m_QueuedFrames += feed->Frames(m_WriteBuffer.size());
    m_Feeds.push_back(std::move(feed));
  }
  return true;
}

bool Channel::QueueAudio(std::vector<uint8_t> bytes, bool fast, std::string *error) {
  if (!m_SinkCodec) return SetError(error, "channel " + m_Id + " takes no audio");
  const size_t frame = m_WriteBuffer.size();
  if (bytes.size() % frame) bytes.resize(bytes.size() + frame - bytes.size() % frame, m_SilenceByte);
  auto feed = std::make_unique<Feed>();
  feed->audio = std::move(bytes);
  feed->fast = fast;
  return QueueFeed(std::move(feed), error);
}

bool Channel::QueueAudioFile(const std::string &path, bool fast, std::string *error) {
  if (!m_SinkCodec) return SetError(error, "channel " + m_Id + " takes no audio");
  const mpf_codec_descriptor_t *d = m_SinkCodec->descriptor;
  const std::string codec(d->name.buf, d->name.length);
  AudioBuffer audio;
  std::vector<uint8_t> bytes;
  if (!ReadAudioFile(path, d->sampling_rate, &audio, error)) return false;
  if (!ConvertAudio(audio, codec, d->sampling_rate, &bytes, error)) {
    if (error) *error = path + ": " + *error;
    return false;
  }
  return QueueAudio(std::move(bytes), fast, error);
}

bool Channel::QueueSilence(Millis duration, std::string *error) {
  if (!m_SinkCodec) return SetError(error, "channel " + m_Id + " takes no audio");
  const long frame_ms = static_cast<long>(m_SinkCodec->descriptor->frame_duration);
  auto feed = std::make_unique<Feed>();
  feed->silence_frames = static_cast<uint64_t>((duration.count() + frame_ms - 1) / frame_ms);
  return QueueFeed(std::move(feed), error);
}

bool Channel::QueueDtmf(const std::string &digits, Millis tone, Millis gap, std::string *error) {
  if (!m_SinkCodec) return SetError(error, "channel " + m_Id + " takes no audio");
  const mpf_codec_descriptor_t *d = m_SinkCodec->descriptor;
  const long frame_ms = static_cast<long>(d->frame_duration);
  // A tone needs two frames at least: one with the start marker, one with the end marker.
  const long tone_frames = std::max(2L, static_cast<long>(tone.count()) / frame_ms);
  const long gap_frames = std::max(0L, static_cast<long>(gap.count()) / frame_ms);
  const auto samples_per_frame = static_cast<apr_uint32_t>(d->sampling_rate * frame_ms / 1000);
  auto feed = std::make_unique<Feed>();
  for (char digit : digits) {
    apr_uint32_t id = mpf_dtmf_char_to_event_id(digit);
    if (id == 0xFFFFFFFFu) return SetError(error, std::string("not a DTMF digit: '") + digit + "'");
    for (long i = 0; i < tone_frames; ++i) {
      int marker = i == 0 ? MPF_MARKER_START_OF_EVENT : (i == tone_frames - 1 ? MPF_MARKER_END_OF_EVENT : MPF_MARKER_NONE);
      feed->events.push_back({true, marker, id, static_cast<apr_uint32_t>(i + 1) * samples_per_frame});
    }
    for (long i = 0; i < gap_frames; ++i) feed->events.push_back({false, MPF_MARKER_NONE, 0, 0});
  }
  return QueueFeed(std::move(feed), error);
}

bool Channel::WaitInputDrained(SteadyClock::time_point deadline) {
  std::unique_lock<std::mutex> lock(m_FeedMutex);
  return m_FeedCond.wait_until(lock, deadline, [this] { return m_Feeds.empty(); });
}

void Channel::SetRecording(bool on) {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  m_Recording = on;
}

AudioBuffer Channel::RecordedAudio() const {
  AudioBuffer audio;
  if (const mpf_codec_descriptor_t *d = m_SourceCodec ? m_SourceCodec->descriptor : nullptr) {
    audio.codec.assign(d->name.buf, d->name.length);
    audio.rate = d->sampling_rate;
  }
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  audio.bytes = m_Recorded;
  return audio;
}

bool Channel::WaitOutputAudio(Millis amount, SteadyClock::time_point deadline) {
  if (!m_SourceCodec) return false;
  const mpf_codec_descriptor_t *d = m_SourceCodec->descriptor;
  const uint64_t wanted = FrameBytes(std::string(d->name.buf, d->name.length), d->sampling_rate, 1000) *
                          static_cast<uint64_t>(amount.count()) / 1000;
  std::unique_lock<std::mutex> lock(m_RecordMutex);
  return m_RecordCond.wait_until(lock, deadline, [&] { return m_OutputBytes >= wanted; });
}

Channel::Stats Channel::GetStats() const {
  Stats stats;
  stats.frames_written = m_FramesWritten.load();
  stats.frames_read = m_FramesRead.load();
  stats.audio_frames_read = m_AudioFramesRead.load();
  std::lock_guard<std::mutex> lock(m_FeedMutex);
  stats.input_frames_queued = m_QueuedFrames;
  return stats;
}

void Channel::OnMediaJoin() {
  if (m_SinkCodec && m_Stream->vtable->open_tx) m_Stream->vtable->open_tx(m_Stream, m_SinkCodec);
  if (m_SourceCodec && m_Stream->vtable->open_rx) m_Stream->vtable->open_rx(m_Stream, m_SourceCodec);
}

void Channel::OnMediaLeave() {
  if (m_SinkCodec && m_Stream->vtable->close_tx) m_Stream->vtable->close_tx(m_Stream);
  if (m_SourceCodec && m_Stream->vtable->close_rx) m_Stream->vtable->close_rx(m_Stream);
}

void Channel::OnMediaTick() {
  if (++m_TickPhase < m_TickDivider) return;
  m_TickPhase = 0;
  if (m_SinkCodec && m_Stream->vtable->write_frame) WriteOneFrame();
  if (m_SourceCodec && m_Stream->vtable->read_frame) ReadOneFrame();
}

void Channel::WriteOneFrame() {
  const size_t frame_bytes = m_WriteBuffer.size();
  const uint8_t silence = m_SilenceByte;
  for (unsigned n = 0; n < kFastFramesPerTick; ++n) {
    mpf_frame_t frame;
    memset(&frame, 0, sizeof(frame));
    frame.type = MEDIA_FRAME_TYPE_AUDIO;
    frame.marker = MPF_MARKER_NONE;
    frame.codec_frame.buffer = m_WriteBuffer.data();
    frame.codec_frame.size = frame_bytes;
    bool fast = false;
    {
      std::lock_guard<std::mutex> lock(m_FeedMutex);
      // After the first frame of a tick, only fast input goes on.
      if (n > 0 && (m_Feeds.empty() || !m_Feeds.front()->fast)) break;
      if (m_Feeds.empty()) {
        memset(m_WriteBuffer.data(), silence, frame_bytes);
      } else {
        Feed &feed = *m_Feeds.front();
        fast = feed.fast;
        if (feed.offset < feed.audio.size()) {
          memcpy(m_WriteBuffer.data(), feed.audio.data() + feed.offset, frame_bytes);
          feed.offset += frame_bytes;
        } else if (feed.silence_frames > 0) {
          memset(m_WriteBuffer.data(), silence, frame_bytes);
          --feed.silence_frames;
        } else {
          const Feed::Event &event = feed.events[feed.next_event++];
          memset(m_WriteBuffer.data(), silence, frame_bytes);
          if (event.tone) {
            frame.type = MEDIA_FRAME_TYPE_EVENT;
            frame.marker = event.marker;
            frame.event_frame.event_id = event.event_id;
            frame.event_frame.volume = 10;
            frame.event_frame.edge = event.marker == MPF_MARKER_END_OF_EVENT ? 1 : 0;
            frame.event_frame.duration = event.duration;
          }
        }
        --m_QueuedFrames;
        if (feed.Frames(frame_bytes) == 0) {
          m_Feeds.pop_front();
          if (m_Feeds.empty()) m_FeedCond.notify_all();
        }
      }
    }
    m_Stream->vtable->write_frame(m_Stream, &frame);
    m_FramesWritten.fetch_add(1, std::memory_order_relaxed);
    if (!fast) break;
  }
}

void Channel::ReadOneFrame() {
  mpf_frame_t frame;
  memset(&frame, 0, sizeof(frame));
  frame.type = MEDIA_FRAME_TYPE_NONE;
  frame.marker = MPF_MARKER_NONE;
  frame.codec_frame.buffer = m_ReadBuffer.data();
  frame.codec_frame.size = m_ReadBuffer.size();
  m_Stream->vtable->read_frame(m_Stream, &frame);
  m_FramesRead.fetch_add(1, std::memory_order_relaxed);
  if (!(frame.type & MEDIA_FRAME_TYPE_AUDIO) || !frame.codec_frame.buffer) return;
  m_AudioFramesRead.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(m_RecordMutex);
    m_OutputBytes += frame.codec_frame.size;
    if (m_Recording) {
      const auto *bytes = static_cast<const uint8_t *>(frame.codec_frame.buffer);
      m_Recorded.insert(m_Recorded.end(), bytes, bytes + frame.codec_frame.size);
    }
  }
  m_RecordCond.notify_all();
}

apt_bool_t Channel::OnOpenAnswer(mrcp_engine_channel_t *handle, apt_bool_t status) {
  auto *channel = static_cast<Channel *>(handle->event_obj);
  if (!channel) return FALSE;
  channel->m_Pending->Set(&Answers::open_answer, status ? 1 : 0);
  return TRUE;
}

apt_bool_t Channel::OnCloseAnswer(mrcp_engine_channel_t *handle) {
  auto *channel = static_cast<Channel *>(handle->event_obj);
  if (!channel) return FALSE;
  channel->m_Pending->SetClosed();
  return TRUE;
}

apt_bool_t Channel::OnMessage(mrcp_engine_channel_t *handle, mrcp_message_t *message) {
  auto *channel = static_cast<Channel *>(handle->event_obj);
  if (!channel || !message) return FALSE;
  WireMessage wire;
  if (!MakeWireMessage(message, &wire)) {
    apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_WARNING, "Plugin Sent a Message That Cannot Be Written <%s>",
            channel->m_Id.c_str());
    return FALSE;
  }
  apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_DEBUG, "Receive %s %s %" APR_SIZE_T_FMT " <%s>",
          wire.type == MRCP_MESSAGE_TYPE_RESPONSE ? "response to" : "event", wire.name.c_str(), wire.request_id,
          channel->m_Id.c_str());
  channel->Deliver(std::move(wire));
  return TRUE;
}

const mrcp_engine_channel_event_vtable_t *Channel::EventTable() {
  static const mrcp_engine_channel_event_vtable_t table = {OnOpenAnswer, OnCloseAnswer, OnMessage};
  return &table;
}

// ---------- Engine ----------

Engine::Engine(Server *server, std::string path, std::string name)
    : m_Server(server), m_Path(std::move(path)), m_Name(std::move(name)), m_Pending(std::make_shared<Pending>()) {}

Engine::~Engine() {
  // The library stays loaded: plugins keep threads and static objects alive until the process ends.
  if (m_Pool && (m_Destroyed || !m_Handle)) apr_pool_destroy(m_Pool);
}

mrcp_resource_id Engine::Resource() const { return m_Handle ? m_Handle->resource_id : mrcp_resource_id{MRCP_RESOURCE_TYPE_COUNT}; }

const mrcp_engine_event_vtable_t *Engine::EventTable() {
  static const mrcp_engine_event_vtable_t table = {OnOpenAnswer, OnCloseAnswer};
  return &table;
}

apt_bool_t Engine::OnOpenAnswer(mrcp_engine_t *handle, apt_bool_t status) {
  auto *engine = static_cast<Engine *>(handle->event_obj);
  if (!engine) return FALSE;
  engine->m_Pending->Set(&Answers::open_answer, status ? 1 : 0);
  return TRUE;
}

apt_bool_t Engine::OnCloseAnswer(mrcp_engine_t *handle) {
  auto *engine = static_cast<Engine *>(handle->event_obj);
  if (!engine) return FALSE;
  engine->m_Pending->SetClosed();
  return TRUE;
}

bool Engine::Load(const NameValues &params, apr_size_t max_channels, Millis timeout, std::string *error) {
  const auto deadline = SteadyClock::now() + timeout;
  dlerror();
  m_Library = dlopen(m_Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_Library) {
    const char *why = dlerror();
    return SetError(error, "cannot load plugin " + m_Path + ": " + (why ? why : "unknown error"));
  }
  const auto *version = static_cast<const mrcp_plugin_version_t *>(dlsym(m_Library, MRCP_PLUGIN_VERSION_SYM));
  if (!version) return SetError(error, "plugin " + m_Path + " has no " MRCP_PLUGIN_VERSION_SYM " export");
  // Same major version; a plugin built for a newer minor version may rely on what this host lacks.
  if (version->major != MRCP_PLUGIN_VERSION_MAJOR || version->minor > MRCP_PLUGIN_VERSION_MINOR) {
    char text[160];
    snprintf(text, sizeof(text), "plugin interface version %u.%u.%u is not supported by this host (%d.%d.%d)",
             version->major, version->minor, version->patch, MRCP_PLUGIN_VERSION_MAJOR, MRCP_PLUGIN_VERSION_MINOR,
             MRCP_PLUGIN_VERSION_PATCH);
    return SetError(error, "plugin " + m_Path + ": " + text);
  }
  auto creator = reinterpret_cast<mrcp_plugin_creator_f>(dlsym(m_Library, MRCP_PLUGIN_CREATOR_SYM));
  if (!creator) return SetError(error, "plugin " + m_Path + " has no " MRCP_PLUGIN_CREATOR_SYM " export");
  auto logger_set = reinterpret_cast<mrcp_plugin_log_accessor_f>(dlsym(m_Library, MRCP_PLUGIN_LOGGER_SYM));
  auto source_set = reinterpret_cast<mrcp_plugin_log_source_accessor_f>(dlsym(m_Library, MRCP_PLUGIN_LOG_SOURCE_SYM));

  if (apr_pool_create(&m_Pool, nullptr) != APR_SUCCESS) return SetError(error, "no memory for the engine");
  auto *binding = static_cast<EngineBinding *>(apr_pcalloc(m_Pool, sizeof(EngineBinding)));
  binding->id = apr_pstrdup(m_Pool, m_Name.c_str());
  binding->event_vtable = EventTable();
  binding->event_obj = this;
  binding->dir_layout = m_Server->Layout();
  binding->max_channel_count = max_channels;
  binding->params = apr_table_make(m_Pool, 4);
  for (const auto &param : params) apr_table_set(binding->params, param.first.c_str(), param.second.c_str());
  apr_pool_userdata_setn(binding, internal::kEngineBindingKey, nullptr, m_Pool);

  struct Created {
    mrcp_engine_t *engine = nullptr;
  };
  auto created = std::make_shared<Created>();
  apr_pool_t *pool = m_Pool;
  bool returned = m_Server->Tasks().Call(
      [=] {
        if (logger_set) logger_set(apt_log_instance_get());
        if (source_set) source_set(apt_def_log_source_get());
        created->engine = creator(pool);
      },
      deadline);
  if (!returned) {
    m_Pool = nullptr;  // the plugin may still be using it
    return SetError(error, "plugin " + m_Path + ": " MRCP_PLUGIN_CREATOR_SYM " did not return within " +
                               std::to_string(ToMillis(timeout)) + " ms");
  }
  if (!created->engine) return SetError(error, "plugin " + m_Path + " did not create an engine");
  if (created->engine->resource_id >= MRCP_RESOURCE_TYPE_COUNT || !created->engine->method_vtable) {
    return SetError(error, "plugin " + m_Path + " created an engine of no known resource");
  }
  internal::BindEngine(created->engine, *binding);
  m_Handle = created->engine;
  apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_NOTICE, "Loaded Plugin [%s] Engine [%s] Resource [%s]", m_Path.c_str(),
          m_Name.c_str(), mrcp_resource_name_get(m_Handle->resource_id));
  return true;
}

HostResult Engine::Open(Millis timeout, std::string *error) {
  const auto deadline = SteadyClock::now() + timeout;
  if (!m_Handle || m_Destroyed) return Outcome(HostResult::kFailed, error, "no engine");
  if (m_IsOpen.load()) return Outcome(HostResult::kFailed, error, "the engine is open already");
  m_Pending->Reset();
  apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_INFO, "Open Engine [%s]", m_Name.c_str());
  PostOpen(m_Server->Tasks(), m_Pending, m_Handle);
  HostResult result = m_Pending->WaitOpen(deadline, "engine", timeout, error);
  if (result == HostResult::kOk) m_IsOpen.store(true);
  return result;
}

HostResult Engine::Close(Millis timeout, std::string *error) {
  const auto deadline = SteadyClock::now() + timeout;
  if (!m_Handle || m_Destroyed) return Outcome(HostResult::kFailed, error, "no engine");
  HostResult result = HostResult::kOk;
  for (const auto &channel : Channels()) {
    std::string channel_error;
    HostResult closed = channel->Close(std::chrono::duration_cast<Millis>(deadline - SteadyClock::now()), &channel_error);
    if (closed != HostResult::kOk && result == HostResult::kOk) {
      result = closed;
      SetError(error, "channel " + channel->Id() + ": " + channel_error);
    }
  }
  if (!m_IsOpen.exchange(false)) {
    return result == HostResult::kOk ? Outcome(HostResult::kFailed, error, "the engine is not open") : result;
  }
  apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_INFO, "Close Engine [%s]", m_Name.c_str());
  PostClose(m_Server->Tasks(), m_Pending, m_Handle);
  std::string close_error;
  HostResult closed = m_Pending->WaitClose(deadline, "engine", timeout, &close_error);
  if (closed != HostResult::kOk && result == HostResult::kOk) return Outcome(closed, error, close_error);
  return result;
}

HostResult Engine::Destroy(Millis timeout, std::string *error) {
  if (!m_Handle || m_Destroyed) return HostResult::kOk;
  if (!CallDestroy(m_Server->Tasks(), m_Handle, SteadyClock::now() + timeout)) {
    return Outcome(HostResult::kTimedOut, error, "engine destroy did not return in time");
  }
  m_Destroyed = true;
  return HostResult::kOk;
}

std::shared_ptr<Channel> Engine::CreateChannel(const ChannelConfig &config, Millis timeout, std::string *error) {
  const auto deadline = SteadyClock::now() + timeout;
  if (!m_Handle || m_Destroyed || !m_IsOpen.load()) {
    SetError(error, "the engine is not open");
    return nullptr;
  }
  if (m_Handle->max_channel_count > 0 && Channels().size() >= m_Handle->max_channel_count) {
    SetError(error, "the engine has its " + std::to_string(m_Handle->max_channel_count) + " channels already");
    return nullptr;
  }
  apr_pool_t *pool = nullptr;
  if (apr_pool_create(&pool, nullptr) != APR_SUCCESS) {
    SetError(error, "no memory for a channel");
    return nullptr;
  }
  std::string id = config.id;
  if (id.empty()) {
    apt_str_t generated;
    apt_unique_id_generate(&generated, 16, pool);
    id.assign(generated.buf, generated.length);
  }
  std::shared_ptr<Channel> channel(new Channel(this, id, config));
  channel->m_Pool = pool;
  auto *binding = static_cast<ChannelBinding *>(apr_pcalloc(pool, sizeof(ChannelBinding)));
  binding->event_vtable = Channel::EventTable();
  binding->event_obj = channel.get();
  binding->id = apr_pstrdup(pool, id.c_str());
  binding->version = channel->m_Version;
  binding->attribs = apr_table_make(pool, 4);
  for (const auto &attrib : config.attribs) apr_table_set(binding->attribs, attrib.first.c_str(), attrib.second.c_str());
  apr_pool_userdata_setn(binding, internal::kChannelBindingKey, nullptr, pool);

  struct Created {
    mrcp_engine_channel_t *channel = nullptr;
  };
  auto created = std::make_shared<Created>();
  mrcp_engine_t *handle = m_Handle;
  bool returned = m_Server->Tasks().Call(
      [created, handle, pool] {
        if (handle->method_vtable->create_channel) created->channel = handle->method_vtable->create_channel(handle, pool);
      },
      deadline);
  if (!returned) {
    channel->m_Pool = nullptr;  // the plugin may still be using it
    SetError(error, "create-channel did not return within " + std::to_string(ToMillis(timeout)) + " ms");
    return nullptr;
  }
  if (!created->channel) {
    SetError(error, "the plugin did not create a channel");
    return nullptr;
  }
  internal::BindChannel(created->channel, *binding);
  channel->m_Handle = created->channel;
  channel->m_Stream = created->channel->termination ? &created->channel->termination->stream : nullptr;
  if (!channel->Negotiate(config, error)) {
    channel->Destroy(deadline, nullptr);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(m_ChannelsMutex);
    m_Channels.push_back(channel);
  }
  return channel;
}

std::vector<std::shared_ptr<Channel>> Engine::Channels() const {
  std::lock_guard<std::mutex> lock(m_ChannelsMutex);
  return m_Channels;
}

void Engine::Forget(Channel *channel) {
  std::lock_guard<std::mutex> lock(m_ChannelsMutex);
  for (auto it = m_Channels.begin(); it != m_Channels.end(); ++it) {
    if (it->get() == channel) {
      m_Channels.erase(it);
      return;
    }
  }
}

// ---------- Server ----------

Server::Server(ServerConfig config)
    : m_Config(std::move(config)), m_Media(m_Config.media_period, m_Config.media_time) {}

Server::~Server() {
  if (m_Started && !Shutdown(Millis(5000))) {
    // Something is stuck inside a plugin: what it may still touch must not be freed.
    for (auto &engine : m_Engines) engine.release();
    return;
  }
  m_Engines.clear();
  if (m_Pool) apr_pool_destroy(m_Pool);
  apr_terminate();
}

bool Server::Start(std::string *error) {
  if (m_Started) return true;
  apr_initialize();
  if (apr_pool_create(&m_Pool, nullptr) != APR_SUCCESS) return SetError(error, "no memory");
  if (!apt_log_instance_get()) apt_log_instance_create(APT_LOG_OUTPUT_CONSOLE, APT_PRIO_NOTICE, m_Pool);
  char resolved[PATH_MAX];
  std::string root = m_Config.root_dir.empty() ? "." : m_Config.root_dir;
  if (realpath(root.c_str(), resolved)) root = resolved;
  m_Config.root_dir = root;
  m_Layout = apt_default_dir_layout_create(root.c_str(), m_Pool);
  if (m_Config.create_var_dirs) {
    const char *status_dir = apt_vardir_filepath_get(m_Layout, "status", m_Pool);
    if (!status_dir || !MakeDirs(status_dir)) {
      return SetError(error, std::string("cannot create ") + (status_dir ? status_dir : "the var directory"));
    }
  }
  m_Tasks.Start("mrcp-task");
  if (m_Config.run_media_thread) m_Media.Start();
  m_Started = true;
  return true;
}

Engine *Server::LoadPlugin(const std::string &path, const std::string &name, const NameValues &params,
                           apr_size_t max_channels, Millis timeout, std::string *error) {
  if (!m_Started) {
    SetError(error, "the server is not started");
    return nullptr;
  }
  std::unique_ptr<Engine> engine(new Engine(this, path, name));
  bool loaded = engine->Load(params, max_channels, timeout, error);
  Engine *raw = engine.get();
  m_Engines.push_back(std::move(engine));
  return loaded ? raw : nullptr;
}

bool Server::Shutdown(Millis timeout) {
  if (!m_Started) return true;
  const auto deadline = SteadyClock::now() + timeout;
  bool clean = true;
  for (auto &engine : m_Engines) {
    auto left = [&] { return std::max(Millis(0), std::chrono::duration_cast<Millis>(deadline - SteadyClock::now())); };
    std::string error;
    if (engine->IsOpen() && engine->Close(left(), &error) == HostResult::kTimedOut) {
      apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_WARNING, "Engine [%s] Close: %s", engine->Name().c_str(), error.c_str());
    }
    if (engine->Destroy(left(), &error) != HostResult::kOk) {
      apt_log(HostLog(), APT_LOG_MARK, APT_PRIO_WARNING, "Engine [%s] Destroy: %s", engine->Name().c_str(), error.c_str());
      clean = false;
    }
  }
  auto left = std::max(Millis(0), std::chrono::duration_cast<Millis>(deadline - SteadyClock::now()));
  if (!m_Media.Stop(left)) clean = false;
  if (!m_Tasks.Stop(std::max(left, Millis(100)))) clean = false;
  m_Started = !clean;
  return clean;
}

}  // namespace mrcphost

// A small resource plugin for the host's tests, loaded with dlopen like any plugin. It answers from
// a worker thread of its own (as real plugins answer from their event thread) and is steered by
// engine parameters, channel attributes and Vendor-Specific-Parameters of the requests:
//
//   engine params   resource=recognizer|synthesizer, open=async|sync|refuse|fail|never, close=async|never,
//                   media=null (frames are taken and given back untouched)
//   channel attribs open=async|refuse|never, close=async|never
//   request params  answer=never, delay=<ms>, complete-after=<frames>, dtmf-digits=<n>, frames=<n> (SPEAK)
//
// A recognition completes on DTMF (after dtmf-digits digits, default 1, and a pause), after a stretch
// of loud audio followed by quiet, or after complete-after frames; its body reports what the
// plugin saw. A SPEAK plays frames of tone and then sends SPEAK-COMPLETE.
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mrcphost/host_audio.h"
#include "mrcphost/mrcphost.h"
#include "test_plugin.h"

namespace {

using Clock = std::chrono::steady_clock;

apt_log_source_t *g_log = nullptr;

// What the tests read back.
std::mutex g_stats_mutex;
hosttest_stats_t g_stats;                     // guarded by g_stats_mutex
std::set<std::thread::id> g_method_threads;   // guarded by g_stats_mutex
std::set<std::thread::id> g_media_threads;    // guarded by g_stats_mutex

void NoteMethodThread() {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  g_method_threads.insert(std::this_thread::get_id());
  g_stats.method_threads = static_cast<unsigned>(g_method_threads.size());
  g_stats.threads_overlap = g_media_threads.count(std::this_thread::get_id()) ? 1 : g_stats.threads_overlap;
}

void NoteMediaThread() {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  g_media_threads.insert(std::this_thread::get_id());
  g_stats.media_threads = static_cast<unsigned>(g_media_threads.size());
  g_stats.threads_overlap = g_method_threads.count(std::this_thread::get_id()) ? 1 : g_stats.threads_overlap;
}

template <typename F>
void UpdateStats(F f) {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  f(g_stats);
}

// The plugin's own thread: runs posted work at its due time.
class Worker {
 public:
  Worker() : m_Thread([this] { Run(); }) {}
  ~Worker() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Stop = true;
    }
    m_Cond.notify_all();
    m_Thread.join();
  }
  void Post(std::function<void()> work, long delay_ms = 0) {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Queue.emplace(Clock::now() + std::chrono::milliseconds(delay_ms), std::move(work));
    }
    m_Cond.notify_all();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (!m_Stop) {
      if (m_Queue.empty()) {
        m_Cond.wait(lock);
        continue;
      }
      auto due = m_Queue.begin()->first;
      if (Clock::now() < due) {
        m_Cond.wait_until(lock, due);
        continue;
      }
      auto work = std::move(m_Queue.begin()->second);
      m_Queue.erase(m_Queue.begin());
      lock.unlock();
      work();
      lock.lock();
    }
  }

  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::multimap<Clock::time_point, std::function<void()>> m_Queue;  // guarded by m_Mutex
  bool m_Stop = false;                                               // guarded by m_Mutex
  std::thread m_Thread;
};

std::string Param(const apr_table_t *table, const char *name, const char *fallback) {
  const char *value = table ? apr_table_get(table, name) : nullptr;
  return value ? value : fallback;
}

struct TestChannel;

struct TestEngine {
  mrcp_engine_t *handle = nullptr;
  mrcp_resource_id resource = MRCP_RECOGNIZER_RESOURCE;
  // Destroyed channels stay until the engine goes, so late work of the worker finds them.
  std::vector<std::unique_ptr<TestChannel>> channels;  // task thread only
  Worker worker;  // declared last: stops before the channels go
};

struct TestChannel {
  TestEngine *engine = nullptr;
  mrcp_engine_channel_t *handle = nullptr;
  std::atomic<bool> destroyed{false};

  // Runs work on the worker unless the host has destroyed the channel by then.
  void Post(std::function<void()> work, long delay_ms = 0) {
    engine->worker.Post(
        [this, work = std::move(work)] {
          if (!destroyed.load()) work();
        },
        delay_ms);
  }

  // Worker thread state.
  mrcp_message_t *active = nullptr;  // RECOGNIZE or SPEAK in progress
  bool input_started = false;
  std::string digits;

  // Media thread state, handed to the worker by posting.
  std::atomic<bool> listening{false};
  std::atomic<unsigned> generation{0};  // one per RECOGNIZE
  unsigned seen_generation = 0;         // media thread only
  std::atomic<bool> speaking{false};
  std::atomic<long> frames_to_play{0};
  long complete_after = 0;  // written before listening is set
  long dtmf_digits = 1;
  long frames_seen = 0;     // media thread only
  long loud_frames = 0;     // media thread only
  long quiet_after_loud = 0;  // media thread only
  long media_digits = 0;    // media thread only
  bool media_done = false;  // media thread only
  unsigned short phase = 0;
};

mrcp_message_t *Event(TestChannel *ch, mrcp_method_id id, mrcp_request_state_e state) {
  mrcp_message_t *event = mrcp_event_create(ch->active, id, ch->active->pool);
  event->start_line.request_state = state;
  return event;
}

void StartInput(TestChannel *ch, const char *type) {
  if (!ch->active || ch->input_started) return;
  ch->input_started = true;
  mrcp_message_t *event = Event(ch, RECOGNIZER_START_OF_INPUT, MRCP_REQUEST_STATE_INPROGRESS);
  if (ch->handle->mrcp_version == MRCP_VERSION_2) {
    apt_string_assign(&event->recog_header.input_type, type, event->pool);
    mrcp_resource_header_property_add(event, RECOGNIZER_HEADER_INPUT_TYPE);
  }
  mrcp_engine_channel_message_send(ch->handle, event);
}

void CompleteRecognition(TestChannel *ch, mrcp_recog_completion_cause_e cause, long frames, long loud) {
  if (!ch->active) return;
  ch->listening.store(false);
  mrcp_message_t *event = Event(ch, RECOGNIZER_RECOGNITION_COMPLETE, MRCP_REQUEST_STATE_COMPLETE);
  event->recog_header.completion_cause = cause;
  mrcp_resource_header_property_add(event, RECOGNIZER_HEADER_COMPLETION_CAUSE);
  char body[256];
  const mpf_codec_descriptor_t *codec = mrcp_engine_sink_stream_codec_get(ch->handle);
  snprintf(body, sizeof(body), "frames=%ld loud=%ld digits=%s codec=%.*s/%u", frames, loud, ch->digits.c_str(),
           codec ? static_cast<int>(codec->name.length) : 0, codec ? codec->name.buf : "",
           codec ? codec->sampling_rate : 0u);
  apt_string_assign(&event->generic_header.content_type, "text/plain", event->pool);
  mrcp_generic_header_property_add(event, GENERIC_HEADER_CONTENT_TYPE);
  mrcp_message_body_set(event, body, strlen(body));
  ch->active = nullptr;
  mrcp_engine_channel_message_send(ch->handle, event);
}

long NumberParam(const apt_pair_arr_t *params, const char *name, long fallback) {
  const apt_pair_t *pair = apt_pair_array_find(params, name);
  return pair && pair->value.buf ? strtol(pair->value.buf, nullptr, 10) : fallback;
}

void ProcessRequest(TestChannel *ch, mrcp_message_t *request) {
  mrcp_message_t *response = mrcp_response_create(request, request->pool);
  const apt_pair_arr_t *params = mrcp_generic_header_property_check(request, GENERIC_HEADER_VENDOR_SPECIFIC_PARAMS)
                                     ? request->generic_header.vendor_specific_params
                                     : nullptr;
  const bool recognizer = ch->engine->resource == MRCP_RECOGNIZER_RESOURCE;
  const mrcp_method_id method = request->start_line.method_id;
  if (mrcp_generic_header_property_check(request, GENERIC_HEADER_LOGGING_TAG)) {
    apt_string_copy(&response->generic_header.logging_tag, &request->generic_header.logging_tag, response->pool);
    mrcp_generic_header_property_add(response, GENERIC_HEADER_LOGGING_TAG);
  }
  const bool start = recognizer ? method == RECOGNIZER_RECOGNIZE : method == SYNTHESIZER_SPEAK;
  const bool stop = recognizer ? method == RECOGNIZER_STOP
                               : (method == SYNTHESIZER_STOP || method == SYNTHESIZER_BARGE_IN_OCCURRED);
  if (start) {
    if (ch->active) {
      response->start_line.status_code = MRCP_STATUS_CODE_METHOD_NOT_ALLOWED;
    } else {
      ch->active = request;
      ch->input_started = false;
      ch->digits.clear();
      response->start_line.request_state = MRCP_REQUEST_STATE_INPROGRESS;
      if (recognizer) {
        ch->complete_after = NumberParam(params, "complete-after", 0);
        ch->dtmf_digits = NumberParam(params, "dtmf-digits", 1);
        ch->generation.fetch_add(1);
        ch->listening.store(true);
      } else {
        ch->frames_to_play.store(NumberParam(params, "frames", 50));
        ch->speaking.store(true);
      }
    }
  } else if (stop && ch->active) {
    ch->listening.store(false);
    ch->speaking.store(false);
    char id[32];
    snprintf(id, sizeof(id), "%" APR_SIZE_T_FMT, ch->active->start_line.request_id);
    apt_string_assign(&response->generic_header.active_request_id_list, id, response->pool);
    mrcp_generic_header_property_add(response, GENERIC_HEADER_ACTIVE_REQUEST_ID_LIST);
    ch->active = nullptr;
  }
  mrcp_engine_channel_message_send(ch->handle, response);
}

// ---------- audio stream ----------

apt_bool_t WriteFrame(mpf_audio_stream_t *stream, const mpf_frame_t *frame) {
  NoteMediaThread();
  auto *ch = static_cast<TestChannel *>(stream->obj);
  UpdateStats([&](hosttest_stats_t &s) {
    ++s.frames_written;
    s.last_frame_size = frame->codec_frame.size;
    if (frame->type & MEDIA_FRAME_TYPE_EVENT) ++s.event_frames;
  });
  if (!ch->listening.load()) return TRUE;
  const unsigned generation = ch->generation.load();
  if (generation != ch->seen_generation) {
    ch->seen_generation = generation;
    ch->frames_seen = ch->loud_frames = ch->quiet_after_loud = ch->media_digits = 0;
    ch->media_done = false;
  }
  if (ch->media_done) return TRUE;
  ++ch->frames_seen;
  if (frame->type & MEDIA_FRAME_TYPE_EVENT) {
    if (frame->marker == MPF_MARKER_START_OF_EVENT) {
      char digit = mpf_event_id_to_dtmf_char(frame->event_frame.event_id);
      ch->Post([ch, digit] {
        ch->digits += digit;
        StartInput(ch, "dtmf");
      });
    } else if (frame->marker == MPF_MARKER_END_OF_EVENT && ++ch->media_digits >= ch->dtmf_digits) {
      ch->media_done = true;
      long frames = ch->frames_seen;
      ch->Post([ch, frames] { CompleteRecognition(ch, RECOGNIZER_COMPLETION_CAUSE_SUCCESS, frames, 0); }, 0);
    }
    return TRUE;
  }
  const mpf_codec_descriptor_t *codec = stream->tx_descriptor;
  long energy = 0;
  const size_t size = frame->codec_frame.size;
  const auto *bytes = static_cast<const uint8_t *>(frame->codec_frame.buffer);
  const bool ulaw = codec && apt_string_compare_nocase(&codec->name, "PCMU");
  size_t samples = ulaw ? size : size / 2;
  for (size_t i = 0; i < samples; ++i) {
    int16_t s = ulaw ? mrcphost::UlawToLinear(bytes[i]) : static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    energy += std::labs(s);
  }
  const bool loud = samples > 0 && energy / static_cast<long>(samples) > 500;
  if (loud) {
    if (ch->loud_frames++ == 0) ch->Post([ch] { StartInput(ch, "speech"); });
    ch->quiet_after_loud = 0;
  } else if (ch->loud_frames >= 5) {
    ++ch->quiet_after_loud;
  }
  const bool ended = (ch->loud_frames >= 5 && ch->quiet_after_loud >= 30) ||
                     (ch->complete_after > 0 && ch->frames_seen >= ch->complete_after);
  if (ended) {
    ch->media_done = true;
    long frames = ch->frames_seen;
    long loud_frames = ch->loud_frames;
    ch->Post(
        [ch, frames, loud_frames] { CompleteRecognition(ch, RECOGNIZER_COMPLETION_CAUSE_SUCCESS, frames, loud_frames); });
  }
  return TRUE;
}

apt_bool_t ReadFrame(mpf_audio_stream_t *stream, mpf_frame_t *frame) {
  NoteMediaThread();
  auto *ch = static_cast<TestChannel *>(stream->obj);
  UpdateStats([&](hosttest_stats_t &s) {
    ++s.frames_read;
    s.last_frame_size = frame->codec_frame.size;
  });
  if (!ch->speaking.load()) return TRUE;
  long left = ch->frames_to_play.fetch_sub(1);
  if (left <= 0) return TRUE;
  const mpf_codec_descriptor_t *codec = stream->rx_descriptor;
  const bool ulaw = codec && apt_string_compare_nocase(&codec->name, "PCMU");
  auto *bytes = static_cast<uint8_t *>(frame->codec_frame.buffer);
  size_t samples = ulaw ? frame->codec_frame.size : frame->codec_frame.size / 2;
  for (size_t i = 0; i < samples; ++i, ++ch->phase) {
    int16_t s = (ch->phase / 8) % 2 ? 8000 : -8000;  // a square wave is tone enough
    if (ulaw) {
      bytes[i] = mrcphost::LinearToUlaw(s);
    } else {
      bytes[2 * i] = static_cast<uint8_t>(s);
      bytes[2 * i + 1] = static_cast<uint8_t>(s >> 8);
    }
  }
  frame->type |= MEDIA_FRAME_TYPE_AUDIO;
  if (left == 1) {
    ch->speaking.store(false);
    ch->Post([ch] {
      if (!ch->active) return;
      mrcp_message_t *event = Event(ch, SYNTHESIZER_SPEAK_COMPLETE, MRCP_REQUEST_STATE_COMPLETE);
      event->synth_header.completion_cause = SYNTHESIZER_COMPLETION_CAUSE_NORMAL;
      mrcp_resource_header_property_add(event, SYNTHESIZER_HEADER_COMPLETION_CAUSE);
      ch->active = nullptr;
      mrcp_engine_channel_message_send(ch->handle, event);
    });
  }
  return TRUE;
}

// media=null: frames cost the plugin nothing, so a benchmark sees the host's own cost.
apt_bool_t NullWriteFrame(mpf_audio_stream_t *, const mpf_frame_t *) { return TRUE; }
apt_bool_t NullReadFrame(mpf_audio_stream_t *, mpf_frame_t *) { return TRUE; }
const mpf_audio_stream_vtable_t kNullRecognizerStream = {nullptr, nullptr, nullptr, nullptr,
                                                         nullptr, nullptr, NullWriteFrame, nullptr};
const mpf_audio_stream_vtable_t kNullSynthesizerStream = {nullptr, nullptr, nullptr, NullReadFrame,
                                                          nullptr, nullptr, nullptr,  nullptr};

const mpf_audio_stream_vtable_t kRecognizerStream = {nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, WriteFrame, nullptr};
const mpf_audio_stream_vtable_t kSynthesizerStream = {nullptr, nullptr, nullptr, ReadFrame,
                                                      nullptr, nullptr, nullptr,  nullptr};

// ---------- channel method table ----------

apt_bool_t ChannelDestroy(mrcp_engine_channel_t *channel) {
  NoteMethodThread();
  UpdateStats([](hosttest_stats_t &s) { ++s.channels_destroyed; });
  auto *ch = static_cast<TestChannel *>(channel->method_obj);
  // Marked on the worker, so no work of the channel runs there once the host frees its memory.
  std::promise<void> done;
  ch->engine->worker.Post([ch, &done] {
    ch->destroyed.store(true);
    done.set_value();
  });
  done.get_future().wait();
  channel->method_obj = nullptr;
  return TRUE;
}

apt_bool_t ChannelOpen(mrcp_engine_channel_t *channel) {
  NoteMethodThread();
  auto *ch = static_cast<TestChannel *>(channel->method_obj);
  const std::string mode = Param(channel->attribs, "open", "async");
  apt_log(g_log, APT_LOG_MARK, APT_PRIO_INFO, "Open <%s@test> [%s]", channel->id.buf, mode.c_str());
  if (mode == "never") return TRUE;
  ch->Post([channel, mode] { mrcp_engine_channel_open_respond(channel, mode != "refuse"); });
  return TRUE;
}

apt_bool_t ChannelClose(mrcp_engine_channel_t *channel) {
  NoteMethodThread();
  auto *ch = static_cast<TestChannel *>(channel->method_obj);
  const std::string mode = Param(channel->attribs, "close", "async");
  apt_log(g_log, APT_LOG_MARK, APT_PRIO_INFO, "Close <%s@test> [%s]", channel->id.buf, mode.c_str());
  ch->listening.store(false);
  ch->speaking.store(false);
  if (mode == "never") return TRUE;
  ch->Post([channel] { mrcp_engine_channel_close_respond(channel); });
  return TRUE;
}

apt_bool_t ChannelRequest(mrcp_engine_channel_t *channel, mrcp_message_t *request) {
  NoteMethodThread();
  UpdateStats([](hosttest_stats_t &s) { ++s.requests; });
  auto *ch = static_cast<TestChannel *>(channel->method_obj);
  const apt_pair_arr_t *params = mrcp_generic_header_property_check(request, GENERIC_HEADER_VENDOR_SPECIFIC_PARAMS)
                                     ? request->generic_header.vendor_specific_params
                                     : nullptr;
  const apt_pair_t *answer = apt_pair_array_find(params, "answer");
  if (answer && apt_string_compare_nocase(&answer->value, "never")) return TRUE;
  ch->Post([ch, request] { ProcessRequest(ch, request); }, NumberParam(params, "delay", 0));
  return TRUE;
}

const mrcp_engine_channel_method_vtable_t kChannelMethods = {ChannelDestroy, ChannelOpen, ChannelClose,
                                                             ChannelRequest};

// ---------- engine method table ----------

apt_bool_t EngineDestroy(mrcp_engine_t *engine) {
  NoteMethodThread();
  UpdateStats([](hosttest_stats_t &s) { ++s.engines_destroyed; });
  delete static_cast<TestEngine *>(engine->obj);
  engine->obj = nullptr;
  return TRUE;
}

apt_bool_t EngineOpen(mrcp_engine_t *engine) {
  NoteMethodThread();
  UpdateStats([](hosttest_stats_t &s) { ++s.engine_opens; });
  auto *e = static_cast<TestEngine *>(engine->obj);
  const std::string mode = Param(engine->params, "open", "async");
  const char *conf = apt_confdir_filepath_get(engine->dir_layout, "hosttest.xml", engine->pool);
  apt_log(g_log, APT_LOG_MARK, APT_PRIO_NOTICE, "Open Test Engine [%s] conf [%s]", mode.c_str(), conf ? conf : "");
  if (mode == "fail") return FALSE;
  if (mode == "sync") return mrcp_engine_open_respond(engine, TRUE);
  if (mode == "never") return TRUE;
  e->worker.Post([engine, mode] { mrcp_engine_open_respond(engine, mode != "refuse"); });
  return TRUE;
}

apt_bool_t EngineClose(mrcp_engine_t *engine) {
  NoteMethodThread();
  auto *e = static_cast<TestEngine *>(engine->obj);
  if (Param(engine->params, "close", "async") == "never") return TRUE;
  e->worker.Post([engine] { mrcp_engine_close_respond(engine); });
  return TRUE;
}

mrcp_engine_channel_t *EngineCreateChannel(mrcp_engine_t *engine, apr_pool_t *pool) {
  NoteMethodThread();
  UpdateStats([](hosttest_stats_t &s) { ++s.channels_created; });
  auto *e = static_cast<TestEngine *>(engine->obj);
  e->channels.push_back(std::make_unique<TestChannel>());
  TestChannel *ch = e->channels.back().get();
  ch->engine = e;
  const bool recognizer = e->resource == MRCP_RECOGNIZER_RESOURCE;
  mpf_stream_capabilities_t *caps =
      mpf_stream_capabilities_create(recognizer ? STREAM_DIRECTION_SEND : STREAM_DIRECTION_RECEIVE, pool);
  if (recognizer) {
    mpf_codec_capabilities_entry_add(&caps->codecs, "LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000, 0, 10);
    mpf_codec_capabilities_entry_add(&caps->codecs, "PCMU", MPF_SAMPLE_RATE_8000, 0, 10);
  } else {
    mpf_codec_capabilities_add(&caps->codecs, MPF_SAMPLE_RATE_8000, "PCMU");
    mpf_codec_capabilities_add(&caps->codecs, MPF_SAMPLE_RATE_16000, "LPCM");
  }
  const bool null_media = Param(engine->params, "media", "") == "null";
  const mpf_audio_stream_vtable_t *stream = recognizer ? (null_media ? &kNullRecognizerStream : &kRecognizerStream)
                                                       : (null_media ? &kNullSynthesizerStream : &kSynthesizerStream);
  mpf_termination_t *termination = mrcp_engine_audio_termination_create(ch, stream, caps, pool);
  ch->handle = mrcp_engine_channel_create(engine, &kChannelMethods, ch, termination, pool);
  return ch->handle;
}

const mrcp_engine_method_vtable_t kEngineMethods = {EngineDestroy, EngineOpen, EngineClose, EngineCreateChannel};

}  // namespace

extern "C" {

#ifndef HOSTTEST_VERSION_MAJOR
#define HOSTTEST_VERSION_MAJOR MRCP_PLUGIN_VERSION_MAJOR
#endif
MRCP_PLUGIN_EXPORT mrcp_plugin_version_t mrcp_plugin_version = {HOSTTEST_VERSION_MAJOR, MRCP_PLUGIN_VERSION_MINOR,
                                                                 MRCP_PLUGIN_VERSION_PATCH, 0};

MRCP_PLUGIN_EXPORT apt_bool_t mrcp_plugin_logger_set(apt_logger_t *logger) { return apt_log_instance_set(logger); }

MRCP_PLUGIN_EXPORT void mrcp_plugin_log_source_set(apt_log_source_t *source) {
  apt_def_log_source_set(source);
  apt_log_source_assign("HOSTTEST-PLUGIN", &g_log);
}

MRCP_PLUGIN_EXPORT mrcp_engine_t *mrcp_plugin_create(apr_pool_t *pool) {
  auto *engine = new TestEngine();
  engine->handle = mrcp_engine_create(MRCP_RECOGNIZER_RESOURCE, engine, &kEngineMethods, pool);
  if (!engine->handle) {
    delete engine;
    return nullptr;
  }
  // The host binds the engine (and its parameters) while creating it.
  if (Param(engine->handle->params, "resource", "recognizer") == "synthesizer") {
    engine->resource = MRCP_SYNTHESIZER_RESOURCE;
    engine->handle->resource_id = MRCP_SYNTHESIZER_RESOURCE;
  }
  return engine->handle;
}

MRCP_PLUGIN_EXPORT void hosttest_plugin_stats(hosttest_stats_t *stats) {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  *stats = g_stats;
}

MRCP_PLUGIN_EXPORT void hosttest_plugin_reset(void) {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  g_stats = hosttest_stats_t();
  g_method_threads.clear();
  g_media_threads.clear();
}

}  // extern "C"

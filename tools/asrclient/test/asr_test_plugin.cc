// A recognizer plugin for the ASR client's tests. It keeps what a real recognizer keeps (defined
// grammars, SET-PARAMS values), checks the grammars a RECOGNIZE activates, and completes after the
// caller has spoken and fallen silent, with an NLSML body whose comment reports what it saw:
//
//   <!-- test: version=2 codec=LPCM/8000 content-type=text/uri-list grammars=session:g@voxprobe
//        defined=g@voxprobe=application/srgs+xml headers=N-Best-List-Length:3 set-params=0
//        frames=123 loud=45 -->
//
// Steering: the engine parameter open=never leaves the engine open unanswered; the RECOGNIZE
// Vendor-Specific-Parameters test-answer=never (no response), test-complete=never (IN-PROGRESS,
// then nothing) and test-body=none (no-match with no body).
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "mrcphost/host_audio.h"
#include "mrcphost/host_mrcp_text.h"
#include "mrcphost/host_server.h"
#include "mrcphost/mrcphost.h"

namespace {

constexpr long kLoudFramesForSpeech = 5;
constexpr long kQuietFramesAfterSpeech = 30;

struct TestChannel {
  mrcp_engine_channel_t *handle = nullptr;
  std::mutex mutex;
  std::map<std::string, std::string> defined;  // Content-Id -> Content-Type; guarded by mutex
  mrcphost::NameValues set_params;             // guarded by mutex
  int set_params_count = 0;                    // guarded by mutex
  mrcp_message_t *active = nullptr;            // RECOGNIZE in progress; guarded by mutex
  bool completes = true;                       // guarded by mutex
  bool with_body = true;                       // guarded by mutex
  std::string report;                          // guarded by mutex
  std::string grammar;                         // guarded by mutex
  long no_input_frames = 500;                  // guarded by mutex
  long frames = 0;                             // guarded by mutex
  long loud = 0;                               // guarded by mutex
  long quiet_after_loud = 0;                   // guarded by mutex
};

std::string Text(const apt_str_t &s) { return s.buf ? std::string(s.buf, s.length) : std::string(); }

bool HasParam(const mrcp_message_t *request, const char *name, const char *value) {
  if (!mrcp_generic_header_property_check(request, GENERIC_HEADER_VENDOR_SPECIFIC_PARAMS)) return false;
  const apt_pair_t *pair = apt_pair_array_find(request->generic_header.vendor_specific_params, name);
  return pair && apt_string_compare_nocase(&pair->value, value);
}

void SetCause(mrcp_message_t *message, mrcp_recog_completion_cause_e cause) {
  message->recog_header.completion_cause = cause;
  mrcp_resource_header_property_add(message, RECOGNIZER_HEADER_COMPLETION_CAUSE);
}

// With ch->mutex held; the event is sent by the caller once the lock is released.
mrcp_message_t *CompleteLocked(TestChannel *ch, mrcp_recog_completion_cause_e cause, bool body) {
  mrcp_message_t *event = mrcp_event_create(ch->active, RECOGNIZER_RECOGNITION_COMPLETE, ch->active->pool);
  event->start_line.request_state = MRCP_REQUEST_STATE_COMPLETE;
  SetCause(event, cause);
  if (body) {
    char counts[96];
    snprintf(counts, sizeof(counts), " set-params=%d frames=%ld loud=%ld", ch->set_params_count, ch->frames, ch->loud);
    const std::string nlsml = "<?xml version=\"1.0\"?>\n<result>\n  <interpretation grammar=\"" + ch->grammar +
                              "\" confidence=\"0.90\">\n    <instance>heard</instance>\n"
                              "    <input mode=\"speech\">heard</input>\n  </interpretation>\n  <!-- test: " +
                              ch->report + counts + " -->\n</result>\n";
    mrcp_header_value_parse(event, "Content-Type", "application/x-nlsml", nullptr);
    mrcp_message_body_set(event, nlsml.data(), nlsml.size());
  }
  ch->active = nullptr;
  return event;
}

// The grammars a RECOGNIZE activates; a status other than 200 refuses it.
int CheckGrammars(TestChannel *ch, const mrcp_message_t *request, std::string *list, std::string *first) {
  const std::string type = Text(request->generic_header.content_type);
  const std::string body = Text(request->body);
  if (type != "text/uri-list" && type != "text/grammar-ref-list") return MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
  size_t pos = 0;
  while (pos < body.size()) {
    size_t eol = body.find_first_of("\r\n", pos);
    if (eol == std::string::npos) eol = body.size();
    std::string line = body.substr(pos, eol - pos);
    pos = eol + 1;
    if (line.empty()) continue;
    if (type == "text/grammar-ref-list") {
      if (line[0] != '<' || line.find('>') == std::string::npos) return MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
      line = line.substr(1, line.find('>') - 1);
    }
    if (line.compare(0, 8, "session:") == 0 && !ch->defined.count(line.substr(8))) return MRCP_STATUS_CODE_ILLEGAL_PARAM_VALUE;
    if (line.compare(0, 8, "session:") != 0 && line.compare(0, 8, "builtin:") != 0) continue;  // unsupported: skipped
    *list += (list->empty() ? "" : ",") + line;
    if (first->empty()) *first = line;
  }
  return list->empty() ? MRCP_STATUS_CODE_MISSING_PARAM : MRCP_STATUS_CODE_SUCCESS;
}

std::string Headers(const mrcp_message_t *request, mrcphost::NameValues *out) {
  mrcphost::WireMessage wire;
  std::string text;
  if (!mrcphost::MakeWireMessage(request, &wire)) return text;
  for (const auto &header : wire.headers) {
    const char *skip[] = {"Channel-Identifier", "Content-Length", "Content-Type", "Content-Id"};
    bool skipped = false;
    for (const char *name : skip) skipped = skipped || strcasecmp(header.first.c_str(), name) == 0;
    if (skipped) continue;
    if (out) out->push_back(header);
    text += (text.empty() ? "" : ";") + header.first + ":" + header.second;
  }
  return text;
}

void Recognize(TestChannel *ch, mrcp_message_t *request, mrcp_message_t *response) {
  std::string list;
  std::string first;
  std::lock_guard<std::mutex> lock(ch->mutex);
  if (ch->active) {
    response->start_line.status_code = MRCP_STATUS_CODE_METHOD_NOT_ALLOWED;
    return;
  }
  int status = CheckGrammars(ch, request, &list, &first);
  if (status != MRCP_STATUS_CODE_SUCCESS) {
    response->start_line.status_code = static_cast<mrcp_status_code_e>(status);
    SetCause(response, RECOGNIZER_COMPLETION_CAUSE_GRAM_LOAD_FAILURE);
    return;
  }
  const mpf_codec_descriptor_t *codec = mrcp_engine_sink_stream_codec_get(ch->handle);
  std::string defined;
  for (const auto &grammar : ch->defined) defined += (defined.empty() ? "" : ",") + grammar.first + "=" + grammar.second;
  ch->report = "version=" + std::to_string(ch->handle->mrcp_version) + " codec=" + Text(codec->name) + "/" +
               std::to_string(codec->sampling_rate) + " content-type=" + Text(request->generic_header.content_type) +
               " grammars=" + list + " defined=" + defined + " headers=" + Headers(request, nullptr);
  ch->grammar = first;
  ch->completes = !HasParam(request, "test-complete", "never");
  ch->with_body = !HasParam(request, "test-body", "none");
  ch->no_input_frames = mrcp_resource_header_property_check(request, RECOGNIZER_HEADER_NO_INPUT_TIMEOUT)
                            ? static_cast<long>(request->recog_header.no_input_timeout / 10)
                            : 500;
  ch->frames = ch->loud = ch->quiet_after_loud = 0;
  ch->active = request;
  response->start_line.request_state = MRCP_REQUEST_STATE_INPROGRESS;
}

apt_bool_t ChannelRequest(mrcp_engine_channel_t *channel, mrcp_message_t *request) {
  auto *ch = static_cast<TestChannel *>(channel->method_obj);
  mrcp_message_t *response = mrcp_response_create(request, request->pool);
  switch (request->start_line.method_id) {
    case RECOGNIZER_DEFINE_GRAMMAR: {
      const std::string type = Text(request->generic_header.content_type);
      const std::string id = Text(request->generic_header.content_id);
      if (id.empty()) {
        response->start_line.status_code = MRCP_STATUS_CODE_MISSING_PARAM;
      } else if (type != "application/srgs+xml" && type != "application/xml") {
        response->start_line.status_code = MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
      } else {
        std::lock_guard<std::mutex> lock(ch->mutex);
        ch->defined[id] = type;
      }
      break;
    }
    case RECOGNIZER_RECOGNIZE:
      if (HasParam(request, "test-answer", "never")) return TRUE;
      Recognize(ch, request, response);
      break;
    case RECOGNIZER_SET_PARAMS: {
      mrcphost::NameValues headers;
      Headers(request, &headers);
      std::lock_guard<std::mutex> lock(ch->mutex);
      ch->set_params = headers;
      ++ch->set_params_count;
      break;
    }
    case RECOGNIZER_GET_PARAMS: {
      std::lock_guard<std::mutex> lock(ch->mutex);
      for (const auto &header : ch->set_params) {
        mrcp_header_value_parse(response, header.first.c_str(), header.second.c_str(), nullptr);
      }
      break;
    }
    case RECOGNIZER_STOP: {
      std::lock_guard<std::mutex> lock(ch->mutex);
      if (ch->active) {
        char id[32];
        snprintf(id, sizeof(id), "%" APR_SIZE_T_FMT, ch->active->start_line.request_id);
        mrcp_header_value_parse(response, "Active-Request-Id-List", id, nullptr);
        ch->active = nullptr;
      }
      break;
    }
    default:
      break;
  }
  return mrcp_engine_channel_message_send(channel, response);
}

apt_bool_t WriteFrame(mpf_audio_stream_t *stream, const mpf_frame_t *frame) {
  auto *ch = static_cast<TestChannel *>(stream->obj);
  mrcp_message_t *event = nullptr;
  {
    std::lock_guard<std::mutex> lock(ch->mutex);
    if (!ch->active || !ch->completes) return TRUE;
    ++ch->frames;
    const auto *bytes = static_cast<const uint8_t *>(frame->codec_frame.buffer);
    const size_t samples = frame->codec_frame.size / 2;
    long energy = 0;
    for (size_t i = 0; i < samples; ++i) energy += std::labs(static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    if (samples > 0 && energy / static_cast<long>(samples) > 300) {
      ++ch->loud;
      ch->quiet_after_loud = 0;
    } else if (ch->loud >= kLoudFramesForSpeech) {
      ++ch->quiet_after_loud;
    }
    if (ch->loud >= kLoudFramesForSpeech && ch->quiet_after_loud >= kQuietFramesAfterSpeech) {
      event = ch->with_body ? CompleteLocked(ch, RECOGNIZER_COMPLETION_CAUSE_SUCCESS, true)
                            : CompleteLocked(ch, RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, false);
    } else if (ch->loud < kLoudFramesForSpeech && ch->frames >= ch->no_input_frames) {
      event = CompleteLocked(ch, RECOGNIZER_COMPLETION_CAUSE_NO_INPUT_TIMEOUT, false);
    }
  }
  if (event) mrcp_engine_channel_message_send(ch->handle, event);
  return TRUE;
}

const mpf_audio_stream_vtable_t kStream = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, WriteFrame, nullptr};

apt_bool_t ChannelDestroy(mrcp_engine_channel_t *channel) {
  delete static_cast<TestChannel *>(channel->method_obj);
  channel->method_obj = nullptr;
  return TRUE;
}

apt_bool_t ChannelOpen(mrcp_engine_channel_t *channel) { return mrcp_engine_channel_open_respond(channel, TRUE); }

apt_bool_t ChannelClose(mrcp_engine_channel_t *channel) {
  auto *ch = static_cast<TestChannel *>(channel->method_obj);
  {
    std::lock_guard<std::mutex> lock(ch->mutex);
    ch->active = nullptr;
  }
  return mrcp_engine_channel_close_respond(channel);
}

const mrcp_engine_channel_method_vtable_t kChannelMethods = {ChannelDestroy, ChannelOpen, ChannelClose, ChannelRequest};

apt_bool_t EngineDestroy(mrcp_engine_t *) { return TRUE; }

apt_bool_t EngineOpen(mrcp_engine_t *engine) {
  const char *open = engine->params ? apr_table_get(engine->params, "open") : nullptr;
  if (open && strcmp(open, "never") == 0) return TRUE;
  return mrcp_engine_open_respond(engine, TRUE);
}

apt_bool_t EngineClose(mrcp_engine_t *engine) { return mrcp_engine_close_respond(engine); }

mrcp_engine_channel_t *EngineCreateChannel(mrcp_engine_t *engine, apr_pool_t *pool) {
  auto *ch = new TestChannel();
  mpf_stream_capabilities_t *caps = mpf_stream_capabilities_create(STREAM_DIRECTION_SEND, pool);
  mpf_codec_capabilities_entry_add(&caps->codecs, "LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000, 0, 10);
  mpf_termination_t *termination = mrcp_engine_audio_termination_create(ch, &kStream, caps, pool);
  mrcp_engine_channel_t *handle = mrcp_engine_channel_create(engine, &kChannelMethods, ch, termination, pool);
  if (!handle) {
    delete ch;
    return nullptr;
  }
  ch->handle = handle;
  return handle;
}

const mrcp_engine_method_vtable_t kEngineMethods = {EngineDestroy, EngineOpen, EngineClose, EngineCreateChannel};

}  // namespace

extern "C" {

MRCP_PLUGIN_EXPORT mrcp_plugin_version_t mrcp_plugin_version = {MRCP_PLUGIN_VERSION_MAJOR, MRCP_PLUGIN_VERSION_MINOR,
                                                                 MRCP_PLUGIN_VERSION_PATCH, 0};

MRCP_PLUGIN_EXPORT apt_bool_t mrcp_plugin_logger_set(apt_logger_t *logger) { return apt_log_instance_set(logger); }

MRCP_PLUGIN_EXPORT void mrcp_plugin_log_source_set(apt_log_source_t *source) { apt_def_log_source_set(source); }

// Unlike a real plugin, a new engine per call: every test starts its own client engine.
MRCP_PLUGIN_EXPORT mrcp_engine_t *mrcp_plugin_create(apr_pool_t *pool) {
  return mrcp_engine_create(MRCP_RECOGNIZER_RESOURCE, nullptr, &kEngineMethods, pool);
}

}  // extern "C"

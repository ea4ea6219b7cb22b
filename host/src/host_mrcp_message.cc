// MRCP messages of the recognizer and synthesizer resources: creation, header presence, names.
#include <apr_strings.h>
#include <strings.h>

#include <cstring>

#include "mrcphost/host_mrcp_message.h"

namespace {

#define STR(text) {const_cast<char *>(text), sizeof(text) - 1}

const char *const kResourceNames[MRCP_RESOURCE_TYPE_COUNT] = {"speechsynth", "speechrecog"};

const char *const kRecogMethods[RECOGNIZER_METHOD_COUNT] = {
    "SET-PARAMS", "GET-PARAMS", "DEFINE-GRAMMAR", "RECOGNIZE", "INTERPRET", "GET-RESULT", "START-INPUT-TIMERS",
    "STOP", "START-PHRASE-ENROLLMENT", "ENROLLMENT-ROLLBACK", "END-PHRASE-ENROLLMENT", "MODIFY-PHRASE",
    "DELETE-PHRASE"};
const char *const kRecogEvents[RECOGNIZER_EVENT_COUNT] = {"START-OF-INPUT", "RECOGNITION-COMPLETE",
                                                          "INTERPRETATION-COMPLETE"};
const char *const kSynthMethods[SYNTHESIZER_METHOD_COUNT] = {"SET-PARAMS", "GET-PARAMS", "SPEAK",
                                                             "STOP",       "PAUSE",      "RESUME",
                                                             "BARGE-IN-OCCURRED", "CONTROL", "DEFINE-LEXICON"};
const char *const kSynthEvents[SYNTHESIZER_EVENT_COUNT] = {"SPEECH-MARKER", "SPEAK-COMPLETE"};

const char *const kGenericHeaders[GENERIC_HEADER_COUNT] = {
    "Active-Request-Id-List", "Proxy-Sync-Id",    "Accept-Charset", "Content-Type",
    "Content-ID",             "Content-Base",     "Content-Encoding", "Content-Location",
    "Content-Length",         "Cache-Control",    "Logging-Tag",    "Vendor-Specific-Parameters",
    "Accept",                 "Fetch-Timeout",    "Set-Cookie",     "Set-Cookie2"};

const char *const kRecogHeaders[RECOGNIZER_HEADER_COUNT] = {
    "Confidence-Threshold", "Sensitivity-Level", "Speed-Vs-Accuracy", "N-Best-List-Length",
    "No-Input-Timeout", "Recognition-Timeout", "Waveform-URI", "Completion-Cause", "Recognizer-Context-Block",
    "Start-Input-Timers", "Speech-Complete-Timeout", "Speech-Incomplete-Timeout", "DTMF-Interdigit-Timeout",
    "DTMF-Term-Timeout", "DTMF-Term-Char", "Failed-URI", "Failed-URI-Cause", "Save-Waveform",
    "New-Audio-Channel", "Speech-Language", "Input-Type", "Input-Waveform-URI", "Completion-Reason",
    "Media-Type", "Ver-Buffer-Utterance", "Recognition-Mode", "Cancel-If-Queue", "Hotword-Max-Duration",
    "Hotword-Min-Duration", "Interpret-Text", "DTMF-Buffer-Time", "Clear-DTMF-Buffer", "Early-No-Match"};

const char *const kSynthHeaders[SYNTHESIZER_HEADER_COUNT] = {
    "Jump-Size", "Kill-On-Barge-In", "Speaker-Profile", "Completion-Cause", "Completion-Reason", "Voice-Gender",
    "Voice-Age", "Voice-Variant", "Voice-Name", "Prosody-Volume", "Prosody-Rate", "Speech-Marker",
    "Speech-Language", "Fetch-Hint", "Audio-Fetch-Hint", "Failed-URI", "Failed-URI-Cause", "Speak-Restart",
    "Speak-Length", "Load-Lexicon", "Lexicon-Search-Order"};

// RFC 6787 section 9.4.11.
const apt_str_t kRecogCausesV2[RECOGNIZER_COMPLETION_CAUSE_COUNT] = {
    STR("success"), STR("no-match"), STR("no-input-timeout"), STR("hotword-maxtime"), STR("grammar-load-failure"),
    STR("grammar-compilation-failure"), STR("recognizer-error"), STR("speech-too-early"), STR("success-maxtime"),
    STR("uri-failure"), STR("language-unsupported"), STR("cancelled"), STR("semantics-failure"),
    STR("partial-match"), STR("partial-match-maxtime"), STR("no-match-maxtime"), STR("grammar-definition-failure")};
// RFC 4463 section 9.4.11; causes 11 and above do not exist in MRCPv1.
const apt_str_t kRecogCausesV1[] = {
    STR("success"), STR("no-match"), STR("no-input-timeout"), STR("recognition-timeout"), STR("gram-load-failure"),
    STR("gram-comp-failure"), STR("error"), STR("speech-too-early"), STR("too-much-speech-timeout"),
    STR("uri-failure"), STR("language-unsupported")};
// RFC 6787 section 8.4.3.
const apt_str_t kSynthCausesV2[SYNTHESIZER_COMPLETION_CAUSE_COUNT] = {
    STR("normal"), STR("barge-in"), STR("parse-failure"), STR("uri-failure"), STR("error"),
    STR("language-unsupported"), STR("lexicon-load-failure"), STR("cancelled")};
// RFC 4463 section 8.4.3.
const apt_str_t kSynthCausesV1[] = {STR("normal"), STR("barge-in"), STR("parse-failure"),
                                    STR("uri-failure"), STR("error"), STR("language-unsupported")};

#undef STR

const char *const kRequestStates[] = {"COMPLETE", "IN-PROGRESS", "PENDING"};

template <size_t N>
size_t FindName(const char *const (&names)[N], const char *name) {
  for (size_t i = 0; i < N; ++i) {
    if (strcasecmp(names[i], name) == 0) return i;
  }
  return N;
}

apr_size_t ResourceHeaderCount(mrcp_resource_id resource) {
  switch (resource) {
    case MRCP_RECOGNIZER_RESOURCE:
      return RECOGNIZER_HEADER_COUNT;
    case MRCP_SYNTHESIZER_RESOURCE:
      return SYNTHESIZER_HEADER_COUNT;
    default:
      return 0;
  }
}

void InitResourceHeaders(mrcp_message_t *message) {
  message->recog_header.completion_cause = RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
  message->synth_header.completion_cause = SYNTHESIZER_COMPLETION_CAUSE_UNKNOWN;
  message->synth_header.voice_param.gender = VOICE_GENDER_UNDEFINED;
  message->synth_header.prosody_param.volume.type = PROSODY_VOLUME_TYPE_UNKNOWN;
  message->synth_header.prosody_param.rate.type = PROSODY_RATE_TYPE_UNKNOWN;
}

mrcp_message_t *CreateFrom(const mrcp_message_t *request, mrcp_message_type_e type, apr_pool_t *pool) {
  mrcp_message_t *message = mrcp_message_create(request->resource, request->start_line.version, pool);
  if (!message) return nullptr;
  message->start_line.message_type = type;
  message->start_line.request_id = request->start_line.request_id;
  apt_string_copy(&message->channel_id.session_id, &request->channel_id.session_id, pool);
  apt_string_copy(&message->channel_id.resource_name, &request->channel_id.resource_name, pool);
  return message;
}

}  // namespace

extern "C" {

mrcp_message_t *mrcp_message_create(mrcp_resource_id resource, mrcp_version_e version, apr_pool_t *pool) {
  if (!pool) return nullptr;
  auto *message = static_cast<mrcp_message_t *>(apr_pcalloc(pool, sizeof(mrcp_message_t)));
  message->start_line.version = version;
  message->start_line.request_state = MRCP_REQUEST_STATE_UNKNOWN;
  message->resource = resource;
  if (resource < MRCP_RESOURCE_TYPE_COUNT) apt_string_set(&message->channel_id.resource_name, kResourceNames[resource]);
  InitResourceHeaders(message);
  message->pool = pool;
  return message;
}

mrcp_message_t *mrcp_request_create(mrcp_resource_id resource, mrcp_version_e version, mrcp_method_id method_id,
                                    apr_pool_t *pool) {
  mrcp_message_t *message = mrcp_message_create(resource, version, pool);
  if (!message) return nullptr;
  message->start_line.message_type = MRCP_MESSAGE_TYPE_REQUEST;
  message->start_line.method_id = method_id;
  apt_string_set(&message->start_line.method_name, mrcp_method_name_get(resource, method_id));
  return message;
}

mrcp_message_t *mrcp_response_create(const mrcp_message_t *request, apr_pool_t *pool) {
  if (!request) return nullptr;
  mrcp_message_t *message = CreateFrom(request, MRCP_MESSAGE_TYPE_RESPONSE, pool);
  if (!message) return nullptr;
  message->start_line.method_id = request->start_line.method_id;
  apt_string_copy(&message->start_line.method_name, &request->start_line.method_name, pool);
  message->start_line.status_code = MRCP_STATUS_CODE_SUCCESS;
  message->start_line.request_state = MRCP_REQUEST_STATE_COMPLETE;
  return message;
}

mrcp_message_t *mrcp_event_create(const mrcp_message_t *request, mrcp_method_id event_id, apr_pool_t *pool) {
  if (!request) return nullptr;
  mrcp_message_t *message = CreateFrom(request, MRCP_MESSAGE_TYPE_EVENT, pool);
  if (!message) return nullptr;
  message->start_line.method_id = event_id;
  apt_string_set(&message->start_line.method_name, mrcp_event_name_get(request->resource, event_id));
  message->start_line.request_state = MRCP_REQUEST_STATE_INPROGRESS;
  return message;
}

mrcp_generic_header_t *mrcp_generic_header_get(const mrcp_message_t *message) {
  return message ? const_cast<mrcp_generic_header_t *>(&message->generic_header) : nullptr;
}

mrcp_generic_header_t *mrcp_generic_header_prepare(mrcp_message_t *message) { return mrcp_generic_header_get(message); }

void *mrcp_resource_header_get(const mrcp_message_t *message) {
  if (!message) return nullptr;
  switch (message->resource) {
    case MRCP_RECOGNIZER_RESOURCE:
      return const_cast<mrcp_recog_header_t *>(&message->recog_header);
    case MRCP_SYNTHESIZER_RESOURCE:
      return const_cast<mrcp_synth_header_t *>(&message->synth_header);
    default:
      return nullptr;
  }
}

void *mrcp_resource_header_prepare(mrcp_message_t *message) { return mrcp_resource_header_get(message); }

apt_bool_t mrcp_generic_header_property_check(const mrcp_message_t *message, apr_size_t id) {
  if (!message || id >= GENERIC_HEADER_COUNT) return FALSE;
  return (message->header_presence >> id) & 1u ? TRUE : FALSE;
}

void mrcp_generic_header_property_add(mrcp_message_t *message, apr_size_t id) {
  if (message && id < GENERIC_HEADER_COUNT) message->header_presence |= (apr_uint64_t{1} << id);
}

void mrcp_generic_header_property_remove(mrcp_message_t *message, apr_size_t id) {
  if (message && id < GENERIC_HEADER_COUNT) message->header_presence &= ~(apr_uint64_t{1} << id);
}

apt_bool_t mrcp_resource_header_property_check(const mrcp_message_t *message, apr_size_t id) {
  if (!message || id >= ResourceHeaderCount(message->resource)) return FALSE;
  return (message->header_presence >> (GENERIC_HEADER_COUNT + id)) & 1u ? TRUE : FALSE;
}

void mrcp_resource_header_property_add(mrcp_message_t *message, apr_size_t id) {
  if (message && id < ResourceHeaderCount(message->resource)) {
    message->header_presence |= (apr_uint64_t{1} << (GENERIC_HEADER_COUNT + id));
  }
}

void mrcp_resource_header_property_remove(mrcp_message_t *message, apr_size_t id) {
  if (message && id < ResourceHeaderCount(message->resource)) {
    message->header_presence &= ~(apr_uint64_t{1} << (GENERIC_HEADER_COUNT + id));
  }
}

apt_bool_t mrcp_header_property_check(const mrcp_message_t *message, apr_size_t index) {
  if (index < GENERIC_HEADER_COUNT) return mrcp_generic_header_property_check(message, index);
  return mrcp_resource_header_property_check(message, index - GENERIC_HEADER_COUNT);
}

void mrcp_message_body_set(mrcp_message_t *message, const char *data, apr_size_t size) {
  if (!message) return;
  if (!data) {
    apt_string_reset(&message->body);
    return;
  }
  apt_string_assign_n(&message->body, data, size, message->pool);
}

const apt_str_t *mrcp_recog_completion_cause_get(mrcp_recog_completion_cause_e cause, mrcp_version_e version) {
  size_t index = static_cast<size_t>(cause);
  if (version == MRCP_VERSION_1) {
    return index < sizeof(kRecogCausesV1) / sizeof(kRecogCausesV1[0]) ? &kRecogCausesV1[index] : nullptr;
  }
  return index < RECOGNIZER_COMPLETION_CAUSE_COUNT ? &kRecogCausesV2[index] : nullptr;
}

const apt_str_t *mrcp_synth_completion_cause_get(mrcp_synth_completion_cause_e cause, mrcp_version_e version) {
  size_t index = static_cast<size_t>(cause);
  if (version == MRCP_VERSION_1) {
    return index < sizeof(kSynthCausesV1) / sizeof(kSynthCausesV1[0]) ? &kSynthCausesV1[index] : nullptr;
  }
  return index < SYNTHESIZER_COMPLETION_CAUSE_COUNT ? &kSynthCausesV2[index] : nullptr;
}

const char *mrcp_method_name_get(mrcp_resource_id resource, mrcp_method_id method_id) {
  if (resource == MRCP_RECOGNIZER_RESOURCE && method_id < RECOGNIZER_METHOD_COUNT) return kRecogMethods[method_id];
  if (resource == MRCP_SYNTHESIZER_RESOURCE && method_id < SYNTHESIZER_METHOD_COUNT) return kSynthMethods[method_id];
  return nullptr;
}

const char *mrcp_event_name_get(mrcp_resource_id resource, mrcp_method_id event_id) {
  if (resource == MRCP_RECOGNIZER_RESOURCE && event_id < RECOGNIZER_EVENT_COUNT) return kRecogEvents[event_id];
  if (resource == MRCP_SYNTHESIZER_RESOURCE && event_id < SYNTHESIZER_EVENT_COUNT) return kSynthEvents[event_id];
  return nullptr;
}

const char *mrcp_resource_name_get(mrcp_resource_id resource) {
  return resource < MRCP_RESOURCE_TYPE_COUNT ? kResourceNames[resource] : nullptr;
}

mrcp_resource_id mrcp_resource_find(const char *name) {
  return name ? FindName(kResourceNames, name) : mrcp_resource_id{MRCP_RESOURCE_TYPE_COUNT};
}

mrcp_method_id mrcp_method_find(mrcp_resource_id resource, const char *name) {
  if (!name) return ~mrcp_method_id{0};
  if (resource == MRCP_RECOGNIZER_RESOURCE) return FindName(kRecogMethods, name);
  if (resource == MRCP_SYNTHESIZER_RESOURCE) return FindName(kSynthMethods, name);
  return ~mrcp_method_id{0};
}

mrcp_method_id mrcp_event_find(mrcp_resource_id resource, const char *name) {
  if (!name) return ~mrcp_method_id{0};
  if (resource == MRCP_RECOGNIZER_RESOURCE) return FindName(kRecogEvents, name);
  if (resource == MRCP_SYNTHESIZER_RESOURCE) return FindName(kSynthEvents, name);
  return ~mrcp_method_id{0};
}

const char *mrcp_generic_header_name_get(apr_size_t id) {
  return id < GENERIC_HEADER_COUNT ? kGenericHeaders[id] : nullptr;
}

const char *mrcp_resource_header_name_get(mrcp_resource_id resource, apr_size_t id) {
  if (resource == MRCP_RECOGNIZER_RESOURCE && id < RECOGNIZER_HEADER_COUNT) return kRecogHeaders[id];
  if (resource == MRCP_SYNTHESIZER_RESOURCE && id < SYNTHESIZER_HEADER_COUNT) return kSynthHeaders[id];
  return nullptr;
}

apr_size_t mrcp_resource_header_count_get(mrcp_resource_id resource) { return ResourceHeaderCount(resource); }

apr_size_t mrcp_header_index_find(mrcp_resource_id resource, const char *name) {
  if (!name) return ~apr_size_t{0};
  size_t generic = FindName(kGenericHeaders, name);
  if (generic < GENERIC_HEADER_COUNT) return generic;
  for (apr_size_t id = 0; id < ResourceHeaderCount(resource); ++id) {
    if (strcasecmp(mrcp_resource_header_name_get(resource, id), name) == 0) return GENERIC_HEADER_COUNT + id;
  }
  return ~apr_size_t{0};
}

const char *mrcp_request_state_name_get(mrcp_request_state_e state) {
  return state < MRCP_REQUEST_STATE_UNKNOWN ? kRequestStates[state] : nullptr;
}

mrcp_request_state_e mrcp_request_state_find(const char *name) {
  return name ? static_cast<mrcp_request_state_e>(FindName(kRequestStates, name)) : MRCP_REQUEST_STATE_UNKNOWN;
}

}  // extern "C"

/*
 * MRCP messages of the recognizer and synthesizer resources (RFC 6787; RFC 4463 for MRCPv1).
 * Header presence is tracked per index: the 16 generic headers first, then the resource's
 * headers, so a resource header's index is MRCP_GENERIC_HEADER_COUNT plus its resource id.
 */
#ifndef MRCPHOST_HOST_MRCP_MESSAGE_H
#define MRCPHOST_HOST_MRCP_MESSAGE_H

#include "host_apt.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum { MRCP_VERSION_UNKNOWN = 0, MRCP_VERSION_1 = 1, MRCP_VERSION_2 = 2 } mrcp_version_e;

typedef enum {
  MRCP_SYNTHESIZER_RESOURCE = 0,
  MRCP_RECOGNIZER_RESOURCE = 1,
  MRCP_RESOURCE_TYPE_COUNT = 2
} mrcp_resource_type_e;
typedef apr_size_t mrcp_resource_id;

typedef enum {
  MRCP_MESSAGE_TYPE_UNKNOWN = 0,
  MRCP_MESSAGE_TYPE_REQUEST = 1,
  MRCP_MESSAGE_TYPE_RESPONSE = 2,
  MRCP_MESSAGE_TYPE_EVENT = 3
} mrcp_message_type_e;

typedef enum {
  MRCP_REQUEST_STATE_COMPLETE = 0,
  MRCP_REQUEST_STATE_INPROGRESS = 1,
  MRCP_REQUEST_STATE_PENDING = 2,
  MRCP_REQUEST_STATE_UNKNOWN = 3
} mrcp_request_state_e;

typedef enum {
  MRCP_STATUS_CODE_UNKNOWN = 0,
  MRCP_STATUS_CODE_SUCCESS = 200,
  MRCP_STATUS_CODE_SUCCESS_WITH_IGNORE = 201,
  MRCP_STATUS_CODE_METHOD_NOT_ALLOWED = 401,
  MRCP_STATUS_CODE_METHOD_NOT_VALID = 402,
  MRCP_STATUS_CODE_UNSUPPORTED_PARAM = 403,
  MRCP_STATUS_CODE_ILLEGAL_PARAM_VALUE = 404,
  MRCP_STATUS_CODE_NOT_FOUND = 405,
  MRCP_STATUS_CODE_MISSING_PARAM = 406,
  MRCP_STATUS_CODE_METHOD_FAILED = 407,
  MRCP_STATUS_CODE_UNRECOGNIZED_MESSAGE = 408,
  MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE = 409,
  MRCP_STATUS_CODE_OUT_OF_ORDER = 410,
  MRCP_STATUS_CODE_RESOURCE_SPECIFIC_FAILURE = 421,
  MRCP_STATUS_CODE_SERVER_INTERNAL_ERROR = 501,
  MRCP_STATUS_CODE_PROTOCOL_VERSION_NOT_SUPPORTED = 502,
  MRCP_STATUS_CODE_MESSAGE_TOO_LARGE = 504,
  MRCP_STATUS_CODE_LIMIT = 999 /* any three-digit code read from the wire fits */
} mrcp_status_code_e;

typedef apr_size_t mrcp_method_id;
typedef apr_size_t mrcp_request_id;

/* Recognizer methods and events. */
typedef enum {
  RECOGNIZER_SET_PARAMS = 0,
  RECOGNIZER_GET_PARAMS = 1,
  RECOGNIZER_DEFINE_GRAMMAR = 2,
  RECOGNIZER_RECOGNIZE = 3,
  RECOGNIZER_INTERPRET = 4,
  RECOGNIZER_GET_RESULT = 5,
  RECOGNIZER_START_INPUT_TIMERS = 6,
  RECOGNIZER_STOP = 7,
  RECOGNIZER_START_PHRASE_ENROLLMENT = 8,
  RECOGNIZER_ENROLLMENT_ROLLBACK = 9,
  RECOGNIZER_END_PHRASE_ENROLLMENT = 10,
  RECOGNIZER_MODIFY_PHRASE = 11,
  RECOGNIZER_DELETE_PHRASE = 12,
  RECOGNIZER_METHOD_COUNT = 13
} mrcp_recognizer_method_id;

typedef enum {
  RECOGNIZER_START_OF_INPUT = 0,
  RECOGNIZER_RECOGNITION_COMPLETE = 1,
  RECOGNIZER_INTERPRETATION_COMPLETE = 2,
  RECOGNIZER_EVENT_COUNT = 3
} mrcp_recognizer_event_id;

/* Synthesizer methods and events. */
typedef enum {
  SYNTHESIZER_SET_PARAMS = 0,
  SYNTHESIZER_GET_PARAMS = 1,
  SYNTHESIZER_SPEAK = 2,
  SYNTHESIZER_STOP = 3,
  SYNTHESIZER_PAUSE = 4,
  SYNTHESIZER_RESUME = 5,
  SYNTHESIZER_BARGE_IN_OCCURRED = 6,
  SYNTHESIZER_CONTROL = 7,
  SYNTHESIZER_DEFINE_LEXICON = 8,
  SYNTHESIZER_METHOD_COUNT = 9
} mrcp_synthesizer_method_id;

typedef enum {
  SYNTHESIZER_SPEECH_MARKER = 0,
  SYNTHESIZER_SPEAK_COMPLETE = 1,
  SYNTHESIZER_EVENT_COUNT = 2
} mrcp_synthesizer_event_id;

/* Generic headers, in index order. */
typedef enum {
  GENERIC_HEADER_ACTIVE_REQUEST_ID_LIST = 0,
  GENERIC_HEADER_PROXY_SYNC_ID = 1,
  GENERIC_HEADER_ACCEPT_CHARSET = 2,
  GENERIC_HEADER_CONTENT_TYPE = 3,
  GENERIC_HEADER_CONTENT_ID = 4,
  GENERIC_HEADER_CONTENT_BASE = 5,
  GENERIC_HEADER_CONTENT_ENCODING = 6,
  GENERIC_HEADER_CONTENT_LOCATION = 7,
  GENERIC_HEADER_CONTENT_LENGTH = 8,
  GENERIC_HEADER_CACHE_CONTROL = 9,
  GENERIC_HEADER_LOGGING_TAG = 10,
  GENERIC_HEADER_VENDOR_SPECIFIC_PARAMS = 11,
  GENERIC_HEADER_ACCEPT = 12,
  GENERIC_HEADER_FETCH_TIMEOUT = 13,
  GENERIC_HEADER_SET_COOKIE = 14,
  GENERIC_HEADER_SET_COOKIE2 = 15,
  GENERIC_HEADER_COUNT = 16
} mrcp_generic_header_id;
#define MRCP_GENERIC_HEADER_COUNT 16

typedef struct mrcp_generic_header_t {
  apt_str_t active_request_id_list; /* as written, e.g. "1, 2" */
  apt_str_t proxy_sync_id;
  apt_str_t accept_charset;
  apt_str_t content_type;
  apt_str_t content_id;
  apt_str_t content_base;
  apt_str_t content_encoding;
  apt_str_t content_location;
  apr_size_t content_length;
  apt_str_t cache_control;
  apt_str_t logging_tag;
  apt_pair_arr_t *vendor_specific_params; /* name=value pairs, quotes kept */
  apt_str_t accept;
  apr_size_t fetch_timeout;
  apt_str_t set_cookie;
  apt_str_t set_cookie2;
} mrcp_generic_header_t;

/* Recognizer headers, in resource id order (RFC 6787). */
typedef enum {
  RECOGNIZER_HEADER_CONFIDENCE_THRESHOLD = 0,
  RECOGNIZER_HEADER_SENSITIVITY_LEVEL = 1,
  RECOGNIZER_HEADER_SPEED_VS_ACCURACY = 2,
  RECOGNIZER_HEADER_N_BEST_LIST_LENGTH = 3,
  RECOGNIZER_HEADER_NO_INPUT_TIMEOUT = 4,
  RECOGNIZER_HEADER_RECOGNITION_TIMEOUT = 5,
  RECOGNIZER_HEADER_WAVEFORM_URI = 6,
  RECOGNIZER_HEADER_COMPLETION_CAUSE = 7,
  RECOGNIZER_HEADER_RECOGNIZER_CONTEXT_BLOCK = 8,
  RECOGNIZER_HEADER_START_INPUT_TIMERS = 9,
  RECOGNIZER_HEADER_SPEECH_COMPLETE_TIMEOUT = 10,
  RECOGNIZER_HEADER_SPEECH_INCOMPLETE_TIMEOUT = 11,
  RECOGNIZER_HEADER_DTMF_INTERDIGIT_TIMEOUT = 12,
  RECOGNIZER_HEADER_DTMF_TERM_TIMEOUT = 13,
  RECOGNIZER_HEADER_DTMF_TERM_CHAR = 14,
  RECOGNIZER_HEADER_FAILED_URI = 15,
  RECOGNIZER_HEADER_FAILED_URI_CAUSE = 16,
  RECOGNIZER_HEADER_SAVE_WAVEFORM = 17,
  RECOGNIZER_HEADER_NEW_AUDIO_CHANNEL = 18,
  RECOGNIZER_HEADER_SPEECH_LANGUAGE = 19,
  RECOGNIZER_HEADER_INPUT_TYPE = 20,
  RECOGNIZER_HEADER_INPUT_WAVEFORM_URI = 21,
  RECOGNIZER_HEADER_COMPLETION_REASON = 22,
  RECOGNIZER_HEADER_MEDIA_TYPE = 23,
  RECOGNIZER_HEADER_VER_BUFFER_UTTERANCE = 24,
  RECOGNIZER_HEADER_RECOGNITION_MODE = 25,
  RECOGNIZER_HEADER_CANCEL_IF_QUEUE = 26,
  RECOGNIZER_HEADER_HOTWORD_MAX_DURATION = 27,
  RECOGNIZER_HEADER_HOTWORD_MIN_DURATION = 28,
  RECOGNIZER_HEADER_INTERPRET_TEXT = 29,
  RECOGNIZER_HEADER_DTMF_BUFFER_TIME = 30,
  RECOGNIZER_HEADER_CLEAR_DTMF_BUFFER = 31,
  RECOGNIZER_HEADER_EARLY_NO_MATCH = 32,
  RECOGNIZER_HEADER_COUNT = 33
} mrcp_recognizer_header_id;

typedef enum {
  RECOGNIZER_COMPLETION_CAUSE_SUCCESS = 0,
  RECOGNIZER_COMPLETION_CAUSE_NO_MATCH = 1,
  RECOGNIZER_COMPLETION_CAUSE_NO_INPUT_TIMEOUT = 2,
  RECOGNIZER_COMPLETION_CAUSE_HOTWORD_MAXTIME = 3,
  RECOGNIZER_COMPLETION_CAUSE_GRAM_LOAD_FAILURE = 4,
  RECOGNIZER_COMPLETION_CAUSE_GRAM_COMP_FAILURE = 5,
  RECOGNIZER_COMPLETION_CAUSE_ERROR = 6,
  RECOGNIZER_COMPLETION_CAUSE_SPEECH_TOO_EARLY = 7,
  RECOGNIZER_COMPLETION_CAUSE_SUCCESS_MAXTIME = 8,
  RECOGNIZER_COMPLETION_CAUSE_URI_FAILURE = 9,
  RECOGNIZER_COMPLETION_CAUSE_LANGUAGE_UNSUPPORTED = 10,
  RECOGNIZER_COMPLETION_CAUSE_CANCELLED = 11,
  RECOGNIZER_COMPLETION_CAUSE_SEMANTICS_FAILURE = 12,
  RECOGNIZER_COMPLETION_CAUSE_PARTIAL_MATCH = 13,
  RECOGNIZER_COMPLETION_CAUSE_PARTIAL_MATCH_MAXTIME = 14,
  RECOGNIZER_COMPLETION_CAUSE_NO_MATCH_MAXTIME = 15,
  RECOGNIZER_COMPLETION_CAUSE_GRAM_DEFINITION_FAILURE = 16,
  RECOGNIZER_COMPLETION_CAUSE_COUNT = 17,
  RECOGNIZER_COMPLETION_CAUSE_UNKNOWN = RECOGNIZER_COMPLETION_CAUSE_COUNT
} mrcp_recog_completion_cause_e;

typedef struct mrcp_recog_header_t {
  float confidence_threshold;
  float sensitivity_level;
  float speed_vs_accuracy;
  apr_size_t n_best_list_length;
  apr_size_t no_input_timeout;
  apr_size_t recognition_timeout;
  apt_str_t waveform_uri;
  mrcp_recog_completion_cause_e completion_cause;
  apt_str_t recognizer_context_block;
  apt_bool_t start_input_timers;
  apr_size_t speech_complete_timeout;
  apr_size_t speech_incomplete_timeout;
  apr_size_t dtmf_interdigit_timeout;
  apr_size_t dtmf_term_timeout;
  char dtmf_term_char;
  apt_str_t failed_uri;
  apt_str_t failed_uri_cause;
  apt_bool_t save_waveform;
  apt_bool_t new_audio_channel;
  apt_str_t speech_language;
  apt_str_t input_type;
  apt_str_t input_waveform_uri;
  apt_str_t completion_reason;
  apt_str_t media_type;
  apt_bool_t ver_buffer_utterance;
  apt_str_t recognition_mode;
  apt_bool_t cancel_if_queue;
  apr_size_t hotword_max_duration;
  apr_size_t hotword_min_duration;
  apt_str_t interpret_text;
  apr_size_t dtmf_buffer_time;
  apt_bool_t clear_dtmf_buffer;
  apt_bool_t early_no_match;
} mrcp_recog_header_t;

/* Synthesizer headers, in resource id order (RFC 6787). */
typedef enum {
  SYNTHESIZER_HEADER_JUMP_SIZE = 0,
  SYNTHESIZER_HEADER_KILL_ON_BARGE_IN = 1,
  SYNTHESIZER_HEADER_SPEAKER_PROFILE = 2,
  SYNTHESIZER_HEADER_COMPLETION_CAUSE = 3,
  SYNTHESIZER_HEADER_COMPLETION_REASON = 4,
  SYNTHESIZER_HEADER_VOICE_GENDER = 5,
  SYNTHESIZER_HEADER_VOICE_AGE = 6,
  SYNTHESIZER_HEADER_VOICE_VARIANT = 7,
  SYNTHESIZER_HEADER_VOICE_NAME = 8,
  SYNTHESIZER_HEADER_PROSODY_VOLUME = 9,
  SYNTHESIZER_HEADER_PROSODY_RATE = 10,
  SYNTHESIZER_HEADER_SPEECH_MARKER = 11,
  SYNTHESIZER_HEADER_SPEECH_LANGUAGE = 12,
  SYNTHESIZER_HEADER_FETCH_HINT = 13,
  SYNTHESIZER_HEADER_AUDIO_FETCH_HINT = 14,
  SYNTHESIZER_HEADER_FAILED_URI = 15,
  SYNTHESIZER_HEADER_FAILED_URI_CAUSE = 16,
  SYNTHESIZER_HEADER_SPEAK_RESTART = 17,
  SYNTHESIZER_HEADER_SPEAK_LENGTH = 18,
  SYNTHESIZER_HEADER_LOAD_LEXICON = 19,
  SYNTHESIZER_HEADER_LEXICON_SEARCH_ORDER = 20,
  SYNTHESIZER_HEADER_COUNT = 21
} mrcp_synthesizer_header_id;

typedef enum {
  SYNTHESIZER_COMPLETION_CAUSE_NORMAL = 0,
  SYNTHESIZER_COMPLETION_CAUSE_BARGE_IN = 1,
  SYNTHESIZER_COMPLETION_CAUSE_PARSE_FAILURE = 2,
  SYNTHESIZER_COMPLETION_CAUSE_URI_FAILURE = 3,
  SYNTHESIZER_COMPLETION_CAUSE_ERROR = 4,
  SYNTHESIZER_COMPLETION_CAUSE_LANGUAGE_UNSUPPORTED = 5,
  SYNTHESIZER_COMPLETION_CAUSE_LEX_LOAD_FAILURE = 6,
  SYNTHESIZER_COMPLETION_CAUSE_CANCELLED = 7,
  SYNTHESIZER_COMPLETION_CAUSE_COUNT = 8,
  SYNTHESIZER_COMPLETION_CAUSE_UNKNOWN = SYNTHESIZER_COMPLETION_CAUSE_COUNT
} mrcp_synth_completion_cause_e;

typedef enum {
  VOICE_GENDER_MALE = 0,
  VOICE_GENDER_FEMALE = 1,
  VOICE_GENDER_NEUTRAL = 2,
  VOICE_GENDER_UNDEFINED = 3
} mrcp_voice_gender_e;

typedef struct mrcp_voice_param_t {
  mrcp_voice_gender_e gender;
  apr_size_t age;
  apr_size_t variant;
  apt_str_t name;
} mrcp_voice_param_t;

typedef enum {
  PROSODY_RATE_TYPE_LABEL = 0,
  PROSODY_RATE_TYPE_RELATIVE_CHANGE = 1,
  PROSODY_RATE_TYPE_UNKNOWN = 2
} mrcp_prosody_rate_type_e;

typedef enum {
  PROSODY_RATE_XSLOW = 0,
  PROSODY_RATE_SLOW = 1,
  PROSODY_RATE_MEDIUM = 2,
  PROSODY_RATE_FAST = 3,
  PROSODY_RATE_XFAST = 4,
  PROSODY_RATE_DEFAULT = 5,
  PROSODY_RATE_UNKNOWN = 6
} mrcp_prosody_rate_label_e;

typedef struct mrcp_prosody_rate_t {
  mrcp_prosody_rate_type_e type;
  union {
    mrcp_prosody_rate_label_e label;
    float relative;
  } value;
} mrcp_prosody_rate_t;

typedef enum {
  PROSODY_VOLUME_TYPE_LABEL = 0,
  PROSODY_VOLUME_TYPE_NUMERIC = 1,
  PROSODY_VOLUME_TYPE_RELATIVE_CHANGE = 2,
  PROSODY_VOLUME_TYPE_UNKNOWN = 3
} mrcp_prosody_volume_type_e;

typedef enum {
  PROSODY_VOLUME_SILENT = 0,
  PROSODY_VOLUME_XSOFT = 1,
  PROSODY_VOLUME_SOFT = 2,
  PROSODY_VOLUME_MEDIUM = 3,
  PROSODY_VOLUME_LOUD = 4,
  PROSODY_VOLUME_XLOUD = 5,
  PROSODY_VOLUME_DEFAULT = 6,
  PROSODY_VOLUME_UNKNOWN = 7
} mrcp_prosody_volume_label_e;

typedef struct mrcp_prosody_volume_t {
  mrcp_prosody_volume_type_e type;
  union {
    mrcp_prosody_volume_label_e label;
    float numeric;
    float relative;
  } value;
} mrcp_prosody_volume_t;

typedef struct mrcp_prosody_param_t {
  mrcp_prosody_volume_t volume;
  mrcp_prosody_rate_t rate;
} mrcp_prosody_param_t;

typedef struct mrcp_synth_header_t {
  apt_str_t jump_size;
  apt_bool_t kill_on_barge_in;
  apt_str_t speaker_profile;
  mrcp_synth_completion_cause_e completion_cause;
  apt_str_t completion_reason;
  mrcp_voice_param_t voice_param; /* gender, age, variant, name */
  mrcp_prosody_param_t prosody_param; /* volume, rate */
  apt_str_t speech_marker;
  apt_str_t speech_language;
  apt_str_t fetch_hint;
  apt_str_t audio_fetch_hint;
  apt_str_t failed_uri;
  apt_str_t failed_uri_cause;
  apt_bool_t speak_restart;
  apt_str_t speak_length;
  apt_bool_t load_lexicon;
  apt_str_t lexicon_search_order;
} mrcp_synth_header_t;

typedef struct mrcp_start_line_t {
  mrcp_message_type_e message_type;
  mrcp_version_e version;
  apr_size_t length;          /* message length as written on the wire */
  mrcp_request_id request_id;
  apt_str_t method_name;      /* request method or event name */
  mrcp_method_id method_id;   /* mrcp_recognizer_method_id / event id, or synthesizer ones */
  mrcp_status_code_e status_code;
  mrcp_request_state_e request_state;
} mrcp_start_line_t;

typedef struct mrcp_channel_id_t {
  apt_str_t session_id;
  apt_str_t resource_name; /* "speechrecog", "speechsynth" */
} mrcp_channel_id_t;

typedef struct mrcp_message_t {
  mrcp_start_line_t start_line;
  mrcp_channel_id_t channel_id;
  mrcp_resource_id resource;      /* mrcp_resource_type_e */
  apr_uint64_t header_presence;   /* bit index = generic id, or GENERIC_HEADER_COUNT + resource id */
  mrcp_generic_header_t generic_header;
  mrcp_recog_header_t recog_header;   /* used by recognizer messages */
  mrcp_synth_header_t synth_header;   /* used by synthesizer messages */
  apr_array_header_t *unknown_headers; /* apt_header_field_t kept from the wire, written back as is */
  apt_str_t body;
  apr_pool_t *pool;
} mrcp_message_t;

HOST_DECLARE(mrcp_message_t *) mrcp_message_create(mrcp_resource_id resource, mrcp_version_e version, apr_pool_t *pool);
HOST_DECLARE(mrcp_message_t *) mrcp_request_create(mrcp_resource_id resource, mrcp_version_e version, mrcp_method_id method_id,
                                                   apr_pool_t *pool);
/* A response to request: same channel, request id, version and method; 200 COMPLETE. */
HOST_DECLARE(mrcp_message_t *) mrcp_response_create(const mrcp_message_t *request, apr_pool_t *pool);
/* An event of the request's resource: same channel, request id and version; IN-PROGRESS. */
HOST_DECLARE(mrcp_message_t *) mrcp_event_create(const mrcp_message_t *request, mrcp_method_id event_id, apr_pool_t *pool);

/* Header sections; the resource section is mrcp_recog_header_t* or mrcp_synth_header_t* by the message's resource. */
HOST_DECLARE(mrcp_generic_header_t *) mrcp_generic_header_get(const mrcp_message_t *message);
HOST_DECLARE(mrcp_generic_header_t *) mrcp_generic_header_prepare(mrcp_message_t *message);
HOST_DECLARE(void *) mrcp_resource_header_get(const mrcp_message_t *message);
HOST_DECLARE(void *) mrcp_resource_header_prepare(mrcp_message_t *message);

HOST_DECLARE(apt_bool_t) mrcp_generic_header_property_check(const mrcp_message_t *message, apr_size_t id);
HOST_DECLARE(void) mrcp_generic_header_property_add(mrcp_message_t *message, apr_size_t id);
HOST_DECLARE(void) mrcp_generic_header_property_remove(mrcp_message_t *message, apr_size_t id);
HOST_DECLARE(apt_bool_t) mrcp_resource_header_property_check(const mrcp_message_t *message, apr_size_t id);
HOST_DECLARE(void) mrcp_resource_header_property_add(mrcp_message_t *message, apr_size_t id);
HOST_DECLARE(void) mrcp_resource_header_property_remove(mrcp_message_t *message, apr_size_t id);
/* Presence by combined index (generic first, then resource). */
HOST_DECLARE(apt_bool_t) mrcp_header_property_check(const mrcp_message_t *message, apr_size_t index);

/* Copies the body (NUL-terminated copy) into the message. */
HOST_DECLARE(void) mrcp_message_body_set(mrcp_message_t *message, const char *data, apr_size_t size);

/* Completion-cause names: "success", "no-match", ... (MRCPv2) or the MRCPv1 names. Null when out of range. */
HOST_DECLARE(const apt_str_t *) mrcp_recog_completion_cause_get(mrcp_recog_completion_cause_e cause, mrcp_version_e version);
HOST_DECLARE(const apt_str_t *) mrcp_synth_completion_cause_get(mrcp_synth_completion_cause_e cause, mrcp_version_e version);

/* Method and event names of a resource; null when out of range. */
HOST_DECLARE(const char *) mrcp_method_name_get(mrcp_resource_id resource, mrcp_method_id method_id);
HOST_DECLARE(const char *) mrcp_event_name_get(mrcp_resource_id resource, mrcp_method_id event_id);
HOST_DECLARE(const char *) mrcp_resource_name_get(mrcp_resource_id resource);

/* Lookups by name (ASCII case-insensitive). A name that is not found gives the count of its table
 * (MRCP_RESOURCE_TYPE_COUNT, the method or event count), or ~0 for an unknown resource. */
HOST_DECLARE(mrcp_resource_id) mrcp_resource_find(const char *name);
HOST_DECLARE(mrcp_method_id) mrcp_method_find(mrcp_resource_id resource, const char *name);
HOST_DECLARE(mrcp_method_id) mrcp_event_find(mrcp_resource_id resource, const char *name);
/* Header names by id ("Content-Type", "Completion-Cause", ...); null when out of range. */
HOST_DECLARE(const char *) mrcp_generic_header_name_get(apr_size_t id);
HOST_DECLARE(const char *) mrcp_resource_header_name_get(mrcp_resource_id resource, apr_size_t id);
HOST_DECLARE(apr_size_t) mrcp_resource_header_count_get(mrcp_resource_id resource);
/* Combined index (generic first, then resource) of a header name; ~0 when the name is not known. */
HOST_DECLARE(apr_size_t) mrcp_header_index_find(mrcp_resource_id resource, const char *name);
/* "COMPLETE", "IN-PROGRESS", "PENDING"; null for MRCP_REQUEST_STATE_UNKNOWN. */
HOST_DECLARE(const char *) mrcp_request_state_name_get(mrcp_request_state_e state);
HOST_DECLARE(mrcp_request_state_e) mrcp_request_state_find(const char *name);

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_HOST_MRCP_MESSAGE_H */

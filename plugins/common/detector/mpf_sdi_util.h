/*
 * Speech and DTMF input detector: parameters, statistics, handler table and enumeration names.
 */
#ifndef MPF_SDI_UTIL_H
#define MPF_SDI_UTIL_H

#include <apr_pools.h>
#include <apr_xml.h>
#include <mrcphost/host_apt.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Log source of every detector line: SDI_LOG_SOURCE if the build defines it, else the plugin's
 * OXA_PLUGIN_LOG_SOURCE, else the detector's own mpf_sdi_log_source (null: the host's default). */
#if !defined(SDI_LOG_SOURCE)
#if defined(OXA_PLUGIN_LOG_SOURCE)
#define SDI_LOG_SOURCE OXA_PLUGIN_LOG_SOURCE
#else
#define SDI_LOG_SOURCE mpf_sdi_log_source
#define SDI_LOG_SOURCE_OWN 1
#endif
#endif
extern apt_log_source_t *SDI_LOG_SOURCE;

/* Bit set: bit 0 speech, bit 1 DTMF. */
typedef enum {
  MPF_SDI_MODE_NONE = 0,
  MPF_SDI_MODE_SPEECH = 1,
  MPF_SDI_MODE_DTMF = 2,
  MPF_SDI_MODE_BOTH = 3
} mpf_sdi_mode_e;

typedef enum {
  MPF_SDI_STATE_NO_INPUT = 0,
  MPF_SDI_STATE_IN_PROGRESS = 1,
  MPF_SDI_STATE_COMPLETE = 2
} mpf_sdi_state_e;

typedef enum {
  MPF_SDI_CAUSE_SUCCESS = 0,
  MPF_SDI_CAUSE_TIMEDOUT = 1,
  MPF_SDI_CAUSE_STOPPED = 2
} mpf_sdi_completion_cause_e;

/* Durations in milliseconds. */
typedef struct mpf_sdi_params_t {
  mpf_sdi_mode_e input_mode; /* the detectors this detector may ever run */
  apr_size_t vad_mode;       /* WebRTC VAD aggressiveness, 0..3 */
  apr_size_t speech_start_timeout;
  apr_size_t speech_complete_timeout;
  apr_size_t speech_incomplete_timeout; /* while interim results are on and none has arrived */
  apr_size_t noinput_timeout;
  apr_size_t input_timeout; /* counted from the start of input */
  apr_size_t dtmf_interdigit_timeout;
  apr_size_t dtmf_term_timeout;
  char dtmf_term_char; /* 0: none */
  apr_size_t dtmf_length;     /* 0: any */
  apr_size_t dtmf_min_length; /* 0: none */
  apr_size_t dtmf_max_length; /* 0: none */
  apt_bool_t normalize_input;
  apr_size_t speech_leading_silence;
  apr_size_t speech_trailing_silence;
  apr_size_t speech_output_period;
} mpf_sdi_params_t;

typedef struct mpf_sdi_stats_t {
  mpf_sdi_completion_cause_e completion_cause;
  apr_uint64_t input_duration; /* ms */
  apr_uint64_t output_size;    /* bytes handed to on_speech_input, inserted silence included */
} mpf_sdi_stats_t;

typedef struct mpf_sdi_detector_t mpf_sdi_detector_t;

/* Called on the media thread from inside mpf_sdi_process, with the detector's lock held: a handler
 * records what it needs and posts; it must not call back into the detector (mpf_sdi_obj_get aside). */
typedef struct mpf_sdi_event_handlers_t {
  void (*on_noinput)(mpf_sdi_detector_t *detector);
  void (*on_stop_complete)(mpf_sdi_detector_t *detector, const mpf_sdi_stats_t *stats);
  void (*on_start_of_input)(mpf_sdi_detector_t *detector, mpf_sdi_mode_e mode);
  /* 16-bit linear audio, valid only during the call; stats only with the last chunk (COMPLETE). */
  void (*on_speech_input)(mpf_sdi_detector_t *detector, const void *data, apr_size_t size, mpf_sdi_state_e state,
                          const mpf_sdi_stats_t *stats);
  /* NUL-terminated digits without the terminator. */
  void (*on_dtmf_input)(mpf_sdi_detector_t *detector, const char *digits, apr_size_t count, apt_bool_t matched,
                        mpf_sdi_state_e state, const mpf_sdi_stats_t *stats);
  void (*on_dtmf_digit)(mpf_sdi_detector_t *detector, char digit); /* optional */
} mpf_sdi_event_handlers_t;

void mpf_sdi_params_init(mpf_sdi_params_t *params);
/* Reads the attributes of a speech-dtmf-input-detector element over params; bad values are logged
 * and skipped. Always TRUE. */
apt_bool_t mpf_sdi_params_load(mpf_sdi_params_t *params, const apr_xml_elem *element, apr_pool_t *pool);
void mpf_sdi_event_handlers_init(mpf_sdi_event_handlers_t *handlers);
void mpf_sdi_stats_init(mpf_sdi_stats_t *stats);

const char *mpf_sdi_mode_str(int mode);
const char *mpf_sdi_state_str(int state);
const char *mpf_sdi_completion_cause_str(int cause);

#ifdef __cplusplus
}
#endif

#endif /* MPF_SDI_UTIL_H */

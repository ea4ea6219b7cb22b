#include "mpf_sdi_detector.h"

#include "mpf_sdi_vad.h"

#include <apr_strings.h>
#include <apr_thread_mutex.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>

/* Durations that size the ring are capped here, so that a wild configuration value cannot ask
 * for gigabytes; timers themselves run to their full values. */
#define SDI_MAX_BUFFERED_MS 60000
#define SDI_DIGITS_INITIAL 10

#define SDI_LOG(prio, ...) apt_log(SDI_LOG_SOURCE, APT_LOG_MARK, prio, __VA_ARGS__)

typedef struct sdi_timer_t {
  apt_bool_t on;
  apr_size_t elapsed; /* ms */
} sdi_timer_t;

struct mpf_sdi_detector_t {
  apr_pool_t *pool;
  const char *name;
  mpf_sdi_event_handlers_t handlers;
  void *obj;
  mpf_sdi_params_t params;
  VadInst *vad;

  apr_uint16_t rate;
  apr_uint16_t frame_ms;

  /* Written only under lock; read without it by the idle check at the top of mpf_sdi_process. */
  atomic_int active_modes;

  /* Everything below is guarded by lock. */
  apt_bool_t speech_input;
  mpf_sdi_state_e speech_state;
  apt_bool_t speech_probation;
  apr_size_t speech_state_time;
  apr_size_t probation_time;

  mpf_sdi_state_e dtmf_state;
  apr_size_t dtmf_state_time;

  apr_size_t complete_timeout;
  apt_bool_t result_flag;
  apt_bool_t interim_results;
  int start_of_input_mode; /* 0 internal, 1 external */
  apt_bool_t stop_requested;

  sdi_timer_t input_timer;
  sdi_timer_t noinput_timer;
  sdi_timer_t interdigit_timer;
  sdi_timer_t term_timer;

  /* Ring of frames: slot i holds frame (marker mod slot_count), frame_size bytes each. The memory
   * is reused by later detections that need no more of it. */
  apr_byte_t *audio;
  apr_size_t audio_capacity;
  apr_size_t slot_count;
  apr_size_t frame_size;
  /* Zeros handed out in place of missing leading audio; never written after allocation. */
  const apr_byte_t *silence;
  apr_size_t silence_capacity;
  apr_size_t leading_frames;

  /* Frame counters since mpf_sdi_init; an "end" marker is one past the last frame it covers. */
  apr_size_t write_marker;
  apr_size_t read_marker;
  apr_size_t input_start_marker;
  apr_size_t onset_marker;
  apr_size_t voice_end_marker;
  apr_size_t output_end_marker; /* 0: not set */

  apr_size_t output_frames; /* chunk length */
  apr_uint64_t output_bytes;
  apr_size_t silence_frames;
  apt_bool_t frame_size_warned;

  /* malloc'd, not from the pool: it grows on the media thread, and pools are not thread-safe. */
  char *digits;
  apr_size_t digit_count;
  apr_size_t digit_capacity;

  apt_bool_t destroyed;
  apr_thread_mutex_t *lock;
};

static int sdi_active(const mpf_sdi_detector_t *d)
{
  return atomic_load_explicit(&d->active_modes, memory_order_relaxed);
}

static void sdi_active_set(mpf_sdi_detector_t *d, int modes)
{
  atomic_store_explicit(&d->active_modes, modes, memory_order_release);
}

static apr_size_t sdi_sub(apr_size_t a, apr_size_t b)
{
  return a > b ? a - b : 0;
}

static apr_size_t sdi_max(apr_size_t a, apr_size_t b)
{
  return a > b ? a : b;
}

static apr_size_t sdi_capped(apr_size_t ms)
{
  return ms < SDI_MAX_BUFFERED_MS ? ms : SDI_MAX_BUFFERED_MS;
}

static apr_size_t sdi_frames_ceil(const mpf_sdi_detector_t *d, apr_size_t ms)
{
  return (sdi_capped(ms) + d->frame_ms - 1) / d->frame_ms;
}

static void sdi_free_resources(mpf_sdi_detector_t *d)
{
  if (d->vad) {
    WebRtcVad_Free(d->vad);
    d->vad = NULL;
  }
  free(d->digits);
  d->digits = NULL;
  d->digit_count = 0;
  d->digit_capacity = 0;
}

static apr_status_t sdi_pool_cleanup(void *data)
{
  sdi_free_resources(data);
  return APR_SUCCESS;
}

mpf_sdi_detector_t *mpf_sdi_detector_create(const char *name, const mpf_sdi_event_handlers_t *handlers, void *obj,
                                            const mpf_sdi_params_t *params, apr_pool_t *pool)
{
  if (!name || !handlers || !obj || !pool)
    return NULL;
  mpf_sdi_params_t defaults;
  if (!params) {
    mpf_sdi_params_init(&defaults);
    params = &defaults;
  }
  if (!handlers->on_noinput || !handlers->on_stop_complete || !handlers->on_start_of_input)
    return NULL;
  if ((params->input_mode & MPF_SDI_MODE_SPEECH) && !handlers->on_speech_input)
    return NULL;
  if ((params->input_mode & MPF_SDI_MODE_DTMF) && !handlers->on_dtmf_input)
    return NULL;

  mpf_sdi_detector_t *d = apr_pcalloc(pool, sizeof(*d));
  d->pool = pool;
  d->name = apr_pstrdup(pool, name);
  d->handlers = *handlers;
  d->obj = obj;
  d->params = *params;
  atomic_init(&d->active_modes, MPF_SDI_MODE_NONE);
  if (apr_thread_mutex_create(&d->lock, APR_THREAD_MUTEX_DEFAULT, pool) != APR_SUCCESS)
    return NULL;
  d->digits = malloc(SDI_DIGITS_INITIAL);
  d->digit_capacity = d->digits ? SDI_DIGITS_INITIAL : 0;
  if (params->input_mode & MPF_SDI_MODE_SPEECH) {
    d->vad = WebRtcVad_Create();
    if (!d->vad) {
      SDI_LOG(APT_PRIO_WARNING, "Failed to Create VAD Instnace <%s>", d->name);
      sdi_free_resources(d);
      return NULL;
    }
  }
  apr_pool_cleanup_register(pool, d, sdi_pool_cleanup, apr_pool_cleanup_null);
  return d;
}

void mpf_sdi_destroy(mpf_sdi_detector_t *d)
{
  if (!d)
    return;
  apr_thread_mutex_lock(d->lock);
  sdi_active_set(d, MPF_SDI_MODE_NONE);
  sdi_free_resources(d);
  d->destroyed = TRUE;
  apr_thread_mutex_unlock(d->lock);
}

void *mpf_sdi_obj_get(const mpf_sdi_detector_t *d)
{
  return d ? d->obj : NULL;
}

/* ---------- event-thread setters ---------- */

#define SDI_LOCKED(d, statement)        \
  do {                                  \
    if (!(d))                           \
      return;                           \
    apr_thread_mutex_lock((d)->lock);   \
    statement;                          \
    apr_thread_mutex_unlock((d)->lock); \
  } while (0)

void mpf_sdi_params_set(mpf_sdi_detector_t *d, const mpf_sdi_params_t *params)
{
  mpf_sdi_params_t copy;
  if (params)
    copy = *params;
  else
    mpf_sdi_params_init(&copy);
  SDI_LOCKED(d, d->params = copy);
}

#define SDI_TIMEOUT_SETTER(function, field)                \
  void function(mpf_sdi_detector_t *d, apr_size_t timeout) \
  {                                                        \
    SDI_LOCKED(d, d->params.field = timeout);              \
  }

SDI_TIMEOUT_SETTER(mpf_sdi_noinput_timeout_set, noinput_timeout)
SDI_TIMEOUT_SETTER(mpf_sdi_input_timeout_set, input_timeout)
SDI_TIMEOUT_SETTER(mpf_sdi_speech_start_timeout_set, speech_start_timeout)
SDI_TIMEOUT_SETTER(mpf_sdi_speech_complete_timeout_set, speech_complete_timeout)
SDI_TIMEOUT_SETTER(mpf_sdi_speech_incomplete_timeout_set, speech_incomplete_timeout)
SDI_TIMEOUT_SETTER(mpf_sdi_dtmf_interdigit_timeout_set, dtmf_interdigit_timeout)
SDI_TIMEOUT_SETTER(mpf_sdi_dtmf_term_timeout_set, dtmf_term_timeout)

void mpf_sdi_dtmf_term_char_set(mpf_sdi_detector_t *d, char term_char)
{
  SDI_LOCKED(d, d->params.dtmf_term_char = term_char);
}

void mpf_sdi_dtmf_length_set(mpf_sdi_detector_t *d, apr_size_t length, apr_size_t min_length, apr_size_t max_length)
{
  SDI_LOCKED(d, {
    d->params.dtmf_length = length;
    d->params.dtmf_min_length = min_length;
    d->params.dtmf_max_length = max_length;
  });
}

void mpf_sdi_vad_mode_set(mpf_sdi_detector_t *d, apr_size_t mode)
{
  if (mode > 3)
    return;
  SDI_LOCKED(d, d->params.vad_mode = mode);
}

void mpf_sdi_speech_start_mode_set(mpf_sdi_detector_t *d, int mode)
{
  SDI_LOCKED(d, d->start_of_input_mode = mode ? 1 : 0);
}

/* ---------- preparing a detection ---------- */

static apt_bool_t sdi_vad_format_ok(apr_uint16_t rate, apr_uint16_t frame_ms)
{
  return (rate == 8000 || rate == 16000 || rate == 32000 || rate == 48000) &&
         (frame_ms == 10 || frame_ms == 20 || frame_ms == 30);
}

static apr_size_t sdi_slot_count(const mpf_sdi_detector_t *d)
{
  const mpf_sdi_params_t *p = &d->params;
  if (!p->normalize_input)
    return d->output_frames;
  apr_size_t longest_end = sdi_max(sdi_max(sdi_capped(p->speech_complete_timeout),
                                           sdi_capped(p->speech_incomplete_timeout)),
                                   sdi_capped(p->speech_trailing_silence));
  apr_size_t count = (sdi_capped(p->speech_leading_silence) +
                      sdi_max(sdi_capped(p->speech_start_timeout), sdi_capped(p->speech_output_period)) +
                      longest_end) /
                     d->frame_ms;
  /* Most frames ever buffered and not yet handed out: the leading audio plus a whole start
   * probation, or a chunk plus a whole end probation (whose timeout may switch while it runs). */
  apr_size_t start_lag = d->leading_frames + sdi_frames_ceil(d, p->speech_start_timeout) + 1;
  apr_size_t end_lag = d->output_frames +
                       sdi_frames_ceil(d, sdi_max(p->speech_complete_timeout, p->speech_incomplete_timeout)) + 2;
  return sdi_max(count, sdi_max(start_lag, end_lag));
}

static apt_bool_t sdi_speech_init(mpf_sdi_detector_t *d)
{
  const mpf_sdi_params_t *p = &d->params;
  if (!sdi_vad_format_ok(d->rate, d->frame_ms)) {
    SDI_LOG(APT_PRIO_WARNING, "Unsupported Speech Format [%d Hz, %d ms] <%s>", d->rate, d->frame_ms, d->name);
    return FALSE;
  }
  if (!d->vad) {
    /* The input mode was widened after creation. */
    d->vad = WebRtcVad_Create();
    if (!d->vad) {
      SDI_LOG(APT_PRIO_WARNING, "Failed to Create VAD Instnace <%s>", d->name);
      return FALSE;
    }
  }

  d->write_marker = d->read_marker = 0;
  d->input_start_marker = d->onset_marker = d->voice_end_marker = d->output_end_marker = 0;
  d->output_bytes = 0;
  d->silence_frames = 0;
  d->frame_size_warned = FALSE;
  d->frame_size = (apr_size_t)d->rate * d->frame_ms / 500;
  d->output_frames = sdi_max(1, sdi_capped(p->speech_output_period) / d->frame_ms);
  d->leading_frames = p->normalize_input ? sdi_capped(p->speech_leading_silence) / d->frame_ms : 0;
  d->slot_count = sdi_slot_count(d);

  if (p->normalize_input) {
    SDI_LOG(APT_PRIO_INFO,
            "Init Speech Detector: frame-duration=%d ms, frame-size=%d, max-frame-count=%d, output-frame-count=%d, "
            "vad-mode=%d, noinput-timeout=%d ms, input-timeout=%d ms, start-timeout=%d ms, complete-timeout=%d ms, "
            "incomplete-timeout=%d ms, leading-silence=%d ms, trailing-silence=%d ms, interim-results=%d, "
            "start-of-input=%s <%s>",
            d->frame_ms, (int)d->frame_size, (int)d->slot_count, (int)d->output_frames, (int)p->vad_mode,
            (int)p->noinput_timeout, (int)p->input_timeout, (int)p->speech_start_timeout,
            (int)p->speech_complete_timeout, (int)p->speech_incomplete_timeout, (int)p->speech_leading_silence,
            (int)p->speech_trailing_silence, d->interim_results, d->start_of_input_mode ? "external" : "internal",
            d->name);
  } else {
    SDI_LOG(APT_PRIO_INFO,
            "Init Speech Detector: frame-duration=%d ms, frame-size=%d, frame-count=%d, vad-mode=%d, "
            "noinput-timeout=%d ms, input-timeout=%d ms, start-timeout=%d ms, complete-timeout=%d ms, "
            "incomplete-timeout=%d ms, interim-results=%d, start-of-input=%s <%s>",
            d->frame_ms, (int)d->frame_size, (int)d->slot_count, (int)p->vad_mode, (int)p->noinput_timeout,
            (int)p->input_timeout, (int)p->speech_start_timeout, (int)p->speech_complete_timeout,
            (int)p->speech_incomplete_timeout, d->interim_results, d->start_of_input_mode ? "external" : "internal",
            d->name);
  }

  /* Allocated on this (event) thread only; the media thread never touches the pool. */
  apr_size_t audio_size = d->slot_count * d->frame_size;
  if (audio_size > d->audio_capacity) {
    d->audio = apr_palloc(d->pool, audio_size);
    d->audio_capacity = audio_size;
  }
  apr_size_t silence_size = d->leading_frames * d->frame_size;
  if (silence_size > d->silence_capacity) {
    d->silence = apr_pcalloc(d->pool, silence_size);
    d->silence_capacity = silence_size;
  }

  if (WebRtcVad_Init(d->vad) != 0)
    SDI_LOG(APT_PRIO_WARNING, "Failed to Init VAD Instance <%s>", d->name);
  if (WebRtcVad_set_mode(d->vad, (int)p->vad_mode) != 0)
    SDI_LOG(APT_PRIO_WARNING, "Failed to Set VAD Mode to %d <%s>", (int)p->vad_mode, d->name);
  return TRUE;
}

apt_bool_t mpf_sdi_init(mpf_sdi_detector_t *d, int modes, apr_uint16_t rate, apr_uint16_t frame_ms,
                        apt_bool_t start_timers, apt_bool_t interim_results)
{
  if (!d)
    return TRUE;
  apr_thread_mutex_lock(d->lock);
  /* The media thread sees no half-prepared detection: modes are published last. */
  sdi_active_set(d, MPF_SDI_MODE_NONE);
  d->rate = rate;
  d->frame_ms = frame_ms;
  d->stop_requested = FALSE;
  d->speech_input = FALSE;
  d->result_flag = FALSE;
  d->speech_state = MPF_SDI_STATE_NO_INPUT;
  d->dtmf_state = MPF_SDI_STATE_NO_INPUT;
  d->speech_probation = FALSE;
  d->speech_state_time = d->probation_time = d->dtmf_state_time = 0;
  d->complete_timeout = d->params.speech_complete_timeout;
  d->input_timer = (sdi_timer_t){FALSE, 0};
  d->noinput_timer = (sdi_timer_t){start_timers ? TRUE : FALSE, 0};
  d->interdigit_timer = (sdi_timer_t){FALSE, 0};
  d->term_timer = (sdi_timer_t){FALSE, 0};

  d->interim_results = interim_results;

  modes &= d->params.input_mode & MPF_SDI_MODE_BOTH;
  if (d->destroyed)
    modes = MPF_SDI_MODE_NONE;
  if (!d->handlers.on_speech_input)
    modes &= ~MPF_SDI_MODE_SPEECH;
  if (!d->handlers.on_dtmf_input)
    modes &= ~MPF_SDI_MODE_DTMF;
  if (modes && frame_ms == 0) {
    SDI_LOG(APT_PRIO_WARNING, "Unsupported Speech Format [%d Hz, %d ms] <%s>", rate, frame_ms, d->name);
    modes = MPF_SDI_MODE_NONE;
  }

  if ((modes & MPF_SDI_MODE_SPEECH) && !sdi_speech_init(d))
    modes &= ~MPF_SDI_MODE_SPEECH;

  if (modes & MPF_SDI_MODE_DTMF) {
    const mpf_sdi_params_t *p = &d->params;
    SDI_LOG(APT_PRIO_INFO,
            "Init DTMF Detector: interdigit-timeout=%d ms, term-timeout=%d ms, term-char=%c, length=%d, "
            "min-length=%d, max-length=%d <%s>",
            (int)p->dtmf_interdigit_timeout, (int)p->dtmf_term_timeout, p->dtmf_term_char ? p->dtmf_term_char : ' ',
            (int)p->dtmf_length, (int)p->dtmf_min_length, (int)p->dtmf_max_length, d->name);
    d->digit_count = 0;
  }

  if (start_timers)
    SDI_LOG(APT_PRIO_INFO, "Start No-Input Timer [%d ms] <%s>", (int)d->params.noinput_timeout, d->name);

  sdi_active_set(d, modes);
  apr_thread_mutex_unlock(d->lock);
  return TRUE;
}

/* ---------- speech ---------- */

static apr_uint64_t sdi_input_duration(const mpf_sdi_detector_t *d)
{
  return (apr_uint64_t)sdi_sub(d->output_end_marker + d->silence_frames, d->input_start_marker) * d->frame_ms;
}

static void sdi_stats_log(const mpf_sdi_detector_t *d)
{
  /* While voice still goes on there is no voice end yet: the input runs to the output end. */
  apr_size_t voice_end = d->voice_end_marker ? d->voice_end_marker : d->output_end_marker;
  SDI_LOG(APT_PRIO_INFO, "Detector Stats: leading-silence=%d ms, input=%d ms, trailing-silence=%d ms <%s>",
          (int)(sdi_sub(d->onset_marker, d->input_start_marker) * d->frame_ms),
          (int)(sdi_sub(voice_end, d->onset_marker) * d->frame_ms),
          (int)(sdi_sub(d->output_end_marker, voice_end) * d->frame_ms), d->name);
}

/* Hands out count frames from read_marker, by pointer into the ring: two calls when the run wraps. */
static void mpf_sdi_speech_output(mpf_sdi_detector_t *d, apr_size_t read_marker, apr_size_t count,
                                  mpf_sdi_stats_t *stats)
{
  SDI_LOG(APT_PRIO_DEBUG, "Detector Speech Output: read-marker=%d, count=%d, write-marker=%d <%s>", (int)read_marker,
          (int)count, (int)d->write_marker, d->name);
  if (count > d->slot_count)
    count = d->slot_count;
  d->output_bytes += (apr_uint64_t)count * d->frame_size;
  if (stats) {
    stats->output_size = d->output_bytes;
    stats->input_duration = sdi_input_duration(d);
  }
  apr_size_t first = read_marker % d->slot_count;
  const apr_byte_t *data = d->audio + first * d->frame_size;
  if (first + count <= d->slot_count) {
    d->handlers.on_speech_input(d, data, count * d->frame_size, d->speech_state, stats);
  } else {
    apr_size_t head = d->slot_count - first;
    d->handlers.on_speech_input(d, data, head * d->frame_size, MPF_SDI_STATE_IN_PROGRESS, NULL);
    d->handlers.on_speech_input(d, d->audio, (count - head) * d->frame_size, d->speech_state, stats);
  }
  d->read_marker = read_marker + count;
}

static apt_bool_t sdi_chunk_buffered(const mpf_sdi_detector_t *d)
{
  return d->write_marker - d->read_marker >= d->output_frames;
}

/* Copies an audio frame into the next slot. A frame of another size than the one computed at init
 * is cut or padded with zeros to fit, so every slot and every VAD call keeps the expected length. */
static const apr_byte_t *sdi_frame_store(mpf_sdi_detector_t *d, const mpf_frame_t *frame)
{
  /* Never overwrite audio not yet handed out; should the ring ever be too short, the oldest
   * frames are dropped rather than handed out after being overwritten. */
  if (d->write_marker - d->read_marker >= d->slot_count)
    d->read_marker = d->write_marker - d->slot_count + 1;

  apr_byte_t *slot = d->audio + (d->write_marker % d->slot_count) * d->frame_size;
  apr_size_t size = frame->codec_frame.buffer ? frame->codec_frame.size : 0;
  if (size != d->frame_size && !d->frame_size_warned) {
    SDI_LOG(APT_PRIO_WARNING, "Unexpected Frame Size [%d bytes], Expected [%d bytes] <%s>", (int)size,
            (int)d->frame_size, d->name);
    d->frame_size_warned = TRUE;
  }
  if (size > d->frame_size)
    size = d->frame_size;
  if (size)
    memcpy(slot, frame->codec_frame.buffer, size);
  if (size < d->frame_size)
    memset(slot + size, 0, d->frame_size - size);
  d->write_marker++;
  return slot;
}

static int sdi_vad_process(mpf_sdi_detector_t *d, const apr_byte_t *slot)
{
  int result = WebRtcVad_Process(d->vad, d->rate, (const int16_t *)(const void *)slot, d->frame_size / 2);
  if (result < 0)
    SDI_LOG(APT_PRIO_WARNING, "VAD Error <%s>", d->name);
  return result;
}

static void sdi_probation_cancel(mpf_sdi_detector_t *d, mpf_sdi_state_e from, mpf_sdi_state_e to)
{
  SDI_LOG(APT_PRIO_DEBUG, "Cancel Detector State Probation %s <- %s [%d ms] <%s>", mpf_sdi_state_str(from),
          mpf_sdi_state_str(to), (int)d->probation_time, d->name);
  d->speech_probation = FALSE;
  d->probation_time = 0;
}

static void sdi_speech_start(mpf_sdi_detector_t *d)
{
  const mpf_sdi_params_t *p = &d->params;
  if (d->start_of_input_mode == 0)
    d->speech_input = TRUE;
  SDI_LOG(APT_PRIO_INFO, "Speech Detector State Transition %s -> %s [%d ms] <%s>",
          mpf_sdi_state_str(MPF_SDI_STATE_NO_INPUT), mpf_sdi_state_str(MPF_SDI_STATE_IN_PROGRESS),
          (int)d->speech_state_time, d->name);
  if (d->speech_input)
    d->noinput_timer.on = FALSE;
  /* The input time counts from the onset. */
  d->input_timer = (sdi_timer_t){TRUE, d->probation_time};
  SDI_LOG(APT_PRIO_INFO, "Start Input Timer [%d ms] <%s>", (int)p->input_timeout, d->name);
  /* A result flagged before the onset has already settled on the shorter timeout. */
  d->complete_timeout =
      d->interim_results && !d->result_flag ? p->speech_incomplete_timeout : p->speech_complete_timeout;
  SDI_LOG(APT_PRIO_DEBUG, "Set Speech Complete Timeout [%d ms] <%s>", (int)d->complete_timeout, d->name);
  d->speech_state = MPF_SDI_STATE_IN_PROGRESS;
  d->speech_state_time = 0;
  d->speech_probation = FALSE;
  d->probation_time = 0;
  if (d->speech_input) {
    sdi_active_set(d, MPF_SDI_MODE_SPEECH);
    d->handlers.on_start_of_input(d, MPF_SDI_MODE_SPEECH);
  }
  if (p->normalize_input) {
    if (d->onset_marker < d->input_start_marker + d->leading_frames) {
      apr_size_t missing = d->input_start_marker + d->leading_frames - d->onset_marker;
      SDI_LOG(APT_PRIO_DEBUG, "Detector Silence Output: read-marker=%d, count=%d, write-marker=%d <%s>",
              (int)d->read_marker, (int)missing, (int)d->write_marker, d->name);
      d->silence_frames += missing;
      d->output_bytes += (apr_uint64_t)missing * d->frame_size;
      d->handlers.on_speech_input(d, d->silence, missing * d->frame_size, MPF_SDI_STATE_IN_PROGRESS, NULL);
    }
    while (sdi_chunk_buffered(d))
      mpf_sdi_speech_output(d, d->read_marker, d->output_frames, NULL);
  }
}

static void sdi_speech_no_input(mpf_sdi_detector_t *d, const mpf_frame_t *frame)
{
  const mpf_sdi_params_t *p = &d->params;
  if (!(frame->type & MEDIA_FRAME_TYPE_AUDIO)) {
    d->speech_state_time += d->frame_ms;
    if (d->speech_probation) {
      sdi_probation_cancel(d, MPF_SDI_STATE_NO_INPUT, MPF_SDI_STATE_IN_PROGRESS);
      d->onset_marker = d->input_start_marker = 0;
    }
  } else {
    const apr_byte_t *slot = sdi_frame_store(d, frame);
    int voice = sdi_vad_process(d, slot);
    if (voice < 0)
      return;
    d->speech_state_time += d->frame_ms;
    if (!d->speech_probation) {
      if (voice) {
        d->speech_probation = TRUE;
        d->probation_time = 0;
        d->onset_marker = d->write_marker - 1;
        if (p->normalize_input) {
          d->input_start_marker = sdi_sub(d->onset_marker, d->leading_frames);
          d->read_marker = d->input_start_marker;
        }
        SDI_LOG(APT_PRIO_DEBUG, "Start Detector State Probation %s -> %s [%d ms] <%s>",
                mpf_sdi_state_str(MPF_SDI_STATE_NO_INPUT), mpf_sdi_state_str(MPF_SDI_STATE_IN_PROGRESS),
                (int)d->speech_state_time, d->name);
        SDI_LOG(APT_PRIO_DEBUG, "Detector: read-marker=%d, input-start-marker=%d, write-marker=%d <%s>",
                (int)d->read_marker, (int)d->input_start_marker, (int)d->write_marker, d->name);
      }
    } else if (!voice) {
      sdi_probation_cancel(d, MPF_SDI_STATE_NO_INPUT, MPF_SDI_STATE_IN_PROGRESS);
      d->onset_marker = d->input_start_marker = 0;
    } else {
      d->probation_time += d->frame_ms;
      if (d->probation_time >= p->speech_start_timeout)
        sdi_speech_start(d);
    }
  }
  /* Without normalizing, audio flows from the first frame, before any start of speech. */
  if (!p->normalize_input && sdi_chunk_buffered(d))
    mpf_sdi_speech_output(d, d->read_marker, d->output_frames, NULL);
}

static void sdi_speech_complete(mpf_sdi_detector_t *d, mpf_sdi_completion_cause_e cause)
{
  SDI_LOG(APT_PRIO_INFO, "Speech Detector State Transition %s -> %s [%d ms] <%s>",
          mpf_sdi_state_str(d->speech_state), mpf_sdi_state_str(MPF_SDI_STATE_COMPLETE), (int)d->speech_state_time,
          d->name);
  d->input_timer.on = FALSE;
  sdi_stats_log(d);
  d->speech_state = MPF_SDI_STATE_COMPLETE;
  sdi_active_set(d, MPF_SDI_MODE_NONE);
  mpf_sdi_stats_t stats;
  mpf_sdi_stats_init(&stats);
  stats.completion_cause = cause;
  mpf_sdi_speech_output(d, d->read_marker, sdi_sub(d->output_end_marker, d->read_marker), &stats);
}

static void sdi_speech_in_progress(mpf_sdi_detector_t *d, const mpf_frame_t *frame)
{
  const mpf_sdi_params_t *p = &d->params;
  int voice = 0;
  if (frame->type & MEDIA_FRAME_TYPE_AUDIO) {
    const apr_byte_t *slot = sdi_frame_store(d, frame);
    voice = sdi_vad_process(d, slot);
    if (voice < 0)
      return;
  }
  if (sdi_chunk_buffered(d) &&
      (!d->output_end_marker || d->read_marker + d->output_frames <= d->output_end_marker))
    mpf_sdi_speech_output(d, d->read_marker, d->output_frames, NULL);
  d->speech_state_time += d->frame_ms;

  if (d->speech_probation) {
    if (voice) {
      d->voice_end_marker = d->output_end_marker = 0;
      sdi_probation_cancel(d, MPF_SDI_STATE_IN_PROGRESS, MPF_SDI_STATE_COMPLETE);
    } else {
      d->probation_time += d->frame_ms;
      if (d->probation_time >= d->complete_timeout) {
        if (!d->output_end_marker || d->output_end_marker > d->write_marker)
          d->output_end_marker = d->write_marker;
        sdi_speech_complete(d, MPF_SDI_CAUSE_SUCCESS);
      }
    }
  } else if (!voice) {
    d->speech_probation = TRUE;
    d->probation_time = 0;
    d->voice_end_marker = sdi_sub(d->write_marker, 1);
    if (p->normalize_input) {
      apr_size_t trailing = sdi_max(p->speech_trailing_silence, d->complete_timeout) / d->frame_ms;
      apr_size_t end = d->voice_end_marker + trailing;
      d->output_end_marker = end < d->voice_end_marker ? (apr_size_t)-1 : end;
    }
    SDI_LOG(APT_PRIO_DEBUG, "Start Detector State Probation %s -> %s [%d ms] <%s>",
            mpf_sdi_state_str(MPF_SDI_STATE_IN_PROGRESS), mpf_sdi_state_str(MPF_SDI_STATE_COMPLETE),
            (int)d->speech_state_time, d->name);
    SDI_LOG(APT_PRIO_DEBUG, "Detector: read-marker=%d, input-end-marker=%d, write-marker=%d <%s>",
            (int)d->read_marker, (int)d->output_end_marker, (int)d->write_marker, d->name);
  }
}

/* ---------- DTMF ---------- */

static apt_bool_t sdi_dtmf_length_matched(const mpf_sdi_detector_t *d)
{
  const mpf_sdi_params_t *p = &d->params;
  return (!p->dtmf_min_length || d->digit_count >= p->dtmf_min_length) &&
         (!p->dtmf_length || d->digit_count == p->dtmf_length);
}

static void sdi_dtmf_complete(mpf_sdi_detector_t *d, apt_bool_t matched, mpf_sdi_completion_cause_e cause)
{
  static const char no_digits[] = "";
  if (d->digits)
    d->digits[d->digit_count] = '\0'; /* the buffer always keeps room for it */
  SDI_LOG(APT_PRIO_INFO, "DTMF Detector State Transition %s -> %s [%d ms] <%s>", mpf_sdi_state_str(d->dtmf_state),
          mpf_sdi_state_str(MPF_SDI_STATE_COMPLETE), (int)d->dtmf_state_time, d->name);
  sdi_stats_log(d);
  d->input_timer.on = FALSE;
  d->interdigit_timer.on = FALSE;
  d->term_timer.on = FALSE;
  d->dtmf_state = MPF_SDI_STATE_COMPLETE;
  sdi_active_set(d, MPF_SDI_MODE_NONE);
  mpf_sdi_stats_t stats;
  mpf_sdi_stats_init(&stats);
  stats.completion_cause = cause;
  d->handlers.on_dtmf_input(d, d->digits ? d->digits : no_digits, d->digits ? d->digit_count : 0, matched,
                            MPF_SDI_STATE_COMPLETE, &stats);
}

static void sdi_digit_append(mpf_sdi_detector_t *d, char digit)
{
  if (d->digit_count + 2 > d->digit_capacity) {
    apr_size_t capacity = d->digit_capacity ? d->digit_capacity * 2 : SDI_DIGITS_INITIAL;
    char *digits = realloc(d->digits, capacity);
    if (!digits) {
      SDI_LOG(APT_PRIO_WARNING, "Failed to Store DTMF Digit %c <%s>", digit, d->name);
      return;
    }
    d->digits = digits;
    d->digit_capacity = capacity;
  }
  d->digits[d->digit_count++] = digit;
}

static void mpf_sdi_digit_add(mpf_sdi_detector_t *d, char digit)
{
  const mpf_sdi_params_t *p = &d->params;
  if (d->handlers.on_dtmf_digit)
    d->handlers.on_dtmf_digit(d, digit);
  if (p->dtmf_term_char && digit == p->dtmf_term_char) {
    sdi_dtmf_complete(d, sdi_dtmf_length_matched(d), MPF_SDI_CAUSE_SUCCESS);
    return;
  }
  sdi_digit_append(d, digit);
  if ((p->dtmf_max_length && d->digit_count == p->dtmf_max_length) ||
      (p->dtmf_length && d->digit_count == p->dtmf_length))
    sdi_dtmf_complete(d, TRUE, MPF_SDI_CAUSE_SUCCESS);
}

static void sdi_timer_start(mpf_sdi_detector_t *d, sdi_timer_t *timer, const char *what, apr_size_t timeout)
{
  timer->on = TRUE;
  timer->elapsed = 0;
  SDI_LOG(APT_PRIO_INFO, "Start %s Timer [%d ms] <%s>", what, (int)timeout, d->name);
}

/* TRUE when the timer is running and has just reached its timeout (it is then stopped). */
static apt_bool_t sdi_timer_advance(mpf_sdi_detector_t *d, sdi_timer_t *timer, apr_size_t timeout)
{
  if (!timer->on)
    return FALSE;
  timer->elapsed += d->frame_ms;
  if (timer->elapsed < timeout)
    return FALSE;
  timer->on = FALSE;
  return TRUE;
}

static void sdi_dtmf_process(mpf_sdi_detector_t *d, const mpf_frame_t *frame)
{
  const mpf_sdi_params_t *p = &d->params;
  /* Telephone events other than DTMF keys (a fax tone, a flash) are not input. */
  char digit = (frame->type & MEDIA_FRAME_TYPE_EVENT) ? mpf_event_id_to_dtmf_char(frame->event_frame.event_id) : 0;
  int id = (int)frame->event_frame.event_id;
  d->dtmf_state_time += d->frame_ms;

  if (d->dtmf_state == MPF_SDI_STATE_NO_INPUT) {
    if (!digit)
      return;
    SDI_LOG(APT_PRIO_INFO, "DTMF Detector State Transition %s -> %s [%d ms] <%s>",
            mpf_sdi_state_str(MPF_SDI_STATE_NO_INPUT), mpf_sdi_state_str(MPF_SDI_STATE_IN_PROGRESS),
            (int)d->dtmf_state_time, d->name);
    d->noinput_timer.on = FALSE;
    sdi_timer_start(d, &d->input_timer, "Input", p->input_timeout);
    d->dtmf_state = MPF_SDI_STATE_IN_PROGRESS;
    d->dtmf_state_time = 0;
    sdi_active_set(d, MPF_SDI_MODE_DTMF);
    d->handlers.on_start_of_input(d, MPF_SDI_MODE_DTMF);
    if (frame->marker == MPF_MARKER_START_OF_EVENT) {
      SDI_LOG(APT_PRIO_INFO, "Detected Start of Event: id=%d, digit=%c <%s>", id, digit, d->name);
      mpf_sdi_digit_add(d, digit);
    } else if (frame->marker == MPF_MARKER_END_OF_EVENT) {
      SDI_LOG(APT_PRIO_INFO, "Detected End of Event: id=%d, duration=%d ts <%s>", id,
              (int)frame->event_frame.duration, d->name);
    }
    return;
  }
  if (d->dtmf_state != MPF_SDI_STATE_IN_PROGRESS)
    return;

  if (digit && frame->marker == MPF_MARKER_START_OF_EVENT) {
    SDI_LOG(APT_PRIO_INFO, "Detected Start of Event: id=%d, digit=%c <%s>", id, digit, d->name);
    d->interdigit_timer.on = FALSE;
    d->term_timer.on = FALSE;
    mpf_sdi_digit_add(d, digit);
    if (d->dtmf_state != MPF_SDI_STATE_IN_PROGRESS)
      return;
  } else if (digit && frame->marker == MPF_MARKER_END_OF_EVENT) {
    SDI_LOG(APT_PRIO_INFO, "Detected End of Event: id=%d duration=%d ts <%s>", id, (int)frame->event_frame.duration,
            d->name);
    if (p->dtmf_min_length && d->digit_count >= p->dtmf_min_length)
      sdi_timer_start(d, &d->term_timer, "Term", p->dtmf_term_timeout);
    else
      sdi_timer_start(d, &d->interdigit_timer, "Inter-Digit", p->dtmf_interdigit_timeout);
  }
  if (sdi_timer_advance(d, &d->interdigit_timer, p->dtmf_interdigit_timeout))
    sdi_dtmf_complete(d, sdi_dtmf_length_matched(d), MPF_SDI_CAUSE_SUCCESS);
  else if (sdi_timer_advance(d, &d->term_timer, p->dtmf_term_timeout))
    sdi_dtmf_complete(d, TRUE, MPF_SDI_CAUSE_SUCCESS);
}

/* ---------- timers and the frame ---------- */

static void sdi_timers_process(mpf_sdi_detector_t *d)
{
  const mpf_sdi_params_t *p = &d->params;
  if (sdi_timer_advance(d, &d->noinput_timer, p->noinput_timeout)) {
    sdi_active_set(d, MPF_SDI_MODE_NONE);
    d->handlers.on_noinput(d);
    return;
  }
  if (!d->input_timer.on)
    return;
  d->input_timer.elapsed += d->frame_ms;
  if (d->input_timer.elapsed < p->input_timeout)
    return;
  int modes = sdi_active(d);
  if ((modes & MPF_SDI_MODE_SPEECH) && d->speech_input) {
    d->output_end_marker = d->write_marker;
    sdi_speech_complete(d, MPF_SDI_CAUSE_TIMEDOUT);
  } else if ((modes & MPF_SDI_MODE_DTMF) && d->dtmf_state == MPF_SDI_STATE_IN_PROGRESS) {
    sdi_dtmf_complete(d, sdi_dtmf_length_matched(d), MPF_SDI_CAUSE_TIMEDOUT);
  }
}

static void sdi_stop_complete(mpf_sdi_detector_t *d)
{
  d->stop_requested = FALSE;
  sdi_active_set(d, MPF_SDI_MODE_NONE);
  if (!d->output_end_marker || d->output_end_marker > d->write_marker)
    d->output_end_marker = d->write_marker;
  mpf_sdi_stats_t stats;
  mpf_sdi_stats_init(&stats);
  stats.completion_cause = MPF_SDI_CAUSE_STOPPED;
  stats.output_size = d->output_bytes;
  stats.input_duration = sdi_input_duration(d);
  d->handlers.on_stop_complete(d, &stats);
}

void mpf_sdi_process(mpf_sdi_detector_t *d, const mpf_frame_t *frame)
{
  if (!d || !frame)
    return;
  if (!atomic_load_explicit(&d->active_modes, memory_order_acquire))
    return;
  apr_thread_mutex_lock(d->lock);
  int modes = sdi_active(d);
  if (modes && d->stop_requested) {
    sdi_stop_complete(d);
  } else if (modes) {
    if (modes & MPF_SDI_MODE_SPEECH) {
      if (d->speech_state == MPF_SDI_STATE_NO_INPUT)
        sdi_speech_no_input(d, frame);
      else if (d->speech_state == MPF_SDI_STATE_IN_PROGRESS)
        sdi_speech_in_progress(d, frame);
    }
    if (sdi_active(d) & MPF_SDI_MODE_DTMF)
      sdi_dtmf_process(d, frame);
    /* A detection that ended in this frame has made its one report; no timer may add another. */
    if (sdi_active(d))
      sdi_timers_process(d);
  }
  apr_thread_mutex_unlock(d->lock);
}

/* ---------- event-thread requests ---------- */

int mpf_sdi_stop(mpf_sdi_detector_t *d)
{
  if (!d)
    return 0;
  apr_thread_mutex_lock(d->lock);
  int modes = sdi_active(d);
  if (modes)
    d->stop_requested = TRUE;
  apr_thread_mutex_unlock(d->lock);
  return modes;
}

static apt_bool_t sdi_input_started(const mpf_sdi_detector_t *d)
{
  return d->speech_input || d->dtmf_state != MPF_SDI_STATE_NO_INPUT;
}

void mpf_sdi_start_timers(mpf_sdi_detector_t *d)
{
  if (!d)
    return;
  apr_thread_mutex_lock(d->lock);
  /* Once input has started, a no-input timer could only report no-input in the middle of it. */
  if (!d->noinput_timer.on && !sdi_input_started(d)) {
    SDI_LOG(APT_PRIO_INFO, "Start No-Input Timer [%d ms] <%s>", (int)d->params.noinput_timeout, d->name);
    d->noinput_timer = (sdi_timer_t){TRUE, 0};
  }
  apr_thread_mutex_unlock(d->lock);
}

/* Input confirmed by the service: no-input is over and the input time restarts. */
static void sdi_speech_input_confirm(mpf_sdi_detector_t *d)
{
  d->speech_input = TRUE;
  d->noinput_timer.on = FALSE;
  d->input_timer.elapsed = 0;
}

void mpf_sdi_speech_flag_set(mpf_sdi_detector_t *d)
{
  if (!d)
    return;
  apr_thread_mutex_lock(d->lock);
  /* Speech still among the active modes means DTMF has not taken over. */
  if (d->start_of_input_mode == 1 && d->speech_state != MPF_SDI_STATE_COMPLETE &&
      (sdi_active(d) & MPF_SDI_MODE_SPEECH) && !d->speech_input) {
    sdi_speech_input_confirm(d);
    sdi_active_set(d, MPF_SDI_MODE_SPEECH);
    SDI_LOG(APT_PRIO_INFO, "Set Speech Input Flag <%s>", d->name);
  }
  apr_thread_mutex_unlock(d->lock);
}

void mpf_sdi_result_flag_set(mpf_sdi_detector_t *d)
{
  if (!d)
    return;
  apr_thread_mutex_lock(d->lock);
  if (d->interim_results && d->speech_state != MPF_SDI_STATE_COMPLETE && (sdi_active(d) & MPF_SDI_MODE_SPEECH) &&
      !d->result_flag) {
    d->result_flag = TRUE;
    sdi_active_set(d, MPF_SDI_MODE_SPEECH);
    d->complete_timeout = d->params.speech_complete_timeout;
    if (!d->speech_input)
      sdi_speech_input_confirm(d);
    SDI_LOG(APT_PRIO_INFO, "Set Result Flag [%d ms] <%s>", (int)d->complete_timeout, d->name);
  }
  apr_thread_mutex_unlock(d->lock);
}

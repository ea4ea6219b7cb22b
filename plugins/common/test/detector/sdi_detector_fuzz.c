/*
 * Feeds the detector arbitrary parameters and an arbitrary sequence of frames (of any size) and
 * event-thread calls, with the scripted VAD, and checks the reporting rules: one report ends a
 * detection and nothing follows it until the next init; a stop that returned modes is reported
 * by the next frame.
 */
#include "mpf_sdi_detector.h"

#include <apr_general.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef struct fuzz_input_t {
  const uint8_t *data;
  size_t size;
} fuzz_input_t;

typedef struct fuzz_state_t {
  int ended;   /* a report ended the current detection */
  int reports; /* ending reports since the last init */
  int handler_calls;
  volatile unsigned sink;
} fuzz_state_t;

static uint8_t next(fuzz_input_t *in)
{
  if (!in->size)
    return 0;
  in->size--;
  return *in->data++;
}

static fuzz_state_t *state_of(mpf_sdi_detector_t *d)
{
  return mpf_sdi_obj_get(d);
}

static void any_call(mpf_sdi_detector_t *d)
{
  fuzz_state_t *s = state_of(d);
  if (s->ended)
    abort(); /* nothing may follow the report that ended the detection */
  s->handler_calls++;
}

static void ending(mpf_sdi_detector_t *d)
{
  any_call(d);
  state_of(d)->ended = 1;
  state_of(d)->reports++;
}

static void on_noinput(mpf_sdi_detector_t *d)
{
  ending(d);
}

static void on_stop_complete(mpf_sdi_detector_t *d, const mpf_sdi_stats_t *stats)
{
  if (!stats || stats->completion_cause != MPF_SDI_CAUSE_STOPPED)
    abort();
  ending(d);
}

static void on_start_of_input(mpf_sdi_detector_t *d, mpf_sdi_mode_e mode)
{
  if (mode != MPF_SDI_MODE_SPEECH && mode != MPF_SDI_MODE_DTMF)
    abort();
  any_call(d);
}

static void on_speech_input(mpf_sdi_detector_t *d, const void *data, apr_size_t size, mpf_sdi_state_e state,
                            const mpf_sdi_stats_t *stats)
{
  if ((size && !data) || size % 2)
    abort();
  const uint8_t *bytes = data;
  unsigned sum = 0;
  for (apr_size_t i = 0; i < size; i++)
    sum += bytes[i];
  state_of(d)->sink += sum;
  if ((stats != NULL) != (state == MPF_SDI_STATE_COMPLETE))
    abort();
  if (stats)
    ending(d);
  else
    any_call(d);
}

static void on_dtmf_input(mpf_sdi_detector_t *d, const char *digits, apr_size_t count, apt_bool_t matched,
                          mpf_sdi_state_e state, const mpf_sdi_stats_t *stats)
{
  (void)matched;
  if (!digits || strlen(digits) != count || state != MPF_SDI_STATE_COMPLETE || !stats)
    abort();
  ending(d);
}

static void on_dtmf_digit(mpf_sdi_detector_t *d, char digit)
{
  if (!digit)
    abort();
  any_call(d);
}

static apr_size_t duration(uint8_t b)
{
  /* Mostly short timeouts so that they elapse within an input; now and then a wild one. */
  if (b == 255)
    return (apr_size_t)-1;
  if (b == 254)
    return 10000000;
  return (apr_size_t)b * 10;
}

static void params_from(fuzz_input_t *in, mpf_sdi_params_t *p)
{
  static const char keys[] = "0123456789*#ABCD";
  mpf_sdi_params_init(p);
  p->input_mode = (mpf_sdi_mode_e)(next(in) & 3);
  p->vad_mode = next(in) % 5;
  p->speech_start_timeout = duration(next(in));
  p->speech_complete_timeout = duration(next(in));
  p->speech_incomplete_timeout = duration(next(in));
  p->noinput_timeout = duration(next(in));
  p->input_timeout = duration(next(in));
  p->dtmf_interdigit_timeout = duration(next(in));
  p->dtmf_term_timeout = duration(next(in));
  uint8_t t = next(in);
  p->dtmf_term_char = t < 16 ? keys[t] : 0;
  p->dtmf_length = next(in) % 6;
  p->dtmf_min_length = next(in) % 6;
  p->dtmf_max_length = next(in) % 6;
  p->normalize_input = next(in) & 1;
  p->speech_leading_silence = duration(next(in));
  p->speech_trailing_silence = duration(next(in));
  p->speech_output_period = duration(next(in));
}

static apr_uint16_t frame_ms;
static apr_uint16_t rate;

static void init_from(fuzz_input_t *in, mpf_sdi_detector_t *d, fuzz_state_t *s)
{
  static const apr_uint16_t rates[] = {8000, 16000, 32000, 48000, 11025, 0, 8000, 16000};
  static const apr_uint16_t durations[] = {10, 20, 30, 10, 0, 7, 10, 65535};
  uint8_t b = next(in);
  rate = rates[b & 7];
  frame_ms = durations[(b >> 3) & 7];
  uint8_t f = next(in);
  mpf_sdi_speech_start_mode_set(d, f & 1);
  s->ended = 0;
  s->reports = 0;
  mpf_sdi_init(d, (f >> 1) & 3, rate, frame_ms, (f >> 3) & 1, (f >> 4) & 1);
}

static void audio_frame(mpf_sdi_detector_t *d, size_t bytes, int16_t voice, int16_t fill)
{
  int16_t *samples = malloc(bytes ? bytes : 1);
  for (size_t i = 0; i < bytes / 2; i++)
    samples[i] = fill;
  if (bytes >= 4)
    samples[1] = voice;
  mpf_frame_t frame;
  memset(&frame, 0, sizeof(frame));
  frame.type = MEDIA_FRAME_TYPE_AUDIO;
  frame.codec_frame.buffer = samples;
  frame.codec_frame.size = bytes;
  mpf_sdi_process(d, &frame);
  free(samples);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static int apr_ready;
  if (!apr_ready)
    apr_ready = apr_initialize() == APR_SUCCESS;
  fuzz_input_t in = {data, size};
  apr_pool_t *pool;
  if (apr_pool_create(&pool, NULL) != APR_SUCCESS)
    return 0;

  const mpf_sdi_event_handlers_t handlers = {on_noinput,      on_stop_complete, on_start_of_input,
                                             on_speech_input, on_dtmf_input,
                                             next(&in) & 1 ? on_dtmf_digit : NULL};
  mpf_sdi_params_t params;
  params_from(&in, &params);
  fuzz_state_t state = {0, 0, 0, 0};
  mpf_sdi_detector_t *d = mpf_sdi_detector_create("fuzz", &handlers, &state, &params, pool);
  if (!d) {
    apr_pool_destroy(pool);
    return 0;
  }
  init_from(&in, d, &state);

  int stop_pending = 0;
  unsigned frames = 0;
  while (in.size && frames < 20000) {
    uint8_t op = next(&in);
    size_t expected = (size_t)rate * frame_ms / 500;
    if (expected > 8192)
      expected = 8192; /* formats the detector refuses; no need to build megabyte frames */
    int is_frame = 1;
    int reports_before = state.reports;
    switch (op % 16) {
      case 0: case 1: case 2: case 3: { /* a run of frames of the expected size */
        int16_t voice = (op >> 4) % 3 == 2 ? -1 : (op >> 4) % 3;
        unsigned count = 1 + next(&in) * ((op & 2) ? 10u : 1u);
        for (unsigned i = 0; i < count && frames < 20000; i++, frames++)
          audio_frame(d, expected, voice, (int16_t)i);
        if (stop_pending && state.reports == reports_before)
          abort();
        stop_pending = 0;
        is_frame = 0;
        break;
      }
      case 4: { /* one frame of another size */
        static const int deltas[] = {-1, 1, -2, 2, 0};
        uint8_t s = next(&in);
        size_t bytes = s < 5 ? (size_t)((long)expected + deltas[s]) : (size_t)s * 17;
        if ((long)bytes < 0)
          bytes = 0;
        audio_frame(d, bytes, (int16_t)(next(&in) % 3 - 1), 7);
        break;
      }
      case 5: { /* a telephone event */
        mpf_frame_t frame;
        memset(&frame, 0, sizeof(frame));
        frame.type = MEDIA_FRAME_TYPE_EVENT | ((op & 0x10) ? MEDIA_FRAME_TYPE_AUDIO : 0);
        frame.event_frame.event_id = next(&in) % 20;
        frame.marker = next(&in) % 4;
        frame.event_frame.duration = 160;
        mpf_sdi_process(d, &frame);
        break;
      }
      case 6: { /* no audio at all */
        mpf_frame_t frame;
        memset(&frame, 0, sizeof(frame));
        frame.codec_frame.size = 5000; /* and no buffer */
        mpf_sdi_process(d, &frame);
        break;
      }
      case 7:
        if (mpf_sdi_stop(d))
          stop_pending = 1;
        is_frame = 0;
        break;
      case 8:
        mpf_sdi_start_timers(d);
        is_frame = 0;
        break;
      case 9:
        mpf_sdi_speech_flag_set(d);
        is_frame = 0;
        break;
      case 10:
        mpf_sdi_result_flag_set(d);
        is_frame = 0;
        break;
      case 11:
        init_from(&in, d, &state);
        stop_pending = 0;
        is_frame = 0;
        break;
      case 12:
        params_from(&in, &params);
        mpf_sdi_params_set(d, (op & 0x10) ? &params : NULL);
        is_frame = 0;
        break;
      case 13:
        mpf_sdi_dtmf_length_set(d, next(&in) % 6, next(&in) % 6, next(&in) % 6);
        mpf_sdi_dtmf_term_char_set(d, (char)next(&in));
        is_frame = 0;
        break;
      case 14:
        mpf_sdi_vad_mode_set(d, next(&in));
        mpf_sdi_speech_start_timeout_set(d, duration(next(&in)));
        mpf_sdi_speech_complete_timeout_set(d, duration(next(&in)));
        mpf_sdi_speech_incomplete_timeout_set(d, duration(next(&in)));
        is_frame = 0;
        break;
      default:
        mpf_sdi_noinput_timeout_set(d, duration(next(&in)));
        mpf_sdi_input_timeout_set(d, duration(next(&in)));
        mpf_sdi_dtmf_interdigit_timeout_set(d, duration(next(&in)));
        mpf_sdi_dtmf_term_timeout_set(d, duration(next(&in)));
        is_frame = 0;
        break;
    }
    if (is_frame) {
      frames++;
      if (stop_pending && state.reports == reports_before)
        abort(); /* a stop that returned modes must be reported by the next frame */
      stop_pending = 0;
    }
    if (state.reports > 1)
      abort();
  }
  mpf_sdi_destroy(d);
  apr_pool_destroy(pool);
  return 0;
}

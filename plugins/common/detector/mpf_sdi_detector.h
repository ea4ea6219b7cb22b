/*
 * Speech and DTMF input detector: fed every media frame of the caller's input, it finds the start
 * and end of speech with a voice-activity detector and the MRCP input timers, hands the speech on
 * in chunks that start a fixed time before the voice onset, and collects DTMF digits.
 *
 * Threads: mpf_sdi_process (and every handler call) runs on the media thread; everything else on
 * the channel's event thread. A per-detector lock serialises the two, so the event thread may call
 * any function at any time; mpf_sdi_stop only raises a request that the next frame carries out.
 */
#ifndef MPF_SDI_DETECTOR_H
#define MPF_SDI_DETECTOR_H

#include "mpf_sdi_util.h"

#include <mrcphost/host_mpf.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Null when name, handlers or obj is null, a required handler is missing (the first three always,
 * on_speech_input with speech in the input mode, on_dtmf_input with DTMF), or the VAD cannot be
 * created. params may be null (defaults). The detector lives as long as pool. */
mpf_sdi_detector_t *mpf_sdi_detector_create(const char *name, const mpf_sdi_event_handlers_t *handlers, void *obj,
                                            const mpf_sdi_params_t *params, apr_pool_t *pool);
/* Frees the VAD and the digit buffer; the detector stays idle until its pool goes. */
void mpf_sdi_destroy(mpf_sdi_detector_t *detector);
void *mpf_sdi_obj_get(const mpf_sdi_detector_t *detector);

/* Request-time setters: they change the detector's own copy of the parameters. */
void mpf_sdi_params_set(mpf_sdi_detector_t *detector, const mpf_sdi_params_t *params);
void mpf_sdi_noinput_timeout_set(mpf_sdi_detector_t *detector, apr_size_t timeout);
void mpf_sdi_input_timeout_set(mpf_sdi_detector_t *detector, apr_size_t timeout);
void mpf_sdi_speech_start_timeout_set(mpf_sdi_detector_t *detector, apr_size_t timeout);
void mpf_sdi_speech_complete_timeout_set(mpf_sdi_detector_t *detector, apr_size_t timeout);
void mpf_sdi_speech_incomplete_timeout_set(mpf_sdi_detector_t *detector, apr_size_t timeout);
void mpf_sdi_dtmf_interdigit_timeout_set(mpf_sdi_detector_t *detector, apr_size_t timeout);
void mpf_sdi_dtmf_term_timeout_set(mpf_sdi_detector_t *detector, apr_size_t timeout);
void mpf_sdi_dtmf_term_char_set(mpf_sdi_detector_t *detector, char term_char);
void mpf_sdi_dtmf_length_set(mpf_sdi_detector_t *detector, apr_size_t length, apr_size_t min_length,
                             apr_size_t max_length);
/* 0..3, else ignored; applies from the next mpf_sdi_init. */
void mpf_sdi_vad_mode_set(mpf_sdi_detector_t *detector, apr_size_t mode);
/* 1: start of speech is confirmed only by mpf_sdi_speech_flag_set; 0: by the VAD. Kept until changed. */
void mpf_sdi_speech_start_mode_set(mpf_sdi_detector_t *detector, int mode);

/* Starts one detection of the given modes (those the input mode allows) on frames of frame_ms at
 * rate Hz. Speech needs a rate and frame duration the VAD accepts (8, 16, 32 or 48 kHz; 10, 20 or
 * 30 ms), else it is left out. Always TRUE. */
apt_bool_t mpf_sdi_init(mpf_sdi_detector_t *detector, int modes, apr_uint16_t rate, apr_uint16_t frame_ms,
                        apt_bool_t start_timers, apt_bool_t interim_results);
void mpf_sdi_process(mpf_sdi_detector_t *detector, const mpf_frame_t *frame);
/* Returns the active modes; when not 0 the next frame stops the detection and reports
 * on_stop_complete, unless mpf_sdi_init comes first. */
int mpf_sdi_stop(mpf_sdi_detector_t *detector);
void mpf_sdi_start_timers(mpf_sdi_detector_t *detector);
/* External start of speech: the service heard speech. */
void mpf_sdi_speech_flag_set(mpf_sdi_detector_t *detector);
/* An interim result arrived. */
void mpf_sdi_result_flag_set(mpf_sdi_detector_t *detector);

#ifdef __cplusplus
}
#endif

#endif /* MPF_SDI_DETECTOR_H */

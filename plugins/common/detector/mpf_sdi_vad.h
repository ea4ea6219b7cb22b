/*
 * The WebRTC voice-activity detector as libwebrtc_audio_processing exports it (the package ships
 * no header for it). Tests link a scripted implementation of the same five functions instead.
 */
#ifndef MPF_SDI_VAD_H
#define MPF_SDI_VAD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WebRtcVadInst VadInst;

/* Null on failure. */
VadInst *WebRtcVad_Create(void);
void WebRtcVad_Free(VadInst *handle);
/* 0 or -1. */
int WebRtcVad_Init(VadInst *handle);
/* mode 0..3; 0 or -1. */
int WebRtcVad_set_mode(VadInst *handle, int mode);
/* fs 8000, 16000, 32000 or 48000; frame_length samples of 10, 20 or 30 ms.
 * 1 voice, 0 no voice, -1 error. */
int WebRtcVad_Process(VadInst *handle, int fs, const int16_t *audio_frame, size_t frame_length);

#ifdef __cplusplus
}
#endif

#endif /* MPF_SDI_VAD_H */

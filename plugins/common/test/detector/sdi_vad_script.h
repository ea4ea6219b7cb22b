/*
 * A scripted stand-in for the WebRTC VAD, linked into the detector's tests in place of the real
 * library. The decision is carried by the frame itself: sample 1 is 0 for no voice, -1 for a VAD
 * error, anything else for voice. Like the real VAD it refuses rates and lengths it does not
 * accept, and it reads every sample it is given.
 */
#ifndef SDI_VAD_SCRIPT_H
#define SDI_VAD_SCRIPT_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
  SDI_VAD_CREATED,
  SDI_VAD_FREED,
  SDI_VAD_INITS,
  SDI_VAD_LAST_MODE, /* -1 until a mode is set */
  SDI_VAD_PROCESSED,
  SDI_VAD_REFUSED, /* calls with a rate or length the real VAD would refuse */
  SDI_VAD_COUNTER_COUNT
} sdi_vad_counter_e;

void sdi_vad_script_reset(void);
int sdi_vad_script_get(sdi_vad_counter_e counter);
/* While set, creation fails. */
void sdi_vad_script_fail_create(int fail);

#ifdef __cplusplus
}
#endif

#endif /* SDI_VAD_SCRIPT_H */

#include "sdi_vad_script.h"

#include "mpf_sdi_vad.h"

#include <stdatomic.h>
#include <stdlib.h>

static atomic_int counters[SDI_VAD_COUNTER_COUNT];
static atomic_int fail_create;

struct WebRtcVadInst {
  int initialized;
};

void sdi_vad_script_reset(void)
{
  for (int i = 0; i < SDI_VAD_COUNTER_COUNT; i++)
    atomic_store(&counters[i], 0);
  atomic_store(&counters[SDI_VAD_LAST_MODE], -1);
  atomic_store(&fail_create, 0);
}

int sdi_vad_script_get(sdi_vad_counter_e counter)
{
  return atomic_load(&counters[counter]);
}

void sdi_vad_script_fail_create(int fail)
{
  atomic_store(&fail_create, fail);
}

VadInst *WebRtcVad_Create(void)
{
  if (atomic_load(&fail_create))
    return NULL;
  atomic_fetch_add(&counters[SDI_VAD_CREATED], 1);
  return calloc(1, sizeof(VadInst));
}

void WebRtcVad_Free(VadInst *handle)
{
  if (handle)
    atomic_fetch_add(&counters[SDI_VAD_FREED], 1);
  free(handle);
}

int WebRtcVad_Init(VadInst *handle)
{
  if (!handle)
    return -1;
  handle->initialized = 1;
  atomic_fetch_add(&counters[SDI_VAD_INITS], 1);
  return 0;
}

int WebRtcVad_set_mode(VadInst *handle, int mode)
{
  if (!handle || !handle->initialized || mode < 0 || mode > 3)
    return -1;
  atomic_store(&counters[SDI_VAD_LAST_MODE], mode);
  return 0;
}

int WebRtcVad_Process(VadInst *handle, int fs, const int16_t *audio_frame, size_t frame_length)
{
  size_t per_ms = (size_t)fs / 1000;
  int rate_ok = fs == 8000 || fs == 16000 || fs == 32000 || fs == 48000;
  int length_ok = frame_length == 10 * per_ms || frame_length == 20 * per_ms || frame_length == 30 * per_ms;
  if (!handle || !handle->initialized || !audio_frame || !rate_ok || !length_ok) {
    atomic_fetch_add(&counters[SDI_VAD_REFUSED], 1);
    return -1;
  }
  /* Touch every sample, so that a length beyond the buffer shows up under AddressSanitizer. */
  volatile int sum = 0;
  for (size_t i = 0; i < frame_length; i++)
    sum += audio_frame[i];
  (void)sum;
  atomic_fetch_add(&counters[SDI_VAD_PROCESSED], 1);
  if (audio_frame[1] == -1)
    return -1;
  return audio_frame[1] != 0 ? 1 : 0;
}

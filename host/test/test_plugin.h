// What the test plugin reports about the calls it received.
#ifndef MRCPHOST_TEST_TEST_PLUGIN_H
#define MRCPHOST_TEST_TEST_PLUGIN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hosttest_stats_t {
  unsigned long frames_written;
  unsigned long frames_read;
  unsigned long event_frames;
  size_t last_frame_size;
  unsigned engine_opens;
  unsigned engines_destroyed;
  unsigned channels_created;
  unsigned channels_destroyed;
  unsigned requests;
  unsigned method_threads;  /* distinct threads that called method tables */
  unsigned media_threads;   /* distinct threads that read or wrote frames */
  int threads_overlap;      /* a thread did both */
} hosttest_stats_t;

typedef void (*hosttest_plugin_stats_f)(hosttest_stats_t *stats);
typedef void (*hosttest_plugin_reset_f)(void);

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_TEST_TEST_PLUGIN_H */

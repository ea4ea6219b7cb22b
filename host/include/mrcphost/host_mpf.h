/*
 * Host media types: frames, codecs, stream capabilities and the audio stream method table.
 */
#ifndef MRCPHOST_HOST_MPF_H
#define MRCPHOST_HOST_MPF_H

#include "host_apt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Frame type bits. */
enum {
  MEDIA_FRAME_TYPE_NONE = 0x0,
  MEDIA_FRAME_TYPE_AUDIO = 0x1,
  MEDIA_FRAME_TYPE_VIDEO = 0x2,
  MEDIA_FRAME_TYPE_EVENT = 0x4
};

typedef enum {
  MPF_MARKER_NONE = 0,
  MPF_MARKER_START_OF_EVENT = 1,
  MPF_MARKER_END_OF_EVENT = 2,
  MPF_MARKER_NEW_SEGMENT = 3
} mpf_frame_marker_e;

typedef struct mpf_codec_frame_t {
  void *buffer;
  apr_size_t size; /* bytes */
} mpf_codec_frame_t;

/* A named telephone event (RFC 4733). */
typedef struct mpf_named_event_frame_t {
  apr_uint32_t event_id;  /* 0-9 digits, 10 '*', 11 '#', 12-15 'A'-'D' */
  apr_uint32_t volume;
  apr_uint32_t edge;      /* end bit */
  apr_uint32_t duration;  /* in timestamp units (samples) */
} mpf_named_event_frame_t;

typedef struct mpf_frame_t {
  int type;   /* MEDIA_FRAME_TYPE_* bits */
  int marker; /* mpf_frame_marker_e */
  mpf_codec_frame_t codec_frame;
  mpf_named_event_frame_t event_frame;
} mpf_frame_t;

/* RFC 4733 event code to DTMF character; 0 for codes that are not DTMF. */
HOST_DECLARE(char) mpf_event_id_to_dtmf_char(apr_uint32_t event_id);
/* DTMF character to RFC 4733 event code; 0xFFFFFFFF for characters that are not DTMF. */
HOST_DECLARE(apr_uint32_t) mpf_dtmf_char_to_event_id(char dtmf_char);

typedef enum {
  MPF_SAMPLE_RATE_NONE = 0x00,
  MPF_SAMPLE_RATE_8000 = 0x01,
  MPF_SAMPLE_RATE_16000 = 0x02,
  MPF_SAMPLE_RATE_32000 = 0x04,
  MPF_SAMPLE_RATE_48000 = 0x08,
  MPF_SAMPLE_RATE_SUPPORTED = 0x03
} mpf_sample_rates_e;

typedef enum {
  STREAM_DIRECTION_NONE = 0x0,
  STREAM_DIRECTION_SEND = 0x1,    /* sink: audio flows into the plugin (write-frame) */
  STREAM_DIRECTION_RECEIVE = 0x2, /* source: audio flows out of the plugin (read-frame) */
  STREAM_DIRECTION_DUPLEX = 0x3
} mpf_stream_direction_e;

/* One codec entry of a stream's capabilities. */
typedef struct mpf_codec_attribs_t {
  apt_str_t name;              /* "LPCM", "PCMU", "PCMA" */
  int sample_rates;            /* mpf_sample_rates_e mask */
  apr_size_t bits_per_sample;  /* 0: codec default */
  apr_size_t frame_duration;   /* ms */
} mpf_codec_attribs_t;

typedef struct mpf_codec_capabilities_t {
  apr_array_header_t *attrib_arr; /* mpf_codec_attribs_t */
  apt_bool_t allow_named_events;
} mpf_codec_capabilities_t;

typedef struct mpf_stream_capabilities_t {
  mpf_stream_direction_e direction;
  mpf_codec_capabilities_t codecs;
} mpf_stream_capabilities_t;

HOST_DECLARE(mpf_stream_capabilities_t *) mpf_stream_capabilities_create(mpf_stream_direction_e direction, apr_pool_t *pool);
/* Appends an entry with bits per sample 0 and a 10 ms frame duration. */
HOST_DECLARE(apt_bool_t) mpf_codec_capabilities_add(mpf_codec_capabilities_t *capabilities, int sample_rates,
                                                    const char *codec_name);
HOST_DECLARE(apt_bool_t) mpf_codec_capabilities_entry_add(mpf_codec_capabilities_t *capabilities, const char *codec_name,
                                                          int sample_rates, apr_size_t bits_per_sample,
                                                          apr_size_t frame_duration);

/* A negotiated codec. */
typedef struct mpf_codec_descriptor_t {
  apr_byte_t payload_type;
  apt_str_t name;
  apr_uint16_t sampling_rate;
  apr_byte_t channel_count;
  apr_size_t frame_duration; /* ms */
} mpf_codec_descriptor_t;

typedef struct mpf_audio_stream_t mpf_audio_stream_t;
typedef struct mpf_audio_stream_vtable_t mpf_audio_stream_vtable_t;
typedef struct mpf_codec_t mpf_codec_t;

/* The audio stream method table, in slot order. */
struct mpf_audio_stream_vtable_t {
  apt_bool_t (*destroy)(mpf_audio_stream_t *stream);
  apt_bool_t (*open_rx)(mpf_audio_stream_t *stream, mpf_codec_t *codec);
  apt_bool_t (*close_rx)(mpf_audio_stream_t *stream);
  apt_bool_t (*read_frame)(mpf_audio_stream_t *stream, mpf_frame_t *frame);
  apt_bool_t (*open_tx)(mpf_audio_stream_t *stream, mpf_codec_t *codec);
  apt_bool_t (*close_tx)(mpf_audio_stream_t *stream);
  apt_bool_t (*write_frame)(mpf_audio_stream_t *stream, const mpf_frame_t *frame);
  void (*trace)(mpf_audio_stream_t *stream, mpf_stream_direction_e direction, apt_text_stream_t *output);
};

struct mpf_audio_stream_t {
  void *obj; /* the object given at termination creation (the plugin's channel) */
  const mpf_audio_stream_vtable_t *vtable;
  mpf_stream_capabilities_t *capabilities;
  mpf_stream_direction_e direction;
  const mpf_codec_descriptor_t *rx_descriptor; /* read-frame side (source) */
  const mpf_codec_descriptor_t *tx_descriptor; /* write-frame side (sink) */
};

typedef struct mpf_termination_t mpf_termination_t;

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_HOST_MPF_H */

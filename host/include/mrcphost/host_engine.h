/*
 * Engine, channel and plugin entry surface between the host and a resource plugin.
 * The host calls the plugin's method tables on its task thread and the audio stream's
 * read or write on its media thread; the plugin answers through the event tables.
 */
#ifndef MRCPHOST_HOST_ENGINE_H
#define MRCPHOST_HOST_ENGINE_H

#include "host_apt.h"
#include "host_mpf.h"
#include "host_mrcp_message.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mrcp_engine_t mrcp_engine_t;
typedef struct mrcp_engine_channel_t mrcp_engine_channel_t;

/* Plugin engine method table, in slot order. */
typedef struct mrcp_engine_method_vtable_t {
  apt_bool_t (*destroy)(mrcp_engine_t *engine);
  apt_bool_t (*open)(mrcp_engine_t *engine);
  apt_bool_t (*close)(mrcp_engine_t *engine);
  mrcp_engine_channel_t *(*create_channel)(mrcp_engine_t *engine, apr_pool_t *pool);
} mrcp_engine_method_vtable_t;

/* Host engine event table, in slot order. */
typedef struct mrcp_engine_event_vtable_t {
  apt_bool_t (*on_open)(mrcp_engine_t *engine, apt_bool_t status);
  apt_bool_t (*on_close)(mrcp_engine_t *engine);
} mrcp_engine_event_vtable_t;

/* Plugin channel method table, in slot order. */
typedef struct mrcp_engine_channel_method_vtable_t {
  apt_bool_t (*destroy)(mrcp_engine_channel_t *channel);
  apt_bool_t (*open)(mrcp_engine_channel_t *channel);
  apt_bool_t (*close)(mrcp_engine_channel_t *channel);
  apt_bool_t (*process_request)(mrcp_engine_channel_t *channel, mrcp_message_t *request);
} mrcp_engine_channel_method_vtable_t;

/* Host channel event table, in slot order: the only road out for messages. */
typedef struct mrcp_engine_channel_event_vtable_t {
  apt_bool_t (*on_open)(mrcp_engine_channel_t *channel, apt_bool_t status);
  apt_bool_t (*on_close)(mrcp_engine_channel_t *channel);
  apt_bool_t (*on_message)(mrcp_engine_channel_t *channel, mrcp_message_t *message);
} mrcp_engine_channel_event_vtable_t;

struct mrcp_engine_t {
  const char *id;                             /* engine name given by the host configuration */
  mrcp_resource_id resource_id;               /* mrcp_resource_type_e */
  void *obj;                                  /* the plugin's engine object */
  const mrcp_engine_method_vtable_t *method_vtable;
  const mrcp_engine_event_vtable_t *event_vtable;
  void *event_obj;                            /* host's */
  const apt_dir_layout_t *dir_layout;
  apr_size_t max_channel_count;               /* 0: unlimited */
  apr_table_t *params;                        /* engine parameters from the host configuration */
  apr_pool_t *pool;
};

struct mrcp_engine_channel_t {
  const mrcp_engine_channel_method_vtable_t *method_vtable;
  void *method_obj;                           /* the plugin's channel object */
  const mrcp_engine_channel_event_vtable_t *event_vtable;
  void *event_obj;                            /* host's */
  mrcp_engine_t *engine;
  mpf_termination_t *termination;
  apt_str_t id;                               /* channel identifier, as in Channel-Identifier before '@' */
  mrcp_version_e mrcp_version;
  apr_table_t *attribs;                       /* channel attributes, e.g. "subscription-key-file"; may be null */
  apt_bool_t is_open;
  apr_pool_t *pool;
};

/* Plugin side: engine and channel creation. */
HOST_DECLARE(mrcp_engine_t *) mrcp_engine_create(mrcp_resource_id resource_id, void *obj,
                                                 const mrcp_engine_method_vtable_t *vtable, apr_pool_t *pool);
HOST_DECLARE(mpf_termination_t *) mrcp_engine_audio_termination_create(void *obj, const mpf_audio_stream_vtable_t *stream_vtable,
                                                                       mpf_stream_capabilities_t *capabilities, apr_pool_t *pool);
HOST_DECLARE(mrcp_engine_channel_t *) mrcp_engine_channel_create(mrcp_engine_t *engine,
                                                                 const mrcp_engine_channel_method_vtable_t *method_vtable,
                                                                 void *method_obj, mpf_termination_t *termination,
                                                                 apr_pool_t *pool);
/* Negotiated codecs of the channel's audio stream: sink is audio into the plugin, source out of it. */
HOST_DECLARE(const mpf_codec_descriptor_t *) mrcp_engine_sink_stream_codec_get(const mrcp_engine_channel_t *channel);
HOST_DECLARE(const mpf_codec_descriptor_t *) mrcp_engine_source_stream_codec_get(const mrcp_engine_channel_t *channel);
/* Channel attribute value, or null. */
HOST_DECLARE(const char *) mrcp_engine_channel_attrib_get(const mrcp_engine_channel_t *channel, const char *name);
HOST_DECLARE(mpf_audio_stream_t *) mrcp_engine_channel_audio_stream_get(const mrcp_engine_channel_t *channel);

/* Event table calls. */
static inline apt_bool_t mrcp_engine_open_respond(mrcp_engine_t *engine, apt_bool_t status) {
  return engine->event_vtable->on_open(engine, status);
}
static inline apt_bool_t mrcp_engine_close_respond(mrcp_engine_t *engine) {
  return engine->event_vtable->on_close(engine);
}
static inline apt_bool_t mrcp_engine_channel_open_respond(mrcp_engine_channel_t *channel, apt_bool_t status) {
  return channel->event_vtable->on_open(channel, status);
}
static inline apt_bool_t mrcp_engine_channel_close_respond(mrcp_engine_channel_t *channel) {
  return channel->event_vtable->on_close(channel);
}
static inline apt_bool_t mrcp_engine_channel_message_send(mrcp_engine_channel_t *channel, mrcp_message_t *message) {
  return channel->event_vtable->on_message(channel, message);
}

/* ---------- plugin entry surface ---------- */

typedef struct mrcp_plugin_version_t {
  apr_uint32_t major;
  apr_uint32_t minor;
  apr_uint32_t patch;
  apr_uint32_t is_dev;
} mrcp_plugin_version_t;

#define MRCP_PLUGIN_VERSION_MAJOR 1
#define MRCP_PLUGIN_VERSION_MINOR 8
#define MRCP_PLUGIN_VERSION_PATCH 0

typedef mrcp_engine_t *(*mrcp_plugin_creator_f)(apr_pool_t *pool);
typedef apt_bool_t (*mrcp_plugin_log_accessor_f)(apt_logger_t *logger);
typedef void (*mrcp_plugin_log_source_accessor_f)(apt_log_source_t *source);

#define MRCP_PLUGIN_CREATOR_SYM "mrcp_plugin_create"
#define MRCP_PLUGIN_VERSION_SYM "mrcp_plugin_version"
#define MRCP_PLUGIN_LOGGER_SYM "mrcp_plugin_logger_set"
#define MRCP_PLUGIN_LOG_SOURCE_SYM "mrcp_plugin_log_source_set"

#if defined(__GNUC__)
#define MRCP_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define MRCP_PLUGIN_EXPORT
#endif

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_HOST_ENGINE_H */

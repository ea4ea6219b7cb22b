// Engine, channel and audio termination objects handed to plugins.
#include <apr_strings.h>

#include "host_internal.h"

namespace mrcphost {
namespace internal {

const char kEngineBindingKey[] = "mrcphost.engine-binding";
const char kChannelBindingKey[] = "mrcphost.channel-binding";

void BindEngine(mrcp_engine_t *engine, const EngineBinding &binding) {
  engine->id = binding.id;
  engine->event_vtable = binding.event_vtable;
  engine->event_obj = binding.event_obj;
  engine->dir_layout = binding.dir_layout;
  engine->max_channel_count = binding.max_channel_count;
  engine->params = binding.params;
}

void BindChannel(mrcp_engine_channel_t *channel, const ChannelBinding &binding) {
  channel->event_vtable = binding.event_vtable;
  channel->event_obj = binding.event_obj;
  apt_string_set(&channel->id, binding.id);
  channel->mrcp_version = binding.version;
  channel->attribs = binding.attribs;
}

}  // namespace internal
}  // namespace mrcphost

namespace {

using mrcphost::internal::ChannelBinding;
using mrcphost::internal::EngineBinding;

// Answers from an object that no server bound go nowhere instead of through a null table.
apt_bool_t UnboundEngineOpen(mrcp_engine_t *, apt_bool_t) { return FALSE; }
apt_bool_t UnboundEngineClose(mrcp_engine_t *) { return FALSE; }
const mrcp_engine_event_vtable_t kUnboundEngineEvents = {UnboundEngineOpen, UnboundEngineClose};

apt_bool_t UnboundChannelOpen(mrcp_engine_channel_t *, apt_bool_t) { return FALSE; }
apt_bool_t UnboundChannelClose(mrcp_engine_channel_t *) { return FALSE; }
apt_bool_t UnboundChannelMessage(mrcp_engine_channel_t *, mrcp_message_t *) { return FALSE; }
const mrcp_engine_channel_event_vtable_t kUnboundChannelEvents = {UnboundChannelOpen, UnboundChannelClose,
                                                                  UnboundChannelMessage};

template <typename T>
T *PoolBinding(apr_pool_t *pool, const char *key) {
  void *data = nullptr;
  if (apr_pool_userdata_get(&data, key, pool) != APR_SUCCESS) return nullptr;
  return static_cast<T *>(data);
}

}  // namespace

extern "C" {

mrcp_engine_t *mrcp_engine_create(mrcp_resource_id resource_id, void *obj, const mrcp_engine_method_vtable_t *vtable,
                                  apr_pool_t *pool) {
  if (!pool || !vtable || resource_id >= MRCP_RESOURCE_TYPE_COUNT) return nullptr;
  auto *engine = static_cast<mrcp_engine_t *>(apr_pcalloc(pool, sizeof(mrcp_engine_t)));
  engine->resource_id = resource_id;
  engine->obj = obj;
  engine->method_vtable = vtable;
  engine->event_vtable = &kUnboundEngineEvents;
  engine->pool = pool;
  if (const auto *binding = PoolBinding<EngineBinding>(pool, mrcphost::internal::kEngineBindingKey)) {
    mrcphost::internal::BindEngine(engine, *binding);
  }
  return engine;
}

mpf_termination_t *mrcp_engine_audio_termination_create(void *obj, const mpf_audio_stream_vtable_t *stream_vtable,
                                                        mpf_stream_capabilities_t *capabilities, apr_pool_t *pool) {
  if (!pool || !stream_vtable || !capabilities) return nullptr;
  auto *termination = static_cast<mpf_termination_t *>(apr_pcalloc(pool, sizeof(mpf_termination_t)));
  termination->stream.obj = obj;
  termination->stream.vtable = stream_vtable;
  termination->stream.capabilities = capabilities;
  termination->stream.direction = capabilities->direction;
  return termination;
}

mrcp_engine_channel_t *mrcp_engine_channel_create(mrcp_engine_t *engine,
                                                  const mrcp_engine_channel_method_vtable_t *method_vtable,
                                                  void *method_obj, mpf_termination_t *termination, apr_pool_t *pool) {
  if (!engine || !method_vtable || !pool) return nullptr;
  auto *channel = static_cast<mrcp_engine_channel_t *>(apr_pcalloc(pool, sizeof(mrcp_engine_channel_t)));
  channel->method_vtable = method_vtable;
  channel->method_obj = method_obj;
  channel->event_vtable = &kUnboundChannelEvents;
  channel->engine = engine;
  channel->termination = termination;
  channel->mrcp_version = MRCP_VERSION_2;
  channel->pool = pool;
  apt_string_set(&channel->id, "");
  if (const auto *binding = PoolBinding<ChannelBinding>(pool, mrcphost::internal::kChannelBindingKey)) {
    mrcphost::internal::BindChannel(channel, *binding);
  }
  return channel;
}

const mpf_codec_descriptor_t *mrcp_engine_sink_stream_codec_get(const mrcp_engine_channel_t *channel) {
  if (!channel || !channel->termination) return nullptr;
  return channel->termination->stream.tx_descriptor;
}

const mpf_codec_descriptor_t *mrcp_engine_source_stream_codec_get(const mrcp_engine_channel_t *channel) {
  if (!channel || !channel->termination) return nullptr;
  return channel->termination->stream.rx_descriptor;
}

const char *mrcp_engine_channel_attrib_get(const mrcp_engine_channel_t *channel, const char *name) {
  if (!channel || !channel->attribs || !name) return nullptr;
  return apr_table_get(channel->attribs, name);
}

mpf_audio_stream_t *mrcp_engine_channel_audio_stream_get(const mrcp_engine_channel_t *channel) {
  if (!channel || !channel->termination) return nullptr;
  return &channel->termination->stream;
}

}  // extern "C"

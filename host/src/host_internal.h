// Definitions shared by the units of the host library; not part of the public API.
#ifndef MRCPHOST_SRC_HOST_INTERNAL_H
#define MRCPHOST_SRC_HOST_INTERNAL_H

#include <string>

#include "mrcphost/host_engine.h"

struct mpf_termination_t {
  mpf_audio_stream_t stream;
};

struct mpf_codec_t {
  const mpf_codec_descriptor_t *descriptor;
};

namespace mrcphost {
namespace internal {

// What the server hands a plugin together with a pool, stored as that pool's user data, so the
// creation calls made with the pool bind the new engine or channel to the server at once.
struct EngineBinding {
  const char *id;
  const mrcp_engine_event_vtable_t *event_vtable;
  void *event_obj;
  const apt_dir_layout_t *dir_layout;
  apr_size_t max_channel_count;
  apr_table_t *params;
};

struct ChannelBinding {
  const mrcp_engine_channel_event_vtable_t *event_vtable;
  void *event_obj;
  const char *id;
  mrcp_version_e version;
  apr_table_t *attribs;
};

extern const char kEngineBindingKey[];
extern const char kChannelBindingKey[];

void BindEngine(mrcp_engine_t *engine, const EngineBinding &binding);
void BindChannel(mrcp_engine_channel_t *channel, const ChannelBinding &binding);

// The wire text writer without a pool.
bool WriteMessageText(const mrcp_message_t *message, mrcp_version_e version, std::string *out);

}  // namespace internal
}  // namespace mrcphost

#endif  // MRCPHOST_SRC_HOST_INTERNAL_H

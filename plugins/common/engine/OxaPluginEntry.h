// The plugin's entry surface and the method tables handed to the host. Each plugin provides
// its traits and its engine; the exported symbols and tables are the same for all.
#ifndef OXA_PLUGIN_ENTRY_H
#define OXA_PLUGIN_ENTRY_H

#include "OxaNamespace.h"
#include "OxaEngineBase.h"

namespace OXA_NS {

// Provided by the plugin (its OxaXxxPlugin unit).
extern const PluginTraits g_PluginTraits;
EngineBase* CreateEngineObject();

// Method tables, in the host's slot order.
apt_bool_t DestroyEngine(mrcp_engine_t* engine);
apt_bool_t OpenEngine(mrcp_engine_t* engine);
apt_bool_t CloseEngine(mrcp_engine_t* engine);
mrcp_engine_channel_t* CreateChannel(mrcp_engine_t* engine, apr_pool_t* pool);

apt_bool_t DestroyChannel(mrcp_engine_channel_t* channel);
apt_bool_t OpenChannel(mrcp_engine_channel_t* channel);
apt_bool_t CloseChannel(mrcp_engine_channel_t* channel);
apt_bool_t ProcessRequest(mrcp_engine_channel_t* channel, mrcp_message_t* request);

apt_bool_t WriteStream(mpf_audio_stream_t* stream, const mpf_frame_t* frame);
apt_bool_t ReadStream(mpf_audio_stream_t* stream, mpf_frame_t* frame);

}  // namespace OXA_NS

#endif  // OXA_PLUGIN_ENTRY_H

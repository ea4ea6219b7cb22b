#include "OxaPluginEntry.h"

#include "OxaChannelBase.h"
#include "OxaLog.h"

#include <atomic>

extern "C" {

// Null until the host assigns it; every log line of the plugin names it.
MRCP_PLUGIN_EXPORT apt_log_source_t* OXA_PLUGIN_LOG_SOURCE = nullptr;

MRCP_PLUGIN_EXPORT mrcp_plugin_version_t mrcp_plugin_version = {MRCP_PLUGIN_VERSION_MAJOR, MRCP_PLUGIN_VERSION_MINOR,
                                                                 MRCP_PLUGIN_VERSION_PATCH, 0};

MRCP_PLUGIN_EXPORT apt_bool_t mrcp_plugin_logger_set(apt_logger_t* logger) {
  apt_log_instance_set(logger);
  return TRUE;
}

MRCP_PLUGIN_EXPORT void mrcp_plugin_log_source_set(apt_log_source_t* source) {
  apt_def_log_source_set(source);
  apt_log_source_assign(OXA_NS::g_PluginTraits.m_LogSourceName, &OXA_PLUGIN_LOG_SOURCE);
}

MRCP_PLUGIN_EXPORT mrcp_engine_t* mrcp_plugin_create(apr_pool_t* pool);

}  // extern "C"

namespace OXA_NS {

static const mrcp_engine_method_vtable_t g_EngineVtable = {DestroyEngine, OpenEngine, CloseEngine, CreateChannel};

static const mrcp_engine_channel_method_vtable_t g_ChannelVtable = {DestroyChannel, OpenChannel, CloseChannel,
                                                                     ProcessRequest};

// Audio into the plugin: only write-frame is filled.
static const mpf_audio_stream_vtable_t g_SinkStreamVtable = {nullptr, nullptr, nullptr, nullptr,
                                                             nullptr, nullptr, WriteStream, nullptr};
// Audio out of the plugin: only read-frame is filled.
static const mpf_audio_stream_vtable_t g_SourceStreamVtable = {nullptr, nullptr, nullptr, ReadStream,
                                                               nullptr, nullptr, nullptr, nullptr};

// One engine per process: set before anything can fail, so a failed creation counts too.
static std::atomic<bool> g_EngineCreated(false);

static mrcp_engine_t* CreatePlugin(apr_pool_t* pool) {
  const PluginTraits& traits = g_PluginTraits;
  apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "%s", traits.m_VersionLine);
  if (g_EngineCreated.exchange(true))
    return nullptr;
  EngineBase* engine = CreateEngineObject();
  mrcp_engine_t* handle = mrcp_engine_create(traits.m_ResourceId, engine, &g_EngineVtable, pool);
  if (!handle) {
    delete engine;
    return nullptr;
  }
  engine->SetMrcpEngine(handle);
  return handle;
}

static EngineBase* EngineOf(mrcp_engine_t* engine) {
  return engine ? static_cast<EngineBase*>(engine->obj) : nullptr;
}

static ChannelBase* ChannelOf(mrcp_engine_channel_t* channel) {
  return channel ? static_cast<ChannelBase*>(channel->method_obj) : nullptr;
}

apt_bool_t DestroyEngine(mrcp_engine_t* engine) {
  EngineBase* object = EngineOf(engine);
  if (object) {
    object->Terminate();
    delete object;
    engine->obj = nullptr;
  }
  return TRUE;
}

apt_bool_t OpenEngine(mrcp_engine_t* engine) {
  EngineBase* object = EngineOf(engine);
  return object && object->Open() ? TRUE : FALSE;
}

apt_bool_t CloseEngine(mrcp_engine_t* engine) {
  EngineBase* object = EngineOf(engine);
  return object && object->Close() ? TRUE : FALSE;
}

mrcp_engine_channel_t* CreateChannel(mrcp_engine_t* engine, apr_pool_t* pool) {
  EngineBase* object = EngineOf(engine);
  if (!object)
    return nullptr;
  const PluginTraits& traits = object->GetTraits();
  ChannelBase* channel = object->CreateChannelObject();

  mpf_stream_capabilities_t* capabilities = mpf_stream_capabilities_create(traits.m_StreamDirection, pool);
  for (size_t i = 0; capabilities && i < traits.m_CodecCount; i++)
    mpf_codec_capabilities_entry_add(&capabilities->codecs, traits.m_Codecs[i].m_Name, traits.m_Codecs[i].m_SampleRates,
                                     0, 10);
  const mpf_audio_stream_vtable_t* streamVtable =
      traits.m_StreamDirection == STREAM_DIRECTION_RECEIVE ? &g_SourceStreamVtable : &g_SinkStreamVtable;
  mpf_termination_t* termination = mrcp_engine_audio_termination_create(channel, streamVtable, capabilities, pool);
  mrcp_engine_channel_t* handle = mrcp_engine_channel_create(engine, &g_ChannelVtable, channel, termination, pool);
  if (!handle) {
    delete channel;
    return nullptr;
  }
  channel->SetMrcpChannel(handle);
  return handle;
}

apt_bool_t DestroyChannel(mrcp_engine_channel_t* channel) {
  ChannelBase* object = ChannelOf(channel);
  if (object) {
    delete object;
    channel->method_obj = nullptr;
  }
  return TRUE;
}

apt_bool_t OpenChannel(mrcp_engine_channel_t* channel) {
  ChannelBase* object = ChannelOf(channel);
  return object && object->SignalEvent(TASK_MSG_OPEN_CHANNEL, nullptr) ? TRUE : FALSE;
}

apt_bool_t CloseChannel(mrcp_engine_channel_t* channel) {
  ChannelBase* object = ChannelOf(channel);
  return object && object->SignalEvent(TASK_MSG_CLOSE_CHANNEL, nullptr) ? TRUE : FALSE;
}

apt_bool_t ProcessRequest(mrcp_engine_channel_t* channel, mrcp_message_t* request) {
  ChannelBase* object = ChannelOf(channel);
  return object && object->SignalEvent(TASK_MSG_REQUEST, request) ? TRUE : FALSE;
}

apt_bool_t WriteStream(mpf_audio_stream_t* stream, const mpf_frame_t* frame) {
  ChannelBase* object = stream ? static_cast<ChannelBase*>(stream->obj) : nullptr;
  if (object)
    object->Write(frame);
  return TRUE;
}

apt_bool_t ReadStream(mpf_audio_stream_t* stream, mpf_frame_t* frame) {
  ChannelBase* object = stream ? static_cast<ChannelBase*>(stream->obj) : nullptr;
  if (object)
    object->Read(frame);
  return TRUE;
}

}  // namespace OXA_NS

extern "C" MRCP_PLUGIN_EXPORT mrcp_engine_t* mrcp_plugin_create(apr_pool_t* pool) {
  return OXA_NS::CreatePlugin(pool);
}

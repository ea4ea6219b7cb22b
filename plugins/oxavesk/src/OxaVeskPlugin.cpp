// Entry data of the Azure recognizer plugin; the exported entry surface is the shared one.
#include "OxaPluginEntry.h"
#include "OxaVeskEngine.h"

namespace VESK {

static const CodecEntry g_Codecs[] = {{"LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000}};

const PluginTraits g_PluginTraits = {
    "Vesk",
    "vesk",
    "VESK-PLUGIN",
    "VESK Plugin Version [1.24.4] Date [2022-10-19]",
    "oxavesk.xml",
    "oxavesk",
    "Failed to Load OXA Vesk Config",
    MRCP_RECOGNIZER_RESOURCE,
    STREAM_DIRECTION_SEND,
    g_Codecs,
    sizeof(g_Codecs) / sizeof(g_Codecs[0]),
};

EngineBase* CreateEngineObject() {
  return new Engine();
}

}  // namespace VESK

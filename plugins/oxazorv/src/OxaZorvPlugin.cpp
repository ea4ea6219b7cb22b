// Entry data of the Google recognizer plugin; the exported entry surface is the shared one.
#include "OxaPluginEntry.h"
#include "OxaZorvEngine.h"

namespace ZORV {

static const CodecEntry g_Codecs[] = {{"LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000}};

const PluginTraits g_PluginTraits = {
    "ZORV",
    "zorv",
    "ZORV-PLUGIN",
    "ZORV Plugin Version [1.25.1] Date [2022-10-19]",
    "oxazorv.xml",
    "oxazorv",
    "Failed to Load OXA ZORV Config",
    MRCP_RECOGNIZER_RESOURCE,
    STREAM_DIRECTION_SEND,
    g_Codecs,
    sizeof(g_Codecs) / sizeof(g_Codecs[0]),
};

EngineBase* CreateEngineObject() {
  return new Engine();
}

}  // namespace ZORV

// Entry data of the Azure synthesizer plugin; the exported entry surface is the shared one.
#include "OxaLumoEngine.h"
#include "OxaPluginEntry.h"

namespace LUMO {

static const CodecEntry g_Codecs[] = {{"PCMU", MPF_SAMPLE_RATE_8000}, {"LPCM", MPF_SAMPLE_RATE_16000}};

const PluginTraits g_PluginTraits = {
    "Lumo",
    "lumo",
    "LUMO-PLUGIN",
    "LUMO Plugin Version [1.19.2] Date [2022-10-18]",
    "oxalumo.xml",
    "oxalumo",
    "Failed to Load OXA Lumo Config",
    MRCP_SYNTHESIZER_RESOURCE,
    STREAM_DIRECTION_RECEIVE,
    g_Codecs,
    sizeof(g_Codecs) / sizeof(g_Codecs[0]),
};

EngineBase* CreateEngineObject() {
  return new Engine();
}

}  // namespace LUMO

#include "OxaLumoEngine.h"

#include "OxaLumoChannel.h"
#include "OxaPluginEntry.h"

namespace LUMO {

Engine::Engine() : EngineBase(g_PluginTraits) {
  AddDocumentAttribute("subscription-key-file", &m_SubscriptionKeyFile);
  // Read by the synthesis settings, the service endpoint manager and the file managers.
  AddElementLoader("synth-settings", AcceptElement);
  AddElementLoader("service-endpoints", AcceptElement);
  AddElementLoader("waveform-manager", AcceptElement);
  AddElementLoader("sdr-manager", AcceptElement);
}

ChannelBase* Engine::CreateChannelObject() {
  return new Channel(this);
}

}  // namespace LUMO

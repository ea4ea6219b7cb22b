#include "OxaVeskEngine.h"

#include "OxaPluginEntry.h"
#include "OxaVeskChannel.h"

namespace VESK {

Engine::Engine() : RecogEngineBase(g_PluginTraits) {
  AddDocumentAttribute("subscription-key-file", &m_SubscriptionKeyFile);
  // Read by the streaming recognition settings and the service endpoint manager.
  AddElementLoader("ws-streaming-recognition", AcceptElement);
  AddElementLoader("service-endpoints", AcceptElement);
}

ChannelBase* Engine::CreateChannelObject() {
  return new Channel(this);
}

}  // namespace VESK

#include "OxaZorvEngine.h"

#include "OxaPluginEntry.h"
#include "OxaZorvChannel.h"

namespace ZORV {

Engine::Engine() : RecogEngineBase(g_PluginTraits) {
  AddDocumentAttribute("gapp-credentials-file", &m_CredentialsFile);
  AddDocumentAttribute("ssl-roots-file", &m_SslRootsFile);
  // Read by the streaming recognition settings.
  AddElementLoader("streaming-recognition", AcceptElement);
}

ChannelBase* Engine::CreateChannelObject() {
  return new Channel(this);
}

}  // namespace ZORV

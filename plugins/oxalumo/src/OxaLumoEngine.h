// The Azure synthesizer's engine.
#ifndef OXA_LUMO_ENGINE_H
#define OXA_LUMO_ENGINE_H

#include "OxaEngineBase.h"

#include <string>

namespace LUMO {

class Engine : public EngineBase {
 public:
  Engine();

  ChannelBase* CreateChannelObject() override;

  const std::string& GetSubscriptionKeyFile() const { return m_SubscriptionKeyFile; }

 private:
  // Document attribute; resolved against the data directory when the default profile is made.
  std::string m_SubscriptionKeyFile;
};

}  // namespace LUMO

#endif  // OXA_LUMO_ENGINE_H

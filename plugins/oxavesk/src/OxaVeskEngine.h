// The Azure recognizer's engine.
#ifndef OXA_VESK_ENGINE_H
#define OXA_VESK_ENGINE_H

#include "OxaRecogBase.h"

#include <string>

namespace VESK {

class Engine : public RecogEngineBase {
 public:
  Engine();

  ChannelBase* CreateChannelObject() override;

  const std::string& GetSubscriptionKeyFile() const { return m_SubscriptionKeyFile; }

 private:
  // Document attribute; resolved against the data directory when the default profile is made.
  std::string m_SubscriptionKeyFile;
};

}  // namespace VESK

#endif  // OXA_VESK_ENGINE_H

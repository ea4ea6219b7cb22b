// The Azure synthesizer's channel: one MRCP synthesizer resource of a session.
#ifndef OXA_LUMO_CHANNEL_H
#define OXA_LUMO_CHANNEL_H

#include "OxaChannelBase.h"

namespace LUMO {

class Engine;

class Channel : public ChannelBase {
 public:
  explicit Channel(Engine* engine);
};

}  // namespace LUMO

#endif  // OXA_LUMO_CHANNEL_H

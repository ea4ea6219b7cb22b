// The Azure recognizer's channel: one MRCP recognizer resource of a session.
#ifndef OXA_VESK_CHANNEL_H
#define OXA_VESK_CHANNEL_H

#include "OxaRecogBase.h"

namespace VESK {

class Engine;

class Channel : public RecogChannelBase {
 public:
  explicit Channel(Engine* engine);
};

}  // namespace VESK

#endif  // OXA_VESK_CHANNEL_H

// The Google recognizer's channel: one MRCP recognizer resource of a session.
#ifndef OXA_ZORV_CHANNEL_H
#define OXA_ZORV_CHANNEL_H

#include "OxaRecogBase.h"

namespace ZORV {

class Engine;

class Channel : public RecogChannelBase {
 public:
  explicit Channel(Engine* engine);
};

}  // namespace ZORV

#endif  // OXA_ZORV_CHANNEL_H

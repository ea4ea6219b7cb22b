#include "OxaZorvChannel.h"

#include "OxaZorvEngine.h"

namespace ZORV {

Channel::Channel(Engine* engine) : RecogChannelBase(engine) {}

}  // namespace ZORV

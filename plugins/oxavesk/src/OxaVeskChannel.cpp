#include "OxaVeskChannel.h"

#include "OxaVeskEngine.h"

namespace VESK {

Channel::Channel(Engine* engine) : RecogChannelBase(engine) {}

}  // namespace VESK

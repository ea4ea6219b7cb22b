#include "OxaLumoChannel.h"

#include "OxaLumoEngine.h"

namespace LUMO {

Channel::Channel(Engine* engine) : ChannelBase(engine) {}

}  // namespace LUMO

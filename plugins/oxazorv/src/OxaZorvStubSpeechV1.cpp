#include "OxaZorvStubSpeechV1.h"

#include "OxaZorvStreamingRecognize.h"

namespace ZORV {
namespace APIV1 {

std::shared_ptr<ZORV::SpeechStub> CreateSpeechStub(Channel* channel) {
  return std::make_shared<SpeechStub>(channel);
}

}  // namespace APIV1
}  // namespace ZORV

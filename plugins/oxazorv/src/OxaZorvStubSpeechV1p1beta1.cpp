#include "OxaZorvStubSpeechV1p1beta1.h"

#include "OxaZorvStreamingRecognize.h"

namespace ZORV {
namespace APIV1P1BETA1 {

std::shared_ptr<ZORV::SpeechStub> CreateSpeechStub(Channel* channel) {
  return std::make_shared<SpeechStub>(channel);
}

}  // namespace APIV1P1BETA1
}  // namespace ZORV

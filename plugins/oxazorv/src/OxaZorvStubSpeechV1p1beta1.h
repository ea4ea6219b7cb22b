// Google speech API v1p1beta1: the generated types its stub and StreamingRecognize method use.
#ifndef OXA_ZORV_STUB_SPEECH_V1P1BETA1_H
#define OXA_ZORV_STUB_SPEECH_V1P1BETA1_H

#include "OxaZorvStub.h"

#include <google/cloud/speech/v1p1beta1/cloud_speech.grpc.pb.h>

namespace ZORV {
namespace APIV1P1BETA1 {

struct Api {
  typedef google::cloud::speech::v1p1beta1::Speech Service;
  typedef Service::StubInterface StubInterface;
  typedef google::cloud::speech::v1p1beta1::StreamingRecognizeRequest Request;
  typedef google::cloud::speech::v1p1beta1::StreamingRecognizeResponse Response;
  typedef google::cloud::speech::v1p1beta1::RecognitionConfig RecognitionConfig;
  typedef google::cloud::speech::v1p1beta1::SpeechContext SpeechContext;
  static const bool kTranscriptNormalization = true;
};

typedef SpeechStubT<Api> SpeechStub;
std::shared_ptr<ZORV::SpeechStub> CreateSpeechStub(Channel* channel);

}  // namespace APIV1P1BETA1
}  // namespace ZORV

#endif  // OXA_ZORV_STUB_SPEECH_V1P1BETA1_H

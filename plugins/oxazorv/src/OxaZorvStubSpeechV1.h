// Google speech API v1: the generated types its stub and StreamingRecognize method use.
#ifndef OXA_ZORV_STUB_SPEECH_V1_H
#define OXA_ZORV_STUB_SPEECH_V1_H

#include "OxaZorvStub.h"

#include <google/cloud/speech/v1/cloud_speech.grpc.pb.h>

namespace ZORV {
namespace APIV1 {

struct Api {
  typedef google::cloud::speech::v1::Speech Service;
  typedef Service::StubInterface StubInterface;
  typedef google::cloud::speech::v1::StreamingRecognizeRequest Request;
  typedef google::cloud::speech::v1::StreamingRecognizeResponse Response;
  typedef google::cloud::speech::v1::RecognitionConfig RecognitionConfig;
  typedef google::cloud::speech::v1::SpeechContext SpeechContext;
  // Transcript normalization is a v1p1beta1 feature.
  static const bool kTranscriptNormalization = false;
};

typedef SpeechStubT<Api> SpeechStub;
std::shared_ptr<ZORV::SpeechStub> CreateSpeechStub(Channel* channel);

}  // namespace APIV1
}  // namespace ZORV

#endif  // OXA_ZORV_STUB_SPEECH_V1_H

// Google speech API v1: its stub and its StreamingRecognize method.
#ifndef OXA_ZORV_STUB_SPEECH_V1_H
#define OXA_ZORV_STUB_SPEECH_V1_H

#include "OxaZorvStub.h"

#include <google/cloud/speech/v1/cloud_speech.grpc.pb.h>

namespace ZORV {
namespace APIV1 {

struct Api {
  typedef google::cloud::speech::v1::Speech::StubInterface StubInterface;
  typedef google::cloud::speech::v1::StreamingRecognizeRequest Request;
  typedef google::cloud::speech::v1::StreamingRecognizeResponse Response;
  typedef google::cloud::speech::v1::RecognitionConfig RecognitionConfig;
  typedef google::cloud::speech::v1::SpeechContext SpeechContext;
  // Transcript normalization is a v1p1beta1 feature.
  static const bool kTranscriptNormalization = false;
};

class SpeechStub : public ZORV::SpeechStub {
 public:
  explicit SpeechStub(Channel* channel) : ZORV::SpeechStub(channel) {}
  bool CreateGrpcStub(const std::shared_ptr<grpc::Channel>& channel) override;
  std::shared_ptr<MethodBase> CreateStreamingRecognizeMethod() override;

 private:
  std::shared_ptr<Api::StubInterface> m_pStub;
};

}  // namespace APIV1
}  // namespace ZORV

#endif  // OXA_ZORV_STUB_SPEECH_V1_H

// Google speech API v1p1beta1: its stub and its StreamingRecognize method.
#ifndef OXA_ZORV_STUB_SPEECH_V1P1BETA1_H
#define OXA_ZORV_STUB_SPEECH_V1P1BETA1_H

#include "OxaZorvStub.h"

#include <google/cloud/speech/v1p1beta1/cloud_speech.grpc.pb.h>

namespace ZORV {
namespace APIV1P1BETA1 {

struct Api {
  typedef google::cloud::speech::v1p1beta1::Speech::StubInterface StubInterface;
  typedef google::cloud::speech::v1p1beta1::StreamingRecognizeRequest Request;
  typedef google::cloud::speech::v1p1beta1::StreamingRecognizeResponse Response;
  typedef google::cloud::speech::v1p1beta1::RecognitionConfig RecognitionConfig;
  typedef google::cloud::speech::v1p1beta1::SpeechContext SpeechContext;
  static const bool kTranscriptNormalization = true;
};

class SpeechStub : public ZORV::SpeechStub {
 public:
  explicit SpeechStub(Channel* channel) : ZORV::SpeechStub(channel) {}
  bool CreateGrpcStub(const std::shared_ptr<grpc::Channel>& channel) override;
  std::shared_ptr<MethodBase> CreateStreamingRecognizeMethod() override;

 private:
  std::shared_ptr<Api::StubInterface> m_pStub;
};

}  // namespace APIV1P1BETA1
}  // namespace ZORV

#endif  // OXA_ZORV_STUB_SPEECH_V1P1BETA1_H

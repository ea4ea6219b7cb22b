#include "OxaZorvStubSpeechV1p1beta1.h"

#include "OxaLog.h"
#include "OxaZorvStreamingRecognize.h"

namespace ZORV {
namespace APIV1P1BETA1 {

bool SpeechStub::CreateGrpcStub(const std::shared_ptr<grpc::Channel>& channel) {
  m_pStub = google::cloud::speech::v1p1beta1::Speech::NewStub(channel);
  if (!m_pStub) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create gRPC Speech Stub %s", m_pChannel->LogId());
    return false;
  }
  return true;
}

std::shared_ptr<MethodBase> SpeechStub::CreateStreamingRecognizeMethod() {
  return std::make_shared<StreamingRecognizeMethod<Api>>(m_pChannel, m_pStub);
}

}  // namespace APIV1P1BETA1
}  // namespace ZORV

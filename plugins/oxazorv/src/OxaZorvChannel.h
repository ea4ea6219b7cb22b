// The Google recognizer's channel: the recognizer channel of the recognizers, with the request
// settings of Google's streaming recognition, the gRPC channel and stub of the session, and the
// StreamingRecognize method of each recognition.
#ifndef OXA_ZORV_CHANNEL_H
#define OXA_ZORV_CHANNEL_H

#include "OxaZorvSettings.h"
#include "recog/OxaRecogChannel.h"

#include <grpcpp/channel.h>

#include <memory>
#include <string>

namespace ZORV {

class Engine;
class SpeechStub;

class Channel : public RecogChannel {
 public:
  explicit Channel(Engine* engine);
  ~Channel() override;

  Engine* GetZorvEngine() const;
  // This recognition's settings: the engine's, changed by the request.
  const StreamingRecogSettings& GetRequestSettings() const { return m_RequestSettings; }
  const WebhookSettings& GetRequestWebhookSettings() const { return m_RequestWebhookSettings; }
  // Hands the results to the webhook service; false when no webhook call was started, and the
  // method composes the result itself.
  bool TriggerWebhook();

 protected:
  void InitRequestSettings() override;
  bool UseMrcpv1Confidence(mrcp_version_e version) const override;
  bool SetRequestParameter(const std::string& name, const std::string& value) override;
  void SetLanguage(const std::string& language) override { m_RequestSettings.m_Language = language; }
  void SetMaxAlternatives(int64_t count) override { m_RequestSettings.m_MaxAlternatives = count; }
  void SetRecognitionMode(const std::string& mode) override;
  bool IsStartOfInputServiceOriginated() const override;
  bool FinalizeRequestSettings() override;
  void ClearInterResultTimeout() override { m_RequestSettings.m_InterResultTimeout = 0; }
  bool StartRecognition() override;

 private:
  bool CreateGrpcChannel();
  bool CreateGrpcStub();
  bool CreateGrpcWebhookChannel();
  bool CreateMethod();
  // The host channel's attribute, or empty.
  std::string GetAttribute(const char* name) const;

  StreamingRecogSettings m_RequestSettings;
  WebhookSettings m_RequestWebhookSettings;
  // Made at the first RECOGNIZE that needs them, kept for the life of the channel.
  std::shared_ptr<grpc::Channel> m_pGrpcChannel;
  std::shared_ptr<SpeechStub> m_pSpeechStub;
  std::shared_ptr<grpc::Channel> m_pWebhookChannel;
};

}  // namespace ZORV

#endif  // OXA_ZORV_CHANNEL_H

#include "OxaZorvChannel.h"

#include "OxaLog.h"
#include "OxaZorvEngine.h"
#include "OxaZorvStub.h"
#include "OxaZorvStubSpeechV1.h"
#include "OxaZorvStubSpeechV1p1beta1.h"

#include <grpcpp/create_channel.h>

#include <strings.h>

namespace ZORV {

Channel::Channel(Engine* engine) : RecogChannel(engine, engine->GetStreamingRecogSettings().m_Grammar) {}

Channel::~Channel() {}

Engine* Channel::GetZorvEngine() const {
  return static_cast<Engine*>(GetEngine());
}

void Channel::InitRequestSettings() {
  m_RequestSettings = GetZorvEngine()->GetStreamingRecogSettings();
  m_RequestWebhookSettings = GetZorvEngine()->GetWebhookSettings();
}

bool Channel::UseMrcpv1Confidence(mrcp_version_e version) const {
  const int format = GetZorvEngine()->GetStreamingRecogSettings().m_ConfidenceFormat;
  return format == ConfidenceFormatMrcpv1 || (format == ConfidenceFormatAuto && version == MRCP_VERSION_1);
}

bool Channel::SetRequestParameter(const std::string& name, const std::string& value) {
  return m_RequestSettings.SetParameter(name, value);
}

void Channel::SetRecognitionMode(const std::string& mode) {
  if (strcasecmp(mode.c_str(), "continuous") == 0) m_RequestSettings.m_SingleUtterance = false;
}

bool Channel::IsStartOfInputServiceOriginated() const {
  return m_RequestSettings.m_StartOfInput == StartOfInputServiceOriginated;
}

bool Channel::FinalizeRequestSettings() {
  // The service's interim results stand in for the detector's start of speech.
  if (IsStartOfInputServiceOriginated()) m_RequestSettings.m_InterimResults = true;
  GetDetails().m_Language = m_RequestSettings.m_Language;
  GetDetails().m_MaxAlternatives = m_RequestSettings.m_MaxAlternatives;
  return m_RequestSettings.m_InterimResults;
}

std::string Channel::GetAttribute(const char* name) const {
  const char* value = GetMrcpChannel() ? mrcp_engine_channel_attrib_get(GetMrcpChannel(), name) : nullptr;
  return value ? value : "";
}

bool Channel::StartRecognition() {
  if (!m_pGrpcChannel) {
    if (!CreateGrpcChannel()) return false;
  } else if (!m_pSpeechStub && !CreateGrpcStub()) {
    return false;
  }
  if (m_RequestWebhookSettings.m_Enable && !m_pWebhookChannel && !CreateGrpcWebhookChannel()) return false;
  if (!CreateMethod()) return false;
  return GetMethod()->Invoke();
}

bool Channel::CreateGrpcChannel() {
  Engine* engine = GetZorvEngine();
  std::shared_ptr<grpc::ChannelCredentials> credentials = engine->GetDefaultCredentials();

  std::string credentialsFile = GetAttribute("gapp-credentials-file");
  std::string serviceUri = GetAttribute("service-uri");
  std::string region = GetAttribute("region");
  if (!m_RequestSettings.m_CredentialsFile.empty()) credentialsFile = m_RequestSettings.m_CredentialsFile;
  if (!m_RequestSettings.m_ServiceUri.empty()) serviceUri = m_RequestSettings.m_ServiceUri;
  if (!m_RequestSettings.m_Region.empty()) region = m_RequestSettings.m_Region;

  if (!credentialsFile.empty()) {
    const std::string path = engine->GetCredentialsFilePath(credentialsFile, GetActiveRequest()->pool);
    apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Find Credentials [%s] %s", path.c_str(), LogId());
    credentials = engine->FindCredentials(path);
    if (!credentials) {
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Create Credentials [%s] %s", path.c_str(), LogId());
      credentials = engine->CreateCredentials(path, region);
    }
  }
  if (!credentials) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Get Credentials %s", LogId());
    return false;
  }

  std::string target = serviceUri;
  if (target.empty()) {
    target = GOOGLE_SPEECH_HOST;
    if (!region.empty() && region != "global") target = region + "-" + target;
    target += ":443";
  }
  apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Create gRPC Channel [%s] %s", target.c_str(), LogId());
  m_pGrpcChannel = grpc::CreateChannel(target, credentials);
  if (!m_pGrpcChannel) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create gRPC Channel %s", LogId());
    return false;
  }
  return CreateGrpcStub();
}

bool Channel::CreateGrpcStub() {
  std::string api = GetZorvEngine()->GetStreamingRecogSettings().m_Api;
  const std::string attribute = GetAttribute("api");
  if (!attribute.empty()) api = attribute;
  if (!m_RequestSettings.m_Api.empty()) api = m_RequestSettings.m_Api;
  if (api.empty()) api = "v1";
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Create gRPC Speech Stub [%s] %s", api.c_str(), LogId());

  std::shared_ptr<SpeechStub> stub;
  if (api == "v1")
    stub = APIV1::CreateSpeechStub(this);
  else if (api == "v1p1beta1")
    stub = APIV1P1BETA1::CreateSpeechStub(this);
  else
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown API [%s] %s", api.c_str(), LogId());
  if (!stub || !stub->CreateGrpcStub(m_pGrpcChannel)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create gRPC Speech Stub [%s] %s", api.c_str(), LogId());
    return false;
  }
  m_pSpeechStub = stub;
  return true;
}

bool Channel::CreateGrpcWebhookChannel() {
  std::shared_ptr<grpc::ChannelCredentials> credentials = GetZorvEngine()->GetWebhookCredentials();
  if (credentials) m_pWebhookChannel = grpc::CreateChannel(m_RequestWebhookSettings.m_ServiceUri, credentials);
  if (!m_pWebhookChannel) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create gRPC Webhook Stub %s", LogId());
    return false;
  }
  return true;
}

bool Channel::CreateMethod() {
  const std::string& name = m_RequestSettings.m_Method;
  std::shared_ptr<MethodBase> method;
  if (!name.empty() && name != "StreamingRecognize")
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown gRPC Method Specified [%s] %s", name.c_str(), LogId());
  else if (m_pSpeechStub)
    method = m_pSpeechStub->CreateStreamingRecognizeMethod();
  if (!method) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create gRPC Method [%s] %s",
            name.empty() ? "StreamingRecognize" : name.c_str(), LogId());
    return false;
  }
  SetMethod(method);
  return true;
}

bool Channel::TriggerWebhook() {
  // The webhook service's protocol is not part of this build: the method composes the result.
  apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Webhook Method %s", LogId());
  return false;
}

}  // namespace ZORV

// The Google recognizer's engine: its settings, the Google credentials and their cache, the gRPC
// environment and the gRPC task that all channels share.
#ifndef OXA_ZORV_ENGINE_H
#define OXA_ZORV_ENGINE_H

#include "OxaZorvSettings.h"
#include "recog/OxaRecogEngine.h"

#include <grpcpp/security/credentials.h>

#include <map>
#include <memory>
#include <string>

namespace ZORV {

class Task;

class Engine : public RecogEngine {
 public:
  Engine();
  ~Engine() override;

  ChannelBase* CreateChannelObject() override;

  // Event thread.
  const StreamingRecogSettings& GetStreamingRecogSettings() const { return m_StreamingRecogSettings; }
  const WebhookSettings& GetWebhookSettings() const { return m_WebhookSettings; }
  Task* GetTask() const { return m_pTask; }
  const std::string& GetCredentialsFile() const { return m_CredentialsFile; }
  const std::string& GetSslRootsFile() const { return m_SslRootsFile; }
  std::shared_ptr<grpc::ChannelCredentials> GetDefaultCredentials() const { return m_DefaultCredentials; }
  std::shared_ptr<grpc::ChannelCredentials> GetWebhookCredentials() const { return m_WebhookCredentials; }

  // The cached credentials of exactly this path, or none.
  std::shared_ptr<grpc::ChannelCredentials> FindCredentials(const std::string& path) const;
  // Credentials of a request's credentials file, added to the cache; none on failure.
  std::shared_ptr<grpc::ChannelCredentials> CreateCredentials(const std::string& path, const std::string& region);
  // A request's credentials file name resolved against the data directory.
  std::string GetCredentialsFilePath(const std::string& name, apr_pool_t* pool) const;
  // The JWT audience of a region: empty for none.
  static std::string ComposeAudience(const std::string& region);

 protected:
  void ResetSettings() override;
  bool ValidatePluginConfig(const ConfigDirs& dirs, apr_pool_t* pool) override;
  bool ProcessOpen() override;
  void ProcessStopping() override;
  void Cleanup() override;

 private:
  bool CreateGrpcTask();
  void DestroyGrpcTask();

  // Document attributes.
  std::string m_CredentialsFile;
  std::string m_SslRootsFile;
  StreamingRecogSettings m_StreamingRecogSettings;
  WebhookSettings m_WebhookSettings;

  // Event thread, from the start on.
  std::map<std::string, std::shared_ptr<grpc::ChannelCredentials>> m_CredentialsCache;
  std::shared_ptr<grpc::ChannelCredentials> m_DefaultCredentials;
  std::shared_ptr<grpc::ChannelCredentials> m_WebhookCredentials;
  Task* m_pTask;
  bool m_LogRedirection;  // the gRPC log function is ours
};

// The host name of Google's speech service, regional ones prefixed by "<region>-".
extern const char* const GOOGLE_SPEECH_HOST;

}  // namespace ZORV

#endif  // OXA_ZORV_ENGINE_H

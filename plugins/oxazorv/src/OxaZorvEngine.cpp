#include "OxaZorvEngine.h"

#include "OxaConfigUtils.h"
#include "OxaLog.h"
#include "OxaPluginEntry.h"
#include "OxaZorvChannel.h"
#include "OxaZorvTask.h"

#include <apr_file_info.h>
#include <apr_file_io.h>
#include <grpc/support/log.h>

#include <cstdlib>

// gRPC's own log function, which it has no public name for; restored when the plugin stops
// redirecting, since the library may outlive the plugin.
void gpr_default_log(gpr_log_func_args* args);

namespace ZORV {

const char* const GOOGLE_SPEECH_HOST = "speech.googleapis.com";

// gRPC library threads: every gRPC log line goes to the server's log.
static void GrpcLogRedirector(gpr_log_func_args* args) {
  apt_log_priority_e priority = APT_PRIO_ERROR;
  if (args->severity == GPR_LOG_SEVERITY_DEBUG)
    priority = APT_PRIO_DEBUG;
  else if (args->severity == GPR_LOG_SEVERITY_INFO)
    priority = APT_PRIO_INFO;
  apt_log(OXA_PLUGIN_LOG_SOURCE, args->file, args->line, priority, "%s", args->message);
}

static bool IsRegularFile(const std::string& path, apr_pool_t* pool) {
  apr_finfo_t finfo;
  return apr_stat(&finfo, path.c_str(), APR_FINFO_TYPE, pool) == APR_SUCCESS && finfo.filetype == APR_REG;
}

Engine::Engine() : RecogEngine(g_PluginTraits, "oxazorv-"), m_pTask(nullptr), m_LogRedirection(false) {
  AddDocumentAttribute("gapp-credentials-file", &m_CredentialsFile);
  AddDocumentAttribute("ssl-roots-file", &m_SslRootsFile);
  AddElementLoader("streaming-recognition",
                   [this](const apr_xml_elem* elem, apr_pool_t*) { return m_StreamingRecogSettings.Load(elem); });
  AddElementLoader("webhook", [this](const apr_xml_elem* elem, apr_pool_t*) { return m_WebhookSettings.Load(elem); });
}

Engine::~Engine() {
  Cleanup();
}

ChannelBase* Engine::CreateChannelObject() {
  return new Channel(this);
}

void Engine::ResetSettings() {
  RecogEngine::ResetSettings();
  m_CredentialsFile.clear();
  m_SslRootsFile.clear();
  m_StreamingRecogSettings = StreamingRecogSettings();
  m_WebhookSettings = WebhookSettings();
}

bool Engine::ValidatePluginConfig(const ConfigDirs& dirs, apr_pool_t* pool) {
  if (!RecogEngine::ValidatePluginConfig(dirs, pool)) return false;

  if (!CheckFilePath(m_CredentialsFile, dirs.m_DataDir, pool)) return false;
  if (!IsRegularFile(m_CredentialsFile, pool)) {
    char* found = nullptr;
    if (!file_search(&found, m_CredentialsFile.c_str(), pool)) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Find Credentials File %s", m_CredentialsFile.c_str());
      return false;
    }
    m_CredentialsFile = found;
    apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Determined Credentials File %s", m_CredentialsFile.c_str());
  }

  if (!m_SslRootsFile.empty()) {
    if (!CheckFilePath(m_SslRootsFile, dirs.m_DataDir, pool)) return false;
    if (!IsRegularFile(m_SslRootsFile, pool)) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Stat SSL Roots File %s", m_SslRootsFile.c_str());
      return false;
    }
  }
  return true;
}

std::string Engine::ComposeAudience(const std::string& region) {
  if (region.empty()) return std::string();
  return "https://" + region + "-" + GOOGLE_SPEECH_HOST + "/";
}

std::string Engine::GetCredentialsFilePath(const std::string& name, apr_pool_t* pool) const {
  std::string path = name;
  if (!CheckFilePath(path, GetConfigDirs().m_DataDir, pool)) return name;
  return path;
}

std::shared_ptr<grpc::ChannelCredentials> Engine::FindCredentials(const std::string& path) const {
  auto it = m_CredentialsCache.find(path);
  return it == m_CredentialsCache.end() ? nullptr : it->second;
}

std::shared_ptr<grpc::ChannelCredentials> Engine::CreateCredentials(const std::string& path,
                                                                      const std::string& region) {
  // A service-account file is a few kilobytes; one read of at most 4096 bytes takes it.
  std::string text;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Open Credentials File %s", path.c_str());
  } else {
    char buffer[4096];
    const size_t size = fread(buffer, 1, sizeof(buffer), file);
    fclose(file);
    if (size == 0)
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Read Credentials File %s", path.c_str());
    else
      text.assign(buffer, size);
  }
  if (text.empty()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Load Google Credentials File");
    return nullptr;
  }
  // The token's audience follows the target gRPC signs for; regional targets carry the region.
  (void)region;
  std::shared_ptr<grpc::CallCredentials> callCredentials = grpc::ServiceAccountJWTAccessCredentials(text, 3600);
  if (!callCredentials) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Call Credentials");
    return nullptr;
  }
  std::shared_ptr<grpc::ChannelCredentials> credentials =
      grpc::CompositeChannelCredentials(grpc::SslCredentials(grpc::SslCredentialsOptions()), callCredentials);
  if (!credentials) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Google Credentials");
    return nullptr;
  }
  m_CredentialsCache[path] = credentials;
  return credentials;
}

bool Engine::ProcessOpen() {
  const StreamingRecogSettings& settings = m_StreamingRecogSettings;
  if (!settings.m_GrpcLogVerbosity.empty()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Set gRPC Verbosity %s", settings.m_GrpcLogVerbosity.c_str());
    setenv("GRPC_VERBOSITY", settings.m_GrpcLogVerbosity.c_str(), 1);
  }
  if (!settings.m_GrpcLogTrace.empty()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Set gRPC Trace %s", settings.m_GrpcLogTrace.c_str());
    setenv("GRPC_TRACE", settings.m_GrpcLogTrace.c_str(), 1);
  }
  if (settings.m_GrpcLogRedirection) {
    apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Enable gRPC Log Redirection");
    gpr_set_log_function(GrpcLogRedirector);
    m_LogRedirection = true;
  }
  if (!m_SslRootsFile.empty()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Set SSL Roots %s", m_SslRootsFile.c_str());
    setenv("GRPC_DEFAULT_SSL_ROOTS_FILE_PATH", m_SslRootsFile.c_str(), 1);
  }
  const std::string audience = ComposeAudience(settings.m_Region);
  apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Set Defualt Google App Credentials %s", m_CredentialsFile.c_str());
  setenv("GOOGLE_APPLICATION_CREDENTIALS", m_CredentialsFile.c_str(), 1);

  if (settings.m_SecureTransport) {
    apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Create Default Google Credentials [%s]", audience.c_str());
    m_DefaultCredentials = grpc::GoogleDefaultCredentials();
  } else {
    apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Create Insecure Credentials");
    m_DefaultCredentials = grpc::InsecureChannelCredentials();
  }
  if (!m_DefaultCredentials) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Default Google Credentials");
    return false;
  }
  m_CredentialsCache[m_CredentialsFile] = m_DefaultCredentials;

  if (m_WebhookSettings.m_Enable) {
    apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Create Webhook Credentials [%s] ",
            m_WebhookSettings.m_SecureConnection ? "secure" : "insecure");
    m_WebhookCredentials = m_WebhookSettings.m_SecureConnection
                               ? grpc::SslCredentials(grpc::SslCredentialsOptions())
                               : grpc::InsecureChannelCredentials();
    if (!m_WebhookCredentials) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Webhook Credentials");
      return false;
    }
  }
  if (!settings.m_HttpProxy.empty()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Set HTTP Proxy %s", settings.m_HttpProxy.c_str());
    setenv("http_proxy", settings.m_HttpProxy.c_str(), 1);
  }
  return CreateGrpcTask();
}

bool Engine::CreateGrpcTask() {
  apr_pool_t* pool = GetMrcpEngine() ? GetMrcpEngine()->pool : nullptr;
  m_pTask = new Task();
  if (!pool || !m_pTask->Create(pool) || !m_pTask->Start()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Start gRPC Task");
    DestroyGrpcTask();
    return false;
  }
  return true;
}

void Engine::DestroyGrpcTask() {
  if (!m_pTask) return;
  m_pTask->Terminate();
  m_pTask->Destroy();
  delete m_pTask;
  m_pTask = nullptr;
}

void Engine::ProcessStopping() {
  if (m_LogRedirection) {
    apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Disable gRPC Log Redirection");
    gpr_set_log_function(gpr_default_log);
    m_LogRedirection = false;
  }
}

void Engine::Cleanup() {
  // A start that failed after enabling the redirection never reaches the stop work.
  if (m_LogRedirection) {
    gpr_set_log_function(gpr_default_log);
    m_LogRedirection = false;
  }
  DestroyGrpcTask();
  m_CredentialsCache.clear();
  m_DefaultCredentials.reset();
  m_WebhookCredentials.reset();
  RecogEngine::Cleanup();
}

}  // namespace ZORV

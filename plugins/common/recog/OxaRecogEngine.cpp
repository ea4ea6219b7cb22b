#include "OxaRecogEngine.h"

#include "OxaConfigUtils.h"
#include "OxaLog.h"

namespace OXA_NS {

RecogEngine::RecogEngine(const PluginTraits& traits, const std::string& filePrefix)
    : RecogEngineBase(traits),
      m_FilePrefix(filePrefix),
      m_UttSettings(filePrefix),
      m_RdrSettings(filePrefix),
      m_pUttManager(nullptr),
      m_pRdrManager(nullptr) {
  AddElementLoader("speech-contexts",
                   [this](const apr_xml_elem* elem, apr_pool_t*) { return LoadSpeechContexts(elem, m_SpeechContexts); });
  AddElementLoader("utterance-manager",
                   [this](const apr_xml_elem* elem, apr_pool_t*) { return m_UttSettings.Load(elem); });
  AddElementLoader("rdr-manager", [this](const apr_xml_elem* elem, apr_pool_t*) { return m_RdrSettings.Load(elem); });
}

RecogEngine::~RecogEngine() {
  Cleanup();
  DestroySpeechContexts(m_SpeechContexts);
}

void RecogEngine::ResetSettings() {
  RecogEngineBase::ResetSettings();
  m_UttSettings = UtteranceManager::Settings(m_FilePrefix);
  m_RdrSettings = RdrManager::Settings(m_FilePrefix);
  DestroySpeechContexts(m_SpeechContexts);
}

bool RecogEngine::ValidatePluginConfig(const ConfigDirs& dirs, apr_pool_t* pool) {
  return CheckDirPath(m_UttSettings.m_Folder, dirs.m_VarDir, pool) &&
         CheckDirPath(m_RdrSettings.m_Folder, dirs.m_VarDir, pool);
}

bool RecogEngine::CreateManagers() {
  if (!CreateUttManager()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Utterance Manager");
    return false;
  }
  if (!CreateRdrManager()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create RDR Manager");
    return false;
  }
  return true;
}

bool RecogEngine::CreateUttManager() {
  m_pUttManager = new UtteranceManager(m_UttSettings);
  m_pUttManager->SetTimerProcessor(GetEventProcessor());
  return m_pUttManager->LoadFileEntries();
}

bool RecogEngine::CreateRdrManager() {
  m_pRdrManager = new RdrManager(m_RdrSettings);
  m_pRdrManager->SetTimerProcessor(GetEventProcessor());
  return m_pRdrManager->LoadFileEntries();
}

void RecogEngine::Cleanup() {
  delete m_pUttManager;
  m_pUttManager = nullptr;
  delete m_pRdrManager;
  m_pRdrManager = nullptr;
}

}  // namespace OXA_NS

// What both recognizer engines own beyond the detector parameters: the managers of recorded
// utterances and detail records, and the configured speech contexts.
#ifndef OXA_RECOG_ENGINE_H
#define OXA_RECOG_ENGINE_H

#include "OxaNamespace.h"
#include "OxaRecogBase.h"
#include "recog/OxaRdrManager.h"
#include "recog/OxaSpeechContext.h"
#include "recog/OxaUtteranceManager.h"

#include <string>

namespace OXA_NS {

class RecogEngine : public RecogEngineBase {
 public:
  // filePrefix: the default prefix of utterance and record files ("oxazorv-", "oxavesk-").
  RecogEngine(const PluginTraits& traits, const std::string& filePrefix);
  ~RecogEngine() override;

  // Event thread, between start and shutdown.
  UtteranceManager* GetUtteranceManager() const { return m_pUttManager; }
  RdrManager* GetRdrManager() const { return m_pRdrManager; }
  const SpeechContextMap& GetSpeechContexts() const { return m_SpeechContexts; }

 protected:
  void ResetSettings() override;
  // Folders of the managers, relative to the var directory.
  bool ValidatePluginConfig(const ConfigDirs& dirs, apr_pool_t* pool) override;
  bool CreateManagers() override;
  void Cleanup() override;

 private:
  bool CreateUttManager();
  bool CreateRdrManager();

  const std::string m_FilePrefix;
  UtteranceManager::Settings m_UttSettings;
  RdrManager::Settings m_RdrSettings;
  SpeechContextMap m_SpeechContexts;  // owned
  UtteranceManager* m_pUttManager;
  RdrManager* m_pRdrManager;
};

}  // namespace OXA_NS

#endif  // OXA_RECOG_ENGINE_H

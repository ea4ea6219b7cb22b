// The Google recognizer's engine.
#ifndef OXA_ZORV_ENGINE_H
#define OXA_ZORV_ENGINE_H

#include "OxaRecogBase.h"

#include <string>

namespace ZORV {

class Engine : public RecogEngineBase {
 public:
  Engine();

  ChannelBase* CreateChannelObject() override;

  const std::string& GetCredentialsFile() const { return m_CredentialsFile; }
  const std::string& GetSslRootsFile() const { return m_SslRootsFile; }

 private:
  // Document attributes; resolved against the data directory when they are put to use.
  std::string m_CredentialsFile;
  std::string m_SslRootsFile;
};

}  // namespace ZORV

#endif  // OXA_ZORV_ENGINE_H

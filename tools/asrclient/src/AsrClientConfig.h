// The client configuration: client profiles and time limits, from conf/asrclient.xml under the
// client's root directory, with the built-in profiles "kel2" and "kel1".
//
//   <asrclient open-timeout="10000" response-timeout="5000" completion-timeout="15000"
//              close-timeout="5000">
//     <profile name="kel2" plugin="oxazorv" server-root="" mrcp-version="2" codec="LPCM"
//              sampling-rate="8000">
//       <param name="..." value="..."/>      engine parameters handed to the plugin
//     </profile>
//   </asrclient>
//
// plugin: a path (relative to the root) or a bare name looked up as plugin/<name>.so under the
// root, then beside the program as ../lib/<name>.so. server-root: the directory whose conf/ holds
// the plugin's configuration document and whose data/ and var/ it uses; empty: the client root.
// Times are milliseconds; completion-timeout counts from the end of the audio.
#ifndef ASRCLIENT_ASR_CLIENT_CONFIG_H
#define ASRCLIENT_ASR_CLIENT_CONFIG_H

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace asrclient {

struct ClientProfile {
  std::string name;
  std::string plugin = "oxazorv";
  std::string server_root;  // empty: the client root
  int mrcp_version = 2;
  std::string codec = "LPCM";
  unsigned sampling_rate = 8000;  // 0: the plugin's lowest
  std::vector<std::pair<std::string, std::string>> params;
};

struct ClientConfig {
  long open_timeout_ms = 10000;
  long response_timeout_ms = 5000;
  long completion_timeout_ms = 15000;
  long close_timeout_ms = 5000;
  std::map<std::string, ClientProfile> profiles;
};

// The built-in profiles.
ClientConfig DefaultClientConfig();

// Reads the document text over the defaults: a profile of a known name replaces it. Unknown
// elements and attributes give warnings; a bad value fails with the reason.
bool ParseClientConfig(const std::string &document, ClientConfig *config, std::vector<std::string> *warnings,
                       std::string *error);

}  // namespace asrclient

#endif  // ASRCLIENT_ASR_CLIENT_CONFIG_H

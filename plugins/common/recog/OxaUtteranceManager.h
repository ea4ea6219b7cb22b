// Recorded utterances: WAV files of the speech sent to the service, named per recognition and
// kept under the file manager's age and count limits.
#ifndef OXA_UTTERANCE_MANAGER_H
#define OXA_UTTERANCE_MANAGER_H

#include <apr_file_io.h>

#include <cstdint>
#include <string>

#include "OxaNamespace.h"
#include "OxaRecogFiles.h"

namespace OXA_NS {

namespace detail {
// Constructed before the file manager that keeps a reference to it.
struct UtteranceLogFacilityHolder {
  explicit UtteranceLogFacilityHolder(Trelka::LogLevel level) : m_LogFacility("UTTM", level) {}
  Trelka::LogFacility m_LogFacility;
};
}  // namespace detail

class UtteranceManager : private detail::UtteranceLogFacilityHolder, public Trelka::FileManager {
 public:
  // Configuration element utterance-manager.
  struct Settings : ManagedFolderSettings {
    // filePrefix: "oxazorv-" or "oxavesk-".
    explicit Settings(const std::string& filePrefix) : ManagedFolderSettings(filePrefix, ".wav") {}
    // Always true; unknown attributes and bad values are logged and skipped.
    bool Load(const apr_xml_elem* element);

    bool m_SaveWaveforms = false;
    std::string m_BaseUri = "http://localhost/utterances";
  };

  // One per channel.
  struct WaveFile {
    bool m_Record = false;  // this recognition is recorded
    std::string m_Name;
    std::string m_Uri;
    apr_file_t* m_pFile = nullptr;  // null when closed
    uint32_t m_DataLength = 0;      // audio bytes written so far
  };

  static const size_t WAVE_HEADER_SIZE = 44;

  explicit UtteranceManager(const Settings& settings);

  bool GetSaveWaveforms() const { return m_SaveWaveforms; }
  const std::string& GetBaseUri() const { return m_BaseUri; }
  bool GetUseLoggingTag() const { return m_UseLoggingTag; }

  // "%s%s-%lu%s", or "%s%s-%lu-%s%s" with the logging tag when those are used.
  bool ComposeName(std::string& name, const char* channelId, mrcp_request_id requestId, const std::string& loggingTag,
                   apr_pool_t* pool) const;
  // The Azure recognizer's form, with the rate in whole kHz before the extension.
  bool ComposeName(std::string& name, const char* channelId, mrcp_request_id requestId, const std::string& loggingTag,
                   uint32_t samplingRate, apr_pool_t* pool) const;
  bool ComposePath(std::string& path, const std::string& name, apr_pool_t* pool) const;
  bool ComposeUri(std::string& uri, const std::string& name, apr_pool_t* pool) const;

  // Creates or truncates the file named by waveFile and writes the header with lengths 0.
  bool OpenWavefile(WaveFile& waveFile, uint32_t samplingRate, apr_pool_t* pool);
  // Appends audio to an open file and counts it.
  bool WriteWavefile(WaveFile& waveFile, const void* data, apr_size_t size);
  // Fixes the header, closes the file and registers it (time 0: now); nothing when not open.
  void CloseWavefile(WaveFile& waveFile, apr_time_t time = 0);

  static bool PrepareWaveHeader(apr_file_t* file, uint32_t samplingRate);
  // The same 44 bytes in memory; size becomes 44. buffer holds at least WAVE_HEADER_SIZE bytes.
  static void PrepareWaveHeader(uint32_t samplingRate, unsigned char* buffer, size_t& size);
  static bool FinalizeWaveHeader(apr_file_t* file, uint32_t dataLength);

 private:
  bool m_SaveWaveforms;
  std::string m_BaseUri;
  bool m_UseLoggingTag;
};

}  // namespace OXA_NS

#endif  // OXA_UTTERANCE_MANAGER_H

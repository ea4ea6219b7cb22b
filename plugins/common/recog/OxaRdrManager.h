// Recognition detail records: one small JSON document per recognition, kept under the file
// manager's age and count limits.
#ifndef OXA_RDR_MANAGER_H
#define OXA_RDR_MANAGER_H

#include <apr_time.h>

#include <cstdint>
#include <string>

#include "OxaNamespace.h"
#include "OxaRecogFiles.h"
#include "OxaRecogResult.h"
#include "detector/mpf_sdi_util.h"

namespace OXA_NS {

namespace detail {
// Constructed before the file manager that keeps a reference to it.
struct RdrLogFacilityHolder {
  explicit RdrLogFacilityHolder(Trelka::LogLevel level) : m_LogFacility("RDRM", level) {}
  Trelka::LogFacility m_LogFacility;
};
}  // namespace detail

class RdrManager : private detail::RdrLogFacilityHolder, public Trelka::FileManager {
 public:
  // Configuration element rdr-manager.
  struct Settings : ManagedFolderSettings {
    // filePrefix: "oxazorv-" or "oxavesk-".
    explicit Settings(const std::string& filePrefix) : ManagedFolderSettings(filePrefix, ".json") {}
    // Always true; unknown attributes and bad values are logged and skipped.
    bool Load(const apr_xml_elem* element);

    bool m_SaveRecords = false;
  };

  typedef OXA_NS::RecogAlternative RecogAlternative;
  typedef OXA_NS::RecogResult RecogResult;

  // Which service block a record carries.
  enum RecordLayout {
    LayoutGrpc = 0,      // "gRPC" and "dtmfs" (Google recognizer)
    LayoutWebSocket = 1  // "websocket", alternatives with "instance", "transcripts" (Azure recognizer)
  };

  // One per channel, reused by every recognition.
  class RecognitionDetails {
   public:
    RecognitionDetails();

    // Clears everything; the cause becomes unknown.
    void Reset();
    // Clears the times, the byte count, the input type and the flags.
    void PartialReset();
    void SortAlternatives();

    // Local time "%4d-%02d-%02d %02d:%02d:%02d"; a time of 0 leaves text unchanged.
    static void GetTimestampStr(apr_time_t time, std::string& text);
    static bool GetInputTypeStr(mpf_sdi_mode_e mode, std::string& text);

    // The record as written to the file.
    std::string ComposeRecord() const;
    bool Save(const std::string& path) const;

    RecordLayout m_Layout;
    bool m_Save;
    mrcp_version_e m_MrcpVersion;
    uint32_t m_SamplingRate;
    std::string m_Language;
    int64_t m_MaxAlternatives;

    // Microseconds; 0: not happened.
    apr_time_t m_RequestStartTime;
    apr_time_t m_StartOfInputTime;
    apr_time_t m_EndOfInputTime;
    apr_time_t m_StreamCreationTime;
    apr_time_t m_StreamingStartTime;
    apr_time_t m_StreamingEndTime;
    apr_time_t m_CompletionTime;

    uint64_t m_BytesSent;
    mpf_sdi_stats_t m_InputStats;
    mpf_sdi_mode_e m_InputType;
    bool m_EndOfUtterance;

    mrcp_recog_completion_cause_e m_CompletionCause;
    RecogResultList m_Results;
    std::string m_DtmfDigits;

    // WebSocket layout: connection times, the turn's request id, the number of turns, and the
    // transparent result text written when there is no result (with the "transcripts" key when
    // m_TranscriptsKey is set).
    apr_time_t m_ConnectStartTime;
    apr_time_t m_ConnectCompleteTime;
    std::string m_RequestId;
    uint32_t m_Turns;
    std::string m_Transcripts;
    bool m_TranscriptsKey;
  };

  explicit RdrManager(const Settings& settings);

  bool GetSaveRecords() const { return m_SaveRecords; }
  bool GetUseLoggingTag() const { return m_UseLoggingTag; }

  bool ComposeName(std::string& name, const char* channelId, mrcp_request_id requestId, const std::string& loggingTag,
                   apr_pool_t* pool) const;
  bool ComposePath(std::string& path, const std::string& name, apr_pool_t* pool) const;
  // At completion: writes the record under name and registers the file with its completion time.
  bool SaveRecord(const RecognitionDetails& details, const std::string& name, apr_pool_t* pool);

 private:
  bool m_SaveRecords;
  bool m_UseLoggingTag;
};

}  // namespace OXA_NS

#endif  // OXA_RDR_MANAGER_H

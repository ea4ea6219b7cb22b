#include "OxaRdrManager.h"

#include <apr_file_io.h>
#include <rapidjson/document.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "OxaLog.h"
#include "OxaRecogText.h"
#include "engine/OxaConfigUtils.h"

namespace OXA_NS {

namespace {

typedef std::vector<std::string> Members;

std::string Indent(int level) { return std::string(static_cast<size_t>(level) * 3, ' '); }

std::string Key(const char* key) { return std::string("\"") + key + "\": "; }

std::string String(const std::string& text) {
  std::string value;
  AppendJsonString(value, text);
  return value;
}

std::string Member(int level, const char* key, const std::string& value) { return Indent(level) + Key(key) + value; }

// Members of one object or array, a comma after every one but the last.
std::string Join(const Members& members) {
  std::string text;
  for (size_t i = 0; i < members.size(); i++) {
    if (i) text += ",\n";
    text += members[i];
  }
  return text.empty() ? text : text + "\n";
}

// A member whose object or array opens on the key's line and closes on a line of its own.
std::string Block(int level, const char* key, char open, const Members& members, char close) {
  return Indent(level) + Key(key) + open + "\n" + Join(members) + Indent(level) + close;
}

std::string Millis(int64_t ms) {
  char text[32];
  snprintf(text, sizeof(text), "\"%lld ms\"", static_cast<long long>(ms));
  return text;
}

std::string Bytes(uint64_t bytes) {
  char text[32];
  snprintf(text, sizeof(text), "\"%llu bytes\"", static_cast<unsigned long long>(bytes));
  return text;
}

std::string Confidence(float confidence) {
  std::ostringstream stream;
  // "nan" or "inf" would not be JSON.
  stream << (std::isfinite(confidence) ? confidence : 0.0f);
  return stream.str();
}

// True when the text forms members of a JSON object.
bool AreJsonMembers(const std::string& text) {
  rapidjson::Document document;
  const std::string object = "{" + text + "}";
  document.Parse<rapidjson::kParseValidateEncodingFlag>(object.c_str(), object.size());
  return !document.HasParseError();
}

}  // namespace

bool RdrManager::Settings::Load(const apr_xml_elem* element) {
  for (const apr_xml_attr* attr = element->attr; attr; attr = attr->next) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load RDR Manager Attribute: %s = %s", attr->name, attr->value);
    if (LoadAttribute(attr, false)) continue;
    if (NameIs(attr->name, "save-records"))
      LoadFolderBoolean(attr, false, m_SaveRecords);
    else if (NameIs(attr->name, "record-folder"))
      m_Folder = attr->value;
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown RDR Manager Attribute <%s>", attr->name);
  }
  return true;
}

RdrManager::RecognitionDetails::RecognitionDetails() : m_Layout(LayoutGrpc) { Reset(); }

void RdrManager::RecognitionDetails::PartialReset() {
  m_RequestStartTime = 0;
  m_StartOfInputTime = 0;
  m_EndOfInputTime = 0;
  m_StreamCreationTime = 0;
  m_StreamingStartTime = 0;
  m_StreamingEndTime = 0;
  m_CompletionTime = 0;
  m_ConnectStartTime = 0;
  m_ConnectCompleteTime = 0;
  m_BytesSent = 0;
  m_InputType = MPF_SDI_MODE_NONE;
  m_EndOfUtterance = false;
}

void RdrManager::RecognitionDetails::Reset() {
  PartialReset();
  m_Save = false;
  m_MrcpVersion = MRCP_VERSION_2;
  m_SamplingRate = 0;
  m_Language.clear();
  m_MaxAlternatives = 0;
  mpf_sdi_stats_init(&m_InputStats);
  m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
  m_Results.clear();
  m_DtmfDigits.clear();
  m_RequestId.clear();
  m_Turns = 0;
  m_Transcripts.clear();
  m_TranscriptsKey = false;
}

void RdrManager::RecognitionDetails::SortAlternatives() { OXA_NS::SortAlternatives(m_Results); }

void RdrManager::RecognitionDetails::GetTimestampStr(apr_time_t time, std::string& text) {
  if (!time) return;
  apr_time_exp_t exploded;
  apr_time_exp_lt(&exploded, time);
  char buffer[64];
  snprintf(buffer, sizeof(buffer), "%4d-%02d-%02d %02d:%02d:%02d", exploded.tm_year + 1900, exploded.tm_mon + 1,
           exploded.tm_mday, exploded.tm_hour, exploded.tm_min, exploded.tm_sec);
  text = buffer;
}

bool RdrManager::RecognitionDetails::GetInputTypeStr(mpf_sdi_mode_e mode, std::string& text) {
  if (mode == MPF_SDI_MODE_SPEECH)
    text = "speech";
  else if (mode == MPF_SDI_MODE_DTMF)
    text = "dtmf";
  else
    return false;
  return true;
}

std::string RdrManager::RecognitionDetails::ComposeRecord() const {
  const apr_time_t start = m_RequestStartTime;
  auto happened = [start](apr_time_t time) { return time != 0 && time >= start; };
  auto since = [start](apr_time_t time) { return Millis((time - start) / 1000); };

  Members record;
  std::string datetime;
  GetTimestampStr(start, datetime);
  record.push_back(Member(1, "datetime", String(datetime)));
  record.push_back(Member(1, "language", String(m_Language)));
  record.push_back(Member(1, "sampling-rate", String(std::to_string(m_SamplingRate) + " Hz")));
  record.push_back(Member(1, "max-alternatives", std::to_string(m_MaxAlternatives)));

  std::string type;
  if (GetInputTypeStr(m_InputType, type)) {
    Members input;
    input.push_back(Member(2, "type", String(type)));
    if (happened(m_StartOfInputTime)) input.push_back(Member(2, "start-of-input-ts", since(m_StartOfInputTime)));
    if (happened(m_EndOfInputTime)) input.push_back(Member(2, "end-of-input-ts", since(m_EndOfInputTime)));
    input.push_back(
        Member(2, "end-of-input-cause", String(mpf_sdi_completion_cause_str(m_InputStats.completion_cause))));
    if (m_InputType == MPF_SDI_MODE_SPEECH) {
      input.push_back(Member(2, "duration", Millis(static_cast<int64_t>(m_InputStats.input_duration))));
      input.push_back(Member(2, "size", Bytes(m_InputStats.output_size)));
    }
    record.push_back(Block(1, "input", '{', input, '}'));
  }

  if (happened(m_StreamingStartTime)) {
    Members service;
    if (m_Layout == LayoutGrpc) {
      service.push_back(Member(2, "creation-ts", since(m_StreamCreationTime)));
      service.push_back(Member(2, "start-of-streaming-ts", since(m_StreamingStartTime)));
      service.push_back(Member(2, "end-of-streaming-ts", since(m_StreamingEndTime)));
      if (m_EndOfUtterance) service.push_back(Member(2, "end-of-utterance", "true"));
      service.push_back(Member(2, "sent", Bytes(m_BytesSent)));
      record.push_back(Block(1, "gRPC", '{', service, '}'));
    } else {
      if (happened(m_ConnectStartTime)) service.push_back(Member(2, "connection-start-ts", since(m_ConnectStartTime)));
      if (happened(m_ConnectCompleteTime))
        service.push_back(Member(2, "connection-complete-ts", since(m_ConnectCompleteTime)));
      service.push_back(Member(2, "speech-start-ts", since(m_StreamingStartTime)));
      if (happened(m_StreamingEndTime)) service.push_back(Member(2, "speech-end-ts", since(m_StreamingEndTime)));
      service.push_back(Member(2, "sent", Bytes(m_BytesSent)));
      service.push_back(Member(2, "request-id", String(m_RequestId)));
      service.push_back(Member(2, "turns", String(std::to_string(m_Turns))));
      record.push_back(Block(1, "websocket", '{', service, '}'));
    }
  }

  if (!m_Results.empty()) {
    Members results;
    for (const RecogResult& result : m_Results) {
      Members alternatives;
      for (const RecogAlternative& alternative : result.m_Alternatives) {
        std::string line = Indent(3) + "{" + Key("transcript") + String(alternative.m_Transcript);
        if (m_Layout == LayoutWebSocket) line += ", " + Key("instance") + String(alternative.m_Instance);
        line += ", " + Key("confidence") + Confidence(alternative.m_Confidence) + "}";
        alternatives.push_back(line);
      }
      results.push_back(Indent(2) + "{" + Key("alternatives") + "[\n" + Join(alternatives) + Indent(2) + "]}");
    }
    record.push_back(Block(1, "recog-results", '[', results, ']'));
  } else if (m_Layout == LayoutWebSocket && !m_Transcripts.empty()) {
    // The service's own JSON, as it came; text that would not keep the record valid JSON is
    // written as a string instead.
    const std::string member = (m_TranscriptsKey ? Key("transcripts") : std::string()) + m_Transcripts;
    record.push_back(Indent(1) + (AreJsonMembers(member) ? member : Key("transcripts") + String(m_Transcripts)));
  }
  if (m_Layout == LayoutGrpc && !m_DtmfDigits.empty()) record.push_back(Member(1, "dtmfs", String(m_DtmfDigits)));

  const apt_str_t* cause = mrcp_recog_completion_cause_get(m_CompletionCause, m_MrcpVersion);
  record.push_back(Member(1, "completion-cause",
                          String(cause && cause->buf ? std::string(cause->buf, cause->length) : std::string())));
  record.push_back(Member(1, "completion-ts", since(m_CompletionTime)));

  return "{" + Key("recog-details-record") + "{\n" + Join(record) + "}}\n";
}

bool RdrManager::RecognitionDetails::Save(const std::string& path) const {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Save RDR %s", path.c_str());
  FILE* file = fopen(path.c_str(), "w");
  if (!file) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Open RDR File %s", path.c_str());
    return false;
  }
  const std::string record = ComposeRecord();
  const bool written = fwrite(record.data(), 1, record.size(), file) == record.size();
  return fclose(file) == 0 && written;
}

RdrManager::RdrManager(const Settings& settings)
    : detail::RdrLogFacilityHolder(settings.m_LogLevel),
      Trelka::FileManager(m_LogFacility),
      m_SaveRecords(settings.m_SaveRecords),
      m_UseLoggingTag(settings.m_UseLoggingTag) {
  settings.Apply(*this);
}

bool RdrManager::ComposeName(std::string& name, const char* channelId, mrcp_request_id requestId,
                             const std::string& loggingTag, apr_pool_t* /*pool*/) const {
  name = ComposeRecogFileName(m_FilePrefix, channelId, requestId, loggingTag, m_UseLoggingTag, 0, m_FileExtension);
  return true;
}

bool RdrManager::ComposePath(std::string& path, const std::string& name, apr_pool_t* pool) const {
  if (MergePath(m_Directory, name, APR_FILEPATH_NATIVE, path, pool)) return true;
  TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_WARNING, "Failed to Compose RDR File Path for [%s]", name.c_str());
  return false;
}

bool RdrManager::SaveRecord(const RecognitionDetails& details, const std::string& name, apr_pool_t* pool) {
  std::string path;
  if (!ComposePath(path, name, pool) || !details.Save(path)) return false;
  return AddFileEntry(name, static_cast<long>(details.m_CompletionTime ? details.m_CompletionTime : apr_time_now()));
}

}  // namespace OXA_NS

// Settings of the Google recognizer read from its document: the streaming recognition settings
// every recognition starts from, and the webhook settings.
#ifndef OXA_ZORV_SETTINGS_H
#define OXA_ZORV_SETTINGS_H

#include "recog/OxaGrammar.h"
#include "recog/OxaNlsml.h"

#include <apr_xml.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ZORV {

enum ConfidenceFormat {
  ConfidenceFormatAuto = 0,
  ConfidenceFormatMrcpv1 = 1,
  ConfidenceFormatMrcpv2 = 2
};

enum StartOfInput {
  StartOfInputServiceOriginated = 0,
  StartOfInputInternal = 1
};

// Attributes of "streaming-recognition". Each RECOGNIZE works on a copy.
struct StreamingRecogSettings {
  bool m_SingleUtterance = true;
  bool m_InterimResults = false;
  int64_t m_MaxAlternatives = 1;
  int64_t m_InterResultTimeout = 0;  // ms, 0: off
  bool m_AlternativesBelowThreshold = false;
  bool m_SortAlternatives = false;
  int m_ConfidenceFormat = ConfidenceFormatAuto;
  std::string m_Language = "en-US";
  std::vector<std::string> m_AlternateLanguages;
  int64_t m_ResultsIndent = 2;
  int m_StartOfInput = StartOfInputServiceOriginated;
  GrammarTable::Settings m_Grammar;  // transcription-grammar .. skip-unsupported-grammars
  bool m_SkipEmptyResults = true;
  std::string m_HttpProxy;
  bool m_ProfanityFilter = false;
  bool m_WordTimeOffsets = false;
  bool m_WordConfidence = false;
  bool m_AutoPunctuation = false;
  bool m_SpokenPunctuation = false;
  bool m_SpokenEmojis = false;
  bool m_UseEnhanced = false;
  std::string m_Model;
  bool m_SpeakerDiarization = false;
  int64_t m_MinSpeakerCount = 2;
  int64_t m_MaxSpeakerCount = 6;
  std::string m_ServiceUri;
  std::string m_CredentialsFile;
  bool m_SecureTransport = true;
  std::string m_Region;
  int64_t m_StreamCreationTimeout = 0;  // ms, 0: off
  bool m_GrpcLogRedirection = false;
  std::string m_GrpcLogVerbosity;
  std::string m_GrpcLogTrace;
  std::string m_Method;
  std::string m_Api;
  std::string m_Adaptation;
  std::string m_TranscriptNormalization;
  int m_TagFormat = TagFormatDefault;

  // Always true; unknown attributes and bad values are logged and skipped.
  bool Load(const apr_xml_elem* element);
  bool LoadAttribute(const apr_xml_attr* attr, const char* value);
  // A request's parameter of a per-request setting (exact name); a value that does not parse
  // leaves the setting. False for any other name.
  bool SetParameter(const std::string& name, const std::string& value);
};

// Attributes of "webhook".
struct WebhookSettings {
  bool m_Enable = false;
  std::string m_ServiceUri;
  bool m_SecureConnection = false;
  std::string m_AuthToken;
  int64_t m_Deadline = 0;  // ms, 0: none

  bool Load(const apr_xml_elem* element);
};

// Empties the list, then splits value at commas; leading white space of an item is skipped
// and empty items are dropped.
void ParseAlternateLanguages(const std::string& value, std::vector<std::string>& languages);
// "default", "semantics/xml", "semantics/json" (exactly); false, format unchanged, otherwise.
bool ParseTagFormat(const std::string& value, int& format);
// "service-originated" or "internal" without regard to case; false otherwise.
bool ParseStartOfInput(const std::string& value, int& startOfInput);
// Base 10 as strtoll reads it, no range check.
int64_t ParseInteger(const std::string& value);

}  // namespace ZORV

#endif  // OXA_ZORV_SETTINGS_H

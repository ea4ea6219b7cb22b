#include "OxaZorvSettings.h"

#include "OxaConfigUtils.h"
#include "OxaLog.h"

#include <cstdlib>
#include <strings.h>

namespace ZORV {

int64_t ParseInteger(const std::string& value) {
  return strtoll(value.c_str(), nullptr, 10);
}

void ParseAlternateLanguages(const std::string& value, std::vector<std::string>& languages) {
  languages.clear();
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(',', start);
    if (end == std::string::npos) end = value.size();
    size_t first = value.find_first_not_of(" \t\r\n", start);
    if (first != std::string::npos && first < end) languages.push_back(value.substr(first, end - first));
    start = end + 1;
  }
}

bool ParseTagFormat(const std::string& value, int& format) {
  if (value == "default")
    format = TagFormatDefault;
  else if (value == "semantics/xml")
    format = TagFormatSemanticsXml;
  else if (value == "semantics/json")
    format = TagFormatSemanticsJson;
  else
    return false;
  return true;
}

bool ParseStartOfInput(const std::string& value, int& startOfInput) {
  if (strcasecmp(value.c_str(), "service-originated") == 0)
    startOfInput = StartOfInputServiceOriginated;
  else if (strcasecmp(value.c_str(), "internal") == 0)
    startOfInput = StartOfInputInternal;
  else
    return false;
  return true;
}

static void WarnUnexpectedValue(const apr_xml_attr* attr, const char* value) {
  apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for Attribute <%s>", value, attr->name);
}

bool StreamingRecogSettings::LoadAttribute(const apr_xml_attr* attr, const char* value) {
  struct BoolEntry {
    const char* m_Name;
    bool StreamingRecogSettings::*m_pValue;
  };
  static const BoolEntry booleans[] = {
      {"single-utterance", &StreamingRecogSettings::m_SingleUtterance},
      {"interim-results", &StreamingRecogSettings::m_InterimResults},
      {"alternatives-below-threshold", &StreamingRecogSettings::m_AlternativesBelowThreshold},
      {"sort-alternatives", &StreamingRecogSettings::m_SortAlternatives},
      {"skip-empty-results", &StreamingRecogSettings::m_SkipEmptyResults},
      {"profanity-filter", &StreamingRecogSettings::m_ProfanityFilter},
      {"word-time-offsets", &StreamingRecogSettings::m_WordTimeOffsets},
      {"word-confidence", &StreamingRecogSettings::m_WordConfidence},
      {"auto-punctuation", &StreamingRecogSettings::m_AutoPunctuation},
      {"spoken-punctuation", &StreamingRecogSettings::m_SpokenPunctuation},
      {"spoken-emojis", &StreamingRecogSettings::m_SpokenEmojis},
      {"use-enhanced", &StreamingRecogSettings::m_UseEnhanced},
      {"speaker-diarization", &StreamingRecogSettings::m_SpeakerDiarization},
      {"secure-transport", &StreamingRecogSettings::m_SecureTransport},
      {"grpc-log-redirection", &StreamingRecogSettings::m_GrpcLogRedirection},
  };
  struct IntEntry {
    const char* m_Name;
    int64_t StreamingRecogSettings::*m_pValue;
  };
  static const IntEntry integers[] = {
      {"max-alternatives", &StreamingRecogSettings::m_MaxAlternatives},
      {"inter-result-timeout", &StreamingRecogSettings::m_InterResultTimeout},
      {"results-indent", &StreamingRecogSettings::m_ResultsIndent},
      {"min-speaker-count", &StreamingRecogSettings::m_MinSpeakerCount},
      {"max-speaker-count", &StreamingRecogSettings::m_MaxSpeakerCount},
      {"stream-creation-timeout", &StreamingRecogSettings::m_StreamCreationTimeout},
  };
  struct TextEntry {
    const char* m_Name;
    std::string StreamingRecogSettings::*m_pValue;
  };
  static const TextEntry texts[] = {
      {"language", &StreamingRecogSettings::m_Language},
      {"http-proxy", &StreamingRecogSettings::m_HttpProxy},
      {"model", &StreamingRecogSettings::m_Model},
      {"service-uri", &StreamingRecogSettings::m_ServiceUri},
      {"gapp-credentials-file", &StreamingRecogSettings::m_CredentialsFile},
      {"region", &StreamingRecogSettings::m_Region},
      {"grpc-log-verbosity", &StreamingRecogSettings::m_GrpcLogVerbosity},
      {"grpc-log-trace", &StreamingRecogSettings::m_GrpcLogTrace},
      {"method", &StreamingRecogSettings::m_Method},
      {"api", &StreamingRecogSettings::m_Api},
      {"adaptation", &StreamingRecogSettings::m_Adaptation},
      {"transcript-normalization", &StreamingRecogSettings::m_TranscriptNormalization},
  };

  for (const BoolEntry& entry : booleans) {
    if (NameIs(attr->name, entry.m_Name)) {
      LoadBooleanAttribute(attr, this->*entry.m_pValue);
      return true;
    }
  }
  for (const IntEntry& entry : integers) {
    if (NameIs(attr->name, entry.m_Name)) {
      this->*entry.m_pValue = ParseInteger(value);
      return true;
    }
  }
  for (const TextEntry& entry : texts) {
    if (NameIs(attr->name, entry.m_Name)) {
      this->*entry.m_pValue = value;
      return true;
    }
  }

  if (NameIs(attr->name, "confidence-format")) {
    if (strcasecmp(value, "auto") == 0)
      m_ConfidenceFormat = ConfidenceFormatAuto;
    else if (strcasecmp(value, "mrcpv1") == 0)
      m_ConfidenceFormat = ConfidenceFormatMrcpv1;
    else if (strcasecmp(value, "mrcpv2") == 0)
      m_ConfidenceFormat = ConfidenceFormatMrcpv2;
    else
      WarnUnexpectedValue(attr, value);
  } else if (NameIs(attr->name, "start-of-input")) {
    if (!ParseStartOfInput(value, m_StartOfInput)) WarnUnexpectedValue(attr, value);
  } else if (NameIs(attr->name, "tag-format")) {
    if (!ParseTagFormat(value, m_TagFormat)) WarnUnexpectedValue(attr, value);
  } else if (NameIs(attr->name, "alternate-languages")) {
    ParseAlternateLanguages(value, m_AlternateLanguages);
  } else if (NameIs(attr->name, "transcription-grammar")) {
    m_Grammar.m_TranscriptionGrammar = value;
  } else if (NameIs(attr->name, "grammar-param-separator")) {
    // One character; an empty value keeps the separator.
    if (*value) m_Grammar.m_ParamSeparator = *value;
  } else if (NameIs(attr->name, "accept-srgs")) {
    LoadBooleanAttribute(attr, m_Grammar.m_AcceptSrgs);
  } else if (NameIs(attr->name, "match-srgs")) {
    LoadBooleanAttribute(attr, m_Grammar.m_MatchSrgs);
  } else if (NameIs(attr->name, "skip-unsupported-grammars")) {
    LoadBooleanAttribute(attr, m_Grammar.m_SkipUnsupportedGrammars);
  } else {
    return false;
  }
  return true;
}

bool StreamingRecogSettings::Load(const apr_xml_elem* element) {
  LoadAttributes(element, "Streaming Recognition",
                 [this](const apr_xml_attr* attr, const char* value) { return LoadAttribute(attr, value); });
  return true;
}

bool WebhookSettings::Load(const apr_xml_elem* element) {
  LoadAttributes(element, "Webhook", [this](const apr_xml_attr* attr, const char* value) {
    if (NameIs(attr->name, "enable"))
      LoadBooleanAttribute(attr, m_Enable);
    else if (NameIs(attr->name, "service-uri"))
      m_ServiceUri = value;
    else if (NameIs(attr->name, "secure-connection"))
      LoadBooleanAttribute(attr, m_SecureConnection);
    else if (NameIs(attr->name, "auth-token"))
      m_AuthToken = value;
    else if (NameIs(attr->name, "deadline"))
      m_Deadline = ParseInteger(value);
    else
      return false;
    return true;
  });
  return true;
}

}  // namespace ZORV

#include "OxaZorvSettings.h"

#include "OxaConfigUtils.h"
#include "OxaLog.h"

#include <cstdlib>
#include <cstring>
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

namespace {

// A setting read the same way from the document and, when it is per request, from a request's
// parameters.
template <class T>
struct Field {
  const char* m_Name;
  T StreamingRecogSettings::*m_pValue;
  bool m_PerRequest;
};

const Field<bool> kBooleans[] = {
    {"single-utterance", &StreamingRecogSettings::m_SingleUtterance, true},
    {"interim-results", &StreamingRecogSettings::m_InterimResults, false},
    {"alternatives-below-threshold", &StreamingRecogSettings::m_AlternativesBelowThreshold, true},
    {"sort-alternatives", &StreamingRecogSettings::m_SortAlternatives, true},
    {"skip-empty-results", &StreamingRecogSettings::m_SkipEmptyResults, true},
    {"profanity-filter", &StreamingRecogSettings::m_ProfanityFilter, true},
    {"word-time-offsets", &StreamingRecogSettings::m_WordTimeOffsets, true},
    {"word-confidence", &StreamingRecogSettings::m_WordConfidence, true},
    {"auto-punctuation", &StreamingRecogSettings::m_AutoPunctuation, true},
    {"spoken-punctuation", &StreamingRecogSettings::m_SpokenPunctuation, true},
    {"spoken-emojis", &StreamingRecogSettings::m_SpokenEmojis, true},
    {"use-enhanced", &StreamingRecogSettings::m_UseEnhanced, true},
    {"speaker-diarization", &StreamingRecogSettings::m_SpeakerDiarization, true},
    {"secure-transport", &StreamingRecogSettings::m_SecureTransport, false},
    {"grpc-log-redirection", &StreamingRecogSettings::m_GrpcLogRedirection, false},
};

const Field<int64_t> kIntegers[] = {
    {"max-alternatives", &StreamingRecogSettings::m_MaxAlternatives, false},
    {"inter-result-timeout", &StreamingRecogSettings::m_InterResultTimeout, true},
    {"results-indent", &StreamingRecogSettings::m_ResultsIndent, false},
    {"min-speaker-count", &StreamingRecogSettings::m_MinSpeakerCount, true},
    {"max-speaker-count", &StreamingRecogSettings::m_MaxSpeakerCount, true},
    {"stream-creation-timeout", &StreamingRecogSettings::m_StreamCreationTimeout, false},
};

const Field<std::string> kTexts[] = {
    {"language", &StreamingRecogSettings::m_Language, true},
    {"http-proxy", &StreamingRecogSettings::m_HttpProxy, false},
    {"model", &StreamingRecogSettings::m_Model, true},
    {"service-uri", &StreamingRecogSettings::m_ServiceUri, true},
    {"gapp-credentials-file", &StreamingRecogSettings::m_CredentialsFile, true},
    {"region", &StreamingRecogSettings::m_Region, true},
    {"grpc-log-verbosity", &StreamingRecogSettings::m_GrpcLogVerbosity, false},
    {"grpc-log-trace", &StreamingRecogSettings::m_GrpcLogTrace, false},
    {"method", &StreamingRecogSettings::m_Method, false},
    {"api", &StreamingRecogSettings::m_Api, true},
    {"adaptation", &StreamingRecogSettings::m_Adaptation, true},
    {"transcript-normalization", &StreamingRecogSettings::m_TranscriptNormalization, true},
};

// Document attributes match without regard to case; request parameters exactly, and only the
// per-request ones.
template <class T, size_t N>
const Field<T>* FindField(const Field<T> (&fields)[N], const char* name, bool request) {
  for (const Field<T>& field : fields) {
    if (request ? field.m_PerRequest && strcmp(name, field.m_Name) == 0 : NameIs(name, field.m_Name)) return &field;
  }
  return nullptr;
}

}  // namespace

bool StreamingRecogSettings::LoadAttribute(const apr_xml_attr* attr, const char* value) {
  if (const Field<bool>* field = FindField(kBooleans, attr->name, false)) {
    LoadBooleanAttribute(attr, this->*field->m_pValue);
  } else if (const Field<int64_t>* field = FindField(kIntegers, attr->name, false)) {
    this->*field->m_pValue = ParseInteger(value);
  } else if (const Field<std::string>* field = FindField(kTexts, attr->name, false)) {
    this->*field->m_pValue = value;
  } else if (NameIs(attr->name, "confidence-format")) {
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

bool StreamingRecogSettings::SetParameter(const std::string& name, const std::string& value) {
  const char* key = name.c_str();
  if (const Field<bool>* field = FindField(kBooleans, key, true))
    ParseBooleanString(value, this->*field->m_pValue);
  else if (const Field<int64_t>* field = FindField(kIntegers, key, true))
    this->*field->m_pValue = ParseInteger(value);
  else if (const Field<std::string>* field = FindField(kTexts, key, true))
    this->*field->m_pValue = value;
  else if (name == "start-of-input")
    ParseStartOfInput(value, m_StartOfInput);
  else if (name == "alternate-languages")
    ParseAlternateLanguages(value, m_AlternateLanguages);
  else if (name == "tag-format")
    ParseTagFormat(value, m_TagFormat);
  else
    return false;
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

#include "OxaSpeechContext.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "OxaLog.h"
#include "engine/OxaConfigUtils.h"

namespace OXA_NS {

namespace {

std::string ToLower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

SpeechContext::SpeechContext() : m_Enable(true), m_Configured(false), m_SpeechComplete(false), m_Scope(ScopeHint) {}

bool SpeechContext::Load(const apr_xml_elem* element) {
  m_Enable = true;
  LoadAttribs(element);
  if (!m_Enable) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Skip Disabled Speech Context <%s>", m_Id.c_str());
    return false;
  }
  if (m_Id.empty()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Missing Speech Context Id");
    return false;
  }
  if (!LoadPhrases(element)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Error in Loading Phrases");
    return false;
  }
  m_Configured = true;
  return true;
}

void SpeechContext::LoadAttribs(const apr_xml_elem* element) {
  bool speechCompleteSet = false;
  for (const apr_xml_attr* attr = element->attr; attr; attr = attr->next) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load Speech Context Attribute: %s = %s", attr->name, attr->value);
    if (NameIs(attr->name, "id")) {
      m_Id = attr->value;
    } else if (NameIs(attr->name, "language")) {
      m_Language = attr->value;
    } else if (NameIs(attr->name, "enable")) {
      LoadBooleanAttribute(attr, m_Enable);
    } else if (NameIs(attr->name, "scope")) {
      if (strcasecmp(attr->value, "hint") == 0)
        m_Scope = ScopeHint;
      else if (strcasecmp(attr->value, "strict") == 0)
        m_Scope = ScopeStrict;
      else
        apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for Attribute <%s>", attr->value, attr->name);
    } else if (NameIs(attr->name, "speech-complete")) {
      if (ParseBooleanString(attr->value, m_SpeechComplete))
        speechCompleteSet = true;
      else
        apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for Boolean Attribute <%s>", attr->value,
                attr->name);
    } else {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Speech Context Attribute <%s>", attr->name);
    }
  }
  if (!speechCompleteSet) m_SpeechComplete = (m_Scope == ScopeStrict);
}

bool SpeechContext::LoadPhrases(const apr_xml_elem* element) {
  for (const apr_xml_elem* child = element->first_child; child; child = child->next) {
    if (NameIs(child->name, "phrase"))
      LoadPhrase(child);
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Element <%s> in Speech Context <%s>", child->name, m_Id.c_str());
  }
  return true;
}

void SpeechContext::LoadPhrase(const apr_xml_elem* element) {
  std::string text;
  if (!GetElementText(element, text)) return;
  std::string tag;
  float weight = -1.0f;
  for (const apr_xml_attr* attr = element->attr; attr; attr = attr->next) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load Phrase Attribute: %s = %s", attr->name, attr->value);
    if (NameIs(attr->name, "tag"))
      tag = attr->value;
    else if (NameIs(attr->name, "weight") || NameIs(attr->name, "boost"))
      weight = static_cast<float>(strtod(attr->value, nullptr));
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Phrase Attribute <%s>", attr->name);
  }
  AddPhrase(text, tag, weight);
}

bool SpeechContext::GetElementText(const apr_xml_elem* element, std::string& text) {
  const apr_text* piece = element->first_cdata.first;
  if (!piece) return false;
  text.clear();
  for (; piece; piece = piece->next) {
    const char* data = piece->text;
    while (*data && IsBlank(*data)) data++;
    text += data;
  }
  return true;
}

bool SpeechContext::AddPhrase(const std::string& phrase, const std::string& tag, float weight) {
  if (weight >= 0)
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Add Phrase [%s] with Weight [%.2f] to Speech Context [%s]", phrase.c_str(),
            weight, m_Id.c_str());
  else
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Add Phrase [%s] to Speech Context [%s]", phrase.c_str(), m_Id.c_str());
  return m_Phrases.insert(PhraseMap::value_type(ToLower(phrase), Value{phrase, tag, weight})).second;
}

bool SpeechContext::FindPhrase(const std::string& text, bool& complete) const {
  const std::string key = ToLower(text);
  PhraseMap::const_iterator it = m_Phrases.find(key);
  if (it == m_Phrases.end()) return false;
  // Keys that extend this one sort right after it.
  PhraseMap::const_iterator next = std::next(it);
  complete = !(next != m_Phrases.end() && next->first.compare(0, key.size(), key) == 0);
  return true;
}

bool SpeechContext::FindPhrase(const std::string& text, std::string& value) const {
  PhraseMap::const_iterator it = m_Phrases.find(ToLower(text));
  if (it == m_Phrases.end()) return false;
  value = it->second.m_Tag.empty() ? it->second.m_Phrase : it->second.m_Tag;
  return true;
}

bool SpeechContext::LoadSrgsRules(const apr_xml_elem* grammar, const std::string& rootName) {
  for (const apr_xml_elem* child = grammar->first_child; child; child = child->next) {
    if (strcmp(child->name, "rule") == 0) LoadSrgsRule(child, rootName);
  }
  return true;
}

bool SpeechContext::LoadSrgsRule(const apr_xml_elem* rule, const std::string& rootName) {
  const char* id = "";
  for (const apr_xml_attr* attr = rule->attr; attr; attr = attr->next) {
    if (NameIs(attr->name, "id")) id = attr->value;
  }
  if (rootName != id) return true;
  for (const apr_xml_elem* child = rule->first_child; child; child = child->next) {
    if (strcmp(child->name, "one-of") == 0) LoadSrgsOneOf(child);
  }
  return true;
}

bool SpeechContext::LoadSrgsOneOf(const apr_xml_elem* oneOf) {
  for (const apr_xml_elem* child = oneOf->first_child; child; child = child->next) {
    if (strcmp(child->name, "item") == 0) LoadSrgsItem(child);
  }
  return true;
}

bool SpeechContext::LoadSrgsItem(const apr_xml_elem* item) {
  std::string text;
  if (!GetElementText(item, text)) return true;
  float weight = -1.0f;
  for (const apr_xml_attr* attr = item->attr; attr; attr = attr->next) {
    if (NameIs(attr->name, "weight")) weight = static_cast<float>(strtod(attr->value, nullptr));
  }
  std::string tag;
  for (const apr_xml_elem* child = item->first_child; child; child = child->next) {
    if (strcmp(child->name, "tag") == 0) LoadSrgsTag(child, tag);
  }
  AddPhrase(text, tag, weight);
  return true;
}

bool SpeechContext::LoadSrgsTag(const apr_xml_elem* tag, std::string& text) {
  std::string value;
  if (!GetElementText(tag, value)) value.clear();
  text = value;
  return true;
}

bool LoadSpeechContexts(const apr_xml_elem* element, SpeechContextMap& contexts) {
  for (const apr_xml_elem* child = element->first_child; child; child = child->next) {
    if (!NameIs(child->name, "speech-context")) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Element <%s> in Speech Contexts", child->name);
      continue;
    }
    SpeechContext* context = new SpeechContext();
    if (!context->Load(child) || !contexts.insert(SpeechContextMap::value_type(context->m_Id, context)).second)
      delete context;
  }
  return true;
}

void DestroySpeechContexts(SpeechContextMap& contexts) {
  for (SpeechContextMap::value_type& entry : contexts) delete entry.second;
  contexts.clear();
}

}  // namespace OXA_NS

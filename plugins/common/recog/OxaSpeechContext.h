// Phrase lists that recognitions hand to the service as hints and match transcripts against.
#ifndef OXA_SPEECH_CONTEXT_H
#define OXA_SPEECH_CONTEXT_H

#include <apr_xml.h>

#include <cstdint>
#include <map>
#include <string>

#include "OxaNamespace.h"

namespace OXA_NS {

class SpeechContext {
 public:
  enum Scope : int32_t { ScopeBuiltin = 0, ScopeHint = 1, ScopeStrict = 2 };

  struct Value {
    std::string m_Phrase;  // as written
    std::string m_Tag;     // may be empty
    float m_Weight;        // -1.0: none
  };

  // Keyed by the phrase in lower case.
  typedef std::map<std::string, Value> PhraseMap;

  SpeechContext();

  // A context of the engine configuration; fails for a disabled one or one without id.
  bool Load(const apr_xml_elem* element);
  void LoadAttribs(const apr_xml_elem* element);
  // Always true.
  bool LoadPhrases(const apr_xml_elem* element);
  void LoadPhrase(const apr_xml_elem* element);

  // The character data before the element's first child, each piece the parser delivered
  // stripped of its leading white space, concatenated. False when there is no such data.
  static bool GetElementText(const apr_xml_elem* element, std::string& text);

  // False when a phrase of the same lower-case text is there already (the first one stays).
  bool AddPhrase(const std::string& phrase, const std::string& tag, float weight);

  // complete: false when a longer phrase begins with this one.
  bool FindPhrase(const std::string& text, bool& complete) const;
  // value: the tag, or the phrase as written when the tag is empty.
  bool FindPhrase(const std::string& text, std::string& value) const;

  // Reduction of an SRGS grammar to the items of its root rule's top-level one-of elements.
  // Always true.
  bool LoadSrgsRules(const apr_xml_elem* grammar, const std::string& rootName);
  bool LoadSrgsRule(const apr_xml_elem* rule, const std::string& rootName);
  bool LoadSrgsOneOf(const apr_xml_elem* oneOf);
  bool LoadSrgsItem(const apr_xml_elem* item);
  bool LoadSrgsTag(const apr_xml_elem* tag, std::string& text);

  std::string m_Id;
  std::string m_Language;  // empty: the recognition's language
  bool m_Enable;
  bool m_Configured;  // from the engine configuration: shared, never deleted by a grammar
  bool m_SpeechComplete;
  Scope m_Scope;
  PhraseMap m_Phrases;
};

// The engine's configured contexts by id (owned by the engine).
typedef std::map<std::string, SpeechContext*> SpeechContextMap;

// Loads the children of the configuration element speech-contexts into contexts; for a
// repeated id the first context stays. Always true.
bool LoadSpeechContexts(const apr_xml_elem* element, SpeechContextMap& contexts);
// Deletes the contexts and empties the map.
void DestroySpeechContexts(SpeechContextMap& contexts);

}  // namespace OXA_NS

#endif  // OXA_SPEECH_CONTEXT_H

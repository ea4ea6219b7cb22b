// NLSML bodies of RECOGNITION-COMPLETE, for speech and DTMF results.
#ifndef OXA_NLSML_H
#define OXA_NLSML_H

#include <mrcphost/host_mrcp_message.h>

#include <string>

#include "OxaGrammar.h"
#include "OxaNamespace.h"
#include "OxaRecogResult.h"

namespace OXA_NS {

extern const char* const NLSML_CONTENT_TYPE;  // "application/x-nlsml"

enum TagFormat {
  TagFormatDefault = 0,
  TagFormatSemanticsXml = 1,  // the service's result message as XML inside the instance
  TagFormatSemanticsJson = 2  // ... as escaped JSON
};

// The request settings the composition reads.
struct NlsmlSettings {
  int m_Indent = 2;  // spaces per level; 0 also drops the line breaks
  bool m_SortAlternatives = false;
  bool m_AlternativesBelowThreshold = false;
  bool m_Mrcpv1Confidence = false;  // integer percent instead of a fraction
  int m_ConfidencePrecision = 2;    // significant digits of a fraction
  int m_TagFormat = TagFormatDefault;
  // Appended to every speech instance (default tag format) and input, e.g. "|" + request id.
  std::string m_InstanceSuffix;
  std::string m_InputSuffix;
};

// The confidence as written in an interpretation.
std::string FormatConfidence(float confidence, const NlsmlSettings& settings);

// Composes the speech result of the results (sorted in place when asked) against the active
// speech grammar. cause becomes success when a written interpretation reaches the threshold
// with a non-empty transcript (matching a phrase when the grammar's scope is strict), else
// no-match. contentType and body stay empty when no interpretation was written. False, with
// cause untouched, only when an interpretation is due and there is no grammar. A caller whose
// service's last response carried no result fails the composition without calling this.
bool ComposeSpeechResult(RecogResultList& results, float threshold, const NlsmlSettings& settings,
                         const GrammarRef* grammar, mrcp_recog_completion_cause_e& cause, std::string& contentType,
                         std::string& body);

// Composes the DTMF result of the digits against the active DTMF grammar; cause (the
// detector's) becomes no-match when a strict grammar has no such phrase. False without grammar.
bool ComposeDtmfResult(const std::string& digits, const NlsmlSettings& settings, const GrammarRef* grammar,
                       mrcp_recog_completion_cause_e& cause, std::string& contentType, std::string& body);

}  // namespace OXA_NS

#endif  // OXA_NLSML_H

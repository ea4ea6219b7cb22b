#include "OxaNlsml.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "OxaRecogText.h"

namespace OXA_NS {

const char* const NLSML_CONTENT_TYPE = "application/x-nlsml";

void SortAlternatives(RecogResultList& results) {
  for (RecogResult& result : results)
    std::stable_sort(result.m_Alternatives.begin(), result.m_Alternatives.end(), ResultComparator());
}

namespace {

class NlsmlWriter {
 public:
  explicit NlsmlWriter(const NlsmlSettings& settings)
      : m_Settings(settings), m_Indent(std::max(settings.m_Indent, 0)) {}

  void Indent(int levels) { m_Stream << std::string(static_cast<size_t>(levels * m_Indent), ' '); }
  void LineBreak() {
    if (m_Indent) m_Stream << '\n';
  }

  void Declaration() {
    m_Stream << "<?xml version=\"1.0\"?>";
    LineBreak();
    m_Stream << "<result>";
  }

  void InterpretationStart(const GrammarRef& grammar, float confidence) {
    Indent(1);
    m_Stream << "<interpretation grammar=\"" << EscapeXmlText(grammar.GetReference()) << "\" confidence=\""
             << FormatConfidence(confidence, m_Settings) << "\">";
    LineBreak();
  }

  void Input(const char* mode, const std::string& input) {
    Indent(2);
    m_Stream << "<input mode=\"" << mode << "\">" << input << "</input>";
    LineBreak();
    Indent(1);
    m_Stream << "</interpretation>";
  }

  // The instance element of a speech interpretation, by tag format.
  void SpeechInstance(const std::string& instance, const ServiceResult* service) {
    Indent(2);
    m_Stream << "<instance>";
    if (m_Settings.m_TagFormat == TagFormatSemanticsXml || m_Settings.m_TagFormat == TagFormatSemanticsJson) {
      LineBreak();
      Indent(3);
      if (!instance.empty()) {
        m_Stream << "<tag>" << instance << "</tag>";
        LineBreak();
        Indent(3);
      }
      m_Stream << "<StreamingRecognitionResult>";
      if (m_Settings.m_TagFormat == TagFormatSemanticsXml) {
        LineBreak();
        if (service) service->ComposeXml(m_Stream, 4, m_Indent);
        Indent(3);
      } else {
        std::string json;
        if (service && service->ComposeJson(json)) m_Stream << EscapeXmlText(json);
      }
      m_Stream << "</StreamingRecognitionResult>";
      LineBreak();
      Indent(2);
    } else {
      m_Stream << instance << EscapeXmlText(m_Settings.m_InstanceSuffix);
    }
    m_Stream << "</instance>";
    LineBreak();
  }

  // One speech interpretation; matched turns false when a strict grammar has no such phrase.
  void SpeechInterpretation(const GrammarRef& grammar, const RecogAlternative& alternative,
                            const ServiceResult* service, bool& matched) {
    const std::string input = EscapeXmlText(alternative.m_Transcript);
    std::string instance;
    matched = true;
    if (const SpeechContext* context = grammar.m_pSpeechContext) {
      std::string value;
      if (context->FindPhrase(alternative.m_Transcript, value))
        instance = EscapeXmlText(value);
      else if (context->m_Scope == SpeechContext::ScopeStrict)
        matched = false;
    }
    if (matched && instance.empty())
      instance = alternative.m_Instance.empty() ? input : EscapeXmlText(alternative.m_Instance);
    InterpretationStart(grammar, alternative.m_Confidence);
    SpeechInstance(instance, service);
    Input("speech", input + EscapeXmlText(m_Settings.m_InputSuffix));
  }

  std::string Text() const { return m_Stream.str(); }
  std::ostringstream& Stream() { return m_Stream; }

 private:
  const NlsmlSettings& m_Settings;
  const int m_Indent;
  std::ostringstream m_Stream;
};

// Joins continuous-recognition pieces with one space, unless the piece brings its own.
void AppendPiece(std::string& text, const std::string& piece) {
  if (piece.empty()) return;
  if (!text.empty() && piece[0] != ' ') text += ' ';
  text += piece;
}

}  // namespace

std::string FormatConfidence(float confidence, const NlsmlSettings& settings) {
  char text[64];
  if (settings.m_Mrcpv1Confidence) {
    const float percent = confidence * 100.0f;
    long value = 0;
    if (std::isfinite(percent))
      value = percent >= static_cast<float>(LONG_MAX)   ? LONG_MAX
              : percent <= static_cast<float>(LONG_MIN) ? LONG_MIN
                                                        : static_cast<long>(percent);
    snprintf(text, sizeof(text), "%ld", value);
  } else {
    const int precision = std::min(std::max(settings.m_ConfidencePrecision, 0), 17);
    snprintf(text, sizeof(text), "%.*g", precision, static_cast<double>(confidence));
  }
  return text;
}

bool ComposeSpeechResult(RecogResultList& results, float threshold, const NlsmlSettings& settings,
                         const GrammarRef* grammar, mrcp_recog_completion_cause_e& cause, std::string& contentType,
                         std::string& body) {
  NlsmlWriter writer(settings);
  writer.Declaration();
  mrcp_recog_completion_cause_e result = RECOGNIZER_COMPLETION_CAUSE_NO_MATCH;
  if (settings.m_SortAlternatives) SortAlternatives(results);

  bool written = false;
  // Writes one interpretation unless it falls below the threshold and those are dropped.
  auto interpret = [&](const RecogAlternative& alternative, const ServiceResult* service) {
    const bool reached = alternative.m_Confidence >= threshold;
    if (!reached && !settings.m_AlternativesBelowThreshold) return true;
    if (!grammar) return false;
    bool matched = true;
    writer.LineBreak();
    writer.SpeechInterpretation(*grammar, alternative, service, matched);
    written = true;
    // Any qualifying interpretation makes the recognition a success, whatever follows it.
    if (reached && matched && !alternative.m_Transcript.empty()) result = RECOGNIZER_COMPLETION_CAUSE_SUCCESS;
    return true;
  };

  if (results.size() == 1) {
    const RecogResult& single = results.front();
    for (const RecogAlternative& alternative : single.m_Alternatives) {
      if (!interpret(alternative, single.m_pServiceResult.get())) return false;
    }
  } else if (results.size() > 1) {
    RecogAlternative combined;
    combined.m_Confidence = 1.0f;
    for (const RecogResult& piece : results) {
      if (piece.m_Alternatives.empty() || piece.m_Alternatives.front().m_Transcript.empty()) continue;
      const RecogAlternative& first = piece.m_Alternatives.front();
      AppendPiece(combined.m_Transcript, first.m_Transcript);
      AppendPiece(combined.m_Instance, first.m_Instance);
      combined.m_Confidence = std::min(combined.m_Confidence, first.m_Confidence);
    }
    if (!interpret(combined, results.front().m_pServiceResult.get())) return false;
  }
  writer.LineBreak();
  writer.Stream() << "</result>";

  cause = result;
  if (written) {
    contentType = NLSML_CONTENT_TYPE;
    body = writer.Text();
  } else {
    contentType.clear();
    body.clear();
  }
  return true;
}

bool ComposeDtmfResult(const std::string& digits, const NlsmlSettings& settings, const GrammarRef* grammar,
                       mrcp_recog_completion_cause_e& cause, std::string& contentType, std::string& body) {
  if (!grammar) return false;
  std::string input;
  std::string instance;
  bool matched = true;
  if (const SpeechContext* context = grammar->m_pSpeechContext) {
    input = EscapeXmlText(digits);
    std::string value;
    if (context->FindPhrase(digits, value))
      instance = EscapeXmlText(value);
    else if (context->m_Scope == SpeechContext::ScopeStrict)
      matched = false;
  } else {
    for (char digit : digits) {
      if (!input.empty()) input += ' ';
      input += digit;
    }
    input = EscapeXmlText(input);
    instance = EscapeXmlText(digits);
  }
  if (!matched)
    cause = RECOGNIZER_COMPLETION_CAUSE_NO_MATCH;
  else if (instance.empty())
    instance = input;

  NlsmlWriter writer(settings);
  writer.Declaration();
  writer.LineBreak();
  writer.InterpretationStart(*grammar, 1.0f);
  writer.Indent(2);
  writer.Stream() << "<instance>" << instance << "</instance>";
  writer.LineBreak();
  writer.Input("dtmf", input);
  writer.LineBreak();
  writer.Stream() << "</result>";
  contentType = NLSML_CONTENT_TYPE;
  body = writer.Text();
  return true;
}

}  // namespace OXA_NS

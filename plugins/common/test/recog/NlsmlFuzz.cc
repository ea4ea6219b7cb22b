// Arbitrary transcripts, tags and settings through the NLSML composition and the detail
// record: no crash, the NLSML is always well-formed XML and the record always valid JSON.
#include <apr_xml.h>
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "recog/OxaNlsml.h"
#include "recog/OxaRdrManager.h"

extern "C" {
apt_log_source_t* ZORV_PLUGIN = nullptr;
}

using namespace OXA_NS;

namespace {

void CheckJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
  if (document.HasParseError()) {
    fprintf(stderr, "not JSON:\n%s\n", text.c_str());
    abort();
  }
}

// Pieces of the input separated by NUL bytes.
std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\0', pos);
    if (end == std::string::npos) end = text.size();
    pieces.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  NlsmlSettings settings;
  settings.m_Indent = data[0] % 5;
  settings.m_SortAlternatives = data[0] & 8;
  settings.m_AlternativesBelowThreshold = data[0] & 16;
  settings.m_Mrcpv1Confidence = data[0] & 32;
  settings.m_ConfidencePrecision = (data[1] % 8) - 1;
  const float threshold = static_cast<float>(data[2]) / 255.0f;
  const uint8_t shape = data[3];
  const std::vector<std::string> pieces = Split(std::string(reinterpret_cast<const char*>(data + 4), size - 4));
  if (shape & 1) {
    settings.m_InstanceSuffix = "|" + pieces.back();
    settings.m_InputSuffix = "|" + pieces.front();
  }

  GrammarRef grammar;
  grammar.m_Id = pieces.front();
  grammar.m_RefType = (shape & 2) ? GrammarRef::RefSession : GrammarRef::RefBuiltin;
  grammar.m_Prefix = "speech/";
  grammar.m_Name = pieces.back();
  if (shape & 4) {
    SpeechContext* context = grammar.CreateSpeechContext(
        "c", "", (shape & 8) ? SpeechContext::ScopeStrict : SpeechContext::ScopeHint, false);
    for (size_t i = 0; i + 1 < pieces.size(); i += 2) context->AddPhrase(pieces[i], pieces[i + 1], -1.0f);
  }

  // Each piece is a transcript; results of up to three alternatives, confidences from the text.
  RecogResultList results;
  const size_t perResult = (shape & 16) ? 1 : 3;
  for (size_t i = 0; i < pieces.size(); i++) {
    if (i % perResult == 0) results.emplace_back();
    float confidence = pieces[i].empty() ? 1.0f : static_cast<float>(static_cast<uint8_t>(pieces[i][0])) / 200.0f;
    if (pieces[i].size() > 1 && pieces[i][1] == '!') confidence = std::numeric_limits<float>::quiet_NaN();
    if (pieces[i].size() > 1 && pieces[i][1] == '~') confidence = -std::numeric_limits<float>::infinity();
    results.back().m_Alternatives.push_back(RecogAlternative{pieces[i], (shape & 32) ? pieces[i] : "", confidence});
  }

  mrcp_recog_completion_cause_e cause = RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
  std::string contentType, body;
  if (ComposeSpeechResult(results, threshold, settings, &grammar, cause, contentType, body)) RecogFuzz::CheckXml(body);
  if (ComposeDtmfResult(pieces.front(), settings, &grammar, cause, contentType, body)) RecogFuzz::CheckXml(body);

  RdrManager::RecognitionDetails details;
  details.m_Layout = (shape & 64) ? RdrManager::LayoutWebSocket : RdrManager::LayoutGrpc;
  details.m_Language = pieces.back();
  details.m_RequestStartTime = 1;
  details.m_StreamingStartTime = 2;
  details.m_InputType = MPF_SDI_MODE_SPEECH;
  details.m_DtmfDigits = pieces.front();
  details.m_RequestId = pieces.front();
  details.m_Transcripts = pieces.back();
  details.m_TranscriptsKey = shape & 128;
  if (!(shape & 128)) details.m_Results = results;
  CheckJson(details.ComposeRecord());
  return 0;
}

// Arbitrary DEFINE-GRAMMAR and RECOGNIZE bodies through the grammar table, and arbitrary
// documents through the configuration's speech-context loader. The first byte picks the
// content type, the flags and whether a Content-Id is sent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "recog/OxaGrammar.h"
#include "recog/OxaNlsml.h"

extern "C" {
apt_log_source_t* ZORV_PLUGIN = nullptr;
}

using namespace OXA_NS;

namespace {

class NoHandler : public GrammarTable::Handler {
 public:
  void OnDtmfLength(const DtmfContext&) override {}
};

mrcp_message_t* Request(mrcp_method_id method, const char* contentType, bool withId, const std::string& body,
                        apr_pool_t* pool) {
  mrcp_message_t* request = mrcp_request_create(MRCP_RECOGNIZER_RESOURCE, MRCP_VERSION_2, method, pool);
  mrcp_generic_header_t* header = mrcp_generic_header_prepare(request);
  if (contentType) {
    apt_string_assign(&header->content_type, contentType, pool);
    mrcp_generic_header_property_add(request, GENERIC_HEADER_CONTENT_TYPE);
  }
  if (withId) {
    apt_string_assign(&header->content_id, "g1", pool);
    mrcp_generic_header_property_add(request, GENERIC_HEADER_CONTENT_ID);
  }
  mrcp_message_body_set(request, body.data(), body.size());
  return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kContentTypes[] = {
      "text/uri-list", "text/grammar-ref-list",   "application/xml", "application/srgs+xml",
      nullptr,         "application/grammar+xml", "text/uri-list",   "application/xml"};
  const uint8_t selector = data[0];
  const char* contentType = kContentTypes[selector & 7];
  const bool withId = !(selector & 8);
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);

  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, RecogFuzz::RootPool());

  SpeechContextMap contexts;
  SpeechContext* configured = new SpeechContext();
  configured->m_Id = "yesno";
  configured->m_Configured = true;
  configured->AddPhrase("yes", "true", -1.0f);
  contexts[configured->m_Id] = configured;

  NoHandler handler;
  GrammarTable::Settings settings;
  settings.m_SkipUnsupportedGrammars = selector & 16;
  settings.m_MatchSrgs = selector & 32;
  settings.m_ParamSeparator = (selector & 64) ? ',' : ';';
  {
    GrammarTable table("ch1", "zorv", settings, &contexts, &handler);
    mrcp_message_t* define = Request(RECOGNIZER_DEFINE_GRAMMAR, contentType, withId, body, pool);
    table.DefineGrammar(define, mrcp_response_create(define, pool));
    table.ClearActiveGrammars();
    table.SetActiveGrammar(Request(RECOGNIZER_RECOGNIZE, contentType, withId, body, pool));
    table.SetActiveGrammarList("session:g1\n" + body, selector & 128);

    // Whatever got active composes into well-formed NLSML.
    RecogResultList results(1);
    results.front().m_Alternatives.push_back(RecogAlternative{body.substr(0, 64), "", 0.5f});
    mrcp_recog_completion_cause_e cause = RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
    std::string type, nlsml;
    if (ComposeSpeechResult(results, 0.0f, NlsmlSettings(), table.GetActiveSpeechGrammar(), cause, type, nlsml))
      RecogFuzz::CheckXml(nlsml);
    if (ComposeDtmfResult(body.substr(0, 16), NlsmlSettings(), table.GetActiveDtmfGrammar(), cause, type, nlsml))
      RecogFuzz::CheckXml(nlsml);

    if (apr_xml_doc* doc = table.ParseXmlDocument(body.data(), body.size(), pool)) {
      LoadSpeechContexts(doc->root, contexts);
      SpeechContext context;
      context.Load(doc->root);
      context.LoadSrgsRules(doc->root, "");
      GrammarRef grammar;
      grammar.LoadSrgsGrammar(doc->root, contexts, "transcribe", selector & 32);
    }
  }
  DestroySpeechContexts(contexts);
  apr_pool_destroy(pool);
  return 0;
}

// Grammars of a recognizer channel: builtin URIs, grammar lists, SRGS documents and speech
// context documents, DEFINE-GRAMMAR and the choice of the active grammars at RECOGNIZE.
#ifndef OXA_GRAMMAR_H
#define OXA_GRAMMAR_H

#include <apr_pools.h>
#include <apr_xml.h>
#include <mrcphost/host_mrcp_message.h>

#include <cstdint>
#include <map>
#include <string>

#include "OxaNamespace.h"
#include "OxaSpeechContext.h"

namespace OXA_NS {

// Length rules of a builtin DTMF grammar (0 = not set).
class DtmfContext {
 public:
  DtmfContext() : m_Length(0), m_MinLength(0), m_MaxLength(0) {}

  // Keys beginning with length, minlength or maxlength (any letter case) set the rules;
  // other keys set nothing. Always true.
  bool SetParams(const std::map<std::string, std::string>& parameters);

  uint64_t m_Length;
  uint64_t m_MinLength;
  uint64_t m_MaxLength;
};

class GrammarRef {
 public:
  enum Category : int32_t { CategorySpeech = 1, CategoryDtmf = 2 };
  enum RefType : int32_t {
    RefBuiltin = 1,  // a builtin URI named in RECOGNIZE
    RefSession = 2   // defined under a Content-Id
  };
  typedef std::map<std::string, std::string> ParamMap;

  GrammarRef();
  // Deletes the DTMF context and the speech context unless the latter is a configured one.
  ~GrammarRef();

  // Parses what follows "builtin:": a category prefix ("speech/", "grammar/", "dtmf/", any
  // letter case; stored in lower case), the name (leading spaces skipped) and optionally '?'
  // and key=value pairs split by separator (a key without value gets an empty value; for a
  // repeated key the first counts). False for an unknown prefix or an empty name.
  static bool ReadBuiltinGrammar(const std::string& text, Category& category, std::string& prefix, std::string& name,
                                 ParamMap& parameters, char separator);
  // A grammar-ref-list entry: leading '<' skipped, cut at the first '>' (weights dropped).
  static std::string UnquoteGrammarUri(const std::string& line);

  // Reads an SRGS document (root element "grammar") into this grammar.
  bool LoadSrgsGrammar(const apr_xml_elem* root, const SpeechContextMap& contexts,
                       const std::string& transcriptionGrammar, bool matchSrgs);
  // The meta tags of the grammar; loadRules turns false for a builtin scope.
  void LoadSrgsMetaTags(const apr_xml_elem* root, const std::string& transcriptionGrammar, bool& loadRules,
                        SpeechContext::Scope& scope, bool& speechComplete, bool& speechCompleteSet);
  void LoadSrgsMetaTag(const char* name, const char* content, const std::string& transcriptionGrammar, bool& loadRules,
                       SpeechContext::Scope& scope, bool& speechComplete, bool& speechCompleteSet);
  // A new context owned by this grammar.
  SpeechContext* CreateSpeechContext(const std::string& id, const std::string& language, SpeechContext::Scope scope,
                                     bool speechComplete);
  // Takes the context; a configured one is only referred to.
  void SetSpeechContext(SpeechContext* context);

  // The grammar as NLSML names it: "session:" + id, or "builtin:" + prefix + name.
  std::string GetReference() const;

  std::string m_Id;
  std::string m_Name;
  std::string m_Prefix;
  ParamMap m_Parameters;
  Category m_Category;
  RefType m_RefType;
  DtmfContext* m_pDtmfContext;
  SpeechContext* m_pSpeechContext;

 private:
  GrammarRef(const GrammarRef&) = delete;
  GrammarRef& operator=(const GrammarRef&) = delete;
};

// The grammars a channel knows, with the ones active for the current RECOGNIZE.
// Status results are MRCP status codes; every log line ends with "<channel@plugin>".
class GrammarTable {
 public:
  // Told when a DTMF grammar with length rules becomes active, so the detector gets them.
  class Handler {
   public:
    virtual ~Handler() {}
    virtual void OnDtmfLength(const DtmfContext& context) = 0;
  };

  // Engine settings read here (streaming recognition element).
  struct Settings {
    std::string m_TranscriptionGrammar = "transcribe";
    char m_ParamSeparator = ';';
    bool m_AcceptSrgs = true;
    bool m_MatchSrgs = true;
    bool m_SkipUnsupportedGrammars = true;
  };

  typedef std::map<std::string, GrammarRef*> GrammarMap;

  // shortName is the plugin's short word ("zorv", "vesk"); contexts are the engine's
  // configured ones and must outlive the table.
  GrammarTable(const std::string& channelId, const char* shortName, const Settings& settings,
               const SpeechContextMap* contexts, Handler* handler = nullptr);
  ~GrammarTable();

  void SetSettings(const Settings& settings) { m_Settings = settings; }
  const Settings& GetSettings() const { return m_Settings; }

  // DEFINE-GRAMMAR: sets the response status when it is not 200. Returns false: the caller
  // sends the response.
  bool DefineGrammar(const mrcp_message_t* request, mrcp_message_t* response);
  mrcp_status_code_e DefineGrammarList(const std::string& id, const std::string& body, bool unquote);
  mrcp_status_code_e DefineSrgsGrammar(const mrcp_message_t* request, const std::string& id);
  mrcp_status_code_e DefineSpeechContext(const mrcp_message_t* request, const std::string& id);

  // RECOGNIZE: chooses the active grammars from the request's body. The caller clears the
  // active grammars first and answers 406 itself when neither results.
  mrcp_status_code_e SetActiveGrammar(const mrcp_message_t* request);
  mrcp_status_code_e SetActiveGrammarList(const std::string& body, bool unquote);

  // Null when the name is neither the transcription grammar nor a configured context.
  GrammarRef* AddSpeechGrammar(const std::string& id, const std::string& prefix, const std::string& name,
                               const GrammarRef::ParamMap& parameters, GrammarRef::RefType refType);
  GrammarRef* AddDtmfGrammar(const std::string& id, const std::string& prefix, const std::string& name,
                             const GrammarRef::ParamMap& parameters, GrammarRef::RefType refType);

  // Null with a warning for an empty body, a parser failure or a document without root.
  apr_xml_doc* ParseXmlDocument(const char* body, apr_size_t length, apr_pool_t* pool);

  void ClearActiveGrammars();
  GrammarRef* GetActiveSpeechGrammar() const { return m_pActiveSpeechGrammar; }
  GrammarRef* GetActiveDtmfGrammar() const { return m_pActiveDtmfGrammar; }
  GrammarRef* FindGrammar(const std::string& id) const;
  const GrammarMap& GetGrammars() const { return m_Grammars; }

 private:
  GrammarTable(const GrammarTable&) = delete;
  GrammarTable& operator=(const GrammarTable&) = delete;

  // Replaces a grammar of the same id, logging with the given kind ("Speech Grammar", ...).
  void InsertGrammar(GrammarRef* grammar, const char* kind);
  // Logs "Parse <kind> [id]" and parses the request's body.
  apr_xml_doc* ParseRequestBody(const mrcp_message_t* request, const char* kind, const std::string& id);
  // Deletes the grammar of that id; an active one stops being active.
  bool RemoveGrammar(const std::string& id);
  // Logs the warning when a grammar of that category is active already.
  bool IsCategoryTaken(GrammarRef::Category category) const;
  mrcp_status_code_e ActivateGrammar(GrammarRef* grammar);
  mrcp_status_code_e Unsupported() const;

  std::string m_ChannelId;
  const char* m_ShortName;
  Settings m_Settings;
  const SpeechContextMap* m_pContexts;
  Handler* m_pHandler;
  GrammarMap m_Grammars;  // owned
  GrammarRef* m_pActiveSpeechGrammar;
  GrammarRef* m_pActiveDtmfGrammar;
};

}  // namespace OXA_NS

#endif  // OXA_GRAMMAR_H

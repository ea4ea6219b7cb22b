#include "OxaGrammar.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "OxaLog.h"
#include "engine/OxaConfigUtils.h"

namespace OXA_NS {

namespace {

const char kBuiltinScheme[] = "builtin:";
const char kSessionScheme[] = "session:";

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  return strncasecmp(text.c_str(), prefix, strlen(prefix)) == 0;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string SkipSpaces(const std::string& text, size_t pos = 0) {
  while (pos < text.size() && IsSpace(text[pos])) pos++;
  return text.substr(pos);
}

// The non-empty lines of a grammar list, each without its leading spaces and tabs.
template <typename F>
void ForEachLine(const std::string& body, F&& visit) {
  size_t pos = 0;
  while (pos < body.size()) {
    size_t end = body.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = body.size();
    std::string line = SkipSpaces(body.substr(pos, end - pos));
    pos = end + 1;
    if (!line.empty() && !visit(line)) return;
  }
}

std::string GetBody(const mrcp_message_t* request) {
  return request->body.buf ? std::string(request->body.buf, request->body.length) : std::string();
}

// A header counts when it is present with a value.
bool GetGenericText(const mrcp_message_t* request, apr_size_t id, const apt_str_t& field, std::string& text) {
  if (!mrcp_generic_header_property_check(request, id) || !field.buf || !field.length) return false;
  text.assign(field.buf, field.length);
  return true;
}

// Content-Id as RFC 6787 clients write it, in the message-id form "<id>", is referred to as
// session:id, so the angle brackets are not part of the grammar's id.
bool GetContentId(const mrcp_message_t* request, const mrcp_generic_header_t* header, std::string& id) {
  if (!GetGenericText(request, GENERIC_HEADER_CONTENT_ID, header->content_id, id)) return false;
  if (id.size() > 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return true;
}

GrammarRef* NewGrammar(const std::string& id, const std::string& prefix, const std::string& name,
                       const GrammarRef::ParamMap& parameters, GrammarRef::Category category,
                       GrammarRef::RefType refType) {
  GrammarRef* grammar = new GrammarRef();
  grammar->m_Id = id;
  grammar->m_Name = name;
  grammar->m_Prefix = prefix;
  grammar->m_Parameters = parameters;
  grammar->m_Category = category;
  grammar->m_RefType = refType;
  return grammar;
}

}  // namespace

bool DtmfContext::SetParams(const std::map<std::string, std::string>& parameters) {
  for (const auto& parameter : parameters) {
    uint64_t* target = nullptr;
    const char* key = parameter.first.c_str();
    if (strncasecmp(key, "length", 6) == 0)
      target = &m_Length;
    else if (strncasecmp(key, "minlength", 9) == 0)
      target = &m_MinLength;
    else if (strncasecmp(key, "maxlength", 9) == 0)
      target = &m_MaxLength;
    if (!target) continue;
    const long long value = strtoll(parameter.second.c_str(), nullptr, 10);
    *target = value > 0 ? static_cast<uint64_t>(value) : 0;
  }
  return true;
}

GrammarRef::GrammarRef()
    : m_Category(CategorySpeech), m_RefType(RefSession), m_pDtmfContext(nullptr), m_pSpeechContext(nullptr) {}

GrammarRef::~GrammarRef() {
  delete m_pDtmfContext;
  SetSpeechContext(nullptr);
}

void GrammarRef::SetSpeechContext(SpeechContext* context) {
  if (m_pSpeechContext && !m_pSpeechContext->m_Configured) delete m_pSpeechContext;
  m_pSpeechContext = context;
}

SpeechContext* GrammarRef::CreateSpeechContext(const std::string& id, const std::string& language,
                                               SpeechContext::Scope scope, bool speechComplete) {
  SpeechContext* context = new SpeechContext();
  context->m_Id = id;
  context->m_Language = language;
  context->m_Scope = scope;
  context->m_SpeechComplete = speechComplete;
  SetSpeechContext(context);
  return context;
}

std::string GrammarRef::GetReference() const {
  return m_RefType == RefSession ? kSessionScheme + m_Id : kBuiltinScheme + m_Prefix + m_Name;
}

bool GrammarRef::ReadBuiltinGrammar(const std::string& text, Category& category, std::string& prefix, std::string& name,
                                    ParamMap& parameters, char separator) {
  static const struct {
    const char* prefix;
    Category category;
  } kPrefixes[] = {{"speech/", CategorySpeech}, {"grammar/", CategorySpeech}, {"dtmf/", CategoryDtmf}};
  size_t pos = std::string::npos;
  for (const auto& known : kPrefixes) {
    if (StartsWithNoCase(text, known.prefix)) {
      category = known.category;
      prefix = known.prefix;
      pos = strlen(known.prefix);
      break;
    }
  }
  if (pos == std::string::npos) return false;
  while (pos < text.size() && IsSpace(text[pos])) pos++;
  const size_t query = text.find('?', pos);
  name = text.substr(pos, query == std::string::npos ? std::string::npos : query - pos);
  if (name.empty()) return false;
  if (query == std::string::npos) return true;

  pos = query + 1;
  while (pos <= text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string::npos) end = text.size();
    const std::string pair = SkipSpaces(text.substr(pos, end - pos));
    pos = end + 1;
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::string key = pair.substr(0, equals);
    if (key.empty()) continue;
    parameters.insert(ParamMap::value_type(key, equals == std::string::npos ? std::string() : pair.substr(equals + 1)));
  }
  return true;
}

std::string GrammarRef::UnquoteGrammarUri(const std::string& line) {
  size_t start = 0;
  while (start < line.size() && line[start] == '<') start++;
  const size_t end = line.find('>', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool GrammarRef::LoadSrgsGrammar(const apr_xml_elem* root, const SpeechContextMap& contexts,
                                 const std::string& transcriptionGrammar, bool matchSrgs) {
  if (strcmp(root->name, "grammar") != 0) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected XML root element <%s>", root->name);
    return false;
  }
  std::string mode = "voice";
  for (const apr_xml_attr* attr = root->attr; attr; attr = attr->next) {
    if (NameIs(attr->name, "mode"))
      mode = attr->value;
    else if (NameIs(attr->name, "root"))
      m_Name = attr->value;
  }
  m_RefType = RefSession;
  if (mode == "voice") {
    m_Category = CategorySpeech;
  } else if (mode == "dtmf") {
    m_Category = CategoryDtmf;
  } else {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected SRGS Grammar Mode [%s]", mode.c_str());
    return false;
  }

  SpeechContext::Scope scope = matchSrgs ? SpeechContext::ScopeStrict : SpeechContext::ScopeHint;
  bool loadRules = true;
  bool speechComplete = false;
  bool speechCompleteSet = false;
  LoadSrgsMetaTags(root, transcriptionGrammar, loadRules, scope, speechComplete, speechCompleteSet);
  if (!speechCompleteSet) speechComplete = (scope == SpeechContext::ScopeStrict);

  if (loadRules) {
    SpeechContext* context = CreateSpeechContext(m_Id, root->lang ? root->lang : "", scope, speechComplete);
    return context->LoadSrgsRules(root, m_Name);
  }
  if (m_Category != CategorySpeech) return true;
  if (m_Name == transcriptionGrammar) {
    CreateSpeechContext(m_Id, std::string(), scope, speechComplete);
    return true;
  }
  SpeechContextMap::const_iterator it = contexts.find(m_Name);
  if (it == contexts.end()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No Such Builtin Speech Grammar [%s] ", m_Name.c_str());
    return false;
  }
  SetSpeechContext(it->second);
  return true;
}

void GrammarRef::LoadSrgsMetaTags(const apr_xml_elem* root, const std::string& transcriptionGrammar, bool& loadRules,
                                  SpeechContext::Scope& scope, bool& speechComplete, bool& speechCompleteSet) {
  for (const apr_xml_elem* child = root->first_child; child; child = child->next) {
    if (strcmp(child->name, "meta") != 0) continue;
    const char* name = nullptr;
    const char* content = "";
    for (const apr_xml_attr* attr = child->attr; attr; attr = attr->next) {
      if (NameIs(attr->name, "name"))
        name = attr->value;
      else if (NameIs(attr->name, "content"))
        content = attr->value;
    }
    if (name) LoadSrgsMetaTag(name, content, transcriptionGrammar, loadRules, scope, speechComplete, speechCompleteSet);
  }
}

void GrammarRef::LoadSrgsMetaTag(const char* name, const char* content, const std::string& transcriptionGrammar,
                                 bool& loadRules, SpeechContext::Scope& scope, bool& speechComplete,
                                 bool& speechCompleteSet) {
  if (strcmp(name, "scope") == 0) {
    if (strcmp(content, "builtin") == 0) {
      loadRules = false;
      scope = SpeechContext::ScopeBuiltin;
    } else if (transcriptionGrammar == content) {
      loadRules = false;
      m_Name = content;
      scope = SpeechContext::ScopeBuiltin;
    } else if (strcmp(content, "hint") == 0) {
      scope = SpeechContext::ScopeHint;
    } else if (strcmp(content, "strict") != 0) {
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Unexpected SRGS Grammar Scope [%s]", content);
    }
  } else if (strcmp(name, "speech-complete") == 0) {
    if (ParseBooleanString(content, speechComplete))
      speechCompleteSet = true;
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for Boolean Attribute <%s>", content, name);
  } else {
    m_Parameters.insert(ParamMap::value_type(name, content));
  }
}

GrammarTable::GrammarTable(const std::string& channelId, const char* shortName, const Settings& settings,
                           const SpeechContextMap* contexts, Handler* handler)
    : m_ChannelId(channelId),
      m_ShortName(shortName),
      m_Settings(settings),
      m_pContexts(contexts),
      m_pHandler(handler),
      m_pActiveSpeechGrammar(nullptr),
      m_pActiveDtmfGrammar(nullptr) {}

GrammarTable::~GrammarTable() {
  ClearActiveGrammars();
  for (GrammarMap::value_type& entry : m_Grammars) delete entry.second;
}

void GrammarTable::ClearActiveGrammars() {
  m_pActiveSpeechGrammar = nullptr;
  m_pActiveDtmfGrammar = nullptr;
}

GrammarRef* GrammarTable::FindGrammar(const std::string& id) const {
  GrammarMap::const_iterator it = m_Grammars.find(id);
  return it == m_Grammars.end() ? nullptr : it->second;
}

bool GrammarTable::RemoveGrammar(const std::string& id) {
  GrammarMap::iterator it = m_Grammars.find(id);
  if (it == m_Grammars.end()) return false;
  // A recognition may still point at it (a grammar replaced or removed meanwhile).
  if (m_pActiveSpeechGrammar == it->second) m_pActiveSpeechGrammar = nullptr;
  if (m_pActiveDtmfGrammar == it->second) m_pActiveDtmfGrammar = nullptr;
  delete it->second;
  m_Grammars.erase(it);
  return true;
}

void GrammarTable::InsertGrammar(GrammarRef* grammar, const char* kind) {
  if (m_Grammars.count(grammar->m_Id)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Remove Existing %s [%s] <%s@%s>", kind, grammar->m_Id.c_str(),
            m_ChannelId.c_str(), m_ShortName);
    RemoveGrammar(grammar->m_Id);
  }
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Add %s [%s] <%s@%s>", kind, grammar->m_Id.c_str(), m_ChannelId.c_str(),
          m_ShortName);
  m_Grammars[grammar->m_Id] = grammar;
}

mrcp_status_code_e GrammarTable::Unsupported() const {
  return m_Settings.m_SkipUnsupportedGrammars ? MRCP_STATUS_CODE_SUCCESS : MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
}

GrammarRef* GrammarTable::AddSpeechGrammar(const std::string& id, const std::string& prefix, const std::string& name,
                                           const GrammarRef::ParamMap& parameters, GrammarRef::RefType refType) {
  SpeechContext* context = nullptr;
  if (name != m_Settings.m_TranscriptionGrammar) {
    SpeechContextMap::const_iterator it;
    if (!m_pContexts || (it = m_pContexts->find(name)) == m_pContexts->end()) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No Such Builtin Speech Grammar [%s] <%s@%s>", name.c_str(),
              m_ChannelId.c_str(), m_ShortName);
      return nullptr;
    }
    context = it->second;
  }
  GrammarRef* grammar = NewGrammar(id, prefix, name, parameters, GrammarRef::CategorySpeech, refType);
  grammar->SetSpeechContext(context);
  InsertGrammar(grammar, "Speech Grammar");
  return grammar;
}

GrammarRef* GrammarTable::AddDtmfGrammar(const std::string& id, const std::string& prefix, const std::string& name,
                                         const GrammarRef::ParamMap& parameters, GrammarRef::RefType refType) {
  GrammarRef* grammar = NewGrammar(id, prefix, name, parameters, GrammarRef::CategoryDtmf, refType);
  if (!parameters.empty()) {
    grammar->m_pDtmfContext = new DtmfContext();
    grammar->m_pDtmfContext->SetParams(parameters);
  }
  InsertGrammar(grammar, "DTMF Grammar");
  return grammar;
}

apr_xml_doc* GrammarTable::ParseXmlDocument(const char* body, apr_size_t length, apr_pool_t* pool) {
  if (!body || !length) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "XML Content Emtpy");
    return nullptr;
  }
  apr_xml_parser* parser = apr_xml_parser_create(pool);
  if (apr_xml_parser_feed(parser, body, length) != APR_SUCCESS) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to feed XML Content to Parser");
    return nullptr;
  }
  apr_xml_doc* doc = nullptr;
  if (apr_xml_parser_done(parser, &doc) != APR_SUCCESS) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Terminate XML parsing");
    return nullptr;
  }
  if (!doc || !doc->root) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No XML Root Element");
    return nullptr;
  }
  return doc;
}

apr_xml_doc* GrammarTable::ParseRequestBody(const mrcp_message_t* request, const char* kind, const std::string& id) {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Parse %s [%s] <%s@%s>", kind, id.c_str(), m_ChannelId.c_str(), m_ShortName);
  return ParseXmlDocument(request->body.buf, request->body.length, request->pool);
}

bool GrammarTable::DefineGrammar(const mrcp_message_t* request, mrcp_message_t* response) {
  const mrcp_generic_header_t* header = mrcp_generic_header_get(request);
  mrcp_status_code_e status = MRCP_STATUS_CODE_SUCCESS;
  std::string id;
  std::string contentType;
  if (!header || !GetContentId(request, header, id)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Missing Content-Id <%s@%s>", m_ChannelId.c_str(), m_ShortName);
    status = MRCP_STATUS_CODE_MISSING_PARAM;
  } else if (GetGenericText(request, GENERIC_HEADER_CONTENT_TYPE, header->content_type, contentType)) {
    if (contentType == "text/uri-list") {
      status = DefineGrammarList(id, GetBody(request), false);
    } else if (contentType == "text/grammar-ref-list") {
      status = DefineGrammarList(id, GetBody(request), true);
    } else if (contentType == "application/xml") {
      status = DefineSpeechContext(request, id);
    } else if (m_Settings.m_AcceptSrgs &&
               (contentType == "application/srgs+xml" || contentType == "application/grammar+xml")) {
      status = DefineSrgsGrammar(request, id);
    } else {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unsupported Content Type [%s] <%s@%s>", contentType.c_str(),
              m_ChannelId.c_str(), m_ShortName);
      status = Unsupported();
    }
  } else if (request->body.length) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Missing Content-Type <%s@%s>", m_ChannelId.c_str(), m_ShortName);
    status = MRCP_STATUS_CODE_MISSING_PARAM;
  } else if (m_Grammars.count(id)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Remove Existing Speech Context [%s] <%s@%s>", id.c_str(),
            m_ChannelId.c_str(), m_ShortName);
    RemoveGrammar(id);
  } else {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Non-Existent Content-Id [%s] <%s@%s>", id.c_str(), m_ChannelId.c_str(),
            m_ShortName);
    status = MRCP_STATUS_CODE_MISSING_PARAM;
  }
  if (status != MRCP_STATUS_CODE_SUCCESS) response->start_line.status_code = status;
  return false;
}

mrcp_status_code_e GrammarTable::DefineGrammarList(const std::string& id, const std::string& body, bool unquote) {
  mrcp_status_code_e status = MRCP_STATUS_CODE_SUCCESS;
  ForEachLine(body, [&](const std::string& text) {
    const std::string line = unquote ? GrammarRef::UnquoteGrammarUri(text) : text;
    if (!StartsWithNoCase(line, kBuiltinScheme)) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unsupported Grammar Format [%.*s] <%s@%s>",
              static_cast<int>(line.size()), line.data(), m_ChannelId.c_str(), m_ShortName);
      status = Unsupported();
      return status == MRCP_STATUS_CODE_SUCCESS;
    }
    GrammarRef::Category category;
    std::string prefix, name;
    GrammarRef::ParamMap parameters;
    if (!GrammarRef::ReadBuiltinGrammar(line.substr(strlen(kBuiltinScheme)), category, prefix, name, parameters,
                                        m_Settings.m_ParamSeparator)) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Builtin Grammar Type [%s] <%s@%s>", line.c_str(),
              m_ChannelId.c_str(), m_ShortName);
      status = MRCP_STATUS_CODE_MISSING_PARAM;
      return false;
    }
    if (category == GrammarRef::CategoryDtmf) {
      AddDtmfGrammar(id, prefix, name, parameters, GrammarRef::RefSession);
    } else if (!AddSpeechGrammar(id, prefix, name, parameters, GrammarRef::RefSession)) {
      status = Unsupported();
      return status == MRCP_STATUS_CODE_SUCCESS;
    }
    return true;
  });
  return status;
}

mrcp_status_code_e GrammarTable::DefineSrgsGrammar(const mrcp_message_t* request, const std::string& id) {
  apr_xml_doc* doc = ParseRequestBody(request, "SRGS Grammar", id);
  if (!doc) return MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
  GrammarRef* grammar = new GrammarRef();
  grammar->m_Id = id;
  static const SpeechContextMap kNoContexts;
  if (!grammar->LoadSrgsGrammar(doc->root, m_pContexts ? *m_pContexts : kNoContexts, m_Settings.m_TranscriptionGrammar,
                                m_Settings.m_MatchSrgs)) {
    delete grammar;
    return MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
  }
  if (grammar->m_Category == GrammarRef::CategorySpeech) {
    InsertGrammar(grammar, "Speech Grammar");
  } else {
    if (grammar->m_Name.empty()) grammar->m_Name = id;
    InsertGrammar(grammar, "DTMF Grammar");
  }
  return MRCP_STATUS_CODE_SUCCESS;
}

mrcp_status_code_e GrammarTable::DefineSpeechContext(const mrcp_message_t* request, const std::string& id) {
  apr_xml_doc* doc = ParseRequestBody(request, "Speech Context", id);
  if (!doc) return MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
  if (strcmp(doc->root->name, "speech-context") != 0) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected XML root element <%s> <%s@%s>", doc->root->name,
            m_ChannelId.c_str(), m_ShortName);
    return MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
  }
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load Speech Context [%s] <%s@%s>", id.c_str(), m_ChannelId.c_str(),
          m_ShortName);
  SpeechContext* context = new SpeechContext();
  context->LoadAttribs(doc->root);
  context->m_Id = id;
  context->LoadPhrases(doc->root);
  if (context->m_Phrases.empty()) {
    delete context;
    return MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE;
  }
  GrammarRef* grammar = new GrammarRef();
  grammar->m_Id = id;
  grammar->m_Name = id;
  grammar->m_Category = GrammarRef::CategorySpeech;
  grammar->m_RefType = GrammarRef::RefSession;
  grammar->SetSpeechContext(context);
  InsertGrammar(grammar, "Speech Context");
  return MRCP_STATUS_CODE_SUCCESS;
}

bool GrammarTable::IsCategoryTaken(GrammarRef::Category category) const {
  const bool dtmf = category == GrammarRef::CategoryDtmf;
  if (!(dtmf ? m_pActiveDtmfGrammar : m_pActiveSpeechGrammar)) return false;
  apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "%s Grammar Already Specified <%s@%s>", dtmf ? "DTMF" : "Speech",
          m_ChannelId.c_str(), m_ShortName);
  return true;
}

mrcp_status_code_e GrammarTable::ActivateGrammar(GrammarRef* grammar) {
  if (IsCategoryTaken(grammar->m_Category)) return Unsupported();
  if (grammar->m_Category == GrammarRef::CategoryDtmf) {
    m_pActiveDtmfGrammar = grammar;
    if (grammar->m_pDtmfContext && m_pHandler) m_pHandler->OnDtmfLength(*grammar->m_pDtmfContext);
  } else {
    m_pActiveSpeechGrammar = grammar;
  }
  return MRCP_STATUS_CODE_SUCCESS;
}

mrcp_status_code_e GrammarTable::SetActiveGrammar(const mrcp_message_t* request) {
  const mrcp_generic_header_t* header = mrcp_generic_header_get(request);
  std::string contentType;
  if (!header || !GetGenericText(request, GENERIC_HEADER_CONTENT_TYPE, header->content_type, contentType)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Missing Content-Type <%s@%s>", m_ChannelId.c_str(), m_ShortName);
    return MRCP_STATUS_CODE_MISSING_PARAM;
  }
  if (contentType == "text/uri-list") return SetActiveGrammarList(GetBody(request), false);
  if (contentType == "text/grammar-ref-list") return SetActiveGrammarList(GetBody(request), true);

  const bool speechContext = (contentType == "application/xml");
  const bool srgs =
      m_Settings.m_AcceptSrgs && (contentType == "application/srgs+xml" || contentType == "application/grammar+xml");
  if (!speechContext && !srgs) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unsupported Content Type [%s] <%s@%s>", contentType.c_str(),
            m_ChannelId.c_str(), m_ShortName);
    return Unsupported();
  }
  std::string id;
  if (!GetContentId(request, header, id)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Missing Content-Id <%s@%s>", m_ChannelId.c_str(), m_ShortName);
    return MRCP_STATUS_CODE_MISSING_PARAM;
  }
  const mrcp_status_code_e status = speechContext ? DefineSpeechContext(request, id) : DefineSrgsGrammar(request, id);
  if (status != MRCP_STATUS_CODE_SUCCESS) return status;
  GrammarMap::const_iterator it = m_Grammars.find(id);
  if (it == m_Grammars.end()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No Such Session Speech Grammar [%s] <%s@%s>", id.c_str(),
            m_ChannelId.c_str(), m_ShortName);
    return MRCP_STATUS_CODE_ILLEGAL_PARAM_VALUE;
  }
  if (!it->second) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "NULL Session Speech Grammar [%s] <%s@%s>", id.c_str(), m_ChannelId.c_str(),
            m_ShortName);
    return MRCP_STATUS_CODE_ILLEGAL_PARAM_VALUE;
  }
  return ActivateGrammar(it->second);
}

mrcp_status_code_e GrammarTable::SetActiveGrammarList(const std::string& body, bool unquote) {
  mrcp_status_code_e status = MRCP_STATUS_CODE_SUCCESS;
  // Lines that would give 409 are skipped when unsupported grammars are skipped.
  auto goOn = [&](mrcp_status_code_e result) {
    status = result;
    return status == MRCP_STATUS_CODE_SUCCESS;
  };
  ForEachLine(body, [&](const std::string& text) {
    const std::string line = unquote ? GrammarRef::UnquoteGrammarUri(text) : text;
    if (StartsWithNoCase(line, kBuiltinScheme)) {
      GrammarRef::Category category;
      std::string prefix, name;
      GrammarRef::ParamMap parameters;
      if (!GrammarRef::ReadBuiltinGrammar(line.substr(strlen(kBuiltinScheme)), category, prefix, name, parameters,
                                          m_Settings.m_ParamSeparator)) {
        apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Builtin Grammar Type [%s] <%s@%s>", line.c_str(),
                m_ChannelId.c_str(), m_ShortName);
        return goOn(MRCP_STATUS_CODE_MISSING_PARAM);
      }
      // Checked before adding, so that a second grammar does not replace the first in the table.
      if (IsCategoryTaken(category)) return goOn(Unsupported());
      GrammarRef* grammar = category == GrammarRef::CategoryDtmf
                                ? AddDtmfGrammar(name, prefix, name, parameters, GrammarRef::RefBuiltin)
                                : AddSpeechGrammar(name, prefix, name, parameters, GrammarRef::RefBuiltin);
      return goOn(grammar ? ActivateGrammar(grammar) : Unsupported());
    }
    if (StartsWithNoCase(line, kSessionScheme)) {
      const std::string id = SkipSpaces(line, strlen(kSessionScheme));
      GrammarMap::const_iterator it = m_Grammars.find(id);
      if (it == m_Grammars.end()) {
        apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No Such Session Grammar [%s] <%s@%s>", id.c_str(), m_ChannelId.c_str(),
                m_ShortName);
        return goOn(MRCP_STATUS_CODE_ILLEGAL_PARAM_VALUE);
      }
      if (!it->second) {
        apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "NULL Session Grammar [%s] <%s@%s>", id.c_str(), m_ChannelId.c_str(),
                m_ShortName);
        return goOn(MRCP_STATUS_CODE_ILLEGAL_PARAM_VALUE);
      }
      return goOn(ActivateGrammar(it->second));
    }
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unsupported Grammar Format [%.*s] <%s@%s>", static_cast<int>(line.size()),
            line.data(), m_ChannelId.c_str(), m_ShortName);
    return goOn(Unsupported());
  });
  return status;
}

}  // namespace OXA_NS

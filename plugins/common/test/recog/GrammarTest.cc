#include "RecogTestSupport.h"
#include "recog/OxaGrammar.h"

using namespace OXA_NS;
using RecogTest::LogCapture;

namespace {

TEST(BuiltinGrammarTest, ReadBuiltinGrammar) {
  typedef GrammarRef::ParamMap P;
  struct Case {
    const char* text;
    char separator;
    bool ok;
    GrammarRef::Category category;
    const char* prefix;
    const char* name;
    P parameters;
  } cases[] = {
      {"speech/transcribe", ';', true, GrammarRef::CategorySpeech, "speech/", "transcribe", {}},
      {"GRAMMAR/  yesno", ';', true, GrammarRef::CategorySpeech, "grammar/", "yesno", {}},
      {"dtmf/digits?length=4", ';', true, GrammarRef::CategoryDtmf, "dtmf/", "digits", {{"length", "4"}}},
      {"Dtmf/digits?minlength=1;maxlength=8",
       ';',
       true,
       GrammarRef::CategoryDtmf,
       "dtmf/",
       "digits",
       {{"minlength", "1"}, {"maxlength", "8"}}},
      {"speech/t?a; b=2;;a=3;=x", ';', true, GrammarRef::CategorySpeech, "speech/", "t", {{"a", ""}, {"b", "2"}}},
      {"speech/t?a=1,b=2", ',', true, GrammarRef::CategorySpeech, "speech/", "t", {{"a", "1"}, {"b", "2"}}},
      {"speech/t?", ';', true, GrammarRef::CategorySpeech, "speech/", "t", {}},
      {"dtmf/", ';', false, GrammarRef::CategoryDtmf, "", "", {}},
      {"speech/ ?a=1", ';', false, GrammarRef::CategorySpeech, "", "", {}},
      {"video/clip", ';', false, GrammarRef::CategorySpeech, "", "", {}},
      {"speech", ';', false, GrammarRef::CategorySpeech, "", "", {}},
  };
  for (const Case& c : cases) {
    GrammarRef::Category category = GrammarRef::CategorySpeech;
    std::string prefix, name;
    P parameters;
    ASSERT_EQ(c.ok, GrammarRef::ReadBuiltinGrammar(c.text, category, prefix, name, parameters, c.separator)) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(c.category, category) << c.text;
    EXPECT_EQ(c.prefix, prefix) << c.text;
    EXPECT_EQ(c.name, name) << c.text;
    EXPECT_EQ(c.parameters, parameters) << c.text;
  }
}

TEST(BuiltinGrammarTest, UnquoteGrammarUri) {
  EXPECT_EQ("session:g1", GrammarRef::UnquoteGrammarUri("<session:g1>;weight=0.8"));
  EXPECT_EQ("builtin:speech/transcribe", GrammarRef::UnquoteGrammarUri("<<builtin:speech/transcribe>>"));
  EXPECT_EQ("builtin:dtmf/digits", GrammarRef::UnquoteGrammarUri("builtin:dtmf/digits"));
  EXPECT_EQ("", GrammarRef::UnquoteGrammarUri("<>"));
}

TEST(BuiltinGrammarTest, DtmfContextKeysMatchByTheirBeginning) {
  DtmfContext context;
  EXPECT_TRUE(context.SetParams({{"lengthX", "4"}, {"MinLength", "2"}, {"maxlength", "-1"}, {"digits", "9"}}));
  EXPECT_EQ(4u, context.m_Length);
  EXPECT_EQ(2u, context.m_MinLength);
  EXPECT_EQ(0u, context.m_MaxLength);
}

class GrammarTest : public RecogTest::PoolTest, public GrammarTable::Handler {
 protected:
  void SetUp() override {
    PoolTest::SetUp();
    SpeechContext* context = new SpeechContext();
    context->m_Id = "yesno";
    context->m_Configured = true;
    context->m_Scope = SpeechContext::ScopeStrict;
    context->AddPhrase("yes", "true", -1.0f);
    m_Contexts[context->m_Id] = context;
  }
  void TearDown() override {
    m_pTable.reset();
    DestroySpeechContexts(m_Contexts);
    PoolTest::TearDown();
  }

  void OnDtmfLength(const DtmfContext& context) override {
    m_Lengths.push_back({context.m_Length, context.m_MinLength, context.m_MaxLength});
  }

  GrammarTable& Table(bool skipUnsupported = true, bool acceptSrgs = true) {
    GrammarTable::Settings settings;
    settings.m_SkipUnsupportedGrammars = skipUnsupported;
    settings.m_AcceptSrgs = acceptSrgs;
    m_pTable.reset(new GrammarTable("ch1", "zorv", settings, &m_Contexts, this));
    return *m_pTable;
  }

  // DEFINE-GRAMMAR; the response status.
  int Define(const char* contentType, const char* contentId, const std::string& body) {
    mrcp_message_t* request = CreateRequest(RECOGNIZER_DEFINE_GRAMMAR, contentType, contentId, body);
    mrcp_message_t* response = mrcp_response_create(request, m_pPool);
    EXPECT_FALSE(m_pTable->DefineGrammar(request, response));
    return response->start_line.status_code;
  }

  int Activate(const char* contentType, const char* contentId, const std::string& body) {
    m_pTable->ClearActiveGrammars();
    return m_pTable->SetActiveGrammar(CreateRequest(RECOGNIZER_RECOGNIZE, contentType, contentId, body));
  }

  std::string Reference(const GrammarRef* grammar) { return grammar ? grammar->GetReference() : "none"; }

  SpeechContextMap m_Contexts;
  std::unique_ptr<GrammarTable> m_pTable;
  std::vector<std::vector<uint64_t>> m_Lengths;
};

TEST_F(GrammarTest, DefineGrammarStatusesAndMessages) {
  const std::string srgs = "<grammar root='r'><rule id='r'><one-of><item>a</item></one-of></rule></grammar>";
  struct Case {
    bool skip;
    const char* contentType;
    const char* contentId;
    std::string body;
    int status;
    const char* log;
    const char* defined;  // reference of the grammar stored under g1, or null for none
  } cases[] = {
      {true, "text/uri-list", "g1", "builtin:speech/transcribe\r\n  builtin:speech/yesno\n", 200,
       "Remove Existing Speech Grammar [g1] <ch1@zorv>", "session:g1"},
      {true, "text/uri-list", nullptr, "builtin:speech/transcribe", 406, "Missing Content-Id <ch1@zorv>", nullptr},
      {true, "text/plain", "g1", "x", 200, "Unsupported Content Type [text/plain] <ch1@zorv>", nullptr},
      {false, "text/plain", "g1", "x", 409, "Unsupported Content Type [text/plain] <ch1@zorv>", nullptr},
      {true, nullptr, "g1", "builtin:speech/transcribe", 406, "Missing Content-Type <ch1@zorv>", nullptr},
      {true, nullptr, "g9", "", 406, "Non-Existent Content-Id [g9] <ch1@zorv>", nullptr},
      {true, "text/uri-list", "g1", "http://host/g.grxml\nbuiltin:dtmf/d", 200,
       "Unsupported Grammar Format [http://host/g.grxml] <ch1@zorv>", "session:g1"},
      {false, "text/uri-list", "g1", "http://host/g.grxml\nbuiltin:dtmf/d", 409,
       "Unsupported Grammar Format [http://host/g.grxml] <ch1@zorv>", nullptr},
      {true, "text/uri-list", "g1", "builtin:voice/x", 406, "Unknown Builtin Grammar Type [builtin:voice/x] <ch1@zorv>",
       nullptr},
      {true, "text/uri-list", "g1", "builtin:speech/nothing", 200,
       "No Such Builtin Speech Grammar [nothing] <ch1@zorv>", nullptr},
      {false, "text/uri-list", "g1", "builtin:speech/nothing", 409,
       "No Such Builtin Speech Grammar [nothing] <ch1@zorv>", nullptr},
      {true, "text/grammar-ref-list", "g1", "<builtin:dtmf/digits?length=4>;weight=0.5", 200,
       "Add DTMF Grammar [g1] <ch1@zorv>", "session:g1"},
      {true, "application/xml", "g1", "<speech-context id='other'/>", 409, "Parse Speech Context [g1] <ch1@zorv>",
       nullptr},
      {true, "application/xml", "g1", "<context><phrase>a</phrase></context>", 409,
       "Unexpected XML root element <context> <ch1@zorv>", nullptr},
      {true, "application/xml", "g1", "<speech-context><phrase>a</phrase>", 409, "Failed to Terminate XML parsing",
       nullptr},
      {true, "application/xml", "g1", "", 409, "XML Content Emtpy", nullptr},
      {true, "application/srgs+xml", "g1", srgs, 200, "Add Speech Grammar [g1] <ch1@zorv>", "session:g1"},
      {true, "application/grammar+xml", "g1", "<Grammar/>", 409, "Unexpected XML root element <Grammar>", nullptr},
      {true, "application/srgs+xml", "g1", "<grammar mode='voice'><meta name='scope' content='builtin'/></grammar>",
       409, "No Such Builtin Speech Grammar [] ", nullptr},
      {true, "application/srgs+xml", "g1", "<grammar mode='video'/>", 409, "Unexpected SRGS Grammar Mode [video]",
       nullptr},
  };
  for (const Case& c : cases) {
    Table(c.skip);
    LogCapture::Clear();
    EXPECT_EQ(c.status, Define(c.contentType, c.contentId, c.body)) << c.body;
    EXPECT_TRUE(LogCapture::Contains(c.log)) << c.log;
    GrammarRef* grammar = m_pTable->FindGrammar("g1");
    EXPECT_EQ(c.defined ? c.defined : "none", Reference(grammar)) << c.body;
  }
}

TEST_F(GrammarTest, UriListDefinesOnlyTheLastLine) {
  Table();
  ASSERT_EQ(200, Define("text/uri-list", "g1", "builtin:speech/transcribe\nbuiltin:speech/yesno"));
  GrammarRef* grammar = m_pTable->FindGrammar("g1");
  ASSERT_TRUE(grammar);
  EXPECT_EQ("yesno", grammar->m_Name);
  EXPECT_EQ(m_Contexts["yesno"], grammar->m_pSpeechContext);
  EXPECT_EQ(GrammarRef::RefSession, grammar->m_RefType);
  EXPECT_EQ(1u, m_pTable->GetGrammars().size());
}

TEST_F(GrammarTest, ContentIdInAngleBracketsIsReferredToWithoutThem) {
  Table();
  ASSERT_EQ(200, Define("text/uri-list", "<request1@form-level.store>", "builtin:speech/yesno"));
  EXPECT_TRUE(m_pTable->FindGrammar("request1@form-level.store"));
  EXPECT_EQ(200, Activate("text/uri-list", nullptr, "session:request1@form-level.store"));
  EXPECT_EQ("session:request1@form-level.store", Reference(m_pTable->GetActiveSpeechGrammar()));
}

TEST_F(GrammarTest, EmptyDefineRemovesTheGrammar) {
  Table();
  ASSERT_EQ(200, Define("text/uri-list", "g1", "builtin:speech/transcribe"));
  EXPECT_EQ(200, Define(nullptr, "g1", ""));
  EXPECT_TRUE(LogCapture::Contains("Remove Existing Speech Context [g1] <ch1@zorv>"));
  EXPECT_FALSE(m_pTable->FindGrammar("g1"));
}

TEST_F(GrammarTest, SpeechContextDocumentIsStoredUnderTheContentId) {
  Table();
  ASSERT_EQ(200, Define("application/xml", "menu",
                        "<speech-context id='other' scope='strict'><phrase tag='1'>one</phrase></speech-context>"));
  GrammarRef* grammar = m_pTable->FindGrammar("menu");
  ASSERT_TRUE(grammar);
  EXPECT_FALSE(m_pTable->FindGrammar("other"));
  EXPECT_EQ("session:menu", grammar->GetReference());
  ASSERT_TRUE(grammar->m_pSpeechContext);
  EXPECT_EQ("menu", grammar->m_pSpeechContext->m_Id);
  EXPECT_EQ(SpeechContext::ScopeStrict, grammar->m_pSpeechContext->m_Scope);
  EXPECT_TRUE(LogCapture::Contains("Add Speech Context [menu] <ch1@zorv>"));
}

TEST_F(GrammarTest, SrgsScopeBuiltinUsesTheConfiguredContext) {
  Table();
  ASSERT_EQ(200, Define("application/srgs+xml", "g1",
                        "<grammar root='yesno'><meta name='scope' content='builtin'/></grammar>"));
  GrammarRef* grammar = m_pTable->FindGrammar("g1");
  ASSERT_TRUE(grammar);
  EXPECT_EQ(m_Contexts["yesno"], grammar->m_pSpeechContext);
  m_pTable.reset();  // a configured context outlives the grammar that used it
  EXPECT_EQ(1u, m_Contexts["yesno"]->m_Phrases.size());
}

TEST_F(GrammarTest, SrgsIsRefusedWhenNotAccepted) {
  Table(true, false);
  EXPECT_EQ(200, Define("application/srgs+xml", "g1", "<grammar/>"));
  EXPECT_TRUE(LogCapture::Contains("Unsupported Content Type [application/srgs+xml] <ch1@zorv>"));
  EXPECT_FALSE(m_pTable->FindGrammar("g1"));
}

TEST_F(GrammarTest, SrgsMetaTags) {
  struct Case {
    bool matchSrgs;
    const char* metas;
    bool loaded;  // a context with the rule's phrase
    SpeechContext::Scope scope;
    bool speechComplete;
    const char* name;
  } cases[] = {
      {true, "", true, SpeechContext::ScopeStrict, true, "r"},
      {false, "", true, SpeechContext::ScopeHint, false, "r"},
      {true, "<meta name='scope' content='hint'/>", true, SpeechContext::ScopeHint, false, "r"},
      {false, "<meta name='scope' content='strict'/>", true, SpeechContext::ScopeHint, false, "r"},
      {true, "<meta name='scope' content='odd'/>", true, SpeechContext::ScopeStrict, true, "r"},
      {true, "<meta name='speech-complete' content='false'/>", true, SpeechContext::ScopeStrict, false, "r"},
      {false, "<meta name='speech-complete' content='true'/>", true, SpeechContext::ScopeHint, true, "r"},
      {true, "<meta name='speech-complete' content='yes'/>", true, SpeechContext::ScopeStrict, true, "r"},
      {true, "<meta name='scope' content='transcribe'/>", false, SpeechContext::ScopeBuiltin, false, "transcribe"},
  };
  for (const Case& c : cases) {
    const apr_xml_elem* root = ParseXml(std::string("<grammar root='r' xml:lang='de-DE'>") + c.metas +
                                        "<rule id='r'><one-of><item>ja</item></one-of></rule></grammar>");
    ASSERT_TRUE(root);
    GrammarRef grammar;
    grammar.m_Id = "g";
    ASSERT_TRUE(grammar.LoadSrgsGrammar(root, m_Contexts, "transcribe", c.matchSrgs)) << c.metas;
    ASSERT_TRUE(grammar.m_pSpeechContext) << c.metas;
    EXPECT_EQ(c.scope, grammar.m_pSpeechContext->m_Scope) << c.metas;
    EXPECT_EQ(c.speechComplete, grammar.m_pSpeechContext->m_SpeechComplete) << c.metas;
    EXPECT_EQ(c.loaded ? 1u : 0u, grammar.m_pSpeechContext->m_Phrases.size()) << c.metas;
    EXPECT_EQ(c.loaded ? "de-DE" : "", grammar.m_pSpeechContext->m_Language) << c.metas;
    EXPECT_EQ(c.name, grammar.m_Name) << c.metas;
    EXPECT_EQ(GrammarRef::CategorySpeech, grammar.m_Category);
    EXPECT_EQ(GrammarRef::RefSession, grammar.m_RefType);
  }
}

TEST_F(GrammarTest, SrgsOtherMetaTagsBecomeParameters) {
  const apr_xml_elem* root = ParseXml(
      "<grammar mode='dtmf'><meta name='language' content='fr-FR'/><meta name='language' content='it-IT'/>"
      "<meta content='orphan'/></grammar>");
  ASSERT_TRUE(root);
  GrammarRef grammar;
  ASSERT_TRUE(grammar.LoadSrgsGrammar(root, m_Contexts, "transcribe", true));
  EXPECT_EQ(GrammarRef::CategoryDtmf, grammar.m_Category);
  EXPECT_EQ((GrammarRef::ParamMap{{"language", "fr-FR"}}), grammar.m_Parameters);
}

TEST_F(GrammarTest, SrgsDtmfGrammarTakesTheIdAsName) {
  Table();
  ASSERT_EQ(200, Define("application/srgs+xml", "pin",
                        "<grammar mode='dtmf'><rule><one-of><item>1 2</item></one-of></rule></grammar>"));
  GrammarRef* grammar = m_pTable->FindGrammar("pin");
  ASSERT_TRUE(grammar);
  EXPECT_EQ("pin", grammar->m_Name);
  EXPECT_EQ(GrammarRef::CategoryDtmf, grammar->m_Category);
  EXPECT_TRUE(LogCapture::Contains("Add DTMF Grammar [pin] <ch1@zorv>"));
}

TEST_F(GrammarTest, BuiltinSpeechAndDtmfGrammarsAreBothActive) {
  Table();
  EXPECT_EQ(200, Activate("text/uri-list", nullptr, "builtin:speech/transcribe\nbuiltin:dtmf/digits?length=4"));
  EXPECT_EQ("builtin:speech/transcribe", Reference(m_pTable->GetActiveSpeechGrammar()));
  EXPECT_EQ("builtin:dtmf/digits", Reference(m_pTable->GetActiveDtmfGrammar()));
  EXPECT_FALSE(m_pTable->GetActiveSpeechGrammar()->m_pSpeechContext);
  ASSERT_EQ(1u, m_Lengths.size());
  EXPECT_EQ((std::vector<uint64_t>{4, 0, 0}), m_Lengths[0]);
  // Builtin grammars stay in the table under their names.
  EXPECT_TRUE(m_pTable->FindGrammar("transcribe"));
  EXPECT_TRUE(m_pTable->FindGrammar("digits"));
}

TEST_F(GrammarTest, ActiveGrammarStatusesAndMessages) {
  struct Case {
    bool skip;
    const char* contentType;
    const char* contentId;
    std::string body;
    int status;
    const char* log;
    const char* speech;
    const char* dtmf;
  } cases[] = {
      {true, "text/uri-list", nullptr, "builtin:speech/transcribe\nbuiltin:speech/yesno", 200,
       "Speech Grammar Already Specified <ch1@zorv>", "builtin:speech/transcribe", "none"},
      {false, "text/uri-list", nullptr, "builtin:speech/transcribe\nbuiltin:speech/yesno", 409,
       "Speech Grammar Already Specified <ch1@zorv>", "builtin:speech/transcribe", "none"},
      {true, "text/uri-list", nullptr, "builtin:dtmf/a\n\n\tbuiltin:dtmf/b", 200,
       "DTMF Grammar Already Specified <ch1@zorv>", "none", "builtin:dtmf/a"},
      {true, "text/grammar-ref-list", nullptr, "<session:g1>;weight=0.8", 200, "", "session:g1", "none"},
      {true, "text/uri-list", nullptr, "session: g1\nsession:g1", 200, "Speech Grammar Already Specified <ch1@zorv>",
       "session:g1", "none"},
      {true, "text/uri-list", nullptr, "session:gx\nbuiltin:speech/transcribe", 404,
       "No Such Session Grammar [gx] <ch1@zorv>", "none", "none"},
      {true, "text/uri-list", nullptr, "builtin:speech/\nbuiltin:speech/transcribe", 406,
       "Unknown Builtin Grammar Type [builtin:speech/] <ch1@zorv>", "none", "none"},
      {true, "text/uri-list", nullptr, "http://host/g\nbuiltin:speech/transcribe", 200,
       "Unsupported Grammar Format [http://host/g] <ch1@zorv>", "builtin:speech/transcribe", "none"},
      {false, "text/uri-list", nullptr, "http://host/g\nbuiltin:speech/transcribe", 409,
       "Unsupported Grammar Format [http://host/g] <ch1@zorv>", "none", "none"},
      {true, "text/uri-list", nullptr, "builtin:speech/nothing\nbuiltin:speech/yesno", 200,
       "No Such Builtin Speech Grammar [nothing] <ch1@zorv>", "builtin:speech/yesno", "none"},
      {true, nullptr, nullptr, "builtin:speech/transcribe", 406, "Missing Content-Type <ch1@zorv>", "none", "none"},
      {true, "text/plain", nullptr, "x", 200, "Unsupported Content Type [text/plain] <ch1@zorv>", "none", "none"},
      {false, "text/plain", nullptr, "x", 409, "Unsupported Content Type [text/plain] <ch1@zorv>", "none", "none"},
      {true, "application/xml", nullptr, "<speech-context><phrase>a</phrase></speech-context>", 406,
       "Missing Content-Id <ch1@zorv>", "none", "none"},
      {true, "application/xml", "inline", "<speech-context><phrase>a</phrase></speech-context>", 200,
       "Add Speech Context [inline] <ch1@zorv>", "session:inline", "none"},
      {true, "application/xml", "inline", "<speech-context/>", 409, "Parse Speech Context [inline] <ch1@zorv>", "none",
       "none"},
      {true, "application/srgs+xml", "pin", "<grammar mode='dtmf'/>", 200, "Add DTMF Grammar [pin] <ch1@zorv>", "none",
       "session:pin"},
      {true, "application/srgs+xml", "bad",
       "<grammar mode='voice' root='nothing'><meta name='scope' "
       "content='builtin'/></grammar>",
       409, "No Such Builtin Speech Grammar [nothing] ", "none", "none"},
  };
  for (const Case& c : cases) {
    Table(c.skip);
    ASSERT_EQ(200, Define("application/xml", "g1", "<speech-context><phrase>a</phrase></speech-context>"));
    LogCapture::Clear();
    EXPECT_EQ(c.status, Activate(c.contentType, c.contentId, c.body)) << c.body;
    if (*c.log) {
      EXPECT_TRUE(LogCapture::Contains(c.log)) << c.log;
    }
    if (c.status == 200) {
      EXPECT_EQ(c.speech, Reference(m_pTable->GetActiveSpeechGrammar())) << c.body;
      EXPECT_EQ(c.dtmf, Reference(m_pTable->GetActiveDtmfGrammar())) << c.body;
    }
  }
}

// A builtin DTMF grammar named like the active speech grammar replaces it in the table; the
// replaced grammar must stop being active rather than stay behind as a dangling pointer.
TEST_F(GrammarTest, ReplacingAnActiveGrammarDeactivatesIt) {
  Table();
  EXPECT_EQ(200, Activate("text/uri-list", nullptr, "builtin:speech/transcribe\nbuiltin:dtmf/transcribe"));
  EXPECT_FALSE(m_pTable->GetActiveSpeechGrammar());
  EXPECT_EQ("builtin:dtmf/transcribe", Reference(m_pTable->GetActiveDtmfGrammar()));

  ASSERT_EQ(200, Define("application/xml", "g1", "<speech-context><phrase>a</phrase></speech-context>"));
  EXPECT_EQ(200, Activate("text/uri-list", nullptr, "session:g1"));
  EXPECT_EQ(200, Define(nullptr, "g1", ""));  // removed while active
  EXPECT_FALSE(m_pTable->GetActiveSpeechGrammar());
}

}  // namespace

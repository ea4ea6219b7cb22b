#include "RecogTestSupport.h"
#include "recog/OxaNlsml.h"
#include "recog/OxaRecogText.h"

using namespace OXA_NS;

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\"?>";

RecogResult Result(std::vector<RecogAlternative> alternatives) {
  RecogResult result;
  result.m_Alternatives = std::move(alternatives);
  return result;
}

// Stands for the service's result message.
class FakeServiceResult : public ServiceResult {
 public:
  void ComposeXml(std::ostream& stream, int level, int indent) const override {
    stream << std::string(static_cast<size_t>(level * indent), ' ') << "<is_final>true</is_final>";
    if (indent) stream << '\n';
  }
  bool ComposeJson(std::string& json) const override {
    json = "{\"isFinal\":true,\"alternatives\":[{\"transcript\":\"a<b\"}]}";
    return true;
  }
};

class NlsmlTest : public RecogTest::PoolTest {
 protected:
  void SetUp() override {
    PoolTest::SetUp();
    m_Transcribe.m_RefType = GrammarRef::RefBuiltin;
    m_Transcribe.m_Prefix = "speech/";
    m_Transcribe.m_Name = "transcribe";
    m_Transcribe.m_Id = "transcribe";
    m_Strict.m_Id = "yesno";
    SpeechContext* context = m_Strict.CreateSpeechContext("yesno", "", SpeechContext::ScopeStrict, true);
    context->AddPhrase("yes", "true", -1.0f);
    context->AddPhrase("No", "", -1.0f);
    m_Digits.m_RefType = GrammarRef::RefBuiltin;
    m_Digits.m_Category = GrammarRef::CategoryDtmf;
    m_Digits.m_Prefix = "dtmf/";
    m_Digits.m_Name = "digits";
  }

  // Composes and checks that whatever came out is well-formed.
  bool Compose(RecogResultList results, float threshold = 0.0f, const GrammarRef* grammar = nullptr) {
    m_Cause = RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
    m_ContentType = "unchanged";
    m_Body = "unchanged";
    const bool ok = ComposeSpeechResult(results, threshold, m_Settings, grammar ? grammar : &m_Transcribe, m_Cause,
                                        m_ContentType, m_Body);
    m_Results = results;
    if (ok && !m_Body.empty()) {
      EXPECT_TRUE(RecogTest::IsWellFormedXml(m_Body, m_pPool)) << m_Body;
    }
    return ok;
  }

  // The document around interpretations written with indent 2.
  static std::string Document(const std::string& interpretations) {
    return std::string(kDeclaration) + "\n<result>\n" + interpretations + "\n</result>";
  }

  static std::string Interpretation(const std::string& grammar, const std::string& confidence,
                                    const std::string& instance, const std::string& input,
                                    const char* mode = "speech") {
    return "  <interpretation grammar=\"" + grammar + "\" confidence=\"" + confidence + "\">\n    <instance>" +
           instance + "</instance>\n    <input mode=\"" + mode + "\">" + input + "</input>\n  </interpretation>";
  }

  NlsmlSettings m_Settings;
  GrammarRef m_Transcribe;
  GrammarRef m_Strict;
  GrammarRef m_Digits;
  RecogResultList m_Results;
  mrcp_recog_completion_cause_e m_Cause = RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
  std::string m_ContentType;
  std::string m_Body;
};

TEST_F(NlsmlTest, WorkedExample) {
  ASSERT_TRUE(Compose({Result({{"call home", "", 0.912f}})}));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS, m_Cause);
  EXPECT_EQ("application/x-nlsml", m_ContentType);
  EXPECT_EQ(
      "<?xml version=\"1.0\"?>\n"
      "<result>\n"
      "  <interpretation grammar=\"builtin:speech/transcribe\" confidence=\"0.91\">\n"
      "    <instance>call home</instance>\n"
      "    <input mode=\"speech\">call home</input>\n"
      "  </interpretation>\n"
      "</result>",
      m_Body);
}

TEST_F(NlsmlTest, IndentZeroWritesOneLine) {
  m_Settings.m_Indent = 0;
  ASSERT_TRUE(Compose({Result({{"call home", "", 0.912f}})}));
  EXPECT_EQ(
      "<?xml version=\"1.0\"?><result><interpretation grammar=\"builtin:speech/transcribe\" confidence=\"0.91\">"
      "<instance>call home</instance><input mode=\"speech\">call home</input></interpretation></result>",
      m_Body);
}

TEST_F(NlsmlTest, IndentFourAndASessionGrammar) {
  m_Settings.m_Indent = 4;
  GrammarRef session;
  session.m_Id = "menu";
  ASSERT_TRUE(Compose({Result({{"one", "", 0.5f}})}, 0.0f, &session));
  EXPECT_EQ(std::string(kDeclaration) +
                "\n<result>\n    <interpretation grammar=\"session:menu\" confidence=\"0.5\">\n"
                "        <instance>one</instance>\n        <input mode=\"speech\">one</input>\n"
                "    </interpretation>\n</result>",
            m_Body);
}

TEST_F(NlsmlTest, TranscriptsAreEscapedInInstanceAndInput) {
  ASSERT_TRUE(Compose({Result({{"a<b & \"c\" 'd'\ne>", "", 1.0f}})}));
  const std::string escaped = "a&lt;b &amp; &quot;c&quot; &apos;d&apos; e&gt;";
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "1", escaped, escaped)), m_Body);
}

TEST(RecogTextTest, XmlEscaping) {
  struct Case {
    std::string text;
    bool changed;
    std::string out;
  } cases[] = {
      {"plain text", false, ""},
      {"tab\tand\rcr", false, ""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", false, ""},
      {"a\nb", true, "a b"},
      {"x&y", true, "x&amp;y"},
      // Characters XML cannot carry at all would make the document unreadable.
      {std::string("nul\0bell\x07", 9), true, "nul bell "},
      {"\xEF\xBF\xBE", true, " "},
      {"bad \xC3 end", true, "bad \xEF\xBF\xBD end"},
      {"\xED\xA0\x80", true, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC0\xAF", true, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(c.changed, QuoteXmlElementText(c.text, out)) << c.text;
    EXPECT_EQ(c.changed ? c.out : "untouched", out) << c.text;
  }
}

TEST_F(NlsmlTest, ConfidenceFormats) {
  struct Case {
    float confidence;
    bool mrcpv1;
    int precision;
    const char* text;
  } cases[] = {
      {0.946f, false, 2, "0.95"},  {0.946f, true, 2, "94"},   {0.5f, false, 2, "0.5"}, {1.0f, false, 2, "1"},
      {1.0f, true, 2, "100"},      {0.12f, false, 2, "0.12"}, {0.0f, false, 2, "0"},   {0.0f, true, 2, "0"},
      {0.946f, false, 3, "0.946"}, {0.912f, false, 1, "0.9"}, {0.29f, true, 2, "29"},
  };
  for (const Case& c : cases) {
    NlsmlSettings settings;
    settings.m_Mrcpv1Confidence = c.mrcpv1;
    settings.m_ConfidencePrecision = c.precision;
    EXPECT_EQ(c.text, FormatConfidence(c.confidence, settings)) << c.confidence << " v1=" << c.mrcpv1;
  }
}

TEST_F(NlsmlTest, AlternativesBelowTheThreshold) {
  const RecogResultList results = {Result({{"low", "", 0.3f}, {"high", "", 0.8f}})};
  ASSERT_TRUE(Compose(results, 0.5f));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS, m_Cause);
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.8", "high", "high")), m_Body);

  m_Settings.m_AlternativesBelowThreshold = true;
  ASSERT_TRUE(Compose(results, 0.5f));
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.3", "low", "low") + "\n" +
                     Interpretation("builtin:speech/transcribe", "0.8", "high", "high")),
            m_Body);
}

TEST_F(NlsmlTest, EverythingBelowTheThresholdIsANoMatchWithoutBody) {
  ASSERT_TRUE(Compose({Result({{"low", "", 0.3f}})}, 0.5f));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, m_Cause);
  EXPECT_EQ("", m_ContentType);
  EXPECT_EQ("", m_Body);

  // Written below the threshold, it is still no success.
  m_Settings.m_AlternativesBelowThreshold = true;
  ASSERT_TRUE(Compose({Result({{"low", "", 0.3f}})}, 0.5f));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, m_Cause);
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.3", "low", "low")), m_Body);
}

TEST_F(NlsmlTest, EmptyTranscriptIsNoSuccess) {
  ASSERT_TRUE(Compose({Result({{"", "", 0.9f}})}));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, m_Cause);
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.9", "", "")), m_Body);
}

TEST_F(NlsmlTest, SortedAlternativesInPlace) {
  m_Settings.m_SortAlternatives = true;
  ASSERT_TRUE(Compose({Result({{"b", "", 0.4f}, {"a", "", 0.9f}, {"c", "", 0.7f}})}));
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.9", "a", "a") + "\n" +
                     Interpretation("builtin:speech/transcribe", "0.7", "c", "c") + "\n" +
                     Interpretation("builtin:speech/transcribe", "0.4", "b", "b")),
            m_Body);
  ASSERT_EQ(1u, m_Results.size());
  EXPECT_EQ("a", m_Results.front().m_Alternatives[0].m_Transcript);
}

TEST_F(NlsmlTest, ContinuousResultsAreJoinedIntoOneInterpretation) {
  ASSERT_TRUE(Compose({Result({{"hello", "", 0.9f}, {"yellow", "", 0.95f}}), Result({}), Result({{"", "", 0.1f}}),
                       Result({{" world", "", 0.7f}}), Result({{"again", "", 0.8f}})}));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS, m_Cause);
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.7", "hello world again", "hello world again")),
            m_Body);

  ASSERT_TRUE(Compose({Result({{"hello", "", 0.9f}}), Result({{"world", "", 0.4f}})}, 0.5f));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, m_Cause);
  EXPECT_EQ("", m_Body);
}

TEST_F(NlsmlTest, PhrasesGiveTheInstanceAndStrictScopeRefusesOthers) {
  ASSERT_TRUE(Compose({Result({{"Yes", "", 0.9f}})}, 0.0f, &m_Strict));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS, m_Cause);
  EXPECT_EQ(Document(Interpretation("session:yesno", "0.9", "true", "Yes")), m_Body);

  ASSERT_TRUE(Compose({Result({{"no", "", 0.9f}})}, 0.0f, &m_Strict));
  EXPECT_EQ(Document(Interpretation("session:yesno", "0.9", "No", "no")), m_Body);

  ASSERT_TRUE(Compose({Result({{"maybe", "", 0.9f}})}, 0.0f, &m_Strict));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, m_Cause);
  EXPECT_EQ(Document(Interpretation("session:yesno", "0.9", "", "maybe")), m_Body);

  m_Strict.m_pSpeechContext->m_Scope = SpeechContext::ScopeHint;
  ASSERT_TRUE(Compose({Result({{"maybe", "", 0.9f}})}, 0.0f, &m_Strict));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS, m_Cause);
  EXPECT_EQ(Document(Interpretation("session:yesno", "0.9", "maybe", "maybe")), m_Body);
}

// A matching alternative makes the recognition a success even when a weaker, non-matching
// alternative is written after it.
TEST_F(NlsmlTest, StrictScopeSuccessDoesNotDependOnTheOrderOfAlternatives) {
  ASSERT_TRUE(Compose({Result({{"yes", "", 0.9f}, {"yeah", "", 0.4f}})}, 0.0f, &m_Strict));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS, m_Cause);
  ASSERT_TRUE(Compose({Result({{"yeah", "", 0.9f}, {"yes", "", 0.4f}})}, 0.0f, &m_Strict));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS, m_Cause);
  ASSERT_TRUE(Compose({Result({{"yeah", "", 0.9f}, {"yes", "", 0.4f}})}, 0.5f, &m_Strict));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, m_Cause);
}

TEST_F(NlsmlTest, NoGrammarFailsOnlyWhenAnInterpretationIsDue) {
  RecogResultList results = {Result({{"x", "", 0.9f}})};
  mrcp_recog_completion_cause_e cause = RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
  std::string contentType, body;
  EXPECT_FALSE(ComposeSpeechResult(results, 0.0f, m_Settings, nullptr, cause, contentType, body));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_UNKNOWN, cause);
  EXPECT_TRUE(ComposeSpeechResult(results, 0.95f, m_Settings, nullptr, cause, contentType, body));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, cause);
}

TEST_F(NlsmlTest, ServiceInstanceAndSuffixes) {
  m_Settings.m_InstanceSuffix = "|req1";
  m_Settings.m_InputSuffix = "|req1";
  m_Settings.m_ConfidencePrecision = 3;
  ASSERT_TRUE(Compose({Result({{"twenty one", "21", 0.9123f}, {"twenty", "", 0.5f}})}));
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.912", "21|req1", "twenty one|req1") + "\n" +
                     Interpretation("builtin:speech/transcribe", "0.5", "twenty|req1", "twenty|req1")),
            m_Body);

  ASSERT_TRUE(Compose({Result({{"one", "1", 0.9f}}), Result({{"two", "2", 0.8f}})}));
  EXPECT_EQ(Document(Interpretation("builtin:speech/transcribe", "0.8", "1 2|req1", "one two|req1")), m_Body);
}

TEST_F(NlsmlTest, SemanticsXml) {
  m_Settings.m_TagFormat = TagFormatSemanticsXml;
  RecogResult result = Result({{"yes", "", 0.9f}});
  result.m_pServiceResult = std::make_shared<FakeServiceResult>();
  ASSERT_TRUE(Compose({result}, 0.0f, &m_Strict));
  EXPECT_EQ(Document("  <interpretation grammar=\"session:yesno\" confidence=\"0.9\">\n"
                     "    <instance>\n"
                     "      <tag>true</tag>\n"
                     "      <StreamingRecognitionResult>\n"
                     "        <is_final>true</is_final>\n"
                     "      </StreamingRecognitionResult>\n"
                     "    </instance>\n"
                     "    <input mode=\"speech\">yes</input>\n"
                     "  </interpretation>"),
            m_Body);

  // No instance text: no tag element.
  ASSERT_TRUE(Compose({Result({{"maybe", "", 0.9f}})}, 0.0f, &m_Strict));
  EXPECT_EQ(Document("  <interpretation grammar=\"session:yesno\" confidence=\"0.9\">\n"
                     "    <instance>\n"
                     "      <StreamingRecognitionResult>\n"
                     "      </StreamingRecognitionResult>\n"
                     "    </instance>\n"
                     "    <input mode=\"speech\">maybe</input>\n"
                     "  </interpretation>"),
            m_Body);
}

TEST_F(NlsmlTest, SemanticsJson) {
  m_Settings.m_TagFormat = TagFormatSemanticsJson;
  m_Settings.m_Indent = 0;
  RecogResult result = Result({{"hi", "", 0.9f}});
  result.m_pServiceResult = std::make_shared<FakeServiceResult>();
  ASSERT_TRUE(Compose({result}));
  EXPECT_EQ(std::string(kDeclaration) +
                "<result><interpretation grammar=\"builtin:speech/transcribe\" confidence=\"0.9\"><instance>"
                "<tag>hi</tag><StreamingRecognitionResult>{&quot;isFinal&quot;:true,&quot;alternatives&quot;:"
                "[{&quot;transcript&quot;:&quot;a&lt;b&quot;}]}</StreamingRecognitionResult></instance>"
                "<input mode=\"speech\">hi</input></interpretation></result>",
            m_Body);
}

TEST_F(NlsmlTest, DtmfResults) {
  struct Case {
    const char* digits;
    bool mrcpv1;
    bool context;
    SpeechContext::Scope scope;
    mrcp_recog_completion_cause_e cause;
    const char* confidence;
    const char* instance;
    const char* input;
  } cases[] = {
      {"123", false, false, SpeechContext::ScopeStrict, RECOGNIZER_COMPLETION_CAUSE_SUCCESS, "1", "123", "1 2 3"},
      {"1#", true, false, SpeechContext::ScopeStrict, RECOGNIZER_COMPLETION_CAUSE_SUCCESS, "100", "1#", "1 #"},
      {"12", false, true, SpeechContext::ScopeStrict, RECOGNIZER_COMPLETION_CAUSE_SUCCESS, "1", "twelve", "12"},
      {"99", false, true, SpeechContext::ScopeStrict, RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, "1", "", "99"},
      {"99", false, true, SpeechContext::ScopeHint, RECOGNIZER_COMPLETION_CAUSE_SUCCESS, "1", "99", "99"},
  };
  for (const Case& c : cases) {
    GrammarRef grammar;
    grammar.m_RefType = GrammarRef::RefBuiltin;
    grammar.m_Category = GrammarRef::CategoryDtmf;
    grammar.m_Prefix = "dtmf/";
    grammar.m_Name = "digits";
    if (c.context) grammar.CreateSpeechContext("digits", "", c.scope, false)->AddPhrase("12", "twelve", -1.0f);
    NlsmlSettings settings;
    settings.m_Mrcpv1Confidence = c.mrcpv1;
    mrcp_recog_completion_cause_e cause = RECOGNIZER_COMPLETION_CAUSE_SUCCESS;
    std::string contentType, body;
    ASSERT_TRUE(ComposeDtmfResult(c.digits, settings, &grammar, cause, contentType, body));
    EXPECT_EQ(c.cause, cause) << c.digits;
    EXPECT_EQ("application/x-nlsml", contentType);
    EXPECT_EQ(Document(Interpretation("builtin:dtmf/digits", c.confidence, c.instance, c.input, "dtmf")), body);
  }
}

TEST_F(NlsmlTest, DtmfResultKeepsTheDetectorsCauseAndNeedsAGrammar) {
  mrcp_recog_completion_cause_e cause = RECOGNIZER_COMPLETION_CAUSE_SUCCESS_MAXTIME;
  std::string contentType, body;
  ASSERT_TRUE(ComposeDtmfResult("5", m_Settings, &m_Digits, cause, contentType, body));
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_SUCCESS_MAXTIME, cause);
  m_Settings.m_Indent = 0;
  ASSERT_TRUE(ComposeDtmfResult("5", m_Settings, &m_Digits, cause, contentType, body));
  EXPECT_EQ(std::string(kDeclaration) +
                "<result><interpretation grammar=\"builtin:dtmf/digits\" confidence=\"1\"><instance>5</instance>"
                "<input mode=\"dtmf\">5</input></interpretation></result>",
            body);
  EXPECT_FALSE(ComposeDtmfResult("5", m_Settings, nullptr, cause, contentType, body));
}

// Content-Id values come from the client; the grammar reference must not break the attribute.
TEST_F(NlsmlTest, GrammarReferenceIsEscaped) {
  GrammarRef session;
  session.m_Id = "a\"b<c";
  ASSERT_TRUE(Compose({Result({{"x", "", 0.9f}})}, 0.0f, &session));
  EXPECT_EQ(Document(Interpretation("session:a&quot;b&lt;c", "0.9", "x", "x")), m_Body);
}

}  // namespace

#include "RecogTestSupport.h"
#include "recog/OxaSpeechContext.h"

using namespace OXA_NS;
using RecogTest::LogCapture;

namespace {

class SpeechContextTest : public RecogTest::PoolTest {};

TEST_F(SpeechContextTest, PhrasesDifferingOnlyInCaseKeepTheFirst) {
  SpeechContext context;
  EXPECT_TRUE(context.AddPhrase("Yes", "first", -1.0f));
  EXPECT_FALSE(context.AddPhrase("YES", "second", 2.0f));
  ASSERT_EQ(1u, context.m_Phrases.size());
  EXPECT_EQ("Yes", context.m_Phrases.at("yes").m_Phrase);
  EXPECT_EQ("first", context.m_Phrases.at("yes").m_Tag);
}

TEST_F(SpeechContextTest, FindPhraseIsCompleteUnlessALongerPhraseExtendsIt) {
  SpeechContext context;
  context.AddPhrase("yes", "", -1.0f);
  context.AddPhrase("yes please", "", -1.0f);
  context.AddPhrase("no", "", -1.0f);
  struct Case {
    const char* text;
    bool found;
    bool complete;
  } cases[] = {{"YES", true, false},
               {"yes please", true, true},
               {"No", true, true},
               {"yes pl", false, false},
               {"", false, false}};
  for (const Case& c : cases) {
    bool complete = !c.complete;
    EXPECT_EQ(c.found, context.FindPhrase(c.text, complete)) << c.text;
    if (c.found) {
      EXPECT_EQ(c.complete, complete) << c.text;
    }
  }
}

TEST_F(SpeechContextTest, FindPhraseGivesTheTagOrThePhraseAsWritten) {
  SpeechContext context;
  context.AddPhrase("Call Home", "", -1.0f);
  context.AddPhrase("yes", "true", -1.0f);
  std::string value;
  EXPECT_TRUE(context.FindPhrase("call home", value));
  EXPECT_EQ("Call Home", value);
  EXPECT_TRUE(context.FindPhrase("YES", value));
  EXPECT_EQ("true", value);
  EXPECT_FALSE(context.FindPhrase("maybe", value));
}

TEST_F(SpeechContextTest, GetElementTextTakesTheLeadingPiecesWithoutTheirLeadingBlanks) {
  struct Case {
    const char* xml;
    bool result;
    const char* text;
  } cases[] = {
      {"<p>\n   hello world  </p>", true, "hello world  "},
      {"<p>  \t </p>", true, ""},
      {"<p/>", false, ""},
      {"<p><b>inside</b>after</p>", false, ""},
      {"<p>before<b>inside</b>after</p>", true, "before"},
      // The parser hands over a line break and an entity as pieces of their own.
      {"<p>yes\n  please</p>", true, "yesplease"},
      {"<p>a &amp; b</p>", true, "a &b"},
  };
  for (const Case& c : cases) {
    const apr_xml_elem* root = ParseXml(c.xml);
    ASSERT_TRUE(root);
    std::string text = "unchanged";
    EXPECT_EQ(c.result, SpeechContext::GetElementText(root, text)) << c.xml;
    if (c.result) {
      EXPECT_EQ(c.text, text) << c.xml;
    }
  }
}

TEST_F(SpeechContextTest, DocumentAttributesAndPhrases) {
  const apr_xml_elem* root = ParseXml(
      "<speech-context ID='yesno' Scope='STRICT' language='en-GB' color='red'>\n"
      "  <phrase tag='true' boost='10'>yes</phrase>\n"
      "  <Phrase weight='2.5' tag='false'>\n    no  </Phrase>\n"
      "  <phrase>   </phrase>\n"
      "  <phrase/>\n"
      "  <phrase size='1'>maybe</phrase>\n"
      "  <word>x</word>\n"
      "</speech-context>");
  ASSERT_TRUE(root);
  SpeechContext context;
  context.LoadAttribs(root);
  EXPECT_TRUE(context.LoadPhrases(root));
  EXPECT_EQ("yesno", context.m_Id);
  EXPECT_EQ("en-GB", context.m_Language);
  EXPECT_EQ(SpeechContext::ScopeStrict, context.m_Scope);
  EXPECT_TRUE(context.m_SpeechComplete);
  EXPECT_FALSE(context.m_Configured);
  ASSERT_EQ(4u, context.m_Phrases.size());  // yes, no, the empty phrase, maybe
  EXPECT_FLOAT_EQ(10.0f, context.m_Phrases.at("yes").m_Weight);
  EXPECT_EQ("no  ", context.m_Phrases.at("no  ").m_Phrase);
  EXPECT_FLOAT_EQ(2.5f, context.m_Phrases.at("no  ").m_Weight);
  EXPECT_EQ("false", context.m_Phrases.at("no  ").m_Tag);
  EXPECT_EQ(1u, context.m_Phrases.count(""));
  EXPECT_FLOAT_EQ(-1.0f, context.m_Phrases.at("maybe").m_Weight);
  EXPECT_TRUE(LogCapture::Contains("Unknown Speech Context Attribute <color>"));
  EXPECT_TRUE(LogCapture::Contains("Unknown Phrase Attribute <size>"));
  EXPECT_TRUE(LogCapture::Contains("Unknown Element <word> in Speech Context <yesno>"));
  EXPECT_TRUE(LogCapture::Contains("Add Phrase [yes] with Weight [10.00] to Speech Context [yesno]"));
  EXPECT_TRUE(LogCapture::Contains("Add Phrase [maybe] to Speech Context [yesno]"));
}

TEST_F(SpeechContextTest, SpeechCompleteFollowsTheScopeUnlessGiven) {
  struct Case {
    const char* attributes;
    SpeechContext::Scope scope;
    bool speechComplete;
    const char* warning;
  } cases[] = {
      {"scope='strict'", SpeechContext::ScopeStrict, true, nullptr},
      {"scope='strict' speech-complete='false'", SpeechContext::ScopeStrict, false, nullptr},
      {"scope='hint'", SpeechContext::ScopeHint, false, nullptr},
      {"speech-complete='true'", SpeechContext::ScopeHint, true, nullptr},
      {"scope='builtin'", SpeechContext::ScopeHint, false, "Unexpected Value <builtin> for Attribute <scope>"},
      {"scope='strict' speech-complete='True'", SpeechContext::ScopeStrict, true,
       "Unexpected Value <True> for Boolean Attribute <speech-complete>"},
      {"enable='no'", SpeechContext::ScopeHint, false, "Unexpected Value <no> for Boolean Attribute <enable>"},
  };
  for (const Case& c : cases) {
    LogCapture::Clear();
    const apr_xml_elem* root = ParseXml(std::string("<speech-context ") + c.attributes + "/>");
    ASSERT_TRUE(root);
    SpeechContext context;
    context.LoadAttribs(root);
    EXPECT_EQ(c.scope, context.m_Scope) << c.attributes;
    EXPECT_EQ(c.speechComplete, context.m_SpeechComplete) << c.attributes;
    if (c.warning) {
      EXPECT_TRUE(LogCapture::Contains(c.warning)) << c.attributes;
    }
  }
}

TEST_F(SpeechContextTest, ConfiguredContextsLoadByIdAndTheFirstOfAnIdStays) {
  const apr_xml_elem* root = ParseXml(
      "<speech-contexts>"
      "<speech-context id='a'><phrase>one</phrase></speech-context>"
      "<speech-context id='a'><phrase>two</phrase></speech-context>"
      "<speech-context id='off' enable='false'><phrase>x</phrase></speech-context>"
      "<speech-context><phrase>y</phrase></speech-context>"
      "<SPEECH-CONTEXT id='b'/>"
      "<context id='c'/>"
      "</speech-contexts>");
  ASSERT_TRUE(root);
  SpeechContextMap contexts;
  EXPECT_TRUE(LoadSpeechContexts(root, contexts));
  ASSERT_EQ(2u, contexts.size());
  EXPECT_EQ(1u, contexts.at("a")->m_Phrases.count("one"));
  EXPECT_TRUE(contexts.at("a")->m_Configured);
  EXPECT_TRUE(contexts.at("b")->m_Phrases.empty());
  EXPECT_TRUE(LogCapture::Contains("Skip Disabled Speech Context <off>"));
  EXPECT_TRUE(LogCapture::Contains("Missing Speech Context Id"));
  EXPECT_TRUE(LogCapture::Contains("Unknown Element <context> in Speech Contexts"));
  DestroySpeechContexts(contexts);
  EXPECT_TRUE(contexts.empty());
}

TEST_F(SpeechContextTest, SrgsReductionTakesTheRootRulesTopLevelItems) {
  const apr_xml_elem* root = ParseXml(
      "<grammar root='main'>"
      "<rule id='other'><one-of><item>ignored</item></one-of></rule>"
      "<rule id='main'>"
      "  <one-of>"
      "    <item>red</item>"
      "    <item weight='0.5'>green<tag>out.color='g'</tag><tag>GREEN</tag></item>"
      "    <item>blue<one-of><item>nested</item></one-of></item>"
      "    <item><ruleref uri='#other'/></item>"
      "  </one-of>"
      "  <item>outside</item>"
      "</rule>"
      "</grammar>");
  ASSERT_TRUE(root);
  SpeechContext context;
  EXPECT_TRUE(context.LoadSrgsRules(root, "main"));
  ASSERT_EQ(3u, context.m_Phrases.size());
  EXPECT_EQ("", context.m_Phrases.at("red").m_Tag);
  EXPECT_EQ("GREEN", context.m_Phrases.at("green").m_Tag);
  EXPECT_FLOAT_EQ(0.5f, context.m_Phrases.at("green").m_Weight);
  EXPECT_EQ(1u, context.m_Phrases.count("blue"));
}

TEST_F(SpeechContextTest, SrgsRuleWithoutIdIsTheRootOfAGrammarWithoutRoot) {
  const apr_xml_elem* root = ParseXml("<grammar><rule><one-of><item>a</item><item>b</item></one-of></rule></grammar>");
  ASSERT_TRUE(root);
  SpeechContext context;
  context.LoadSrgsRules(root, "");
  EXPECT_EQ(2u, context.m_Phrases.size());
  SpeechContext named;
  named.LoadSrgsRules(root, "main");
  EXPECT_TRUE(named.m_Phrases.empty());
}

}  // namespace

// The Google recognizer's document settings: the attribute rules that differ from one another
// (case of names and values, lists, bad values keeping the default).
#include "OxaZorvEngine.h"
#include "OxaZorvSettings.h"
#include "OxaTestHost.h"

#include <apr_general.h>
#include <apr_xml.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using OxaTest::LogCapture;

class SettingsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    apr_initialize();
    sm_pLog = new LogCapture();
  }
  static void TearDownTestSuite() { delete sm_pLog; }

  void SetUp() override {
    apr_pool_create(&m_pPool, nullptr);
    sm_pLog->Clear();
  }
  void TearDown() override { apr_pool_destroy(m_pPool); }

  const apr_xml_elem* Parse(const std::string& text) {
    apr_xml_parser* parser = apr_xml_parser_create(m_pPool);
    apr_xml_doc* doc = nullptr;
    if (apr_xml_parser_feed(parser, text.data(), text.size()) != APR_SUCCESS ||
        apr_xml_parser_done(parser, &doc) != APR_SUCCESS)
      return nullptr;
    return doc->root;
  }

  ZORV::StreamingRecogSettings Load(const std::string& attributes) {
    ZORV::StreamingRecogSettings settings;
    const apr_xml_elem* element = Parse("<streaming-recognition " + attributes + "/>");
    EXPECT_NE(element, nullptr);
    if (element) settings.Load(element);
    return settings;
  }

  static LogCapture* sm_pLog;
  apr_pool_t* m_pPool = nullptr;
};

LogCapture* SettingsTest::sm_pLog = nullptr;

TEST_F(SettingsTest, AlternateLanguagesDropBlanksAndEmptyItems) {
  ZORV::StreamingRecogSettings settings = Load("alternate-languages=\"fr-FR, de-DE,, it-IT,\"");
  EXPECT_EQ(settings.m_AlternateLanguages, (std::vector<std::string>{"fr-FR", "de-DE", "it-IT"}));
  // A per-request value replaces the list, it does not add to it.
  ZORV::ParseAlternateLanguages("es-ES", settings.m_AlternateLanguages);
  EXPECT_EQ(settings.m_AlternateLanguages, std::vector<std::string>{"es-ES"});
}

TEST_F(SettingsTest, ValueRulesPerAttribute) {
  struct Case {
    const char* m_Attributes;
    const char* m_Warning;  // empty: none
    bool (*m_Check)(const ZORV::StreamingRecogSettings&);
  };
  const Case cases[] = {
      // Names ignore case, tag-format values do not.
      {"Tag-Format=\"SEMANTICS/XML\"", "Unexpected Value <SEMANTICS/XML> for Attribute <Tag-Format>",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_TagFormat == ZORV::TagFormatDefault; }},
      {"tag-format=\"semantics/json\"", "",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_TagFormat == ZORV::TagFormatSemanticsJson; }},
      // confidence-format and start-of-input values ignore case.
      {"confidence-format=\"MrcpV1\"", "",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_ConfidenceFormat == ZORV::ConfidenceFormatMrcpv1; }},
      {"confidence-format=\"percent\"", "Unexpected Value <percent> for Attribute <confidence-format>",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_ConfidenceFormat == ZORV::ConfidenceFormatAuto; }},
      {"START-OF-INPUT=\"Internal\"", "",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_StartOfInput == ZORV::StartOfInputInternal; }},
      // Booleans are exactly true or false.
      {"single-utterance=\"yes\"", "Unexpected Value <yes> for Boolean Attribute <single-utterance>",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_SingleUtterance; }},
      {"secure-transport=\"False\"", "Unexpected Value <False> for Boolean Attribute <secure-transport>",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_SecureTransport; }},
      {"match-srgs=\"false\" grammar-param-separator=\"|;\"", "",
       [](const ZORV::StreamingRecogSettings& s) { return !s.m_Grammar.m_MatchSrgs && s.m_Grammar.m_ParamSeparator == '|'; }},
      {"max-alternatives=\"3\" stream-creation-timeout=\"250\"", "",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_MaxAlternatives == 3 && s.m_StreamCreationTimeout == 250; }},
      {"no-such-thing=\"1\"", "Unknown Streaming Recognition Attribute <no-such-thing>",
       [](const ZORV::StreamingRecogSettings& s) { return s.m_Language == "en-US"; }},
  };
  for (const Case& c : cases) {
    sm_pLog->Clear();
    ZORV::StreamingRecogSettings settings = Load(c.m_Attributes);
    EXPECT_TRUE(c.m_Check(settings)) << c.m_Attributes;
    if (*c.m_Warning) {
      EXPECT_TRUE(sm_pLog->Contains(c.m_Warning)) << c.m_Attributes;
      continue;
    }
    for (const LogCapture::Line& line : sm_pLog->Lines()) {
      EXPECT_GT(line.m_Priority, APT_PRIO_WARNING) << c.m_Attributes << ": " << line.m_Text;
    }
  }
}

TEST_F(SettingsTest, WebhookAttributes) {
  ZORV::WebhookSettings settings;
  const apr_xml_elem* element =
      Parse("<webhook Enable=\"true\" service-uri=\"hooks:50051\" auth-token=\"t0k\" deadline=\"1500\" other=\"1\"/>");
  ASSERT_NE(element, nullptr);
  settings.Load(element);
  EXPECT_TRUE(settings.m_Enable);
  EXPECT_EQ(settings.m_ServiceUri, "hooks:50051");
  EXPECT_FALSE(settings.m_SecureConnection);
  EXPECT_EQ(settings.m_AuthToken, "t0k");
  EXPECT_EQ(settings.m_Deadline, 1500);
  EXPECT_TRUE(sm_pLog->Contains("Unknown Webhook Attribute <other>"));
}

TEST(EngineTest, RegionalAudience) {
  EXPECT_EQ(ZORV::Engine::ComposeAudience(""), "");
  EXPECT_EQ(ZORV::Engine::ComposeAudience("eu"), "https://eu-speech.googleapis.com/");
}

}  // namespace

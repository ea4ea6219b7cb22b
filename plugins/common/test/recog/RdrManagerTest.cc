#include <rapidjson/document.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

#include "RecogTestSupport.h"
#include "recog/OxaRdrManager.h"

using namespace OXA_NS;
using RecogTest::LogCapture;

namespace {

typedef RdrManager::RecognitionDetails Details;

// 2024-05-06 07:08:09 UTC, in microseconds.
const apr_time_t kStart = APR_TIME_C(1714979289) * APR_USEC_PER_SEC;

apr_time_t At(int64_t ms) { return kStart + ms * 1000; }

// The lines every record of the fixture begins with, and the input object of SpeechInput().
const std::string kHead =
    "{\"recog-details-record\": {\n"
    "   \"datetime\": \"2024-05-06 07:08:09\",\n"
    "   \"language\": \"en-US\",\n"
    "   \"sampling-rate\": \"8000 Hz\",\n"
    "   \"max-alternatives\": 2,\n";
const std::string kSpeechInput =
    "   \"input\": {\n"
    "      \"type\": \"speech\",\n"
    "      \"start-of-input-ts\": \"120 ms\",\n"
    "      \"end-of-input-ts\": \"1500 ms\",\n"
    "      \"end-of-input-cause\": \"success\",\n"
    "      \"duration\": \"1380 ms\",\n"
    "      \"size\": \"22080 bytes\"\n"
    "   },\n";

class RdrManagerTest : public RecogTest::PoolTest {
 protected:
  void SetUp() override {
    PoolTest::SetUp();
    m_Details.m_Language = "en-US";
    m_Details.m_SamplingRate = 8000;
    m_Details.m_MaxAlternatives = 2;
    m_Details.m_RequestStartTime = kStart;
  }

  // The record, checked to be valid JSON (UTF-8 validated) with the record object at its top.
  std::string Record() {
    const std::string record = m_Details.ComposeRecord();
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(record.c_str(), record.size());
    EXPECT_FALSE(document.HasParseError()) << record;
    if (!document.HasParseError()) {
      EXPECT_TRUE(document.HasMember("recog-details-record")) << record;
    }
    return record;
  }

  void SpeechInput() {
    m_Details.m_InputType = MPF_SDI_MODE_SPEECH;
    m_Details.m_StartOfInputTime = At(120);
    m_Details.m_EndOfInputTime = At(1500);
    m_Details.m_InputStats.completion_cause = MPF_SDI_CAUSE_SUCCESS;
    m_Details.m_InputStats.input_duration = 1380;
    m_Details.m_InputStats.output_size = 22080;
  }

  Details m_Details;
};

TEST_F(RdrManagerTest, SpeechRecordLineByLine) {
  SpeechInput();
  m_Details.m_StreamCreationTime = At(5);
  m_Details.m_StreamingStartTime = At(130);
  m_Details.m_StreamingEndTime = At(1700);
  m_Details.m_EndOfUtterance = true;
  m_Details.m_BytesSent = 24000;
  RecogResult first;
  first.m_Alternatives = {{"call home", "", 0.912f}, {"call Rome", "", 0.5f}};
  RecogResult second;
  second.m_Alternatives = {{"now", "", 1.0f}};
  m_Details.m_Results = {first, second};
  m_Details.m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_SUCCESS;
  m_Details.m_CompletionTime = At(1750);
  EXPECT_EQ(kHead + kSpeechInput +
                "   \"gRPC\": {\n"
                "      \"creation-ts\": \"5 ms\",\n"
                "      \"start-of-streaming-ts\": \"130 ms\",\n"
                "      \"end-of-streaming-ts\": \"1700 ms\",\n"
                "      \"end-of-utterance\": true,\n"
                "      \"sent\": \"24000 bytes\"\n"
                "   },\n"
                "   \"recog-results\": [\n"
                "      {\"alternatives\": [\n"
                "         {\"transcript\": \"call home\", \"confidence\": 0.912},\n"
                "         {\"transcript\": \"call Rome\", \"confidence\": 0.5}\n"
                "      ]},\n"
                "      {\"alternatives\": [\n"
                "         {\"transcript\": \"now\", \"confidence\": 1}\n"
                "      ]}\n"
                "   ],\n"
                "   \"completion-cause\": \"success\",\n"
                "   \"completion-ts\": \"1750 ms\"\n"
                "}}\n",
            Record());
}

TEST_F(RdrManagerTest, DtmfRecord) {
  m_Details.m_MrcpVersion = MRCP_VERSION_1;
  m_Details.m_InputType = MPF_SDI_MODE_DTMF;
  m_Details.m_StartOfInputTime = At(300);
  m_Details.m_EndOfInputTime = kStart - 1000;  // before the request: left out
  m_Details.m_InputStats.completion_cause = MPF_SDI_CAUSE_TIMEDOUT;
  m_Details.m_DtmfDigits = "12#";
  m_Details.m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_NO_MATCH;
  m_Details.m_CompletionTime = At(2000);
  EXPECT_EQ(
      kHead +
          "   \"input\": {\n"
          "      \"type\": \"dtmf\",\n"
          "      \"start-of-input-ts\": \"300 ms\",\n"
          "      \"end-of-input-cause\": \"timedout\"\n"
          "   },\n"
          "   \"dtmfs\": \"12#\",\n"
          "   \"completion-cause\": \"" +
          std::string(mrcp_recog_completion_cause_get(RECOGNIZER_COMPLETION_CAUSE_NO_MATCH, MRCP_VERSION_1)->buf) +
          "\",\n"
          "   \"completion-ts\": \"2000 ms\"\n"
          "}}\n",
      Record());
}

TEST_F(RdrManagerTest, StoppedBeforeInputHasNoInputObject) {
  m_Details.m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_CANCELLED;
  m_Details.m_CompletionTime = At(40);
  EXPECT_EQ(kHead +
                "   \"completion-cause\": \"cancelled\",\n"
                "   \"completion-ts\": \"40 ms\"\n"
                "}}\n",
            Record());
}

TEST_F(RdrManagerTest, SortedAlternativesAreWrittenByDescendingConfidence) {
  RecogResult result;
  result.m_Alternatives = {{"a", "", 0.4f}, {"b", "", 0.9f}, {"c", "", 0.7f}};
  m_Details.m_Results = {result};
  m_Details.SortAlternatives();
  const std::string record = Record();
  EXPECT_NE(std::string::npos, record.find("         {\"transcript\": \"b\", \"confidence\": 0.9},\n"
                                           "         {\"transcript\": \"c\", \"confidence\": 0.7},\n"
                                           "         {\"transcript\": \"a\", \"confidence\": 0.4}\n"))
      << record;
}

// Values are escaped so that any transcript keeps the record valid JSON.
TEST_F(RdrManagerTest, StringsAreEscaped) {
  RecogResult result;
  result.m_Alternatives = {{"say \"hi\" C:\\dir\n\x01 caf\xC3\xA9 \xFF", "", 0.5f},
                           {"nan", "", std::numeric_limits<float>::quiet_NaN()}};
  m_Details.m_Results = {result};
  m_Details.m_Language = "x\"y";
  m_Details.m_DtmfDigits = "1\\";
  const std::string record = Record();
  EXPECT_NE(std::string::npos,
            record.find("{\"transcript\": \"say \\\"hi\\\" C:\\\\dir\\n\\u0001 caf\xC3\xA9 \xEF\xBF\xBD\", "
                        "\"confidence\": 0.5},\n"))
      << record;
  EXPECT_NE(std::string::npos, record.find("{\"transcript\": \"nan\", \"confidence\": 0}\n")) << record;
  EXPECT_NE(std::string::npos, record.find("   \"language\": \"x\\\"y\",\n")) << record;
  EXPECT_NE(std::string::npos, record.find("   \"dtmfs\": \"1\\\\\",\n")) << record;
}

TEST_F(RdrManagerTest, WebSocketRecord) {
  m_Details.m_Layout = RdrManager::LayoutWebSocket;
  SpeechInput();
  m_Details.m_ConnectStartTime = At(2);
  m_Details.m_ConnectCompleteTime = At(60);
  m_Details.m_StreamingStartTime = At(125);
  m_Details.m_BytesSent = 44160;
  m_Details.m_RequestId = "0123456789abcdef0123456789abcdef";
  m_Details.m_Turns = 2;
  m_Details.m_DtmfDigits = "7";  // not part of this layout
  RecogResult result;
  result.m_Alternatives = {{"twenty one", "21", 0.875f}};
  m_Details.m_Results = {result};
  m_Details.m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_SUCCESS;
  m_Details.m_CompletionTime = At(1800);
  EXPECT_EQ(kHead + kSpeechInput +
                "   \"websocket\": {\n"
                "      \"connection-start-ts\": \"2 ms\",\n"
                "      \"connection-complete-ts\": \"60 ms\",\n"
                "      \"speech-start-ts\": \"125 ms\",\n"
                "      \"sent\": \"44160 bytes\",\n"
                "      \"request-id\": \"0123456789abcdef0123456789abcdef\",\n"
                "      \"turns\": \"2\"\n"
                "   },\n"
                "   \"recog-results\": [\n"
                "      {\"alternatives\": [\n"
                "         {\"transcript\": \"twenty one\", \"instance\": \"21\", \"confidence\": 0.875}\n"
                "      ]}\n"
                "   ],\n"
                "   \"completion-cause\": \"success\",\n"
                "   \"completion-ts\": \"1800 ms\"\n"
                "}}\n",
            Record());
}

TEST_F(RdrManagerTest, WebSocketTranscriptsLine) {
  m_Details.m_Layout = RdrManager::LayoutWebSocket;
  m_Details.m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_SUCCESS;
  m_Details.m_CompletionTime = At(10);
  struct Case {
    const char* text;
    bool key;
    const char* line;
  } cases[] = {
      {"{\"RecognitionStatus\":\"Success\"}", true, "   \"transcripts\": {\"RecognitionStatus\":\"Success\"},\n"},
      {"\"transcripts\": [{\"a\":1}]", false, "   \"transcripts\": [{\"a\":1}],\n"},
      // Text that would break the record is kept as a string.
      {"\"transcripts\": [{\"a\":1}],[{\"b\":2}]", false,
       "   \"transcripts\": \"\\\"transcripts\\\": [{\\\"a\\\":1}],[{\\\"b\\\":2}]\",\n"},
      {"not json", true, "   \"transcripts\": \"not json\",\n"},
  };
  for (const Case& c : cases) {
    m_Details.m_Transcripts = c.text;
    m_Details.m_TranscriptsKey = c.key;
    const std::string record = Record();
    EXPECT_NE(std::string::npos,
              record.find(std::string("   \"max-alternatives\": 2,\n") + c.line + "   \"completion-cause\""))
        << record;
  }
}

TEST_F(RdrManagerTest, TimestampAndInputTypeStrings) {
  std::string text = "kept";
  Details::GetTimestampStr(0, text);
  EXPECT_EQ("kept", text);
  Details::GetTimestampStr(kStart + 999999, text);
  EXPECT_EQ("2024-05-06 07:08:09", text);
  EXPECT_TRUE(Details::GetInputTypeStr(MPF_SDI_MODE_SPEECH, text));
  EXPECT_EQ("speech", text);
  EXPECT_TRUE(Details::GetInputTypeStr(MPF_SDI_MODE_DTMF, text));
  EXPECT_EQ("dtmf", text);
  EXPECT_FALSE(Details::GetInputTypeStr(MPF_SDI_MODE_BOTH, text));
}

TEST_F(RdrManagerTest, ResetsClearTheRecord) {
  SpeechInput();
  m_Details.m_Save = true;
  m_Details.m_EndOfUtterance = true;
  m_Details.m_BytesSent = 5;
  m_Details.m_Results.push_back(RecogResult());
  m_Details.m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_SUCCESS;
  m_Details.PartialReset();
  EXPECT_EQ(0, m_Details.m_StartOfInputTime);
  EXPECT_EQ(0u, m_Details.m_BytesSent);
  EXPECT_EQ(MPF_SDI_MODE_NONE, m_Details.m_InputType);
  EXPECT_FALSE(m_Details.m_EndOfUtterance);
  EXPECT_EQ(1u, m_Details.m_Results.size());
  EXPECT_TRUE(m_Details.m_Save);
  m_Details.Reset();
  EXPECT_TRUE(m_Details.m_Results.empty());
  EXPECT_FALSE(m_Details.m_Save);
  EXPECT_EQ(RECOGNIZER_COMPLETION_CAUSE_UNKNOWN, m_Details.m_CompletionCause);
  EXPECT_EQ(0u, m_Details.m_InputStats.input_duration);
}

TEST_F(RdrManagerTest, SaveRecordWritesAndRegistersTheFile) {
  char pattern[] = "/tmp/oxa-rdrm-XXXXXX";
  ASSERT_TRUE(mkdtemp(pattern));
  const std::string dir = pattern;
  RdrManager::Settings settings("oxazorv-");
  settings.m_Folder = dir;
  settings.m_UseLoggingTag = true;
  RdrManager manager(settings);
  ASSERT_TRUE(manager.LoadFileEntries());
  std::string name;
  ASSERT_TRUE(manager.ComposeName(name, "ch1", 3, "T7", m_pPool));
  EXPECT_EQ("oxazorv-ch1-3-T7.json", name);
  m_Details.m_CompletionCause = RECOGNIZER_COMPLETION_CAUSE_NO_INPUT_TIMEOUT;
  m_Details.m_CompletionTime = At(5000);
  ASSERT_TRUE(manager.SaveRecord(m_Details, name, m_pPool));
  EXPECT_EQ(1u, manager.GetFileEntryCount());
  EXPECT_EQ(At(5000), manager.GetFileEntries().begin()->first);
  std::ifstream in(dir + "/" + name);
  EXPECT_EQ(Record(), std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));

  settings.m_Folder = dir + "/missing";
  RdrManager broken(settings);
  LogCapture::Clear();
  EXPECT_FALSE(broken.SaveRecord(m_Details, name, m_pPool));
  EXPECT_EQ(0u, broken.GetFileEntryCount());
  EXPECT_TRUE(LogCapture::Contains("Failed to Open RDR File " + dir + "/missing/" + name));
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST_F(RdrManagerTest, SettingsLoad) {
  const apr_xml_elem* root = ParseXml(
      "<rdr-manager save-records='True' PURGE-EXISTING='true' max-file-age='0' max-file-count='7' "
      "record-folder='rdr' file-prefix='x-' log-level='INFO' use-logging-tag='true' other='1'/>");
  ASSERT_TRUE(root);
  RdrManager::Settings settings("oxavesk-");
  EXPECT_TRUE(settings.Load(root));
  EXPECT_FALSE(settings.m_SaveRecords);
  EXPECT_TRUE(LogCapture::Contains("Unexpected Value <True> for Boolean Attribute <save-records>"));
  EXPECT_TRUE(settings.m_PurgeExisting);
  EXPECT_EQ(0u, settings.m_MaxFileAge);
  EXPECT_EQ(7u, settings.m_MaxFileCount);
  EXPECT_EQ("rdr", settings.m_Folder);
  EXPECT_EQ("x-", settings.m_FilePrefix);
  EXPECT_EQ(".json", settings.m_FileExt);
  EXPECT_EQ(Trelka::LOG_LEVEL_INFO, settings.m_LogLevel);
  EXPECT_TRUE(settings.m_UseLoggingTag);
  EXPECT_TRUE(LogCapture::Contains("Unknown RDR Manager Attribute <other>"));
  EXPECT_TRUE(LogCapture::Contains("Load RDR Manager Attribute: record-folder = rdr"));
}

}  // namespace

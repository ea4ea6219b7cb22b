// One plugin library as the server sees it: loaded with dlopen, its entry surface called and
// its engine driven through the method tables. Built once per plugin (OXA_TEST_PLUGIN_NAME,
// OXA_TEST_PLUGIN_PATH); a library yields one engine per process, so the tests share it.
#include "OxaTestHost.h"

#include <gtest/gtest.h>

#include <apr_general.h>
#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using OxaTest::LogCapture;
using OxaTest::ReadFile;
using OxaTest::TempLayout;
using OxaTest::TestHost;

struct Codec {
  const char* m_Name;
  int m_Rates;
};

struct PluginExpectation {
  const char* m_Plugin;
  const char* m_LogSourceSymbol;
  const char* m_LogSourceName;
  const char* m_VersionLine;
  mrcp_resource_id m_ResourceId;
  const char* m_Root;
  const char* m_Failure;
  const char* m_Tag;
  const char* m_UsageWord;
  mpf_stream_direction_e m_Direction;
  std::vector<Codec> m_Codecs;
  const char* m_InternalSymbol;  // a mangled symbol that must stay hidden
  // What a usable document of the plugin needs beyond the monitoring element.
  const char* m_RootAttributes = "";
  const char* m_RequiredElements = "";
};

const PluginExpectation g_Plugins[] = {
    {"oxazorv", "ZORV_PLUGIN", "ZORV-PLUGIN", "ZORV Plugin Version [1.25.1] Date [2022-10-19]", MRCP_RECOGNIZER_RESOURCE,
     "oxazorv", "Failed to Load OXA ZORV Config", "zorv", "ZORV Usage", STREAM_DIRECTION_SEND,
     {{"LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000}}, "_ZN4ZORV10EngineBase4OpenEv",
     // A credentials file must exist; with insecure transport nothing is read from it.
     " gapp-credentials-file=\"google-credentials.json\"", "  <streaming-recognition secure-transport=\"false\"/>\n"},
    {"oxavesk", "VESK_PLUGIN", "VESK-PLUGIN", "VESK Plugin Version [1.24.4] Date [2022-10-19]", MRCP_RECOGNIZER_RESOURCE,
     "oxavesk", "Failed to Load OXA Vesk Config", "vesk", "Vesk Usage", STREAM_DIRECTION_SEND,
     {{"LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000}}, "_ZN4VESK10EngineBase4OpenEv"},
    {"oxalumo", "LUMO_PLUGIN", "LUMO-PLUGIN", "LUMO Plugin Version [1.19.2] Date [2022-10-18]", MRCP_SYNTHESIZER_RESOURCE,
     "oxalumo", "Failed to Load OXA Lumo Config", "lumo", "Lumo Usage", STREAM_DIRECTION_RECEIVE,
     {{"PCMU", MPF_SAMPLE_RATE_8000}, {"LPCM", MPF_SAMPLE_RATE_16000}}, "_ZN4LUMO10EngineBase4OpenEv"},
};

const PluginExpectation& Expected() {
  for (const PluginExpectation& plugin : g_Plugins)
    if (strcmp(plugin.m_Plugin, OXA_TEST_PLUGIN_NAME) == 0)
      return plugin;
  abort();
}

// A Google service-account file with a fresh key, as the Google recognizer's default credentials
// need one under TLS.
std::string MakeServiceAccountJson() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  BIO* bio = BIO_new(BIO_s_mem());
  std::string pem;
  if (key && bio && PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr)) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    pem.assign(data, static_cast<size_t>(size));
  }
  BIO_free(bio);
  EVP_PKEY_free(key);
  std::string escaped;
  for (char c : pem)
    escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  return "{\"type\": \"service_account\", \"project_id\": \"test\", \"private_key_id\": \"1\", "
         "\"private_key\": \"" + escaped + "\", \"client_email\": \"test@test.iam.gserviceaccount.com\", "
         "\"client_id\": \"1\", \"token_uri\": \"https://oauth2.googleapis.com/token\"}";
}

class PluginEntryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    apr_initialize();
    sm_pLog = new LogCapture();
    apr_pool_create(&sm_pPool, nullptr);
    sm_pLibrary = dlopen(OXA_TEST_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(sm_pLibrary, nullptr) << dlerror();
    auto loggerSet = reinterpret_cast<mrcp_plugin_log_accessor_f>(dlsym(sm_pLibrary, MRCP_PLUGIN_LOGGER_SYM));
    auto sourceSet = reinterpret_cast<mrcp_plugin_log_source_accessor_f>(dlsym(sm_pLibrary, MRCP_PLUGIN_LOG_SOURCE_SYM));
    sm_Create = reinterpret_cast<mrcp_plugin_creator_f>(dlsym(sm_pLibrary, MRCP_PLUGIN_CREATOR_SYM));
    ASSERT_TRUE(loggerSet && sourceSet && sm_Create);
    EXPECT_TRUE(loggerSet(apt_log_instance_get()));
    sourceSet(apt_def_log_source_get());

    sm_pEngine = sm_Create(sm_pPool);
    ASSERT_NE(sm_pEngine, nullptr);
    sm_pLayout = new TempLayout(sm_pPool);
    sm_pLayout->WriteFile("data/google-credentials.json", "{}");
    sm_pHost = new TestHost(sm_pPool);
    sm_pHost->Attach(sm_pEngine, sm_pLayout->Layout(), 4);
  }

  static void TearDownTestSuite() {
    delete sm_pHost;  // destroys the channels
    if (sm_pEngine)
      sm_pEngine->method_vtable->destroy(sm_pEngine);
    delete sm_pLayout;
    apr_pool_destroy(sm_pPool);
    delete sm_pLog;
  }

  void WriteConfig(const std::string& content) { sm_pLayout->WriteFile(std::string("conf/") + Expected().m_Root + ".xml", content); }

  static LogCapture* sm_pLog;
  static apr_pool_t* sm_pPool;
  static void* sm_pLibrary;
  static mrcp_plugin_creator_f sm_Create;
  static mrcp_engine_t* sm_pEngine;
  static TempLayout* sm_pLayout;
  static TestHost* sm_pHost;
};

LogCapture* PluginEntryTest::sm_pLog = nullptr;
apr_pool_t* PluginEntryTest::sm_pPool = nullptr;
void* PluginEntryTest::sm_pLibrary = nullptr;
mrcp_plugin_creator_f PluginEntryTest::sm_Create = nullptr;
mrcp_engine_t* PluginEntryTest::sm_pEngine = nullptr;
TempLayout* PluginEntryTest::sm_pLayout = nullptr;
TestHost* PluginEntryTest::sm_pHost = nullptr;

TEST_F(PluginEntryTest, ExportsTheEntrySurfaceOnly) {
  const PluginExpectation& expected = Expected();
  auto* version = static_cast<const mrcp_plugin_version_t*>(dlsym(sm_pLibrary, MRCP_PLUGIN_VERSION_SYM));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->major, 1u);
  EXPECT_EQ(version->minor, 8u);
  EXPECT_EQ(version->patch, 0u);
  EXPECT_EQ(version->is_dev, 0u);

  auto** source = static_cast<apt_log_source_t**>(dlsym(sm_pLibrary, expected.m_LogSourceSymbol));
  ASSERT_NE(source, nullptr);
  ASSERT_NE(*source, nullptr);
  EXPECT_STREQ((*source)->name, expected.m_LogSourceName);

  EXPECT_EQ(dlsym(sm_pLibrary, expected.m_InternalSymbol), nullptr);
  EXPECT_EQ(dlsym(sm_pLibrary, "_ZN6Trelka18SoftEventProcessor5StartEv"), nullptr);
}

TEST_F(PluginEntryTest, OneEnginePerProcess) {
  EXPECT_EQ(sm_pEngine->resource_id, Expected().m_ResourceId);
  EXPECT_EQ(sm_Create(sm_pPool), nullptr);
  // Both calls announce the version, under the plugin's own log source.
  size_t announced = 0;
  for (const LogCapture::Line& line : sm_pLog->Lines()) {
    if (line.m_Text == Expected().m_VersionLine) {
      EXPECT_EQ(line.m_Source, Expected().m_LogSourceName);
      EXPECT_EQ(line.m_Priority, APT_PRIO_NOTICE);
      announced++;
    }
  }
  EXPECT_EQ(announced, 2u);
}

TEST_F(PluginEntryTest, BadDocumentFailsTheOpenWithThePluginMessage) {
  std::string upper = Expected().m_Root;
  for (char& c : upper)
    c = static_cast<char>(toupper(c));
  WriteConfig("<" + upper + "/>");
  EXPECT_FALSE(sm_pHost->OpenEngine());
  EXPECT_TRUE(sm_pLog->Contains("Unknown Document"));
  EXPECT_TRUE(sm_pLog->Contains(Expected().m_Failure));
}

TEST_F(PluginEntryTest, SampleDocumentLoadsWithoutWarnings) {
  WriteConfig(ReadFile(OXA_TEST_SAMPLE_CONF));
  // Files named by the sample are the user's to provide.
  sm_pLayout->WriteFile("data/google-credentials.json", MakeServiceAccountJson());
  sm_pLog->Clear();
  ASSERT_TRUE(sm_pHost->OpenEngine());
  for (const LogCapture::Line& line : sm_pLog->Lines()) {
    EXPECT_GT(line.m_Priority, APT_PRIO_WARNING) << line.m_Text;
  }
  EXPECT_TRUE(sm_pHost->CloseEngine());
}

TEST_F(PluginEntryTest, OpensServesAndCloses) {
  const PluginExpectation& expected = Expected();
  const std::string root = expected.m_Root;
  WriteConfig("<?xml version=\"1.0\"?>\n<" + root + expected.m_RootAttributes + ">\n" + expected.m_RequiredElements +
              "  <monitoring-agent>\n    <usage-change-handler>\n" +
              "      <log-usage enable=\"true\"/>\n" +
              "      <update-usage enable=\"true\" status-file=\"" + root + "-usage.txt\"/>\n" +
              "    </usage-change-handler>\n  </monitoring-agent>\n</" + root + ">\n");
  ASSERT_TRUE(sm_pHost->OpenEngine());

  TestHost::ChannelRecord* channel = sm_pHost->CreateChannel("5e2c1d@speech");
  ASSERT_NE(channel, nullptr);
  mpf_audio_stream_t* stream = mrcp_engine_channel_audio_stream_get(channel->m_pHandle);
  ASSERT_NE(stream, nullptr);
  ASSERT_NE(stream->capabilities, nullptr);
  EXPECT_EQ(stream->capabilities->direction, expected.m_Direction);
  const apr_array_header_t* codecs = stream->capabilities->codecs.attrib_arr;
  ASSERT_EQ(static_cast<size_t>(codecs->nelts), expected.m_Codecs.size());
  for (size_t i = 0; i < expected.m_Codecs.size(); i++) {
    const mpf_codec_attribs_t& codec = APR_ARRAY_IDX(codecs, i, mpf_codec_attribs_t);
    EXPECT_EQ(std::string(codec.name.buf, codec.name.length), expected.m_Codecs[i].m_Name);
    EXPECT_EQ(codec.sample_rates, expected.m_Codecs[i].m_Rates);
    EXPECT_EQ(codec.frame_duration, 10u);
  }
  const mpf_audio_stream_vtable_t* table = stream->vtable;
  const bool sink = expected.m_Direction == STREAM_DIRECTION_SEND;
  EXPECT_EQ(table->write_frame != nullptr, sink);
  EXPECT_EQ(table->read_frame != nullptr, !sink);
  EXPECT_TRUE(!table->destroy && !table->open_rx && !table->close_rx && !table->open_tx && !table->close_tx &&
              !table->trace);

  ASSERT_TRUE(sm_pHost->OpenChannel(channel));
  EXPECT_TRUE(sm_pLog->Contains(std::string("Open <5e2c1d@speech@") + expected.m_Tag + ">"));
  EXPECT_TRUE(sm_pLog->Contains(std::string(expected.m_UsageWord) + ": 1/1/4"));

  // Frames of silence reach the channel's detector (idle) or read nothing yet.
  short samples[160] = {0};
  mpf_frame_t frame;
  memset(&frame, 0, sizeof(frame));
  for (int i = 0; i < 20; i++) {
    frame.type = MEDIA_FRAME_TYPE_AUDIO;
    frame.codec_frame.buffer = samples;
    frame.codec_frame.size = sizeof(samples);
    EXPECT_TRUE(sink ? table->write_frame(stream, &frame) : table->read_frame(stream, &frame));
  }

  // SET-PARAMS (0 for both resources) is answered 200 COMPLETE by every plugin.
  mrcp_message_t* response = sm_pHost->Request(channel, 0);
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(response->start_line.status_code, MRCP_STATUS_CODE_SUCCESS);
  EXPECT_EQ(response->start_line.request_state, MRCP_REQUEST_STATE_COMPLETE);

  ASSERT_TRUE(sm_pHost->CloseChannel(channel));
  EXPECT_EQ(ReadFile(sm_pLayout->Path("var/status/" + root + "-usage.txt")),
            "in-use channels: 0\nmax used channels: 1\ntotal channels: 4\n");
  // A frame after the close finds no detector and does nothing.
  if (sink) {
    EXPECT_TRUE(table->write_frame(stream, &frame));
  }
  EXPECT_TRUE(sm_pHost->CloseEngine());
}

}  // namespace

// One plugin run by the host's server side, as the MRCP server runs it: task and media threads,
// wire messages, the directory layout. Built once per plugin (OXA_TEST_PLUGIN_NAME,
// OXA_TEST_PLUGIN_PATH); one engine per process, so the tests share it and open it in turn.
#include "OxaTestHost.h"

#include <mrcphost/host_server.h>

#include <gtest/gtest.h>

#include <apr_general.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using mrcphost::HostResult;
using OxaTest::LogCapture;
using OxaTest::ReadFile;

struct PluginExpectation {
  const char* m_Plugin;
  const char* m_Failure;
  const char* m_UsageWord;
  std::vector<mrcp_method_id> m_AnsweredMethods;  // served as 200 COMPLETE without effect
  // What a usable document of the plugin needs.
  const char* m_RootAttributes = "";
  const char* m_RequiredElements = "";
};

const PluginExpectation g_Plugins[] = {
    {"oxazorv", "Failed to Load OXA ZORV Config", "ZORV Usage",
     {RECOGNIZER_SET_PARAMS, RECOGNIZER_GET_PARAMS, RECOGNIZER_INTERPRET, RECOGNIZER_GET_RESULT},
     // A credentials file must exist; with insecure transport nothing is read from it.
     " gapp-credentials-file=\"google-credentials.json\"", "<streaming-recognition secure-transport=\"false\"/>\n"},
    {"oxavesk", "Failed to Load OXA Vesk Config", "Vesk Usage",
     {RECOGNIZER_SET_PARAMS, RECOGNIZER_GET_PARAMS, RECOGNIZER_INTERPRET, RECOGNIZER_GET_RESULT}},
    {"oxalumo", "Failed to Load OXA Lumo Config", "Lumo Usage",
     {SYNTHESIZER_SET_PARAMS, SYNTHESIZER_GET_PARAMS, SYNTHESIZER_CONTROL, SYNTHESIZER_DEFINE_LEXICON}},
};

const PluginExpectation& Expected() {
  for (const PluginExpectation& plugin : g_Plugins)
    if (strcmp(plugin.m_Plugin, OXA_TEST_PLUGIN_NAME) == 0)
      return plugin;
  abort();
}

const mrcphost::Millis kTimeout(10000);
const apr_size_t kMaxChannels = 6;

class PluginServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    apr_initialize();
    sm_pLog = new LogCapture();
    apr_pool_create(&sm_pPool, nullptr);
    sm_pLayout = new OxaTest::TempLayout(sm_pPool);
    sm_pLayout->WriteFile("data/google-credentials.json", "{}");
    mrcphost::ServerConfig config;
    config.root_dir = sm_pLayout->Root();
    sm_pServer = new mrcphost::Server(config);
    std::string error;
    ASSERT_TRUE(sm_pServer->Start(&error)) << error;
    sm_pEngine = sm_pServer->LoadPlugin(OXA_TEST_PLUGIN_PATH, OXA_TEST_PLUGIN_NAME, {}, kMaxChannels, kTimeout, &error);
    ASSERT_NE(sm_pEngine, nullptr) << error;
  }

  static void TearDownTestSuite() {
    if (sm_pServer) {
      EXPECT_TRUE(sm_pServer->Shutdown(kTimeout));
    }
    delete sm_pServer;
    delete sm_pLayout;
    apr_pool_destroy(sm_pPool);
    delete sm_pLog;
  }

  void TearDown() override {
    if (sm_pEngine && sm_pEngine->IsOpen()) {
      std::string error;
      EXPECT_EQ(sm_pEngine->Close(kTimeout, &error), HostResult::kOk) << error;
    }
  }

  static void WriteConfig(const std::string& body) {
    const std::string root = OXA_TEST_PLUGIN_NAME;
    sm_pLayout->WriteFile("conf/" + root + ".xml", "<?xml version=\"1.0\"?>\n<" + root + Expected().m_RootAttributes + ">\n" +
                                                  Expected().m_RequiredElements + body + "\n</" + root + ">\n");
  }

  static std::shared_ptr<mrcphost::Channel> OpenChannel(const std::string& id) {
    mrcphost::ChannelConfig config;
    config.id = id;
    std::string error;
    std::shared_ptr<mrcphost::Channel> channel = sm_pEngine->CreateChannel(config, kTimeout, &error);
    EXPECT_NE(channel, nullptr) << error;
    if (channel) {
      EXPECT_EQ(channel->Open(kTimeout, &error), HostResult::kOk) << error;
    }
    return channel;
  }

  static std::string StatusFile(const std::string& name) { return ReadFile(sm_pLayout->Path("var/status/" + name)); }

  static LogCapture* sm_pLog;
  static apr_pool_t* sm_pPool;
  static OxaTest::TempLayout* sm_pLayout;
  static mrcphost::Server* sm_pServer;
  static mrcphost::Engine* sm_pEngine;
};

LogCapture* PluginServerTest::sm_pLog = nullptr;
apr_pool_t* PluginServerTest::sm_pPool = nullptr;
OxaTest::TempLayout* PluginServerTest::sm_pLayout = nullptr;
mrcphost::Server* PluginServerTest::sm_pServer = nullptr;
mrcphost::Engine* PluginServerTest::sm_pEngine = nullptr;

TEST_F(PluginServerTest, SecondLoadInOneProcessYieldsNoEngine) {
  std::string error;
  EXPECT_EQ(sm_pServer->LoadPlugin(OXA_TEST_PLUGIN_PATH, "second", {}, kMaxChannels, kTimeout, &error), nullptr);
}

TEST_F(PluginServerTest, BadDocumentsFailTheOpenWithThePluginMessage) {
  const std::string root = OXA_TEST_PLUGIN_NAME;
  std::string upper = root;
  for (char& c : upper)
    c = static_cast<char>(toupper(c));
  struct Case {
    const char* m_Name;
    std::string m_Content;  // empty: no file
    const char* m_Message;
  };
  const Case cases[] = {
      {"missing", "", "Failed to Open Config File ["},
      {"malformed", "<" + root + "><monitoring-agent></" + root + ">", "Failed to Parse Config File ["},
      {"root case", "<" + upper + "/>", "Unknown Document"},
  };
  for (const Case& c : cases) {
    std::remove(sm_pLayout->Path("conf/" + root + ".xml").c_str());
    if (!c.m_Content.empty())
      sm_pLayout->WriteFile("conf/" + root + ".xml", c.m_Content);
    sm_pLog->Clear();
    std::string error;
    EXPECT_NE(sm_pEngine->Open(kTimeout, &error), HostResult::kOk) << c.m_Name;
    EXPECT_FALSE(sm_pEngine->IsOpen()) << c.m_Name;
    EXPECT_TRUE(sm_pLog->Contains(c.m_Message)) << c.m_Name;
    EXPECT_TRUE(sm_pLog->Contains(Expected().m_Failure)) << c.m_Name;
  }
}

TEST_F(PluginServerTest, UsageAndChannelFilesFollowTheOpenChannels) {
  WriteConfig(
      "<Monitoring-Agent><Usage-Change-Handler>"
      "<log-usage enable=\"true\"/>"
      "<update-usage enable=\"true\" status-file=\"usage.txt\"/>"
      "<dump-channels enable=\"true\" status-file=\"channels.txt\"/>"
      "</Usage-Change-Handler></Monitoring-Agent>");
  std::string error;
  ASSERT_EQ(sm_pEngine->Open(kTimeout, &error), HostResult::kOk) << error;
  EXPECT_EQ(StatusFile("channels.txt"), "");

  std::shared_ptr<mrcphost::Channel> first = OpenChannel("3f6a1c90");
  std::shared_ptr<mrcphost::Channel> second = OpenChannel("b72e44d1");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(StatusFile("channels.txt"), "3f6a1c90\nb72e44d1\n");
  ASSERT_EQ(first->Close(kTimeout, &error), HostResult::kOk) << error;
  EXPECT_EQ(StatusFile("usage.txt"), "in-use channels: 1\nmax used channels: 2\ntotal channels: 6\n");
  EXPECT_EQ(StatusFile("channels.txt"), "b72e44d1\n");
  EXPECT_TRUE(sm_pLog->Contains(std::string(Expected().m_UsageWord) + ": 1/2/6"));
  ASSERT_EQ(second->Close(kTimeout, &error), HostResult::kOk) << error;
  EXPECT_EQ(StatusFile("channels.txt"), "");
}

TEST_F(PluginServerTest, EveryRequestIsAnsweredAndAnIdleCloseToo) {
  WriteConfig("");
  std::string error;
  ASSERT_EQ(sm_pEngine->Open(kTimeout, &error), HostResult::kOk) << error;
  std::shared_ptr<mrcphost::Channel> channel = OpenChannel("5d0e7a22");
  ASSERT_NE(channel, nullptr);
  // Input flows meanwhile: a recognizer's detector takes the frames, idle.
  if (channel->Resource() == MRCP_RECOGNIZER_RESOURCE) {
    ASSERT_TRUE(channel->QueueSilence(mrcphost::Millis(200), &error)) << error;
    ASSERT_TRUE(channel->QueueDtmf("12#", mrcphost::Millis(60), mrcphost::Millis(40), &error)) << error;
  }
  for (mrcp_method_id method : Expected().m_AnsweredMethods) {
    mrcphost::WireMessage sent;
    ASSERT_TRUE(channel->SendRequest(channel->CreateRequest(method), &sent, &error)) << error;
    mrcphost::WireMessage response;
    ASSERT_TRUE(channel->WaitMessage(
        [&](const mrcphost::WireMessage& m) {
          return m.type == MRCP_MESSAGE_TYPE_RESPONSE && m.request_id == sent.request_id;
        },
        mrcphost::SteadyClock::now() + kTimeout, &response))
        << sent.name;
    EXPECT_EQ(response.status_code, 200) << sent.name;
    EXPECT_EQ(response.request_state, MRCP_REQUEST_STATE_COMPLETE) << sent.name;
  }
  if (channel->Resource() == MRCP_RECOGNIZER_RESOURCE) {
    EXPECT_TRUE(channel->WaitInputDrained(mrcphost::SteadyClock::now() + kTimeout));
    EXPECT_GT(channel->GetStats().frames_written, 20u);
  }
  EXPECT_EQ(channel->Close(kTimeout, &error), HostResult::kOk) << error;
}

}  // namespace

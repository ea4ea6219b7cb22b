// The shared engine core driven through the host's method tables: configuration frame,
// open and close, channel bookkeeping and usage monitoring.
#include "OxaChannelBase.h"
#include "OxaEngineBase.h"
#include "OxaPluginEntry.h"
#include "OxaTestHost.h"

#include <gtest/gtest.h>

#include <apr_general.h>

#include <memory>
#include <string>

namespace OXA_NS {

static const CodecEntry g_Codecs[] = {{"LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000}};
const PluginTraits g_PluginTraits = {"TEST",
                                      "test",
                                      "TEST-PLUGIN",
                                      "TEST Plugin Version [0.0.0] Date [2022-01-01]",
                                      "oxatest.xml",
                                      "oxatest",
                                      "Failed to Load OXA TEST Config",
                                      MRCP_RECOGNIZER_RESOURCE,
                                      STREAM_DIRECTION_SEND,
                                      g_Codecs,
                                      1};

class TestChannel : public ChannelBase {
 public:
  using ChannelBase::ChannelBase;
};

class TestEngine : public EngineBase {
 public:
  TestEngine() : EngineBase(g_PluginTraits) {
    AddDocumentAttribute("credentials-file", &m_CredentialsFile);
    AddElementLoader("later-settings", AcceptElement);
  }
  ChannelBase* CreateChannelObject() override { return new TestChannel(this); }

  std::string m_CredentialsFile;
};

EngineBase* CreateEngineObject() {
  return new TestEngine();
}

}  // namespace OXA_NS

namespace {

using OxaTest::FileExists;
using OxaTest::LogCapture;
using OxaTest::ReadFile;
using OxaTest::TempLayout;
using OxaTest::TestHost;

const mrcp_engine_method_vtable_t g_EngineVtable = {OXA_NS::DestroyEngine, OXA_NS::OpenEngine, OXA_NS::CloseEngine,
                                                    OXA_NS::CreateChannel};
const apr_size_t kMaxChannels = 8;

class EngineCoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }

  void SetUp() override {
    m_pLog.reset(new LogCapture());
    apr_pool_create(&m_pPool, nullptr);
    m_pLayout.reset(new TempLayout(m_pPool));
    m_pHost.reset(new TestHost(m_pPool));
    m_pEngine = new OXA_NS::TestEngine();
    mrcp_engine_t* handle = mrcp_engine_create(MRCP_RECOGNIZER_RESOURCE, m_pEngine, &g_EngineVtable, m_pPool);
    ASSERT_NE(handle, nullptr);
    m_pEngine->SetMrcpEngine(handle);
    m_pHost->Attach(handle, m_pLayout->Layout(), kMaxChannels);
  }

  void TearDown() override {
    if (m_Open) {
      EXPECT_TRUE(m_pHost->CloseEngine());
    }
    m_pHost->DestroyEngine();
    m_pHost.reset();
    m_pLayout.reset();
    apr_pool_destroy(m_pPool);
    m_pLog.reset();
  }

  void WriteConfig(const std::string& body, const std::string& attributes = "") {
    m_pLayout->WriteFile("conf/oxatest.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oxatest" + attributes + ">\n" + body + "\n</oxatest>\n");
  }

  bool Open() {
    m_Open = m_pHost->OpenEngine();
    return m_Open;
  }

  std::string StatusPath(const std::string& name) const { return m_pLayout->Path("var/status/" + name); }

  TestHost::ChannelRecord* OpenChannel(const std::string& id) {
    TestHost::ChannelRecord* channel = m_pHost->CreateChannel(id);
    EXPECT_NE(channel, nullptr);
    if (channel) {
      EXPECT_TRUE(m_pHost->OpenChannel(channel));
    }
    return channel;
  }

  std::unique_ptr<LogCapture> m_pLog;
  apr_pool_t* m_pPool = nullptr;
  std::unique_ptr<TempLayout> m_pLayout;
  std::unique_ptr<TestHost> m_pHost;
  OXA_NS::TestEngine* m_pEngine = nullptr;
  bool m_Open = false;
};

// ---------- documents that fail the open ----------

struct BadDocument {
  const char* m_Name;
  const char* m_Content;  // null: no file at all
  const char* m_Message;
};

const BadDocument g_BadDocuments[] = {
    {"MissingFile", nullptr, "Failed to Open Config File ["},
    {"EmptyFile", "", "Failed to Parse Config File ["},
    {"Malformed", "<oxatest><monitoring-agent></oxatest>", "Failed to Parse Config File ["},
    {"Truncated", "<?xml version=\"1.0\"?>\n<oxatest><monitoring-agent refresh-period=\"3", "Failed to Parse Config File ["},
    {"Garbage", "\x01\x02\xff\xfe<<>>&&;", "Failed to Parse Config File ["},
    {"RootInOtherCase", "<OxaTest/>", "Unknown Document"},
    {"OtherPluginRoot", "<oxazorv/>", "Unknown Document"},
    {"TextOnly", "just words", "Failed to Parse Config File ["},
};

class BadDocumentTest : public EngineCoreTest, public ::testing::WithParamInterface<BadDocument> {};

TEST_P(BadDocumentTest, FailsTheOpenWithThePluginMessage) {
  const BadDocument& doc = GetParam();
  if (doc.m_Content)
    m_pLayout->WriteFile("conf/oxatest.xml", doc.m_Content);
  EXPECT_FALSE(Open());
  EXPECT_TRUE(m_pLog->Contains(doc.m_Message));
  EXPECT_TRUE(m_pLog->Contains("Failed to Load OXA TEST Config"));
  // Open failed at once: no logger, no event processor, no answer from the event thread.
  EXPECT_EQ(m_pEngine->GetEventProcessor(), nullptr);
  EXPECT_EQ(m_pHost->OpenResponses(), 0);
}

INSTANTIATE_TEST_SUITE_P(Documents, BadDocumentTest, ::testing::ValuesIn(g_BadDocuments),
                         [](const ::testing::TestParamInfo<BadDocument>& info) { return info.param.m_Name; });

TEST_F(EngineCoreTest, MissingLayoutDirectoryFailsTheOpen) {
  WriteConfig("");
  for (apr_size_t entry : {APT_LAYOUT_VAR_DIR, APT_LAYOUT_DATA_DIR}) {
    TempLayout layout(m_pPool);
    layout.WriteFile("conf/oxatest.xml", "<oxatest/>");
    apt_dir_layout_path_set(layout.Layout(), entry, nullptr, m_pPool);
    m_pHost->Attach(m_pHost->Engine(), layout.Layout(), kMaxChannels);
    EXPECT_FALSE(Open()) << "entry " << entry;
  }
  EXPECT_EQ(m_pLog->Count("Failed to Load OXA TEST Config"), 2u);
}

TEST_F(EngineCoreTest, OpensAnswersFromTheEventThreadAndCloses) {
  WriteConfig("");
  ASSERT_TRUE(Open());
  EXPECT_EQ(m_pHost->OpenResponses(), 1);
  EXPECT_TRUE(m_pLog->Contains("Open Config File ["));
  EXPECT_TRUE(m_pHost->CloseEngine());
  m_Open = false;
  // The engine can be opened again after a close.
  ASSERT_TRUE(Open());
  EXPECT_EQ(m_pHost->OpenResponses(), 2);
}

// ---------- document content ----------

TEST_F(EngineCoreTest, ElementAndAttributeNamesIgnoreCase) {
  WriteConfig(
      "<Monitoring-Agent>\n"
      "  <USAGE-CHANGE-HANDLER>\n"
      "    <Update-Usage Enable=\"true\" STATUS-FILE=\"usage.txt\"/>\n"
      "  </USAGE-CHANGE-HANDLER>\n"
      "</Monitoring-Agent>",
      " Credentials-File=\"key.json\"");
  ASSERT_TRUE(Open());
  EXPECT_EQ(m_pEngine->m_CredentialsFile, "key.json");
  EXPECT_EQ(ReadFile(StatusPath("usage.txt")), "in-use channels: 0\nmax used channels: 0\ntotal channels: 8\n");
}

TEST_F(EngineCoreTest, BadBooleanIsLoggedAndKeepsTheDefault) {
  WriteConfig(
      "<monitoring-agent><usage-change-handler>"
      "<update-usage enable=\"TRUE\" status-file=\"usage.txt\"/>"
      "<dump-channels enable=\"yes\" status-file=\"channels.txt\"/>"
      "</usage-change-handler></monitoring-agent>");
  ASSERT_TRUE(Open());
  EXPECT_TRUE(m_pLog->Contains("Unexpected Value <TRUE> for Boolean Attribute <enable>"));
  EXPECT_TRUE(m_pLog->Contains("Unexpected Value <yes> for Boolean Attribute <enable>"));
  EXPECT_FALSE(m_pEngine->GetMonitoringSettings().m_UsageChangeHandler.m_UpdateUsage.m_Enable);
  EXPECT_FALSE(FileExists(StatusPath("usage.txt")));
  EXPECT_FALSE(FileExists(StatusPath("channels.txt")));
}

TEST_F(EngineCoreTest, UnknownNamesAreLoggedAndTheRestLoads) {
  WriteConfig(
      "<synth-settings voice-name=\"x\"/>\n"
      "<later-settings anything=\"goes\"/>\n"
      "<monitoring-agent refresh-period=\"60\" bogus=\"1\">\n"
      "  <usage-change-handler>\n"
      "    <update-usage enable=\"true\" status-file=\"usage.txt\" colour=\"red\"/>\n"
      "    <log-usage enable=\"true\" volume=\"11\"/>\n"
      "    <ring-bell/>\n"
      "  </usage-change-handler>\n"
      "  <usage-party-handler/>\n"
      "</monitoring-agent>",
      " bogus-file=\"x\"");
  ASSERT_TRUE(Open());
  EXPECT_TRUE(m_pLog->Contains("Unknown Document Attribute <bogus-file>"));
  EXPECT_TRUE(m_pLog->Contains("Unknown Element <synth-settings>"));
  EXPECT_FALSE(m_pLog->Contains("Unknown Element <later-settings>"));
  EXPECT_TRUE(m_pLog->Contains("Unknown Monitoring Attribute <bogus>"));
  EXPECT_TRUE(m_pLog->Contains("Unknown Status File Attribute <colour>"));
  EXPECT_TRUE(m_pLog->Contains("Unknown Log Statement Attribute <volume>"));
  EXPECT_TRUE(m_pLog->Contains("Unknown Element <ring-bell> in <usage-change-handler>"));
  EXPECT_TRUE(m_pLog->Contains("Unknown Element <usage-party-handler> in <monitoring-agent>"));
  EXPECT_EQ(m_pEngine->GetMonitoringSettings().m_RefreshPeriod, 60);
  EXPECT_TRUE(FileExists(StatusPath("usage.txt")));
}

TEST_F(EngineCoreTest, RelativeStatusFilesGoToTheStatusDirectoryAbsoluteOnesStay) {
  const std::string absolute = m_pLayout->Path("data/channels-abs.txt");
  WriteConfig(
      "<monitoring-agent><usage-change-handler>"
      "<update-usage enable=\"true\" status-file=\"usage.txt\"/>"
      "<dump-channels enable=\"true\" status-file=\"" +
      absolute +
      "\"/>"
      "</usage-change-handler>"
      "<usage-refresh-handler><update-usage enable=\"false\" status-file=\"never.txt\"/></usage-refresh-handler>"
      "</monitoring-agent>");
  ASSERT_TRUE(Open());
  const OXA_NS::MonitoringHandler& change = m_pEngine->GetMonitoringSettings().m_UsageChangeHandler;
  EXPECT_EQ(change.m_UpdateUsage.m_StatusFile, StatusPath("usage.txt"));
  EXPECT_EQ(change.m_DumpChannels.m_StatusFile, absolute);
  // A disabled file is not resolved.
  EXPECT_EQ(m_pEngine->GetMonitoringSettings().m_UsageRefreshHandler.m_UpdateUsage.m_StatusFile, "never.txt");
  EXPECT_TRUE(FileExists(StatusPath("usage.txt")));
  EXPECT_TRUE(FileExists(absolute));
}

// ---------- monitoring ----------

const char* const kChangeFiles =
    "<monitoring-agent><usage-change-handler>"
    "<log-usage enable=\"true\" priority=\"WARNING\"/>"
    "<update-usage enable=\"true\" status-file=\"usage.txt\"/>"
    "<dump-channels enable=\"true\" status-file=\"channels.txt\"/>"
    "</usage-change-handler></monitoring-agent>";

TEST_F(EngineCoreTest, UsageFileAfterTwoOpensAndOneClose) {
  WriteConfig(kChangeFiles);
  ASSERT_TRUE(Open());
  TestHost::ChannelRecord* first = OpenChannel("ch-1");
  TestHost::ChannelRecord* second = OpenChannel("ch-2");
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(m_pHost->CloseChannel(first));
  EXPECT_EQ(ReadFile(StatusPath("usage.txt")), "in-use channels: 1\nmax used channels: 2\ntotal channels: 8\n");
  EXPECT_TRUE(m_pLog->Contains("TEST Usage: 1/2/8"));
  for (const LogCapture::Line& line : m_pLog->Lines()) {
    if (line.m_Text.find("TEST Usage:") != std::string::npos) {
      EXPECT_EQ(line.m_Priority, APT_PRIO_WARNING);
    }
  }
}

TEST_F(EngineCoreTest, DumpFileListsExactlyTheOpenChannels) {
  WriteConfig(kChangeFiles);
  ASSERT_TRUE(Open());
  EXPECT_EQ(ReadFile(StatusPath("channels.txt")), "");
  TestHost::ChannelRecord* a = OpenChannel("a1b2c3@speechrecog");
  TestHost::ChannelRecord* b = OpenChannel("d4e5f6@speechrecog");
  TestHost::ChannelRecord* c = OpenChannel("0789ab@speechrecog");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(ReadFile(StatusPath("channels.txt")), "a1b2c3@speechrecog\nd4e5f6@speechrecog\n0789ab@speechrecog\n");
  ASSERT_TRUE(m_pHost->CloseChannel(b));
  EXPECT_EQ(ReadFile(StatusPath("channels.txt")), "a1b2c3@speechrecog\n0789ab@speechrecog\n");
  ASSERT_TRUE(m_pHost->CloseChannel(a));
  ASSERT_TRUE(m_pHost->CloseChannel(c));
  EXPECT_EQ(ReadFile(StatusPath("channels.txt")), "");
}

TEST_F(EngineCoreTest, UnwritableStatusFileIsLoggedAtEachTrigger) {
  WriteConfig(
      "<monitoring-agent><usage-change-handler>"
      "<update-usage enable=\"true\" status-file=\"no-such-dir/usage.txt\"/>"
      "</usage-change-handler></monitoring-agent>");
  ASSERT_TRUE(Open());
  // Before and after the start work.
  EXPECT_EQ(m_pLog->Count("Failed to Open Status File"), 2u);
  TestHost::ChannelRecord* channel = OpenChannel("ch-1");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(m_pLog->Count("Failed to Open Status File"), 3u);
  ASSERT_TRUE(m_pHost->CloseChannel(channel));
  EXPECT_EQ(m_pLog->Count("Failed to Open Status File"), 4u);
}

TEST_F(EngineCoreTest, RefreshTimerRunsOnlyWhenTheRefreshHandlerActs) {
  WriteConfig(
      "<monitoring-agent refresh-period=\"1\"><usage-refresh-handler>"
      "<log-usage enable=\"false\"/><update-usage enable=\"false\"/><dump-channels enable=\"false\"/>"
      "</usage-refresh-handler></monitoring-agent>");
  ASSERT_TRUE(Open());
  EXPECT_FALSE(m_pLog->Contains("Set Usage Refresh Timer"));
}

TEST_F(EngineCoreTest, RefreshTimerLogsUsagePeriodically) {
  WriteConfig(
      "<monitoring-agent refresh-period=\"1\"><usage-refresh-handler>"
      "<log-usage enable=\"true\" priority=\"INFO\"/>"
      "</usage-refresh-handler></monitoring-agent>");
  ASSERT_TRUE(Open());
  EXPECT_TRUE(m_pLog->Contains("Set Usage Refresh Timer [1 sec]"));
  EXPECT_TRUE(m_pLog->WaitFor("TEST Usage: 0/0/8", 2, std::chrono::seconds(10)));
}

TEST_F(EngineCoreTest, RefreshPeriodThatCannotBeTimedStartsNoTimer) {
  for (const char* period : {"0", "-5", "abc", "99999999999999999999"}) {
    m_pLog->Clear();
    WriteConfig(std::string("<monitoring-agent refresh-period=\"") + period +
                "\"><usage-refresh-handler><log-usage enable=\"true\"/></usage-refresh-handler></monitoring-agent>");
    ASSERT_TRUE(Open()) << period;
    EXPECT_TRUE(m_pLog->Contains("Invalid Usage Refresh Period")) << period;
    EXPECT_FALSE(m_pLog->Contains("Set Usage Refresh Timer")) << period;
    ASSERT_TRUE(m_pHost->CloseEngine());
    m_Open = false;
  }
}

// ---------- channels ----------

TEST_F(EngineCoreTest, EveryRequestIsAnsweredAndIdleCloseToo) {
  WriteConfig("");
  ASSERT_TRUE(Open());
  TestHost::ChannelRecord* channel = OpenChannel("ch-1");
  ASSERT_NE(channel, nullptr);
  for (mrcp_method_id method : {mrcp_method_id(RECOGNIZER_RECOGNIZE), mrcp_method_id(RECOGNIZER_STOP), mrcp_method_id(57)}) {
    mrcp_message_t* response = m_pHost->Request(channel, method);
    ASSERT_NE(response, nullptr) << method;
    EXPECT_EQ(response->start_line.message_type, MRCP_MESSAGE_TYPE_RESPONSE);
    EXPECT_EQ(response->start_line.status_code, MRCP_STATUS_CODE_SUCCESS);
    EXPECT_EQ(response->start_line.request_state, MRCP_REQUEST_STATE_COMPLETE);
    EXPECT_EQ(response->start_line.method_id, method);
  }
  EXPECT_TRUE(m_pHost->CloseChannel(channel));
  EXPECT_EQ(channel->m_CloseResponses, 1);
  EXPECT_TRUE(m_pLog->Contains("Open <ch-1@test>"));
  EXPECT_TRUE(m_pLog->Contains("Close <ch-1@test>"));
}

TEST_F(EngineCoreTest, ChannelEventOfUnknownKindIsIgnored) {
  WriteConfig(kChangeFiles);
  ASSERT_TRUE(Open());
  TestHost::ChannelRecord* channel = OpenChannel("ch-1");
  ASSERT_NE(channel, nullptr);
  OXA_NS::ChannelBase* object = static_cast<OXA_NS::ChannelBase*>(channel->m_pHandle->method_obj);
  ASSERT_TRUE(object->SignalEvent(5, nullptr));
  ASSERT_TRUE(object->SignalEvent(250, nullptr));
  // Events run in order: once the request is answered, the unknown kinds have been handled.
  ASSERT_NE(m_pHost->Request(channel, RECOGNIZER_SET_PARAMS), nullptr);
  EXPECT_EQ(channel->m_Messages.size(), 1u);
  EXPECT_EQ(channel->m_OpenResponses, 1);
  EXPECT_EQ(channel->m_CloseResponses, 0);
  EXPECT_EQ(ReadFile(StatusPath("channels.txt")), "ch-1\n");
}

}  // namespace

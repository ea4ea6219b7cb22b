#include "TrelkaTestSupport.h"

#include <trelka/TrelkaLogFacility.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace Trelka;
using namespace TrelkaTest;

namespace {

TEST(LogLevelNames, TablesAndExactTranslation) {
  const char* names[] = {"EMERGENCY", "ALERT", "CRITICAL", "ERROR", "WARNING", "NOTICE", "INFO", "DEBUG"};
  const char* formatted[] = {"EMERG  ", "ALERT  ", "CRITIC ", "ERROR  ", "WARN   ", "NOTICE ", "INFO   ", "DEBUG  "};
  for (int i = 0; i < 8; ++i) {
    LogLevel level = static_cast<LogLevel>(i);
    EXPECT_EQ(GetLogLevelName(level), names[i]);
    EXPECT_EQ(GetLogLevelFormattedName(level), formatted[i]);
    EXPECT_EQ(GetLogLevelFormattedName(level).size(), 7u);
    LogLevel parsed = LOG_LEVEL_EMERGENCY;
    EXPECT_TRUE(TranslateLogLevel(names[i], parsed));
    EXPECT_EQ(parsed, level);
  }
  for (const char* bad : {"warning", "Warning", "WARN   ", "WARN", "", "DEBUG ", "8"}) {
    LogLevel level = LOG_LEVEL_ALERT;
    EXPECT_FALSE(TranslateLogLevel(bad, level)) << bad;
    EXPECT_EQ(level, LOG_LEVEL_ALERT);
  }
}

// Every test leaves no logger behind.
class LoggerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Logger::GetInstance(), nullptr);
    m_pLogger = Logger::CreateInstance();
    ASSERT_NE(m_pLogger, nullptr);
  }
  void TearDown() override {
    while (Logger::GetInstance()) Logger::DestroyInstance();
  }
  CapturingLogDevice* AddDevice(const std::string& name, bool result = true) {
    CapturingLogDevice* device = new CapturingLogDevice(name, m_Sink, result);
    EXPECT_TRUE(m_pLogger->AddLogDevice(device));
    return device;
  }

  Logger* m_pLogger = nullptr;
  std::shared_ptr<LogSink> m_Sink = std::make_shared<LogSink>();
};

TEST_F(LoggerFixture, FacilityLevelComesFromLongestConfiguredPrefix) {
  EXPECT_TRUE(m_pLogger->AddFacilityConfig("ABC", "DEBUG"));
  EXPECT_TRUE(m_pLogger->AddFacilityConfig("XY", "ERROR"));
  EXPECT_FALSE(m_pLogger->AddFacilityConfig("XY", "debug"));
  struct Case {
    const char* name;
    LogLevel level;
  } cases[] = {{"ABC", LOG_LEVEL_DEBUG},   {"ABCD", LOG_LEVEL_DEBUG}, {"AB", LOG_LEVEL_INFO},
               {"A", LOG_LEVEL_INFO},      {"", LOG_LEVEL_INFO},      {"XY", LOG_LEVEL_ERROR},
               {"XYZZY", LOG_LEVEL_ERROR}, {"X", LOG_LEVEL_INFO},     {"QRS", LOG_LEVEL_INFO}};
  for (const Case& c : cases) EXPECT_EQ(LogFacility(c.name).GetLevel(), c.level) << c.name;

  // The global level moves the root, also for names on the way to ABC.
  EXPECT_TRUE(m_pLogger->AddFacilityConfig("GLOBAL", "WARNING"));
  EXPECT_EQ(m_pLogger->GetGlobalFacility().GetLevel(), LOG_LEVEL_WARNING);
  EXPECT_EQ(LogFacility("AB").GetLevel(), LOG_LEVEL_WARNING);
  EXPECT_EQ(LogFacility("ABCD").GetLevel(), LOG_LEVEL_DEBUG);
  m_pLogger->SetLogLevel(LOG_LEVEL_NOTICE);
  EXPECT_EQ(LogFacility("Q").GetLevel(), LOG_LEVEL_NOTICE);
  EXPECT_EQ(LogFacility("Q", LOG_LEVEL_ALERT).GetLevel(), LOG_LEVEL_ALERT);
}

TEST(LogFacilityWithoutLogger, DefaultsToInfoAndLoggingIsHarmless) {
  ASSERT_EQ(Logger::GetInstance(), nullptr);
  LogFacility facility("ANY");
  EXPECT_EQ(facility.GetLevel(), LOG_LEVEL_INFO);
  FacilityLog(facility, 0, LOG_LEVEL_ERROR, 0, __FILE__, __LINE__, "dropped %d", 1);
  Log(LOG_LEVEL_ERROR, __FILE__, __LINE__, "dropped %d", 2);
}

TEST_F(LoggerFixture, RecordFieldsAndFiltering) {
  AddDevice("CAP");
  ASSERT_TRUE(m_pLogger->Start());
  EXPECT_FALSE(m_pLogger->Start());
  LogFacility facility("UTTM", LOG_LEVEL_NOTICE);
  FacilityLog(facility, 0, LOG_LEVEL_INFO, 0, "f.cpp", 1, "filtered");
  FacilityLog(facility, 7, LOG_LEVEL_NOTICE, 99, "src/x.cpp", 42, "%s total file entries [%d]", "UTTM", 3);
  Log(LOG_LEVEL_DEBUG, "g.cpp", 2, "filtered too");
  Log(LOG_LEVEL_WARNING, "g.cpp", 3, "global %s", "line");
  ASSERT_TRUE(m_Sink->m_Messages.WaitForSize(2));
  Logger::DestroyInstance();

  std::vector<LogRecord> records = m_Sink->Records();
  ASSERT_EQ(records.size(), 2u);
  const LogRecord& r = records[0];
  EXPECT_EQ(r.m_Message, "UTTM total file entries [3]");
  EXPECT_EQ(r.m_Facility, "UTTM");
  EXPECT_EQ(r.m_Level, LOG_LEVEL_NOTICE);
  EXPECT_EQ(r.m_Tag, 7);
  EXPECT_EQ(r.m_File, "src/x.cpp");
  EXPECT_EQ(r.m_Line, 42);
  EXPECT_EQ(r.m_Reserved1, 0);
  EXPECT_EQ(r.m_Reserved2, 0);
  EXPECT_TRUE(std::regex_match(r.m_TimeStamp, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})")))
      << r.m_TimeStamp;
  EXPECT_EQ(records[1].m_Facility, "GLOBAL");
  EXPECT_EQ(records[1].m_Message, "global line");
  EXPECT_EQ(records[1].m_Level, LOG_LEVEL_WARNING);
}

TEST_F(LoggerFixture, MessagesAreCutAt1023CharactersAndFormattedAsPrintf) {
  AddDevice("CAP");
  ASSERT_TRUE(m_pLogger->Start());
  std::string text(2000, 'x');
  text[1022] = 'y';
  FacilityLog(LogFacility("F"), 0, LOG_LEVEL_ERROR, 0, __FILE__, __LINE__, "%s", text.c_str());
  TRELKA_FLOG(LogFacility("F"), LOG_LEVEL_ERROR, "%s", "");
  size_t size = 12;
  long long big = 1LL << 40;
  TRELKA_FLOG(LogFacility("F"), LOG_LEVEL_ERROR, "[%zu] [%lld] [%s]", size, big, "after");
  ASSERT_TRUE(m_Sink->m_Messages.WaitForSize(3));
  std::vector<LogRecord> records = m_Sink->Records();
  ASSERT_EQ(records[0].m_Message.size(), 1023u);
  EXPECT_EQ(records[0].m_Message.back(), 'y');
  EXPECT_TRUE(records[1].m_Message.empty());
  EXPECT_EQ(records[2].m_Message, "[12] [1099511627776] [after]");
}

TEST_F(LoggerFixture, DevicesRunInNameOrderAndAFailureDoesNotStopTheOthers) {
  CapturingLogDevice* failing = AddDevice("B", false);
  AddDevice("A", true);
  AddDevice("C", true);
  CapturingLogDevice duplicate("A", m_Sink);
  EXPECT_FALSE(m_pLogger->AddLogDevice(&duplicate));
  LogRecord record;
  record.m_Facility = "F";
  record.m_Message = "m";
  // Calls the devices directly on this thread; the logger is not started.
  EXPECT_FALSE(m_pLogger->ProcessLogRecord(record));
  EXPECT_EQ(m_Sink->m_DeviceCalls.Items(), (std::vector<std::string>{"A", "B", "C"}));

  CapturingLogDevice unknown("Z", m_Sink);
  EXPECT_FALSE(m_pLogger->RemoveLogDevice(&unknown));
  EXPECT_TRUE(m_pLogger->RemoveLogDevice(failing));
  EXPECT_TRUE(m_pLogger->ProcessLogRecord(record));
  delete failing;  // the caller's again
}

TEST_F(LoggerFixture, RecordsPostedBeforeShutdownAreWrittenBeforeClose) {
  AddDevice("CAP");
  ASSERT_TRUE(m_pLogger->Start());
  const int kThreads = 3, kRecords = 500;
  std::vector<std::thread> writers;
  LogFacility facility("W", LOG_LEVEL_DEBUG);
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&facility, t] {
      for (int i = 0; i < kRecords; ++i)
        FacilityLog(facility, 0, LOG_LEVEL_DEBUG, 0, __FILE__, __LINE__, "%d:%d", t, i);
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_TRUE(m_pLogger->Shutdown());
  EXPECT_FALSE(m_pLogger->Shutdown());
  EXPECT_EQ(m_Sink->m_Opened.load(), 1);
  EXPECT_EQ(m_Sink->m_Closed.load(), 1);
  EXPECT_EQ(m_Sink->m_Deleted.load(), 1);
  EXPECT_EQ(m_Sink->m_RecordsBeforeClose.load(), kThreads * kRecords);
  // Each writer's records arrive in its own order.
  std::vector<int> next(kThreads, 0);
  for (const std::string& item : m_Sink->m_Messages.Items()) {
    std::string message = item.substr(item.rfind('|') + 1);
    int t = std::stoi(message.substr(0, message.find(':')));
    int i = std::stoi(message.substr(message.find(':') + 1));
    EXPECT_EQ(i, next[t]++);
  }
}

TEST_F(LoggerFixture, InstanceIsCountedAcrossUsers) {
  AddDevice("LRD");
  ASSERT_TRUE(m_pLogger->Start());
  // A second plugin finds the logger running: its device of the same name is refused.
  Logger* second = Logger::CreateInstance();
  EXPECT_EQ(second, m_pLogger);
  CapturingLogDevice* refused = new CapturingLogDevice("LRD", m_Sink);
  EXPECT_FALSE(second->AddLogDevice(refused));
  delete refused;
  EXPECT_FALSE(second->Start());

  Logger::DestroyInstance();
  ASSERT_EQ(Logger::GetInstance(), m_pLogger);
  EXPECT_TRUE(m_pLogger->IsStarted());
  Log(LOG_LEVEL_ERROR, __FILE__, __LINE__, "still running");
  ASSERT_TRUE(m_Sink->m_Messages.WaitFor("GLOBAL|ERROR|still running"));
  EXPECT_EQ(m_Sink->m_Closed.load(), 0);

  Logger::DestroyInstance();
  EXPECT_EQ(Logger::GetInstance(), nullptr);
  EXPECT_EQ(m_Sink->m_Closed.load(), 1);
  EXPECT_EQ(m_Sink->m_Deleted.load(), 2);  // the refused one and the registered one
  Logger::DestroyInstance();               // count already 0: nothing happens
}

TEST_F(LoggerFixture, DeviceAddedAfterStartIsOpenedBeforeItsFirstRecord) {
  ASSERT_TRUE(m_pLogger->Start());
  AddDevice("LATE");
  Log(LOG_LEVEL_ERROR, __FILE__, __LINE__, "first");
  ASSERT_TRUE(m_Sink->m_Messages.WaitForSize(1));
  EXPECT_EQ(m_Sink->m_Opened.load(), 1);
}

TEST_F(LoggerFixture, DevicesOfANeverStartedLoggerAreDeleted) {
  AddDevice("CAP");
  Logger::DestroyInstance();
  EXPECT_EQ(m_Sink->m_Deleted.load(), 1);
  EXPECT_EQ(m_Sink->m_Closed.load(), 0);
}

}  // namespace

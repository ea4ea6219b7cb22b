// The process logger and task threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mrcphost/host_apt.h"
#include "test_util.h"

namespace {

using mrcphost::test::PoolTest;

struct Record {
  std::string source;
  apt_log_priority_e priority;
  std::string text;
};

struct Sink {
  std::mutex mutex;
  std::vector<Record> records;  // guarded by mutex
  static void Handle(const char *source, const char *, int, apt_log_priority_e priority, const char *text, void *obj) {
    auto *sink = static_cast<Sink *>(obj);
    std::lock_guard<std::mutex> lock(sink->mutex);
    sink->records.push_back({source, priority, text});
  }
};

class LogTest : public PoolTest {
 protected:
  void SetUp() override {
    PoolTest::SetUp();
    apt_log_instance_create(APT_LOG_OUTPUT_NONE, APT_PRIO_INFO, Pool());
    apt_def_log_source_set(nullptr);
    apt_log_ext_handler_set(Sink::Handle, &m_Sink);
  }
  void TearDown() override {
    apt_log_instance_destroy();
    PoolTest::TearDown();
  }
  Sink m_Sink;
};

TEST_F(LogTest, PriorityNamesTranslate) {
  struct Case {
    const char *text;
    apt_log_priority_e priority;
  };
  const Case cases[] = {{"EMERGENCY", APT_PRIO_EMERGENCY}, {"warning", APT_PRIO_WARNING}, {"Notice", APT_PRIO_NOTICE},
                        {"3", APT_PRIO_ERROR},             {"7", APT_PRIO_DEBUG},         {"8", APT_PRIO_DEBUG},
                        {"WARN", APT_PRIO_DEBUG},          {"", APT_PRIO_DEBUG},          {"42", APT_PRIO_DEBUG}};
  for (const Case &c : cases) EXPECT_EQ(apt_log_priority_translate(c.text), c.priority) << c.text;
  EXPECT_STREQ(apt_log_priority_name(APT_PRIO_WARNING), "WARNING");
}

TEST_F(LogTest, RecordsAboveTheSourcePriorityAreDropped) {
  apt_log_source_t *source = nullptr;
  ASSERT_TRUE(apt_log_source_assign("TEST-FILTER", &source));
  apt_log_source_t *again = nullptr;
  ASSERT_TRUE(apt_log_source_assign("TEST-FILTER", &again));
  EXPECT_EQ(source, again);
  EXPECT_STREQ(source->name, "TEST-FILTER");
  source->priority = APT_PRIO_WARNING;
  EXPECT_TRUE(apt_log(source, APT_LOG_MARK, APT_PRIO_WARNING, "kept %d", 1));
  EXPECT_FALSE(apt_log(source, APT_LOG_MARK, APT_PRIO_NOTICE, "dropped"));
  EXPECT_TRUE(apt_log(nullptr, APT_LOG_MARK, APT_PRIO_INFO, "default source"));
  EXPECT_FALSE(apt_log(nullptr, APT_LOG_MARK, APT_PRIO_DEBUG, "above the default"));
  ASSERT_EQ(m_Sink.records.size(), 2u);
  EXPECT_EQ(m_Sink.records[0].source, "TEST-FILTER");
  EXPECT_EQ(m_Sink.records[0].text, "kept 1");
  EXPECT_EQ(m_Sink.records[1].source, "HOST");

  // A plugin's own default source takes over the records without a source.
  apt_log_source_t *plugin = nullptr;
  apt_log_source_assign("TEST-PLUGIN", &plugin);
  apt_def_log_source_set(plugin);
  EXPECT_TRUE(apt_log(nullptr, APT_LOG_MARK, APT_PRIO_INFO, "x"));
  EXPECT_EQ(m_Sink.records.back().source, "TEST-PLUGIN");
}

TEST_F(LogTest, NoLoggerNoRecord) {
  apt_log_instance_destroy();
  EXPECT_FALSE(apt_log(nullptr, APT_LOG_MARK, APT_PRIO_ERROR, "nowhere"));
  EXPECT_TRUE(m_Sink.records.empty());
}

TEST_F(LogTest, LongRecordsAreWrittenWhole) {
  std::string long_text(5000, 'x');
  EXPECT_TRUE(apt_log(nullptr, APT_LOG_MARK, APT_PRIO_INFO, "%s!", long_text.c_str()));
  ASSERT_EQ(m_Sink.records.size(), 1u);
  EXPECT_EQ(m_Sink.records[0].text, long_text + "!");
}

TEST_F(LogTest, FileOutputCarriesTimeStampPrioritySourceAndMark) {
  const std::string path = testing::TempDir() + "/host_log_test." + std::to_string(getpid()) + ".log";
  ASSERT_TRUE(apt_log_file_open(path.c_str(), Pool()));
  apt_log_output_mode_set(APT_LOG_OUTPUT_FILE);
  apt_log_mark_set(TRUE);
  apt_log_source_t *source = nullptr;
  apt_log_source_assign("FILE-TEST", &source);
  int line = __LINE__ + 1;
  apt_log(source, APT_LOG_MARK, APT_PRIO_WARNING, "Failed to Load [%s]", "x.xml");
  apt_log_instance_destroy();  // closes the file
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string written = text.str();
  EXPECT_NE(written.find(" [WARNING] [FILE-TEST] Failed to Load [x.xml] [host_log_task_test.cc:" +
                         std::to_string(line) + "]\n"),
            std::string::npos)
      << written;
  EXPECT_EQ(written.compare(0, 2, "20"), 0) << written;  // begins with the date
  unlink(path.c_str());
}

TEST_F(LogTest, ManyThreadsLogAtOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      apt_log_source_t *source = nullptr;
      apt_log_source_assign(("THREAD-" + std::to_string(t % 2)).c_str(), &source);
      for (int i = 0; i < 200; ++i) apt_log(source, APT_LOG_MARK, APT_PRIO_INFO, "%d/%d", t, i);
    });
  }
  apt_log_priority_set(APT_PRIO_INFO);  // races with the readers of the priority, as a host may
  for (std::thread &thread : threads) thread.join();
  std::lock_guard<std::mutex> lock(m_Sink.mutex);
  EXPECT_EQ(m_Sink.records.size(), 800u);
}

// A task whose run slot waits until the terminate slot lets it go.
struct TaskState {
  std::mutex mutex;
  std::condition_variable cond;
  bool stop = false;  // guarded by mutex
  std::vector<std::string> calls;  // guarded by mutex
  void Note(const std::string &call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(call);
  }
};

TaskState *StateOf(apt_task_t *task) { return static_cast<TaskState *>(apt_task_object_get(task)); }

class TaskTest : public PoolTest {
 protected:
  apt_task_t *Create(TaskState *state) {
    apt_task_t *task = apt_task_create(state, nullptr, Pool());
    apt_task_vtable_t *v = apt_task_vtable_get(task);
    v->run = [](apt_task_t *t) -> apt_bool_t {
      TaskState *s = StateOf(t);
      s->Note("run");
      std::unique_lock<std::mutex> lock(s->mutex);
      s->cond.wait(lock, [s] { return s->stop; });
      return TRUE;
    };
    v->terminate = [](apt_task_t *t) -> apt_bool_t {
      TaskState *s = StateOf(t);
      std::lock_guard<std::mutex> lock(s->mutex);
      s->stop = true;
      s->cond.notify_all();
      return TRUE;
    };
    v->on_start_complete = [](apt_task_t *t) { StateOf(t)->Note("start-complete"); };
    v->on_terminate_complete = [](apt_task_t *t) { StateOf(t)->Note("terminate-complete"); };
    v->destroy = [](apt_task_t *t) -> apt_bool_t {
      StateOf(t)->Note("destroy");
      return TRUE;
    };
    return task;
  }
};

TEST_F(TaskTest, RunsItsSlotsInOrderOnItsThread) {
  TaskState state;
  apt_task_t *task = Create(&state);
  ASSERT_NE(task, nullptr);
  EXPECT_TRUE(apt_task_name_set(task, "a-very-long-task-name"));
  ASSERT_TRUE(apt_task_start(task));
  EXPECT_FALSE(apt_task_start(task));  // once only
  ASSERT_TRUE(apt_task_terminate(task, TRUE));
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    EXPECT_EQ(state.calls, (std::vector<std::string>{"start-complete", "run", "terminate-complete"}));
  }
  ASSERT_TRUE(apt_task_destroy(task));
  EXPECT_EQ(state.calls.back(), "destroy");
}

TEST_F(TaskTest, DestroyStopsARunningTask) {
  TaskState state;
  apt_task_t *task = Create(&state);
  ASSERT_TRUE(apt_task_start(task));
  ASSERT_TRUE(apt_task_destroy(task));
  EXPECT_EQ(state.calls.size(), 4u);
}

TEST_F(TaskTest, WithoutARunSlotTheThreadEndsAtOnce) {
  int object = 7;
  apt_task_t *task = apt_task_create(&object, nullptr, Pool());
  EXPECT_EQ(apt_task_object_get(task), &object);
  ASSERT_TRUE(apt_task_start(task));
  ASSERT_TRUE(apt_task_terminate(task, TRUE));
  ASSERT_TRUE(apt_task_destroy(task));
}

}  // namespace

// The completion-queue task against a real gRPC server on loopback: every completion reaches
// its tag's method exactly once, with its ok flag, in the order the queue completes them,
// and shutdown delivers what is still due before the loop ends.
#include "OxaZorvTask.h"

#include <apr_general.h>
#include <apr_pools.h>
#include <google/cloud/speech/v1/cloud_speech.grpc.pb.h>
#include <grpcpp/alarm.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The plugin's log source; the plugin library defines it, the test stands in for it.
extern "C" {
apt_log_source_t* ZORV_PLUGIN = nullptr;

// Debian's gRPC and Abseil are not built for ThreadSanitizer, which therefore cannot see
// their own synchronisation and reports races between their internal threads.
const char* __tsan_default_suppressions() {
  return "race:libgrpc.so\n"
         "race:libgrpc++.so\n"
         "race:libgpr.so\n"
         "race:libabsl_\n";
}
}

namespace ZORV {
namespace {

namespace speech = google::cloud::speech::v1;

// Answers every audio request with the size of its content; a configuration with the
// language "fail" ends the call with INVALID_ARGUMENT.
class FakeSpeechService : public speech::Speech::Service {
 public:
  grpc::Status StreamingRecognize(
      grpc::ServerContext*,
      grpc::ServerReaderWriter<speech::StreamingRecognizeResponse, speech::StreamingRecognizeRequest>* stream)
      override {
    speech::StreamingRecognizeRequest request;
    while (stream->Read(&request)) {
      if (request.has_streaming_config()) {
        if (request.streaming_config().config().language_code() == "fail")
          return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "bad config");
        continue;
      }
      speech::StreamingRecognizeResponse response;
      response.add_results()->add_alternatives()->set_transcript(std::to_string(request.audio_content().size()));
      stream->Write(response);
    }
    return grpc::Status::OK;
  }

  grpc::Status Recognize(grpc::ServerContext*, const speech::RecognizeRequest* request,
                         speech::RecognizeResponse* response) override {
    response->add_results()->add_alternatives()->set_transcript(request->config().language_code());
    return grpc::Status::OK;
  }
};

// One timeline of what the task thread delivers: completions and log lines.
class Timeline : public Tag::Handler {
 public:
  struct Entry {
    std::string what;  // tag name, or "log: " and the text
    bool ok;
    std::thread::id thread;
  };

  void SignalGrpcEvent(Tag* tag, bool ok) override { Add(tag->GetName(), ok); }

  static void OnLog(const char*, const char*, int, apt_log_priority_e priority, const char* text, void* obj) {
    if (priority == APT_PRIO_INFO) static_cast<Timeline*>(obj)->Add(std::string("log: ") + text, true);
  }

  // Waits for the entry after the ones already taken; a generous bound only keeps a
  // broken build from hanging.
  Entry Next() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    bool arrived = m_Cond.wait_for(lock, std::chrono::seconds(30), [this] { return m_Taken < m_Entries.size(); });
    EXPECT_TRUE(arrived) << "no completion delivered";
    if (!arrived) return Entry{"<none>", false, {}};
    return m_Entries[m_Taken++];
  }

  std::vector<Entry> All() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Entries;
  }

 private:
  void Add(const std::string& what, bool ok) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Entries.push_back(Entry{what, ok, std::this_thread::get_id()});
    m_Cond.notify_all();
  }

  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::vector<Entry> m_Entries;  // guarded by m_Mutex
  size_t m_Taken = 0;            // guarded by m_Mutex
};

class TaskTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }
  static void TearDownTestSuite() { apr_terminate(); }

  void SetUp() override {
    apr_pool_create(&m_pPool, nullptr);
    apt_log_instance_create(APT_LOG_OUTPUT_NONE, APT_PRIO_DEBUG, m_pPool);
    apt_log_ext_handler_set(&Timeline::OnLog, &m_Timeline);

    grpc::ServerBuilder builder;
    int port = 0;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
    builder.RegisterService(&m_Service);
    m_Server = builder.BuildAndStart();
    ASSERT_TRUE(m_Server);
    ASSERT_GT(port, 0);
    m_Stub = speech::Speech::NewStub(
        grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials()));

    ASSERT_TRUE(m_Task.Create(m_pPool));
  }

  void TearDown() override {
    m_Server->Shutdown();
    m_Server->Wait();
    apt_log_ext_handler_set(nullptr, nullptr);
    apt_log_instance_destroy();
    apr_pool_destroy(m_pPool);
  }

  void ExpectNext(const std::string& what, bool ok) {
    Timeline::Entry entry = m_Timeline.Next();
    EXPECT_EQ(entry.what, what);
    EXPECT_EQ(entry.ok, ok) << what;
  }

  void Shutdown() {
    EXPECT_TRUE(m_Task.Terminate());
    EXPECT_TRUE(m_Task.Destroy());
  }

  apr_pool_t* m_pPool = nullptr;
  FakeSpeechService m_Service;
  std::unique_ptr<grpc::Server> m_Server;
  std::unique_ptr<speech::Speech::Stub> m_Stub;
  Timeline m_Timeline;
  Task m_Task;
};

struct MethodTags {
  explicit MethodTags(Tag::Handler* method)
      : create("create stream", method),
        writing("writing", method),
        writesDone("writes done", method),
        reading("reading", method),
        finishing("finishing", method) {}
  Tag create, writing, writesDone, reading, finishing;
};

speech::StreamingRecognizeRequest ConfigRequest(const std::string& language) {
  speech::StreamingRecognizeRequest request;
  request.mutable_streaming_config()->mutable_config()->set_language_code(language);
  return request;
}

TEST_F(TaskTest, StreamDeliversEveryTagOnceInOrder) {
  MethodTags tags(&m_Timeline);
  ASSERT_TRUE(m_Task.Start());
  EXPECT_EQ(m_Task.GetName(), "GRPC");

  // Operations are started one at a time, each after the previous completed, as the
  // streaming method does; so the order of completions is fixed.
  grpc::ClientContext context;
  auto stream = m_Stub->AsyncStreamingRecognize(&context, &m_Task, &tags.create);
  ExpectNext("create stream", true);
  stream->Write(ConfigRequest("en-US"), &tags.writing);
  ExpectNext("writing", true);
  speech::StreamingRecognizeRequest audio;
  audio.set_audio_content("abcd");
  stream->Write(audio, &tags.writing);
  ExpectNext("writing", true);
  speech::StreamingRecognizeResponse response;
  stream->Read(&response, &tags.reading);
  ExpectNext("reading", true);
  ASSERT_EQ(response.results_size(), 1);
  EXPECT_EQ(response.results(0).alternatives(0).transcript(), "4");
  stream->WritesDone(&tags.writesDone);
  ExpectNext("writes done", true);
  stream->Read(&response, &tags.reading);
  ExpectNext("reading", false);  // the service ended the stream
  grpc::Status status;
  stream->Finish(&status, &tags.finishing);
  ExpectNext("finishing", true);
  EXPECT_TRUE(status.ok()) << status.error_message();

  Shutdown();
  std::vector<Timeline::Entry> all = m_Timeline.All();
  ASSERT_EQ(all.size(), 8u);  // seven completions, then the shutdown line, nothing more
  EXPECT_EQ(all.back().what, "log: Completion Queue Shutdown");
  for (const Timeline::Entry& entry : all) {
    EXPECT_EQ(entry.thread, all.front().thread);  // the task thread, and only it
    EXPECT_NE(entry.thread, std::this_thread::get_id());
  }
}

TEST_F(TaskTest, FailedOperationsAreDeliveredWithOkFalse) {
  MethodTags tags(&m_Timeline);
  ASSERT_TRUE(m_Task.Start());

  grpc::ClientContext context;
  auto stream = m_Stub->AsyncStreamingRecognize(&context, &m_Task, &tags.create);
  ExpectNext("create stream", true);
  stream->Write(ConfigRequest("fail"), &tags.writing);
  ExpectNext("writing", true);
  speech::StreamingRecognizeResponse response;
  stream->Read(&response, &tags.reading);
  ExpectNext("reading", false);
  grpc::Status status;
  stream->Finish(&status, &tags.finishing);
  ExpectNext("finishing", true);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(status.error_message(), "bad config");

  Shutdown();
  EXPECT_EQ(m_Timeline.All().back().what, "log: Completion Queue Shutdown");
}

TEST_F(TaskTest, ShutdownDeliversOutstandingCompletionsFirst) {
  MethodTags tags(&m_Timeline);
  ASSERT_TRUE(m_Task.Start());

  grpc::ClientContext context;
  auto stream = m_Stub->AsyncStreamingRecognize(&context, &m_Task, &tags.create);
  ExpectNext("create stream", true);
  // The service waits for audio, so this read stays outstanding until the call is cancelled.
  speech::StreamingRecognizeResponse response;
  stream->Read(&response, &tags.reading);
  context.TryCancel();
  Shutdown();

  std::vector<Timeline::Entry> all = m_Timeline.All();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].what, "reading");
  EXPECT_FALSE(all[1].ok);
  EXPECT_EQ(all[2].what, "log: Completion Queue Shutdown");
}

TEST_F(TaskTest, ConcurrentCallsCompleteExactlyOnceEach) {
  constexpr int kCalls = 16;
  struct Call {
    explicit Call(int i, Tag::Handler* method) : tag(("call " + std::to_string(i)).c_str(), method) {}
    Tag tag;
    grpc::ClientContext context;
    speech::RecognizeResponse response;
    grpc::Status status;
    std::unique_ptr<grpc::ClientAsyncResponseReader<speech::RecognizeResponse>> reader;
  };
  std::vector<std::unique_ptr<Call>> calls;
  ASSERT_TRUE(m_Task.Start());
  for (int i = 0; i < kCalls; ++i) calls.emplace_back(new Call(i, &m_Timeline));

  for (int i = 0; i < kCalls; ++i) {
    Call& call = *calls[i];
    speech::RecognizeRequest request;
    request.mutable_config()->set_language_code("lang" + std::to_string(i));
    call.reader = m_Stub->AsyncRecognize(&call.context, request, &m_Task);
    call.reader->Finish(&call.response, &call.status, &call.tag);
  }
  std::map<std::string, int> seen;
  for (int i = 0; i < kCalls; ++i) {
    Timeline::Entry entry = m_Timeline.Next();
    EXPECT_TRUE(entry.ok) << entry.what;
    ++seen[entry.what];
  }
  Shutdown();

  ASSERT_EQ(seen.size(), size_t(kCalls));
  for (int i = 0; i < kCalls; ++i) {
    EXPECT_EQ(seen["call " + std::to_string(i)], 1);
    ASSERT_TRUE(calls[i]->status.ok());
    EXPECT_EQ(calls[i]->response.results(0).alternatives(0).transcript(), "lang" + std::to_string(i));
  }
  EXPECT_EQ(m_Timeline.All().size(), size_t(kCalls) + 1);  // and the shutdown line
}

TEST_F(TaskTest, TagsWithoutMethodAreSkipped) {
  Tag orphan("orphan", nullptr);
  Tag cancelled("cancelled alarm", &m_Timeline);
  Tag last("last alarm", &m_Timeline);
  ASSERT_TRUE(m_Task.Start());

  grpc::Alarm nullTagAlarm;
  grpc::Alarm orphanAlarm;
  grpc::Alarm cancelledAlarm;
  grpc::Alarm lastAlarm;
  auto past = std::chrono::system_clock::now() - std::chrono::seconds(1);
  nullTagAlarm.Set(&m_Task, past, nullptr);
  orphanAlarm.Set(&m_Task, past, &orphan);
  cancelledAlarm.Set(&m_Task, std::chrono::system_clock::now() + std::chrono::hours(1), &cancelled);
  cancelledAlarm.Cancel();
  ExpectNext("cancelled alarm", false);
  lastAlarm.Set(&m_Task, past, &last);
  ExpectNext("last alarm", true);
  Shutdown();
  EXPECT_EQ(m_Timeline.All().size(), 3u);
}

TEST_F(TaskTest, HostTaskLifecycle) {
  Task noHost;
  EXPECT_FALSE(noHost.Start());
  EXPECT_FALSE(noHost.Create(nullptr));
  EXPECT_FALSE(noHost.Destroy());
  EXPECT_TRUE(noHost.Terminate() == false);

  // Terminated without ever running: the queue is drained here, nothing is delivered.
  EXPECT_TRUE(m_Task.Terminate());
  EXPECT_TRUE(m_Task.Destroy());
  EXPECT_TRUE(m_Timeline.All().empty());
}

}  // namespace
}  // namespace ZORV

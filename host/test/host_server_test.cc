// The server side against the test plugin, loaded with dlopen like any plugin.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "mrcphost/host_server.h"
#include "test_plugin.h"

namespace {

using mrcphost::Channel;
using mrcphost::ChannelConfig;
using mrcphost::Engine;
using mrcphost::HostResult;
using mrcphost::Millis;
using mrcphost::NameValues;
using mrcphost::Server;
using mrcphost::ServerConfig;
using mrcphost::SteadyClock;
using mrcphost::WireMessage;

const Millis kWait(3000);

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The same handle the server gets: dlopen counts references to one loaded library.
    m_Library = dlopen(HOSTTEST_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_Library, nullptr) << dlerror();
    m_Stats = reinterpret_cast<hosttest_plugin_stats_f>(dlsym(m_Library, "hosttest_plugin_stats"));
    auto reset = reinterpret_cast<hosttest_plugin_reset_f>(dlsym(m_Library, "hosttest_plugin_reset"));
    ASSERT_TRUE(m_Stats && reset);
    reset();
  }
  void TearDown() override {
    if (m_Server) {
      EXPECT_TRUE(m_Server->Shutdown(kWait));
    }
  }

  void StartServer(bool media_thread = true) {
    ServerConfig config;
    config.root_dir = testing::TempDir();
    config.run_media_thread = media_thread;
    m_Server = std::make_unique<Server>(config);
    std::string error;
    ASSERT_TRUE(m_Server->Start(&error)) << error;
  }
  Engine *Load(const NameValues &params, apr_size_t max_channels = 0) {
    std::string error;
    Engine *engine = m_Server->LoadPlugin(HOSTTEST_PLUGIN_PATH, "test", params, max_channels, kWait, &error);
    EXPECT_NE(engine, nullptr) << error;
    return engine;
  }
  Engine *LoadOpen(const NameValues &params = {}) {
    Engine *engine = Load(params);
    std::string error;
    if (engine) {
      EXPECT_EQ(engine->Open(kWait, &error), HostResult::kOk) << error;
    }
    return engine;
  }
  std::shared_ptr<Channel> OpenChannel(Engine *engine, ChannelConfig config = ChannelConfig()) {
    std::string error;
    std::shared_ptr<Channel> channel = engine->CreateChannel(config, kWait, &error);
    EXPECT_NE(channel, nullptr) << error;
    if (channel) {
      EXPECT_EQ(channel->Open(kWait, &error), HostResult::kOk) << error;
    }
    return channel;
  }
  hosttest_stats_t Stats() {
    hosttest_stats_t stats;
    m_Stats(&stats);
    return stats;
  }
  static bool IsResponse(const WireMessage &m) { return m.type == MRCP_MESSAGE_TYPE_RESPONSE; }

  void *m_Library = nullptr;
  hosttest_plugin_stats_f m_Stats = nullptr;
  std::unique_ptr<Server> m_Server;
};

TEST_F(ServerTest, MethodTablesRunOnTheTaskThreadAndFramesOnTheMediaThread) {
  StartServer();
  Engine *engine = LoadOpen();
  ASSERT_NE(engine, nullptr);
  ChannelConfig config;
  config.rate = 16000;
  std::shared_ptr<Channel> channel = OpenChannel(engine, config);
  ASSERT_NE(channel, nullptr);
  std::string error;
  ASSERT_TRUE(channel->QueueSilence(Millis(100), &error)) << error;
  ASSERT_TRUE(channel->WaitInputDrained(SteadyClock::now() + kWait));
  EXPECT_EQ(channel->Close(kWait, &error), HostResult::kOk) << error;
  EXPECT_EQ(engine->Close(kWait, &error), HostResult::kOk) << error;
  ASSERT_TRUE(m_Server->Shutdown(kWait));

  hosttest_stats_t stats = Stats();
  EXPECT_EQ(stats.engine_opens, 1u);
  EXPECT_EQ(stats.channels_created, 1u);
  EXPECT_EQ(stats.channels_destroyed, 1u);
  EXPECT_EQ(stats.engines_destroyed, 1u);
  EXPECT_EQ(stats.method_threads, 1u);
  EXPECT_EQ(stats.media_threads, 1u);
  EXPECT_EQ(stats.threads_overlap, 0);
  EXPECT_GE(stats.frames_written, 10u);
  EXPECT_EQ(stats.last_frame_size, 320u);  // 10 ms of 16-bit samples at 16 kHz
}

TEST_F(ServerTest, RequestAnsweredLaterFromThePluginsThread) {
  StartServer();
  Engine *engine = LoadOpen();
  ASSERT_NE(engine, nullptr);
  std::shared_ptr<Channel> channel = OpenChannel(engine);
  ASSERT_NE(channel, nullptr);
  std::string error;
  WireMessage sent;
  ASSERT_TRUE(channel->SendRequest("RECOGNIZE\nVendor-Specific-Parameters: delay=50\nLogging-Tag: t1\n", &sent, &error))
      << error;
  EXPECT_EQ(sent.request_id, 1u);
  EXPECT_EQ(*sent.Header("Channel-Identifier"), channel->Id() + "@speechrecog");
  WireMessage response;
  ASSERT_TRUE(channel->WaitMessage(IsResponse, SteadyClock::now() + kWait, &response));
  EXPECT_EQ(response.request_id, 1u);
  EXPECT_EQ(response.name, "RECOGNIZE");
  EXPECT_EQ(response.status_code, 200);
  EXPECT_EQ(response.request_state, MRCP_REQUEST_STATE_INPROGRESS);
  EXPECT_EQ(*response.Header("Logging-Tag"), "t1");
  EXPECT_GE(response.time - sent.time, Millis(50));
  // Taken once: the same response is not found again.
  EXPECT_FALSE(channel->WaitMessage(IsResponse, SteadyClock::now(), nullptr));
}

TEST_F(ServerTest, WaitsForAPluginThatNeverAnswersEndAtTheirLimit) {
  StartServer();
  Engine *never = Load({{"open", "never"}});
  ASSERT_NE(never, nullptr);
  std::string error;
  EXPECT_EQ(never->Open(Millis(100), &error), HostResult::kTimedOut);
  EXPECT_NE(error.find("engine open not answered within 100 ms"), std::string::npos) << error;

  Engine *engine = LoadOpen();
  ASSERT_NE(engine, nullptr);
  ChannelConfig config;
  config.attribs = {{"open", "never"}};
  std::shared_ptr<Channel> silent = engine->CreateChannel(config, kWait, &error);
  ASSERT_NE(silent, nullptr) << error;
  EXPECT_EQ(silent->Open(Millis(100), &error), HostResult::kTimedOut);

  std::shared_ptr<Channel> channel = OpenChannel(engine);
  ASSERT_NE(channel, nullptr);
  ASSERT_TRUE(channel->SendRequest("STOP\nVendor-Specific-Parameters: answer=never\n", nullptr, &error));
  EXPECT_FALSE(channel->WaitMessage(IsResponse, SteadyClock::now() + Millis(100), nullptr));
}

TEST_F(ServerTest, RefusedOpensAreReportedAsRefused) {
  StartServer();
  struct Case {
    const char *mode;
    const char *says;
  };
  const Case cases[] = {{"refuse", "engine open answered FALSE"}, {"fail", "engine open returned FALSE"}};
  for (const Case &c : cases) {
    Engine *engine = Load({{"open", c.mode}});
    ASSERT_NE(engine, nullptr);
    std::string error;
    EXPECT_EQ(engine->Open(kWait, &error), HostResult::kRefused) << c.mode;
    EXPECT_EQ(error, c.says);
    EXPECT_FALSE(engine->IsOpen());
  }
  Engine *engine = LoadOpen();
  ChannelConfig config;
  config.attribs = {{"open", "refuse"}};
  std::string error;
  std::shared_ptr<Channel> channel = engine->CreateChannel(config, kWait, &error);
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->Open(kWait, &error), HostResult::kRefused);
  EXPECT_FALSE(channel->SendRequest("STOP", nullptr, &error));
  EXPECT_NE(error.find("is not open"), std::string::npos);
}

TEST_F(ServerTest, NegotiatesTheCodecAmongThePluginsOffers) {
  StartServer(false);
  Engine *recognizer = LoadOpen();
  Engine *synthesizer = LoadOpen({{"resource", "synthesizer"}});
  ASSERT_TRUE(recognizer && synthesizer);
  struct Case {
    Engine *engine;
    const char *codec;
    unsigned rate;
    const char *chosen;  // "name/rate", or the error text expected
  };
  const Case cases[] = {
      {recognizer, "", 0, "LPCM/8000"},
      {recognizer, "LPCM", 16000, "LPCM/16000"},
      {recognizer, "pcmu", 0, "PCMU/8000"},
      {recognizer, "PCMA", 8000, "the plugin offers no PCMA/8000 (it offers LPCM/8000,16000; PCMU/8000)"},
      {recognizer, "LPCM", 32000, "the plugin offers no LPCM/32000 (it offers LPCM/8000,16000; PCMU/8000)"},
      {synthesizer, "", 0, "PCMU/8000"},
      {synthesizer, "", 16000, "LPCM/16000"},
  };
  for (const Case &c : cases) {
    ChannelConfig config;
    config.codec = c.codec;
    config.rate = c.rate;
    std::string error;
    std::shared_ptr<Channel> channel = c.engine->CreateChannel(config, kWait, &error);
    if (!channel) {
      EXPECT_EQ(error, c.chosen);
      continue;
    }
    const mpf_codec_descriptor_t *d = channel->Codec();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::string(d->name.buf, d->name.length) + "/" + std::to_string(d->sampling_rate), c.chosen);
    EXPECT_EQ(channel->Close(kWait, &error), HostResult::kOk) << error;
  }
}

TEST_F(ServerTest, EveryTickWritesAndReadsOneFrameAndFastInputMore) {
  StartServer(false);  // the test is the media clock
  Engine *recognizer = LoadOpen();
  Engine *synthesizer = LoadOpen({{"resource", "synthesizer"}});
  ASSERT_TRUE(recognizer && synthesizer);
  std::shared_ptr<Channel> sink = OpenChannel(recognizer);
  std::shared_ptr<Channel> source = OpenChannel(synthesizer);
  ASSERT_TRUE(sink && source);
  for (int i = 0; i < 10; ++i) m_Server->Media().Tick();
  EXPECT_EQ(Stats().frames_written, 10u);
  EXPECT_EQ(Stats().frames_read, 10u);
  EXPECT_EQ(sink->GetStats().frames_written, 10u);

  std::string error;
  ASSERT_TRUE(sink->QueueAudio(std::vector<uint8_t>(160 * 100, 0), true, &error)) << error;
  m_Server->Media().Tick();
  EXPECT_EQ(sink->GetStats().input_frames_queued, 50u);
  m_Server->Media().Tick();
  EXPECT_TRUE(sink->WaitInputDrained(SteadyClock::now()));
  EXPECT_EQ(sink->GetStats().frames_written, 110u);
  EXPECT_EQ(Stats().frames_read, 12u);  // the source keeps one frame per tick

  // A digit: tone frames with start and end markers, then gap frames of audio.
  ASSERT_TRUE(sink->QueueDtmf("5", Millis(60), Millis(40), &error)) << error;
  ASSERT_FALSE(sink->QueueDtmf("x", Millis(60), Millis(40), &error));
  for (int i = 0; i < 10; ++i) m_Server->Media().Tick();
  EXPECT_EQ(Stats().event_frames, 6u);
  EXPECT_TRUE(sink->WaitInputDrained(SteadyClock::now()));
}

TEST_F(ServerTest, SynthesizedAudioIsRecordedAndCounted) {
  StartServer(false);
  Engine *synthesizer = LoadOpen({{"resource", "synthesizer"}});
  ASSERT_NE(synthesizer, nullptr);
  std::shared_ptr<Channel> channel = OpenChannel(synthesizer);
  ASSERT_NE(channel, nullptr);
  channel->SetRecording(true);
  std::string error;
  ASSERT_TRUE(channel->SendRequest("SPEAK\nContent-Type: text/plain\nVendor-Specific-Parameters: frames=5\n\nhi",
                                   nullptr, &error));
  ASSERT_TRUE(channel->WaitMessage(IsResponse, SteadyClock::now() + kWait, nullptr));
  for (int i = 0; i < 8; ++i) m_Server->Media().Tick();
  EXPECT_TRUE(channel->WaitOutputAudio(Millis(50), SteadyClock::now()));
  EXPECT_FALSE(channel->WaitOutputAudio(Millis(60), SteadyClock::now()));
  mrcphost::AudioBuffer audio = channel->RecordedAudio();
  EXPECT_EQ(audio.codec, "PCMU");
  EXPECT_EQ(audio.bytes.size(), 5u * 80u);
  EXPECT_EQ(channel->GetStats().audio_frames_read, 5u);
  auto is_complete = [](const WireMessage &m) { return m.name == "SPEAK-COMPLETE"; };
  WireMessage complete;
  ASSERT_TRUE(channel->WaitMessage(is_complete, SteadyClock::now() + kWait, &complete));
  EXPECT_EQ(*complete.Header("Completion-Cause"), "000 normal");
}

TEST_F(ServerTest, MaxChannelCountIsEnforced) {
  StartServer(false);
  Engine *engine = Load({}, 1);
  ASSERT_NE(engine, nullptr);
  std::string error;
  ASSERT_EQ(engine->Open(kWait, &error), HostResult::kOk);
  std::shared_ptr<Channel> first = engine->CreateChannel(ChannelConfig(), kWait, &error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(engine->CreateChannel(ChannelConfig(), kWait, &error), nullptr);
  EXPECT_NE(error.find("has its 1 channels already"), std::string::npos) << error;
}

TEST_F(ServerTest, RejectsAPluginOfAnotherInterfaceVersion) {
  StartServer(false);
  std::string error;
  EXPECT_EQ(m_Server->LoadPlugin(HOSTTEST_BAD_PLUGIN_PATH, "bad", {}, 0, kWait, &error), nullptr);
  EXPECT_NE(error.find("plugin interface version 2.8.0 is not supported by this host (1.8.0)"), std::string::npos)
      << error;
  EXPECT_EQ(m_Server->LoadPlugin("/nonexistent/plugin.so", "none", {}, 0, kWait, &error), nullptr);
  EXPECT_NE(error.find("cannot load plugin /nonexistent/plugin.so"), std::string::npos) << error;
}

TEST(MediaClockTest, DueTicksCatchUpOrRestartWhenFarBehind) {
  using std::chrono::microseconds;
  const microseconds period(10000);
  const SteadyClock::time_point t0;
  struct Case {
    long now_us;        // relative to t0
    long next_us;       // the deadline before
    unsigned due;
    long next_after_us;
    uint64_t dropped;
  };
  const Case cases[] = {
      {5000, 10000, 0, 10000, 0},      // early: nothing due
      {10000, 10000, 1, 20000, 0},     // on time
      {34000, 10000, 3, 40000, 0},     // late by two periods: three ticks catch up
      {510000, 10000, 1, 520000, 50},  // far behind: drop the backlog, restart from now
  };
  for (const Case &c : cases) {
    SteadyClock::time_point next = t0 + microseconds(c.next_us);
    uint64_t dropped = 0;
    EXPECT_EQ(mrcphost::MediaClock::DueTicks(t0 + microseconds(c.now_us), &next, period, 20, &dropped), c.due);
    EXPECT_EQ(next, t0 + microseconds(c.next_after_us));
    EXPECT_EQ(dropped, c.dropped);
  }
}

TEST(TaskQueueTest, RunsInOrderAndReportsAStuckCall) {
  mrcphost::TaskQueue queue;
  queue.Start("test-task");
  std::vector<int> order;
  for (int i = 0; i < 3; ++i) queue.Post([&order, i] { order.push_back(i); });
  bool inline_call = false;
  ASSERT_TRUE(queue.Call([&] { inline_call = queue.IsCurrent(); }, SteadyClock::now() + kWait));
  EXPECT_TRUE(inline_call);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

  std::mutex mutex;
  std::condition_variable cond;
  bool release = false;
  queue.Post([&] {
    std::unique_lock<std::mutex> lock(mutex);
    cond.wait(lock, [&] { return release; });
  });
  EXPECT_FALSE(queue.Call([] {}, SteadyClock::now() + Millis(50)));
  EXPECT_FALSE(queue.Stop(Millis(50)));
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  cond.notify_all();
  EXPECT_TRUE(queue.Stop(kWait));
}

}  // namespace

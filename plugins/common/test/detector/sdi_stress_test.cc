// The media thread feeds frames without pause while the event thread prepares detections, stops
// them and calls the flag setters, as a channel does. Run under ThreadSanitizer.
#include "sdi_harness.h"
#include "sdi_vad_script.h"

#include <apr_general.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace {

// Frames fed and reports that ended a detection; the event thread waits on them.
struct Endings {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;        // guarded by mutex
  unsigned frames = 0;  // guarded by mutex

  void Add() {
    std::lock_guard<std::mutex> lock(mutex);
    ++count;
    changed.notify_all();
  }
  void Frame() {
    std::lock_guard<std::mutex> lock(mutex);
    ++frames;
    changed.notify_all();
  }
  int Get() {
    std::lock_guard<std::mutex> lock(mutex);
    return count;
  }
  void WaitAbove(int value) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return count > value; });
  }
  void WaitFrames(unsigned more) {
    std::unique_lock<std::mutex> lock(mutex);
    unsigned target = frames + more;
    changed.wait(lock, [&] { return frames >= target; });
  }
};

Endings* g_endings;
std::atomic<int> g_speech_bytes{0};

void OnNoinput(mpf_sdi_detector_t*) { g_endings->Add(); }
void OnStopComplete(mpf_sdi_detector_t*, const mpf_sdi_stats_t*) { g_endings->Add(); }
void OnStartOfInput(mpf_sdi_detector_t*, mpf_sdi_mode_e) {}
void OnSpeechInput(mpf_sdi_detector_t*, const void* data, apr_size_t size, mpf_sdi_state_e state,
                   const mpf_sdi_stats_t*) {
  int sum = 0;
  for (apr_size_t i = 0; i < size; ++i)
    sum += static_cast<const unsigned char*>(data)[i];
  g_speech_bytes += static_cast<int>(size) + (sum & 1);
  if (state == MPF_SDI_STATE_COMPLETE)
    g_endings->Add();
}
void OnDtmfInput(mpf_sdi_detector_t*, const char*, apr_size_t, apt_bool_t, mpf_sdi_state_e, const mpf_sdi_stats_t*) {
  g_endings->Add();
}

// Voice bursts, pauses and now and then a key, over and over.
void FeedFrames(mpf_sdi_detector_t* detector, const std::atomic<bool>& done) {
  std::vector<int16_t> samples(80, 3);
  mpf_frame_t audio{};
  audio.type = MEDIA_FRAME_TYPE_AUDIO;
  audio.codec_frame.buffer = samples.data();
  audio.codec_frame.size = 160;
  mpf_frame_t key{};
  key.type = MEDIA_FRAME_TYPE_EVENT;
  key.event_frame.event_id = 1;
  for (unsigned n = 0; !done.load(std::memory_order_relaxed); ++n) {
    unsigned phase = n % 97;
    if (n % 1009 < 5) {
      key.marker = n % 1009 == 0 ? MPF_MARKER_START_OF_EVENT : n % 1009 == 4 ? MPF_MARKER_END_OF_EVENT : 0;
      mpf_sdi_process(detector, &key);
    } else {
      samples[1] = phase < 60 ? kVoice : kNoVoice;
      mpf_sdi_process(detector, &audio);
    }
    g_endings->Frame();
  }
}

class SdiStressTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }
  void SetUp() override {
    sdi_vad_script_reset();
    g_endings = &endings_;
    apr_pool_create(&pool_, nullptr);
    mpf_sdi_params_t params;
    mpf_sdi_params_init(&params);
    params.speech_start_timeout = 100;
    params.speech_complete_timeout = 200;
    params.speech_incomplete_timeout = 300;
    params.noinput_timeout = 400;
    params.input_timeout = 1500;
    params.dtmf_interdigit_timeout = 200;
    const mpf_sdi_event_handlers_t handlers = {OnNoinput,     OnStopComplete, OnStartOfInput,
                                               OnSpeechInput, OnDtmfInput,    nullptr};
    detector_ = mpf_sdi_detector_create("stress", &handlers, this, &params, pool_);
    ASSERT_NE(nullptr, detector_);
    media_ = std::thread(FeedFrames, detector_, std::cref(done_));
  }
  void TearDown() override {
    done_ = true;
    if (media_.joinable())
      media_.join();
    mpf_sdi_destroy(detector_);
    apr_pool_destroy(pool_);
  }

  // One of the calls the event thread makes while a detection runs.
  void RandomCall(std::mt19937& random) {
    switch (random() % 6) {
      case 0: mpf_sdi_start_timers(detector_); break;
      case 1: mpf_sdi_speech_flag_set(detector_); break;
      case 2: mpf_sdi_result_flag_set(detector_); break;
      case 3: mpf_sdi_speech_complete_timeout_set(detector_, 100 + random() % 300); break;
      case 4: mpf_sdi_dtmf_length_set(detector_, random() % 3, 0, 0); break;
      default: mpf_sdi_speech_start_mode_set(detector_, random() % 2); break;
    }
  }

  Endings endings_;
  apr_pool_t* pool_ = nullptr;
  mpf_sdi_detector_t* detector_ = nullptr;
  std::atomic<bool> done_{false};
  std::thread media_;
};

TEST_F(SdiStressTest, EveryDetectionEndsWithExactlyOneReport) {
  std::mt19937 random(7);
  int reports = 0;
  for (int cycle = 0; cycle < 400; ++cycle) {
    int before = endings_.Get();
    ASSERT_EQ(reports, before) << "no report while idle, cycle " << cycle;
    mpf_sdi_init(detector_, MPF_SDI_MODE_BOTH, 8000, 10, random() % 2, random() % 2);
    for (unsigned calls = random() % 4; calls; --calls) {
      RandomCall(random);
      endings_.WaitFrames(random() % 40);
    }
    if (random() % 3 == 0) {
      endings_.WaitAbove(before);  // the detection ends by itself
      EXPECT_EQ(0, mpf_sdi_stop(detector_));
    } else {
      // Either the detection ended by itself meanwhile or the stop will be reported: one report.
      mpf_sdi_stop(detector_);
      endings_.WaitAbove(before);
    }
    ASSERT_EQ(before + 1, endings_.Get()) << "cycle " << cycle;
    reports = before + 1;
    mpf_sdi_speech_flag_set(detector_);
    mpf_sdi_result_flag_set(detector_);
    mpf_sdi_start_timers(detector_);
    ASSERT_EQ(0, mpf_sdi_stop(detector_)) << "idle after the report";
  }
  EXPECT_GT(g_speech_bytes.load(), 0);
}

TEST_F(SdiStressTest, InitAndSettersAtAnyTime) {
  std::mt19937 random(11);
  for (int i = 0; i < 20000; ++i) {
    switch (random() % 4) {
      case 0:
        mpf_sdi_init(detector_, random() % 4, random() % 2 ? 8000 : 16000, 10, random() % 2, random() % 2);
        break;
      case 1: mpf_sdi_stop(detector_); break;
      case 2: {
        mpf_sdi_params_t params;
        mpf_sdi_params_init(&params);
        params.speech_leading_silence = random() % 500;
        params.speech_output_period = 10 + random() % 200;
        mpf_sdi_params_set(detector_, &params);
        break;
      }
      default: RandomCall(random); break;
    }
  }
  EXPECT_EQ(0, sdi_vad_script_get(SDI_VAD_REFUSED));
}

}  // namespace

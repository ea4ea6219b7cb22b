// Frame-exact behaviour of the detector, with the scripted VAD: every frame says whether it is
// voice. With 10 ms frames at 8 kHz a frame is 160 bytes.
#include "sdi_harness.h"
#include "sdi_vad_script.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

namespace {

constexpr size_t kFrame = 160;

mpf_sdi_params_t Defaults() {
  mpf_sdi_params_t p;
  mpf_sdi_params_init(&p);
  return p;
}

// Frame numbers from..to inclusive, after `zeros` frames of inserted silence.
std::vector<int> Numbers(size_t zeros, int from, int to) {
  std::vector<int> v(zeros, 0);
  for (int i = from; i <= to; ++i)
    v.push_back(i);
  return v;
}

size_t SpeechBytes(const SdiHarness& h) {
  size_t total = 0;
  for (const SdiEvent& e : h.Of(SdiEvent::kSpeech))
    total += e.size;
  return total;
}

// Every chunk but the last is IN-PROGRESS without statistics; the last is COMPLETE with them.
void ExpectOneFinalChunk(const SdiHarness& h) {
  std::vector<SdiEvent> speech = h.Of(SdiEvent::kSpeech);
  ASSERT_FALSE(speech.empty());
  for (size_t i = 0; i + 1 < speech.size(); ++i) {
    EXPECT_EQ(MPF_SDI_STATE_IN_PROGRESS, speech[i].state) << i;
    EXPECT_FALSE(speech[i].has_stats) << i;
  }
  EXPECT_EQ(MPF_SDI_STATE_COMPLETE, speech.back().state);
  EXPECT_TRUE(speech.back().has_stats);
}

class SdiDetectorTest : public ::testing::Test {
 protected:
  void SetUp() override { sdi_vad_script_reset(); }
};

TEST_F(SdiDetectorTest, StartOfSpeechOnThe31stVoiceFrame) {
  SdiHarness h;
  h.Init();
  h.Frames(kVoice, 30);
  EXPECT_EQ(0u, h.Count(SdiEvent::kStart));
  EXPECT_TRUE(h.events.empty());
  h.Frames(kVoice, 1);
  std::vector<SdiEvent> start = h.Of(SdiEvent::kStart);
  ASSERT_EQ(1u, start.size());
  EXPECT_EQ(31u, start[0].frame);
  EXPECT_EQ(MPF_SDI_MODE_SPEECH, start[0].mode);
  EXPECT_EQ(0, sdi_vad_script_get(SDI_VAD_REFUSED));
}

TEST_F(SdiDetectorTest, ProbationCancelledByOneUnvoicedFrameButNotByVadErrors) {
  struct Case {
    const char* name;
    std::function<void(SdiHarness&)> interrupt;
    size_t start_frame;
  } cases[] = {
      {"unvoiced audio", [](SdiHarness& h) { h.Audio(kNoVoice); }, 30 + 1 + 31},
      {"frame without audio", [](SdiHarness& h) { h.NonAudio(); }, 30 + 1 + 31},
      // An error frame decides nothing: the probation goes on where it was.
      {"VAD errors", [](SdiHarness& h) { h.Frames(kVadError, 5); }, 30 + 5 + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdiHarness h;
    h.Init();
    h.Frames(kVoice, 30);
    c.interrupt(h);
    while (h.Count(SdiEvent::kStart) == 0 && h.fed < 200)
      h.Audio(kVoice);
    ASSERT_EQ(1u, h.Count(SdiEvent::kStart));
    EXPECT_EQ(c.start_frame, h.Of(SdiEvent::kStart)[0].frame);
  }
}

TEST_F(SdiDetectorTest, LeadingAudioOrInsertedSilenceBeforeTheOnset) {
  struct Case {
    size_t silence_before;    // frames before the voice
    size_t inserted;          // zero frames handed out first
    int first_frame;          // first real frame handed out
  } cases[] = {
      {0, 5, 1},   // voice at once: 50 ms of silence inserted
      {2, 3, 1},   // two frames of audio exist before the onset, three are made up
      {10, 0, 6},  // enough audio: the input starts 5 frames before the onset
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.silence_before);
    SdiHarness h;
    h.Init();
    h.Frames(kNoVoice, c.silence_before);
    h.Frames(kVoice, 31);
    std::vector<SdiEvent> speech = h.Of(SdiEvent::kSpeech);
    ASSERT_FALSE(speech.empty());
    size_t real = c.silence_before + 31 - (c.first_frame - 1);
    size_t chunks = real / 8;
    EXPECT_EQ(Numbers(c.inserted, c.first_frame, c.first_frame + static_cast<int>(chunks * 8) - 1), h.SpeechFrames());
    size_t k = 0;
    if (c.inserted) {
      EXPECT_EQ(c.inserted * kFrame, speech[0].size);
      k = 1;
    }
    ASSERT_EQ(k + chunks, speech.size());
    for (; k < speech.size(); ++k)
      EXPECT_EQ(8 * kFrame, speech[k].size);
  }
}

TEST_F(SdiDetectorTest, EndOfSpeechAfterTheCompleteTimeout) {
  // 10 frames of silence, voice in frames 11..50, then silence from frame 51 on.
  struct Case {
    const char* name;
    bool interim;
    size_t flag_after;  // feed this many frames, then flag a result (0: never)
    size_t end_frame;
  } cases[] = {
      {"complete timeout", false, 0, 51 + 100},
      {"incomplete timeout while interim results are on", true, 0, 51 + 300},
      {"result flagged during speech", true, 45, 51 + 100},
      {"result flagged before the onset", true, 5, 51 + 100},
      {"result flag without interim results is ignored", false, 45, 51 + 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdiHarness h;
    h.Init(MPF_SDI_MODE_BOTH, true, c.interim);
    for (size_t i = 1; i <= 50; ++i) {
      h.Audio(i <= 10 ? kNoVoice : kVoice);
      if (i == c.flag_after)
        mpf_sdi_result_flag_set(h.det);
    }
    h.UntilEnd(kNoVoice, 1000);
    ASSERT_NE(nullptr, h.Ending());
    EXPECT_EQ(c.end_frame, h.Ending()->frame);
    ExpectOneFinalChunk(h);
    // The last chunk ends one frame short of the write marker.
    EXPECT_EQ(Numbers(0, 6, static_cast<int>(h.fed) - 1), h.SpeechFrames());
    const SdiEvent last = h.Of(SdiEvent::kSpeech).back();
    EXPECT_EQ(MPF_SDI_CAUSE_SUCCESS, last.stats.completion_cause);
    EXPECT_EQ((h.fed - 1 - 5) * kFrame, last.stats.output_size);
    EXPECT_EQ(SpeechBytes(h), last.stats.output_size);
    EXPECT_EQ((h.fed - 1 - 5) * 10, last.stats.input_duration);
    size_t events = h.events.size();
    h.Frames(kVoice, 100);
    EXPECT_EQ(events, h.events.size()) << "nothing after the end";
  }
}

TEST_F(SdiDetectorTest, RingWrapHandsOutTwoPieces) {
  // With the defaults the ring holds 335 frames. Voice in frames 11..238 puts the output end at
  // frame 338, and the last chunk runs from ring slot 333 over the end of the ring to slot 2.
  SdiHarness h;
  h.Init();
  h.Frames(kNoVoice, 10);
  h.Frames(kVoice, 228);
  h.UntilEnd(kNoVoice, 1000);
  ASSERT_NE(nullptr, h.Ending());
  EXPECT_EQ(339u, h.Ending()->frame);
  ExpectOneFinalChunk(h);
  std::vector<SdiEvent> speech = h.Of(SdiEvent::kSpeech);
  ASSERT_GE(speech.size(), 2u);
  EXPECT_EQ(2 * kFrame, speech[speech.size() - 2].size);
  EXPECT_EQ(3 * kFrame, speech.back().size);
  EXPECT_EQ(Numbers(0, 6, 338), h.SpeechFrames());
  EXPECT_EQ(333 * kFrame, speech.back().stats.output_size);
  EXPECT_EQ(3330u, speech.back().stats.input_duration);
}

TEST_F(SdiDetectorTest, DtmfLengthRulesTerminatorAndTimers) {
  // Each key takes 5 frames: start, three continuation frames, end.
  struct Case {
    const char* name;
    size_t length, min, max;
    char term;
    const char* keys;
    size_t end_frame;
    const char* digits;
    bool matched;
  } cases[] = {
      {"exact length ends at once", 4, 0, 0, 0, "12345", 16, "1234", true},
      {"max length ends at once", 0, 0, 3, 0, "12345", 11, "123", true},
      {"terminator below the minimum", 0, 2, 0, '#', "1#", 6, "1", false},
      {"terminator at the minimum", 0, 2, 0, '#', "12#", 11, "12", true},
      {"term timer once the minimum is reached", 0, 2, 0, '#', "12", 10 + 499, "12", true},
      {"inter-digit timer", 0, 0, 0, 0, "7", 5 + 499, "7", true},
      {"inter-digit timer short of the exact length", 3, 0, 0, 0, "12", 10 + 499, "12", false},
      {"inter-digit timer short of the minimum", 0, 2, 0, '#', "1", 5 + 499, "1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdiHarness h;
    mpf_sdi_dtmf_length_set(h.det, c.length, c.min, c.max);
    mpf_sdi_dtmf_term_char_set(h.det, c.term);
    h.Init();
    for (const char* k = c.keys; *k; ++k)
      h.Key(*k);
    h.UntilEnd(kNoVoice, 2000);
    const SdiEvent* end = h.Ending();
    ASSERT_NE(nullptr, end);
    ASSERT_EQ(SdiEvent::kDtmf, end->kind);
    EXPECT_EQ(c.end_frame, end->frame);
    EXPECT_EQ(c.digits, end->digits);
    EXPECT_EQ(c.matched, end->matched);
    EXPECT_EQ(MPF_SDI_STATE_COMPLETE, end->state);
    ASSERT_TRUE(end->has_stats);
    EXPECT_EQ(MPF_SDI_CAUSE_SUCCESS, end->stats.completion_cause);
    EXPECT_EQ(0u, end->stats.input_duration);
    EXPECT_EQ(0u, end->stats.output_size);
    std::vector<SdiEvent> start = h.Of(SdiEvent::kStart);
    ASSERT_EQ(1u, start.size());
    EXPECT_EQ(1u, start[0].frame);
    EXPECT_EQ(MPF_SDI_MODE_DTMF, start[0].mode);
    // Every key up to the end is reported as it comes, the terminator too.
    std::string seen;
    for (const SdiEvent& d : h.Of(SdiEvent::kDigit))
      seen += d.digit;
    EXPECT_EQ(std::string(c.keys).substr(0, seen.size()), seen);
    EXPECT_EQ(1u, h.Count(SdiEvent::kDtmf));
  }
}

TEST_F(SdiDetectorTest, DtmfFirstTurnsSpeechOff) {
  SdiHarness h;
  h.Init();
  h.Key('5');
  h.Frames(kVoice, 100);
  EXPECT_EQ(0u, h.Count(SdiEvent::kSpeech));
  ASSERT_EQ(1u, h.Count(SdiEvent::kStart));
  EXPECT_EQ(MPF_SDI_MODE_DTMF, h.Of(SdiEvent::kStart)[0].mode);
  h.UntilEnd(kVoice, 1000);
  ASSERT_NE(nullptr, h.Ending());
  EXPECT_EQ(SdiEvent::kDtmf, h.Ending()->kind);
  EXPECT_EQ("5", h.Ending()->digits);
  EXPECT_EQ(0u, h.Count(SdiEvent::kSpeech));
}

TEST_F(SdiDetectorTest, EventsOtherThanDtmfKeysAreNotInput) {
  SdiHarness h;
  h.Init();
  mpf_frame_t flash{};
  flash.type = MEDIA_FRAME_TYPE_EVENT;
  flash.marker = MPF_MARKER_START_OF_EVENT;
  flash.event_frame.event_id = 16;
  mpf_sdi_process(h.det, &flash);
  EXPECT_TRUE(h.events.empty());
  h.Frames(kVoice, 31);
  EXPECT_EQ(MPF_SDI_MODE_SPEECH, h.Of(SdiEvent::kStart).at(0).mode);
}

TEST_F(SdiDetectorTest, StopIsReportedOnTheNextFrame) {
  SdiHarness h;
  EXPECT_EQ(0, mpf_sdi_stop(h.det)) << "idle";
  h.Init();
  h.Frames(kVoice, 40);
  EXPECT_EQ(MPF_SDI_MODE_SPEECH, mpf_sdi_stop(h.det));
  EXPECT_EQ(0u, h.Count(SdiEvent::kStop));
  h.Audio(kVoice);
  std::vector<SdiEvent> stop = h.Of(SdiEvent::kStop);
  ASSERT_EQ(1u, stop.size());
  EXPECT_EQ(41u, stop[0].frame);
  ASSERT_TRUE(stop[0].has_stats);
  EXPECT_EQ(MPF_SDI_CAUSE_STOPPED, stop[0].stats.completion_cause);
  // Handed out: 5 inserted frames and frames 1..40; the stopping frame is not taken.
  EXPECT_EQ(45 * kFrame, stop[0].stats.output_size);
  EXPECT_EQ(SpeechBytes(h), stop[0].stats.output_size);
  EXPECT_EQ(450u, stop[0].stats.input_duration);
  size_t events = h.events.size();
  h.Frames(kVoice, 50);
  EXPECT_EQ(events, h.events.size());
  EXPECT_EQ(0, mpf_sdi_stop(h.det)) << "nothing left to stop";
  h.Frames(kVoice, 5);
  EXPECT_EQ(events, h.events.size());
}

TEST_F(SdiDetectorTest, StopBeforeAnyInputStopsBothDetectors) {
  SdiHarness h;
  h.Init();
  h.Frames(kNoVoice, 3);
  EXPECT_EQ(MPF_SDI_MODE_BOTH, mpf_sdi_stop(h.det));
  h.Key('1');
  ASSERT_EQ(1u, h.events.size());
  EXPECT_EQ(SdiEvent::kStop, h.events[0].kind);
  EXPECT_EQ(0u, h.events[0].stats.output_size);
}

TEST_F(SdiDetectorTest, NoInputTimer) {
  struct Case {
    const char* name;
    bool start_timers;
    size_t start_timers_after;  // call mpf_sdi_start_timers after this many frames (0: never)
    int voice_from;             // first voiced frame (0: none)
    size_t noinput_frame;       // 0: none within 3000 frames
  } cases[] = {
      {"timers started at init", true, 0, 0, 1000},
      {"timers not started", false, 0, 0, 0},
      {"timers started later", false, 200, 0, 1200},
      {"speech stops the timer", true, 0, 1, 0},
      {"no restart once speech has started", false, 40, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdiHarness h;
    mpf_sdi_input_timeout_set(h.det, 100000);
    h.Init(MPF_SDI_MODE_BOTH, c.start_timers);
    for (size_t i = 1; i <= 3000 && !h.Ending(); ++i) {
      h.Audio(c.voice_from && static_cast<int>(i) >= c.voice_from ? kVoice : kNoVoice);
      if (i == c.start_timers_after)
        mpf_sdi_start_timers(h.det);
    }
    std::vector<SdiEvent> noinput = h.Of(SdiEvent::kNoInput);
    if (c.noinput_frame) {
      ASSERT_EQ(1u, noinput.size());
      EXPECT_EQ(c.noinput_frame, noinput[0].frame);
      EXPECT_EQ(1u, h.events.size()) << "no-input is the only report";
    } else {
      EXPECT_TRUE(noinput.empty());
    }
  }
}

TEST_F(SdiDetectorTest, InputTimeoutCountsFromTheOnset) {
  SdiHarness h;
  h.Init();
  h.Frames(kNoVoice, 10);
  h.UntilEnd(kVoice, 5000);
  const SdiEvent* end = h.Ending();
  ASSERT_NE(nullptr, end);
  ASSERT_EQ(SdiEvent::kSpeech, end->kind);
  // Onset in frame 11; 20 s of frames from there, the onset frame included.
  EXPECT_EQ(11u + 1999, end->frame);
  EXPECT_EQ(MPF_SDI_CAUSE_TIMEDOUT, end->stats.completion_cause);
  ExpectOneFinalChunk(h);
  EXPECT_EQ(Numbers(0, 6, 2010), h.SpeechFrames()) << "everything up to the write marker";
  EXPECT_EQ(2005u * kFrame, end->stats.output_size);
  EXPECT_EQ(20050u, end->stats.input_duration);
}

TEST_F(SdiDetectorTest, DtmfInputTimeout) {
  SdiHarness h;
  mpf_sdi_input_timeout_set(h.det, 1000);
  mpf_sdi_dtmf_length_set(h.det, 2, 0, 0);
  h.Init();
  h.Key('1');
  h.UntilEnd(kNoVoice, 1000);
  const SdiEvent* end = h.Ending();
  ASSERT_NE(nullptr, end);
  ASSERT_EQ(SdiEvent::kDtmf, end->kind);
  EXPECT_EQ(100u, end->frame);
  EXPECT_EQ(MPF_SDI_CAUSE_TIMEDOUT, end->stats.completion_cause);
  EXPECT_EQ("1", end->digits);
  EXPECT_FALSE(end->matched);
}

TEST_F(SdiDetectorTest, ExternalStartOfSpeech) {
  SdiHarness h;
  mpf_sdi_speech_start_mode_set(h.det, 1);
  mpf_sdi_noinput_timeout_set(h.det, 500);
  h.Init(MPF_SDI_MODE_BOTH, true, true);
  h.Frames(kVoice, 40);
  EXPECT_EQ(0u, h.Count(SdiEvent::kStart)) << "the VAD alone does not start the input";
  EXPECT_FALSE(h.SpeechFrames().empty()) << "but the speech already flows";
  mpf_sdi_speech_flag_set(h.det);
  h.Key('1');
  h.Frames(kVoice, 30);
  EXPECT_EQ(0u, h.Count(SdiEvent::kStart));
  EXPECT_EQ(0u, h.Count(SdiEvent::kDigit)) << "DTMF is off once the service confirmed speech";
  EXPECT_EQ(0u, h.Count(SdiEvent::kNoInput)) << "the confirmation stopped the no-input timer";
  h.UntilEnd(kNoVoice, 1000);
  ASSERT_NE(nullptr, h.Ending());
  EXPECT_EQ(SdiEvent::kSpeech, h.Ending()->kind);
  EXPECT_EQ(MPF_SDI_CAUSE_SUCCESS, h.Ending()->stats.completion_cause);
}

TEST_F(SdiDetectorTest, ExternalStartWithoutConfirmation) {
  struct Case {
    const char* name;
    std::function<void(SdiHarness&)> then;
    SdiEvent::Kind ending;
  } cases[] = {
      {"DTMF still takes over", [](SdiHarness& h) { h.Key('3'); }, SdiEvent::kDtmf},
      {"no-input still runs", [](SdiHarness& h) { h.Frames(kVoice, 20); }, SdiEvent::kNoInput},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdiHarness h;
    mpf_sdi_speech_start_mode_set(h.det, 1);
    mpf_sdi_noinput_timeout_set(h.det, 500);
    h.Init();
    h.Frames(kVoice, 40);
    c.then(h);
    h.UntilEnd(kNoVoice, 1000);
    ASSERT_NE(nullptr, h.Ending());
    EXPECT_EQ(c.ending, h.Ending()->kind);
  }
}

TEST_F(SdiDetectorTest, NoReportAfterTheOneThatEndedTheDetection) {
  // Unconfirmed external start: the no-input timer still runs while the VAD hears speech, and
  // here it would expire in the very frame that ends the speech (frame 141).
  SdiHarness h;
  mpf_sdi_speech_start_mode_set(h.det, 1);
  mpf_sdi_noinput_timeout_set(h.det, 1410);
  h.Init();
  h.Frames(kVoice, 40);
  h.Frames(kNoVoice, 200);
  ASSERT_NE(nullptr, h.Ending());
  EXPECT_EQ(SdiEvent::kSpeech, h.Ending()->kind);
  EXPECT_EQ(141u, h.Ending()->frame);
  EXPECT_EQ(0u, h.Count(SdiEvent::kNoInput));
}

TEST_F(SdiDetectorTest, SpeechFlagWithInternalStartChangesNothing) {
  SdiHarness h;
  h.Init();
  h.Frames(kVoice, 10);
  mpf_sdi_speech_flag_set(h.det);
  h.Key('9');
  ASSERT_EQ(1u, h.Count(SdiEvent::kStart));
  EXPECT_EQ(MPF_SDI_MODE_DTMF, h.Of(SdiEvent::kStart)[0].mode);
}

TEST_F(SdiDetectorTest, ResultFlagConfirmsInputAndTurnsDtmfOff) {
  SdiHarness h;
  mpf_sdi_speech_start_mode_set(h.det, 1);
  h.Init(MPF_SDI_MODE_BOTH, true, true);
  h.Frames(kVoice, 40);
  mpf_sdi_result_flag_set(h.det);
  h.Key('1');
  EXPECT_EQ(0u, h.Count(SdiEvent::kDigit));
  // The key frames carry no voice and start the end probation; voice in frames 46..55 cancels it.
  h.Frames(kVoice, 10);
  h.UntilEnd(kNoVoice, 1000);
  ASSERT_NE(nullptr, h.Ending());
  EXPECT_EQ(SdiEvent::kSpeech, h.Ending()->kind);
  EXPECT_EQ(56u + 100, h.Ending()->frame) << "the result set the complete timeout";
}

TEST_F(SdiDetectorTest, WithoutNormalizingAudioFlowsFromTheFirstFrame) {
  mpf_sdi_params_t p = Defaults();
  p.normalize_input = FALSE;
  SdiHarness h(&p);
  h.Init();
  h.Frames(kNoVoice, 8);
  std::vector<SdiEvent> speech = h.Of(SdiEvent::kSpeech);
  ASSERT_EQ(1u, speech.size());
  EXPECT_EQ(MPF_SDI_STATE_NO_INPUT, speech[0].state);
  EXPECT_EQ(Numbers(0, 1, 8), h.SpeechFrames());
  h.Frames(kVoice, 40);
  h.UntilEnd(kNoVoice, 1000);
  ASSERT_NE(nullptr, h.Ending());
  EXPECT_EQ(48u + 1 + 100, h.Ending()->frame);
  EXPECT_EQ(Numbers(0, 1, static_cast<int>(h.fed)), h.SpeechFrames()) << "all audio, up to the write marker";
  EXPECT_EQ(h.fed * 10, h.Ending()->stats.input_duration);
}

TEST_F(SdiDetectorTest, FramesOfAnotherSizeAreCutOrPadded) {
  for (size_t bytes : {1, 2, 3, 100, 159, 161, 320, 4000}) {
    SCOPED_TRACE(bytes);
    sdi_vad_script_reset();
    SdiHarness h;
    h.Init();
    h.Audio(kVoice, 40, bytes);
    EXPECT_EQ(0, sdi_vad_script_get(SDI_VAD_REFUSED)) << "the VAD always gets a whole frame";
    for (const SdiEvent& e : h.Of(SdiEvent::kSpeech))
      EXPECT_EQ(0u, e.size % kFrame);
    // Byte 2 carries the voice decision; what a short frame lacks is padded with zeros.
    EXPECT_EQ(bytes >= 3 ? 1u : 0u, h.Count(SdiEvent::kStart));
  }
  SdiHarness h;
  h.Init();
  mpf_frame_t missing{};
  missing.type = MEDIA_FRAME_TYPE_AUDIO;
  missing.codec_frame.size = 160;  // but no buffer
  for (int i = 0; i < 100; ++i)
    mpf_sdi_process(h.det, &missing);
  EXPECT_TRUE(h.events.empty());
}

TEST_F(SdiDetectorTest, UnsupportedFormatLeavesSpeechOut) {
  SdiHarness h;
  mpf_sdi_init(h.det, MPF_SDI_MODE_BOTH, 11025, 10, TRUE, FALSE);
  h.Frames(kVoice, 100);
  EXPECT_TRUE(h.events.empty());
  h.Key('4');
  EXPECT_EQ(MPF_SDI_MODE_DTMF, h.Of(SdiEvent::kStart).at(0).mode);
  mpf_sdi_init(h.det, MPF_SDI_MODE_BOTH, 8000, 0, TRUE, FALSE);
  EXPECT_EQ(0, mpf_sdi_stop(h.det)) << "nothing can run without a frame duration";
}

TEST_F(SdiDetectorTest, Sixteen_kHz) {
  SdiHarness h;
  h.Init(MPF_SDI_MODE_SPEECH, true, false, 16000);
  h.Frames(kVoice, 31);
  ASSERT_EQ(1u, h.Count(SdiEvent::kStart));
  EXPECT_EQ(5 * 2 * kFrame, h.Of(SdiEvent::kSpeech).at(0).size);
  EXPECT_EQ(Numbers(5, 1, 24), h.SpeechFrames());
}

TEST_F(SdiDetectorTest, CreationRules) {
  apr_pool_t* pool;
  apr_pool_create(&pool, nullptr);
  mpf_sdi_event_handlers_t full;
  mpf_sdi_event_handlers_init(&full);
  full.on_noinput = [](mpf_sdi_detector_t*) {};
  full.on_stop_complete = [](mpf_sdi_detector_t*, const mpf_sdi_stats_t*) {};
  full.on_start_of_input = [](mpf_sdi_detector_t*, mpf_sdi_mode_e) {};
  full.on_speech_input = [](mpf_sdi_detector_t*, const void*, apr_size_t, mpf_sdi_state_e, const mpf_sdi_stats_t*) {};
  full.on_dtmf_input = [](mpf_sdi_detector_t*, const char*, apr_size_t, apt_bool_t, mpf_sdi_state_e,
                          const mpf_sdi_stats_t*) {};
  int obj = 0;
  EXPECT_EQ(nullptr, mpf_sdi_detector_create(nullptr, &full, &obj, nullptr, pool));
  EXPECT_EQ(nullptr, mpf_sdi_detector_create("n", nullptr, &obj, nullptr, pool));
  EXPECT_EQ(nullptr, mpf_sdi_detector_create("n", &full, nullptr, nullptr, pool));
  mpf_sdi_event_handlers_t h = full;
  h.on_start_of_input = nullptr;
  EXPECT_EQ(nullptr, mpf_sdi_detector_create("n", &h, &obj, nullptr, pool));
  h = full;
  h.on_speech_input = nullptr;
  EXPECT_EQ(nullptr, mpf_sdi_detector_create("n", &h, &obj, nullptr, pool)) << "speech needs its handler";
  mpf_sdi_params_t dtmf = Defaults();
  dtmf.input_mode = MPF_SDI_MODE_DTMF;
  mpf_sdi_detector_t* d = mpf_sdi_detector_create("n", &h, &obj, &dtmf, pool);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(&obj, mpf_sdi_obj_get(d));
  EXPECT_EQ(0, sdi_vad_script_get(SDI_VAD_CREATED)) << "no VAD without speech";
  mpf_sdi_init(d, MPF_SDI_MODE_BOTH, 8000, 10, TRUE, FALSE);
  EXPECT_EQ(MPF_SDI_MODE_DTMF, mpf_sdi_stop(d));
  mpf_sdi_destroy(d);

  sdi_vad_script_fail_create(1);
  EXPECT_EQ(nullptr, mpf_sdi_detector_create("n", &full, &obj, nullptr, pool));
  sdi_vad_script_fail_create(0);
  d = mpf_sdi_detector_create("n", &full, &obj, nullptr, pool);
  ASSERT_NE(nullptr, d);
  mpf_sdi_destroy(d);
  EXPECT_EQ(sdi_vad_script_get(SDI_VAD_CREATED), sdi_vad_script_get(SDI_VAD_FREED));
  mpf_sdi_init(d, MPF_SDI_MODE_BOTH, 8000, 10, TRUE, FALSE);
  EXPECT_EQ(0, mpf_sdi_stop(d)) << "a destroyed detector stays idle";
  apr_pool_destroy(pool);
}

TEST_F(SdiDetectorTest, VadModeTakesEffectAtInit) {
  mpf_sdi_params_t p = Defaults();
  p.vad_mode = 1;
  SdiHarness h(&p);
  h.Init();
  EXPECT_EQ(1, sdi_vad_script_get(SDI_VAD_LAST_MODE));
  mpf_sdi_vad_mode_set(h.det, 3);
  EXPECT_EQ(1, sdi_vad_script_get(SDI_VAD_LAST_MODE));
  h.Init();
  EXPECT_EQ(3, sdi_vad_script_get(SDI_VAD_LAST_MODE));
  mpf_sdi_vad_mode_set(h.det, 7);
  h.Init();
  EXPECT_EQ(3, sdi_vad_script_get(SDI_VAD_LAST_MODE));
}

TEST_F(SdiDetectorTest, ReinitStartsAFreshDetection) {
  SdiHarness h;
  h.Init();
  h.Frames(kVoice, 40);
  EXPECT_EQ(MPF_SDI_MODE_SPEECH, mpf_sdi_stop(h.det));
  h.Init();  // before the stop was carried out: the new detection must not report it
  h.Frames(kVoice, 31);
  ASSERT_EQ(1u, h.events.size() - h.Count(SdiEvent::kSpeech));
  EXPECT_EQ(31u, h.Of(SdiEvent::kStart).at(0).frame);
  EXPECT_EQ(Numbers(5, 1, 24), h.SpeechFrames());
}

}  // namespace

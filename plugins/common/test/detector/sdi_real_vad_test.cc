// The detector with the WebRTC VAD itself, on audio made here (sdi_signal.h).
#include "mpf_sdi_vad.h"
#include "sdi_harness.h"
#include "sdi_signal.h"

#include <gtest/gtest.h>


namespace {

void Feed(SdiHarness& h, const SdiSignal& s, size_t from, size_t to) {
  for (size_t i = from; i < to && !h.Ending(); ++i) {
    mpf_frame_t frame{};
    frame.type = MEDIA_FRAME_TYPE_AUDIO;
    frame.codec_frame.buffer = const_cast<int16_t*>(s.Frame(i));
    frame.codec_frame.size = s.FrameSamples() * 2;
    ++h.fed;
    mpf_sdi_process(h.det, &frame);
  }
}

class SdiRealVadTest : public ::testing::TestWithParam<int> {};

TEST_P(SdiRealVadTest, TheVadTellsTheSignalsApart) {
  const int rate = GetParam();
  SdiSignal silence(rate), noise(rate), voice(rate);
  silence.Silence(1000);
  noise.Noise(1000);
  voice.Voice(1000);
  VadInst* vad = WebRtcVad_Create();
  ASSERT_NE(nullptr, vad);
  ASSERT_EQ(0, WebRtcVad_Init(vad));
  ASSERT_EQ(0, WebRtcVad_set_mode(vad, 2));
  auto voiced = [&](const SdiSignal& s) {
    int count = 0;
    for (size_t i = 0; i < s.Frames(); ++i)
      count += WebRtcVad_Process(vad, rate, s.Frame(i), s.FrameSamples());
    return count;
  };
  EXPECT_EQ(0, voiced(silence));
  EXPECT_LE(voiced(noise), 10) << "a few stray frames while the VAD adapts";
  EXPECT_GE(voiced(voice), 95);
  WebRtcVad_Free(vad);
}

TEST_P(SdiRealVadTest, NoiseAloneEndsInNoInput) {
  const int rate = GetParam();
  SdiSignal s(rate);
  s.Silence(2000);
  s.Noise(9000);
  SdiHarness h;
  h.Init(MPF_SDI_MODE_BOTH, true, false, static_cast<uint16_t>(rate));
  Feed(h, s, 0, s.Frames());
  ASSERT_NE(nullptr, h.Ending());
  EXPECT_EQ(SdiEvent::kNoInput, h.Ending()->kind);
  EXPECT_EQ(1000u, h.Ending()->frame);
  EXPECT_EQ(1u, h.events.size());
}

TEST_P(SdiRealVadTest, AnUtteranceIsFoundAndHandedOn) {
  const int rate = GetParam();
  SdiSignal s(rate);
  s.Noise(700);   // frames 1..70
  s.Voice(1500);  // frames 71..220
  s.Noise(3000);
  SdiHarness h;
  h.Init(MPF_SDI_MODE_BOTH, true, false, static_cast<uint16_t>(rate));
  Feed(h, s, 0, s.Frames());

  std::vector<SdiEvent> start = h.Of(SdiEvent::kStart);
  ASSERT_EQ(1u, start.size());
  EXPECT_EQ(MPF_SDI_MODE_SPEECH, start[0].mode);
  // 300 ms of voice from the onset; the VAD may take a frame or two to hear it.
  EXPECT_GE(start[0].frame, 70u + 31);
  EXPECT_LE(start[0].frame, 70u + 31 + 3);

  const SdiEvent* end = h.Ending();
  ASSERT_NE(nullptr, end);
  ASSERT_EQ(SdiEvent::kSpeech, end->kind);
  EXPECT_EQ(MPF_SDI_CAUSE_SUCCESS, end->stats.completion_cause);
  // One second of non-voice after the voice ends; the VAD holds on to voice for a few frames.
  EXPECT_GE(end->frame, 220u + 101);
  EXPECT_LE(end->frame, 220u + 101 + 15);

  // What was handed on is the input from 50 ms before the onset, frame for frame.
  size_t bytes = 0;
  std::vector<int16_t> out;
  for (const SdiEvent& e : h.Of(SdiEvent::kSpeech)) {
    bytes += e.size;
    out.insert(out.end(), e.samples.begin(), e.samples.end());
  }
  EXPECT_EQ(bytes, end->stats.output_size);
  EXPECT_EQ(bytes / (s.FrameSamples() * 2) * 10, end->stats.input_duration);
  size_t first = (start[0].frame - 31) - 5;  // frame index where the input starts
  ASSERT_GE(s.Frames() * s.FrameSamples(), first * s.FrameSamples() + out.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), s.Frame(first)));
}

INSTANTIATE_TEST_SUITE_P(Rates, SdiRealVadTest, ::testing::Values(8000, 16000));

}  // namespace

// Debian's libwebrtc_audio_processing exports a main() of its own (a stray tool's), which would
// win over gtest_main's from the static archive: this one is in an object and so comes first.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

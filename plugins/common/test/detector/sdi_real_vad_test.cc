// The detector with the WebRTC VAD itself, on audio made here: digital silence, low noise, and a
// voiced sound (a 140 Hz harmonic series shaped by three vowel formants, with a syllable rhythm).
#include "mpf_sdi_vad.h"
#include "sdi_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kPi = 3.14159265358979323846;

class Signal {
 public:
  explicit Signal(int rate) : rate_(rate), noise_(42) {}

  // Appends ms of digital silence, low noise (about -50 dBFS) or voice.
  void Silence(int ms) { samples_.resize(samples_.size() + Count(ms), 0); }
  void Noise(int ms) {
    std::normal_distribution<double> gauss(0.0, 100.0);
    for (size_t i = 0, n = Count(ms); i < n; ++i)
      samples_.push_back(static_cast<int16_t>(gauss(noise_)));
  }
  void Voice(int ms) {
    const double formants[] = {700, 1200, 2600};
    std::normal_distribution<double> gauss(0.0, 100.0);
    for (size_t i = 0, n = Count(ms); i < n; ++i, ++t_) {
      double t = static_cast<double>(t_) / rate_;
      double f0 = 140 + 8 * std::sin(2 * kPi * 5 * t);
      phase_ += 2 * kPi * f0 / rate_;
      double v = 0;
      for (int k = 1; k * 140 < rate_ / 2 - 200; ++k) {
        double f = k * 140.0, gain = 0;
        for (double formant : formants)
          gain += 1.0 / (1.0 + std::pow((f - formant) / 150.0, 2));
        v += gain / k * std::sin(k * phase_);
      }
      double syllable = 0.6 + 0.4 * std::sin(2 * kPi * 4 * t);
      samples_.push_back(static_cast<int16_t>(6000 * syllable * v + gauss(noise_)));
    }
  }

  size_t Frames() const { return samples_.size() / FrameSamples(); }
  size_t FrameSamples() const { return static_cast<size_t>(rate_ / 100); }
  const int16_t* Frame(size_t i) const { return samples_.data() + i * FrameSamples(); }

 private:
  size_t Count(int ms) const { return static_cast<size_t>(rate_) * ms / 1000; }
  int rate_;
  std::mt19937 noise_;
  std::vector<int16_t> samples_;
  double phase_ = 0;
  size_t t_ = 0;
};

void Feed(SdiHarness& h, const Signal& s, size_t from, size_t to) {
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
  Signal silence(rate), noise(rate), voice(rate);
  silence.Silence(1000);
  noise.Noise(1000);
  voice.Voice(1000);
  VadInst* vad = WebRtcVad_Create();
  ASSERT_NE(nullptr, vad);
  ASSERT_EQ(0, WebRtcVad_Init(vad));
  ASSERT_EQ(0, WebRtcVad_set_mode(vad, 2));
  auto voiced = [&](const Signal& s) {
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
  Signal s(rate);
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
  Signal s(rate);
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

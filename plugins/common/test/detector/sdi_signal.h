// Test audio made on the spot: digital silence, low noise (about -50 dBFS), and a voiced sound
// (a 140 Hz harmonic series shaped by three vowel formants, with a syllable rhythm) that the
// WebRTC VAD takes for speech. 16-bit mono at 8 or 16 kHz, in 10 ms frames.
#ifndef SDI_SIGNAL_H
#define SDI_SIGNAL_H

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

inline constexpr double kSdiPi = 3.14159265358979323846;

class SdiSignal {
 public:
  explicit SdiSignal(int rate) : rate_(rate), noise_(42) {}

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
      double f0 = 140 + 8 * std::sin(2 * kSdiPi * 5 * t);
      phase_ += 2 * kSdiPi * f0 / rate_;
      double v = 0;
      for (int k = 1; k * 140 < rate_ / 2 - 200; ++k) {
        double f = k * 140.0, gain = 0;
        for (double formant : formants)
          gain += 1.0 / (1.0 + std::pow((f - formant) / 150.0, 2));
        v += gain / k * std::sin(k * phase_);
      }
      double syllable = 0.6 + 0.4 * std::sin(2 * kSdiPi * 4 * t);
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

#endif  // SDI_SIGNAL_H

#include "AsrAudio.h"

#ifdef ASRCLIENT_HAVE_SOXR
#include <soxr.h>
#endif

namespace asrclient {

namespace {

bool Fail(std::string *error, const std::string &text) {
  if (error) *error = text;
  return false;
}

}  // namespace

bool CanResample() {
#ifdef ASRCLIENT_HAVE_SOXR
  return true;
#else
  return false;
#endif
}

bool ResampleLinear(const std::vector<uint8_t> &in, unsigned in_rate, unsigned out_rate, std::vector<uint8_t> *out,
                    std::string *error) {
  if (in_rate == 0 || out_rate == 0) return Fail(error, "no sampling rate");
  if (in_rate == out_rate) {
    *out = in;
    return true;
  }
#ifdef ASRCLIENT_HAVE_SOXR
  const size_t in_samples = in.size() / 2;
  std::vector<int16_t> samples(in_samples);
  for (size_t i = 0; i < in_samples; ++i) samples[i] = static_cast<int16_t>(in[2 * i] | (in[2 * i + 1] << 8));
  const size_t out_capacity = static_cast<size_t>(static_cast<double>(in_samples) * out_rate / in_rate) + 16;
  std::vector<int16_t> converted(out_capacity);
  size_t done_in = 0;
  size_t done_out = 0;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t failed = soxr_oneshot(in_rate, out_rate, 1, samples.data(), in_samples, &done_in, converted.data(),
                                     converted.size(), &done_out, &io, &quality, nullptr);
  if (failed) return Fail(error, std::string("resampling failed: ") + failed);
  out->resize(done_out * 2);
  for (size_t i = 0; i < done_out; ++i) {
    (*out)[2 * i] = static_cast<uint8_t>(converted[i] & 0xFF);
    (*out)[2 * i + 1] = static_cast<uint8_t>((converted[i] >> 8) & 0xFF);
  }
  return true;
#else
  return Fail(error, "this build cannot convert sampling rates");
#endif
}

bool LoadSessionAudio(const std::string &path, const std::string &codec, unsigned rate, std::vector<uint8_t> *out,
                      std::string *note, std::string *error) {
  mrcphost::AudioBuffer audio;
  if (!mrcphost::ReadAudioFile(path, rate, &audio, error)) return false;
  if (audio.bytes.empty()) return Fail(error, path + " holds no audio");
  if (audio.rate != rate) {
    if (!CanResample()) {
      return Fail(error, path + " is at " + std::to_string(audio.rate) + " Hz but the channel runs at " +
                             std::to_string(rate) + " Hz, and this build cannot convert sampling rates");
    }
    mrcphost::AudioBuffer linear;
    linear.codec = "LPCM";
    linear.rate = audio.rate;
    if (!mrcphost::ConvertAudio(audio, "LPCM", audio.rate, &linear.bytes, error)) return false;
    mrcphost::AudioBuffer converted;
    converted.codec = "LPCM";
    converted.rate = rate;
    if (!ResampleLinear(linear.bytes, audio.rate, rate, &converted.bytes, error)) return false;
    if (note) *note = "converted from " + std::to_string(audio.rate) + " Hz to " + std::to_string(rate) + " Hz";
    audio = converted;
  }
  std::string why;
  if (!mrcphost::ConvertAudio(audio, codec, rate, out, &why)) return Fail(error, path + ": " + why);
  return true;
}

}  // namespace asrclient

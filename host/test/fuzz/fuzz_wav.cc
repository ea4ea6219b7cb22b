// Fuzzes the RIFF WAV reader that takes the audio files of session scripts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mrcphost/host_audio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  mrcphost::AudioBuffer audio;
  std::string error;
  if (mrcphost::ParseWav(data, size, &audio, &error)) {
    if (audio.rate == 0 || audio.bytes.size() > size) abort();
  } else if (error.empty()) {
    abort();
  }
  return 0;
}

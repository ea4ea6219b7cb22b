// The caller's audio for a session: a headerless 16-bit PCM or RIFF WAV file, brought to the
// channel's codec and rate.
#ifndef ASRCLIENT_ASR_AUDIO_H
#define ASRCLIENT_ASR_AUDIO_H

#include <cstdint>
#include <string>
#include <vector>

#include "mrcphost/host_audio.h"

namespace asrclient {

// True when this build can convert between sampling rates.
bool CanResample();

// 16-bit linear samples (little-endian bytes) from one rate to another.
bool ResampleLinear(const std::vector<uint8_t> &in, unsigned in_rate, unsigned out_rate, std::vector<uint8_t> *out,
                    std::string *error);

// Reads path (headerless files are taken at the channel's rate) and converts it to the channel's
// codec and rate; a WAV file at another rate is resampled, or refused when the build cannot.
// *note tells what was converted, for the log.
bool LoadSessionAudio(const std::string &path, const std::string &codec, unsigned rate, std::vector<uint8_t> *out,
                      std::string *note, std::string *error);

}  // namespace asrclient

#endif  // ASRCLIENT_ASR_AUDIO_H

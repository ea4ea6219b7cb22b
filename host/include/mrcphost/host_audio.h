// Audio files and G.711 for the host side: reading the caller's audio (RIFF WAV or headerless),
// converting it to a channel's codec, and writing what a plugin produced as WAV.
#ifndef MRCPHOST_HOST_AUDIO_H
#define MRCPHOST_HOST_AUDIO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define MRCPHOST_API __attribute__((visibility("default")))
#else
#define MRCPHOST_API
#endif

namespace mrcphost {

// Mono audio in one codec: "LPCM" (16-bit little-endian), "PCMU" (mu-law) or "PCMA" (A-law).
struct AudioBuffer {
  std::string codec;
  unsigned rate = 0;
  std::vector<uint8_t> bytes;
};

MRCPHOST_API uint8_t LinearToUlaw(int16_t sample);
MRCPHOST_API int16_t UlawToLinear(uint8_t byte);
MRCPHOST_API uint8_t LinearToAlaw(int16_t sample);
MRCPHOST_API int16_t AlawToLinear(uint8_t byte);

// Bytes of one frame of the codec; 0 for an unknown codec.
MRCPHOST_API size_t FrameBytes(const std::string &codec, unsigned rate, unsigned frame_ms);
// The byte that encodes silence in the codec (LPCM: 0).
MRCPHOST_API uint8_t SilenceByte(const std::string &codec);

// Parses a RIFF WAV image: PCM 16-bit, mu-law or A-law; the first channel of a multi-channel file.
MRCPHOST_API bool ParseWav(const uint8_t *data, size_t size, AudioBuffer *out, std::string *error);
// A file starting with "RIFF" is read as WAV; any other is headerless: mu-law for the extensions
// .ul/.ulaw/.mulaw, A-law for .al/.alaw, otherwise 16-bit little-endian linear at raw_rate.
MRCPHOST_API bool ReadAudioFile(const std::string &path, unsigned raw_rate, AudioBuffer *out, std::string *error);
// Recodes to the codec; the rates must agree (no resampling).
MRCPHOST_API bool ConvertAudio(const AudioBuffer &in, const std::string &codec, unsigned rate, std::vector<uint8_t> *out,
                               std::string *error);
// Writes a RIFF WAV of the buffer's codec (linear, mu-law or A-law).
// The whole content of a file, as bytes. False when it cannot be read.
MRCPHOST_API bool ReadWholeFile(const std::string &path, std::string *out);
MRCPHOST_API bool WriteWavFile(const std::string &path, const AudioBuffer &audio, std::string *error);

}  // namespace mrcphost

#endif  // MRCPHOST_HOST_AUDIO_H

// Audio files and G.711 (ITU-T G.711 segment encoding).
#include "mrcphost/host_audio.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace mrcphost {

namespace {

uint16_t Read16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(std::vector<uint8_t> *out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t> *out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool HasSuffix(const std::string &path, const char *suffix) {
  size_t n = strlen(suffix);
  return path.size() >= n && strcasecmp(path.c_str() + path.size() - n, suffix) == 0;
}

bool Fail(std::string *error, const std::string &text) {
  if (error) *error = text;
  return false;
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatAlaw = 6;
constexpr uint16_t kFormatUlaw = 7;
constexpr uint16_t kFormatExtensible = 0xFFFE;

}  // namespace

uint8_t LinearToUlaw(int16_t sample) {
  const int kBias = 0x84;
  const int kClip = 32635;
  int s = sample;
  int sign = (s >> 8) & 0x80;
  if (sign) s = -s;
  if (s > kClip) s = kClip;
  s += kBias;
  int exponent = 7;
  for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  int mantissa = (s >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

int16_t UlawToLinear(uint8_t byte) {
  int u = ~byte & 0xFF;
  int t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return static_cast<int16_t>((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

uint8_t LinearToAlaw(int16_t sample) {
  static const int kSegmentEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int value = sample >> 3;  // 13 significant bits
  int mask;
  if (value >= 0) {
    mask = 0xD5;
  } else {
    mask = 0x55;
    value = -value - 1;
  }
  int segment = 0;
  while (segment < 8 && value > kSegmentEnd[segment]) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  int code = segment << 4;
  code |= segment < 2 ? (value >> 1) & 0x0F : (value >> segment) & 0x0F;
  return static_cast<uint8_t>(code ^ mask);
}

int16_t AlawToLinear(uint8_t byte) {
  int a = byte ^ 0x55;
  int t = (a & 0x0F) << 4;
  int segment = (a & 0x70) >> 4;
  if (segment == 0) {
    t += 8;
  } else {
    t += 0x108;
    t <<= segment - 1;
  }
  return static_cast<int16_t>((a & 0x80) ? t : -t);
}

size_t FrameBytes(const std::string &codec, unsigned rate, unsigned frame_ms) {
  size_t samples = static_cast<size_t>(rate) * frame_ms / 1000;
  if (strcasecmp(codec.c_str(), "LPCM") == 0) return samples * 2;
  if (strcasecmp(codec.c_str(), "PCMU") == 0 || strcasecmp(codec.c_str(), "PCMA") == 0) return samples;
  return 0;
}

uint8_t SilenceByte(const std::string &codec) {
  if (strcasecmp(codec.c_str(), "PCMU") == 0) return 0xFF;
  if (strcasecmp(codec.c_str(), "PCMA") == 0) return 0xD5;
  return 0;
}

bool ParseWav(const uint8_t *data, size_t size, AudioBuffer *out, std::string *error) {
  if (!data || size < 12 || memcmp(data, "RIFF", 4) != 0 || memcmp(data + 8, "WAVE", 4) != 0) {
    return Fail(error, "not a RIFF WAVE file");
  }
  uint16_t format = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
  bool have_format = false;
  size_t pos = 12;
  while (pos + 8 <= size) {
    const uint8_t *chunk = data + pos;
    size_t chunk_size = Read32(chunk + 4);
    size_t body = pos + 8;
    size_t available = size - body;
    if (memcmp(chunk, "fmt ", 4) == 0) {
      if (chunk_size < 16 || available < 16) return Fail(error, "short fmt chunk");
      format = Read16(data + body);
      channels = Read16(data + body + 2);
      rate = Read32(data + body + 4);
      bits = Read16(data + body + 14);
      if (format == kFormatExtensible) {
        // The sub-format GUID starts with the plain format tag.
        if (chunk_size < 40 || available < 40) return Fail(error, "short extensible fmt chunk");
        format = Read16(data + body + 24);
      }
      have_format = true;
    } else if (memcmp(chunk, "data", 4) == 0) {
      if (!have_format) return Fail(error, "data chunk before fmt chunk");
      if (channels == 0) return Fail(error, "no channels");
      if (rate == 0 || rate > 192000) return Fail(error, "unsupported sampling rate");
      size_t sample_bytes;
      if (format == kFormatPcm && bits == 16) {
        out->codec = "LPCM";
        sample_bytes = 2;
      } else if ((format == kFormatUlaw || format == kFormatAlaw) && bits == 8) {
        out->codec = format == kFormatUlaw ? "PCMU" : "PCMA";
        sample_bytes = 1;
      } else {
        return Fail(error, "unsupported WAV format " + std::to_string(format) + " with " + std::to_string(bits) +
                               " bits per sample");
      }
      // Streamed files may announce more data than they hold.
      size_t data_size = std::min(chunk_size, available);
      size_t block = sample_bytes * channels;
      size_t frames = data_size / block;
      out->rate = rate;
      out->bytes.clear();
      out->bytes.reserve(frames * sample_bytes);
      for (size_t i = 0; i < frames; ++i) {
        const uint8_t *sample = data + body + i * block;
        out->bytes.insert(out->bytes.end(), sample, sample + sample_bytes);
      }
      return true;
    }
    if (chunk_size > available) break;
    pos = body + chunk_size + (chunk_size & 1);  // chunks are padded to even sizes
  }
  return Fail(error, "no data chunk");
}

bool ReadWholeFile(const std::string &path, std::string *out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool ReadAudioFile(const std::string &path, unsigned raw_rate, AudioBuffer *out, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot read " + path);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() >= 4 && memcmp(bytes.data(), "RIFF", 4) == 0) {
    std::string why;
    if (!ParseWav(bytes.data(), bytes.size(), out, &why)) return Fail(error, path + ": " + why);
    return true;
  }
  out->rate = raw_rate;
  if (HasSuffix(path, ".ul") || HasSuffix(path, ".ulaw") || HasSuffix(path, ".mulaw")) {
    out->codec = "PCMU";
  } else if (HasSuffix(path, ".al") || HasSuffix(path, ".alaw")) {
    out->codec = "PCMA";
  } else {
    out->codec = "LPCM";
    bytes.resize(bytes.size() & ~size_t{1});
  }
  out->bytes = std::move(bytes);
  return true;
}

bool ConvertAudio(const AudioBuffer &in, const std::string &codec, unsigned rate, std::vector<uint8_t> *out,
                  std::string *error) {
  if (in.rate != rate) {
    return Fail(error, "audio is at " + std::to_string(in.rate) + " Hz but the channel runs at " +
                           std::to_string(rate) + " Hz");
  }
  if (FrameBytes(codec, 8000, 10) == 0) return Fail(error, "unknown codec " + codec);
  if (strcasecmp(in.codec.c_str(), codec.c_str()) == 0) {
    *out = in.bytes;
    return true;
  }
  std::vector<int16_t> linear;
  if (in.codec == "LPCM") {
    linear.resize(in.bytes.size() / 2);
    for (size_t i = 0; i < linear.size(); ++i) linear[i] = static_cast<int16_t>(Read16(&in.bytes[2 * i]));
  } else if (in.codec == "PCMU" || in.codec == "PCMA") {
    linear.reserve(in.bytes.size());
    for (uint8_t b : in.bytes) linear.push_back(in.codec == "PCMU" ? UlawToLinear(b) : AlawToLinear(b));
  } else {
    return Fail(error, "unknown codec " + in.codec);
  }
  out->clear();
  if (strcasecmp(codec.c_str(), "LPCM") == 0) {
    out->reserve(linear.size() * 2);
    for (int16_t s : linear) Put16(out, static_cast<uint16_t>(s));
  } else {
    const bool ulaw = strcasecmp(codec.c_str(), "PCMU") == 0;
    out->reserve(linear.size());
    for (int16_t s : linear) out->push_back(ulaw ? LinearToUlaw(s) : LinearToAlaw(s));
  }
  return true;
}

bool WriteWavFile(const std::string &path, const AudioBuffer &audio, std::string *error) {
  uint16_t format;
  uint16_t bits;
  if (audio.codec == "LPCM") {
    format = kFormatPcm;
    bits = 16;
  } else if (audio.codec == "PCMU" || audio.codec == "PCMA") {
    format = audio.codec == "PCMU" ? kFormatUlaw : kFormatAlaw;
    bits = 8;
  } else {
    return Fail(error, "unknown codec " + audio.codec);
  }
  const uint32_t data_size = static_cast<uint32_t>(audio.bytes.size());
  const uint16_t block = bits / 8;
  std::vector<uint8_t> head;
  head.insert(head.end(), {'R', 'I', 'F', 'F'});
  Put32(&head, 36 + data_size + (data_size & 1));
  head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(&head, 16);
  Put16(&head, format);
  Put16(&head, 1);
  Put32(&head, audio.rate);
  Put32(&head, audio.rate * block);
  Put16(&head, block);
  Put16(&head, bits);
  head.insert(head.end(), {'d', 'a', 't', 'a'});
  Put32(&head, data_size);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return Fail(error, "cannot write " + path);
  file.write(reinterpret_cast<const char *>(head.data()), static_cast<std::streamsize>(head.size()));
  file.write(reinterpret_cast<const char *>(audio.bytes.data()), static_cast<std::streamsize>(audio.bytes.size()));
  if (data_size & 1) file.put('\0');
  if (!file) return Fail(error, "cannot write " + path);
  return true;
}

}  // namespace mrcphost

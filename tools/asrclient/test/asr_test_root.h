// A client root directory for tests: conf/asrclient.xml naming the test plugin, data/ with
// grammars, parameter files and synthetic audio (silence, a loud stretch, silence).
#ifndef ASRCLIENT_TEST_ASR_TEST_ROOT_H
#define ASRCLIENT_TEST_ASR_TEST_ROOT_H

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mrcphost/host_audio.h"

namespace asrtest {

inline void WriteText(const std::string &path, const std::string &text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// 16-bit linear audio: quiet, then a loud square wave, then quiet.
inline std::vector<uint8_t> Utterance(unsigned rate, unsigned lead_ms, unsigned loud_ms, unsigned tail_ms) {
  std::vector<uint8_t> bytes;
  auto add = [&](unsigned ms, bool loud) {
    for (unsigned i = 0; i < rate / 1000 * ms; ++i) {
      const int16_t s = loud ? ((i / 8) % 2 ? 6000 : -6000) : 0;
      bytes.push_back(static_cast<uint8_t>(s & 0xFF));
      bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    }
  };
  add(lead_ms, false);
  add(loud_ms, true);
  add(tail_ms, false);
  return bytes;
}

inline void WriteWav(const std::string &path, unsigned rate, const std::vector<uint8_t> &bytes) {
  mrcphost::AudioBuffer audio;
  audio.codec = "LPCM";
  audio.rate = rate;
  audio.bytes = bytes;
  std::string error;
  mrcphost::WriteWavFile(path, audio, &error);
}

class TestRoot {
 public:
  // extra_profiles: more <profile> elements; attributes: of <asrclient> (time limits).
  explicit TestRoot(const std::string &extra_profiles = "",
                    const std::string &attributes = "response-timeout=\"2000\" completion-timeout=\"2000\"") {
    char pattern[] = "/tmp/asrclient-test-XXXXXX";
    m_Dir = mkdtemp(pattern);
    const std::string plugin = ASR_TEST_PLUGIN;
    WriteText(m_Dir + "/conf/asrclient.xml",
              "<asrclient " + attributes + ">\n"
              "  <profile name=\"kel2\" plugin=\"" + plugin + "\"/>\n"
              "  <profile name=\"kel1\" plugin=\"" + plugin + "\" mrcp-version=\"1\"/>\n"
              "  <profile name=\"wide\" plugin=\"" + plugin + "\" sampling-rate=\"16000\"/>\n" +
                  extra_profiles + "</asrclient>\n");
    WriteText(Data("grammar.xml"),
              "<?xml version=\"1.0\"?>\n<grammar xmlns=\"http://www.w3.org/2001/06/grammar\" root=\"d\">"
              "<rule id=\"d\"><one-of><item>one</item><item>two</item></one-of></rule></grammar>\n");
    WriteText(Data("yesno.xml"), "<speech-context id=\"yesno\"><phrase>yes</phrase><phrase>no</phrase></speech-context>\n");
    WriteText(Data("page.xml"), "<html><body/></html>\n");
    WriteText(Data("params.txt"), "No-Input-Timeout: 3000\r\nSpeech-Complete-Timeout: 500\r\n");
    WriteText(Data("bad-params.txt"), "No-Input-Timeout: 3000\nthis line has no colon\n");
    WriteText(Data("noinput.txt"), "No-Input-Timeout: 300\n");
    WriteText(Data("no-answer.txt"), "Vendor-Specific-Parameters: test-answer=never\n");
    WriteText(Data("no-complete.txt"), "Vendor-Specific-Parameters: test-complete=never\n");
    WriteText(Data("no-body.txt"), "Vendor-Specific-Parameters: test-body=none\n");
    const auto speech = Utterance(8000, 200, 300, 500);
    WriteWav(Data("speech.wav"), 8000, speech);
    WriteText(Data("speech.pcm"), std::string(speech.begin(), speech.end()));
    WriteWav(Data("speech-16kHz.wav"), 16000, Utterance(16000, 200, 300, 500));
    WriteWav(Data("silence.wav"), 8000, Utterance(8000, 600, 0, 0));
  }
  ~TestRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Dir, ignored);
  }
  TestRoot(const TestRoot &) = delete;
  TestRoot &operator=(const TestRoot &) = delete;

  const std::string &Dir() const { return m_Dir; }
  std::string Data(const std::string &name) const { return m_Dir + "/data/" + name; }

 private:
  std::string m_Dir;
};

}  // namespace asrtest

#endif  // ASRCLIENT_TEST_ASR_TEST_ROOT_H

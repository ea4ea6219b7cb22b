#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "RecogTestSupport.h"
#include "recog/OxaUtteranceManager.h"

using namespace OXA_NS;
using RecogTest::LogCapture;

namespace {

class UtteranceManagerTest : public RecogTest::PoolTest {
 protected:
  void SetUp() override {
    PoolTest::SetUp();
    char pattern[] = "/tmp/oxa-uttm-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    m_Dir = pattern;
  }
  void TearDown() override {
    std::system(("rm -rf '" + m_Dir + "'").c_str());
    PoolTest::TearDown();
  }

  UtteranceManager::Settings DirSettings() {
    UtteranceManager::Settings settings("oxazorv-");
    settings.m_Folder = m_Dir;
    return settings;
  }

  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static uint32_t Le32(const std::string& data, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--) value = (value << 8) | static_cast<unsigned char>(data[offset + i]);
    return value;
  }
  static uint16_t Le16(const std::string& data, size_t offset) {
    return static_cast<uint16_t>(static_cast<unsigned char>(data[offset]) |
                                 (static_cast<unsigned char>(data[offset + 1]) << 8));
  }

  // Records size bytes of audio under the name of request id.
  std::string Record(UtteranceManager& manager, mrcp_request_id id, uint32_t rate, size_t size, apr_time_t time) {
    UtteranceManager::WaveFile wave;
    EXPECT_TRUE(manager.ComposeName(wave.m_Name, "ch1", id, "", m_pPool));
    EXPECT_TRUE(manager.OpenWavefile(wave, rate, m_pPool));
    const std::string audio(size, '\x11');
    for (size_t pos = 0; pos < size; pos += 320)
      EXPECT_TRUE(manager.WriteWavefile(wave, audio.data() + pos, std::min<size_t>(320, size - pos)));
    manager.CloseWavefile(wave, time);
    EXPECT_FALSE(wave.m_pFile);
    return wave.m_Name;
  }

  std::string m_Dir;
};

TEST_F(UtteranceManagerTest, Names) {
  struct Case {
    const char* prefix;
    bool useTag;
    const char* tag;
    uint32_t rate;  // 0: the name without rate
    const char* name;
  } cases[] = {
      {"oxazorv-", false, "", 0, "oxazorv-ch1-3.wav"},
      {"oxazorv-", false, "T7", 0, "oxazorv-ch1-3.wav"},
      {"oxazorv-", true, "T7", 0, "oxazorv-ch1-3-T7.wav"},
      {"oxazorv-", true, "", 0, "oxazorv-ch1-3.wav"},
      {"oxavesk-", true, "T7", 16000, "oxavesk-ch1-3-T7-16-kHz.wav"},
      {"oxavesk-", true, "", 8000, "oxavesk-ch1-3-8-kHz.wav"},
      {"oxavesk-", false, "T7", 44100, "oxavesk-ch1-3-44-kHz.wav"},
      // A tag from the client never leads out of the folder.
      {"oxazorv-", true, "../../etc/x", 0, "oxazorv-ch1-3-.._.._etc_x.wav"},
      {"oxazorv-", true, "a\\b", 0, "oxazorv-ch1-3-a_b.wav"},
  };
  for (const Case& c : cases) {
    UtteranceManager::Settings settings(c.prefix);
    settings.m_UseLoggingTag = c.useTag;
    UtteranceManager manager(settings);
    std::string name;
    if (c.rate)
      EXPECT_TRUE(manager.ComposeName(name, "ch1", 3, c.tag, c.rate, m_pPool));
    else
      EXPECT_TRUE(manager.ComposeName(name, "ch1", 3, c.tag, m_pPool));
    EXPECT_EQ(c.name, name);
  }
}

TEST_F(UtteranceManagerTest, PathsAndUris) {
  UtteranceManager::Settings settings = DirSettings();
  std::string uri;
  for (const char* base : {"http://host:8080/utterances", "http://host:8080/utterances/"}) {
    settings.m_BaseUri = base;
    UtteranceManager manager(settings);
    EXPECT_TRUE(manager.ComposeUri(uri, "oxazorv-ch1-3.wav", m_pPool));
    EXPECT_EQ("http://host:8080/utterances/oxazorv-ch1-3.wav", uri);
  }
  UtteranceManager manager(settings);
  std::string path;
  EXPECT_TRUE(manager.ComposePath(path, "oxazorv-ch1-3.wav", m_pPool));
  EXPECT_EQ(m_Dir + "/oxazorv-ch1-3.wav", path);
  EXPECT_EQ("http://localhost/utterances", UtteranceManager::Settings("oxazorv-").m_BaseUri);
}

TEST_F(UtteranceManagerTest, WaveHeaderIsWrittenAtOpenAndFinalisedAtClose) {
  UtteranceManager manager(DirSettings());
  ASSERT_TRUE(manager.LoadFileEntries());
  UtteranceManager::WaveFile wave;
  manager.ComposeName(wave.m_Name, "ch1", 3, "", m_pPool);
  ASSERT_TRUE(manager.OpenWavefile(wave, 8000, m_pPool));
  ASSERT_TRUE(apr_file_flush(wave.m_pFile) == APR_SUCCESS);
  const std::string path = m_Dir + "/oxazorv-ch1-3.wav";
  const std::string opened = ReadFile(path);
  ASSERT_EQ(44u, opened.size());
  EXPECT_EQ(0u, Le32(opened, 4));
  EXPECT_EQ(0u, Le32(opened, 40));

  const std::string audio(16000, '\x22');
  ASSERT_TRUE(manager.WriteWavefile(wave, audio.data(), audio.size()));
  EXPECT_EQ(16000u, wave.m_DataLength);
  manager.CloseWavefile(wave);

  const std::string data = ReadFile(path);
  ASSERT_EQ(16044u, data.size());
  EXPECT_EQ("RIFF", data.substr(0, 4));
  EXPECT_EQ(16036u, Le32(data, 4));
  EXPECT_EQ("WAVEfmt ", data.substr(8, 8));
  EXPECT_EQ(16u, Le32(data, 16));
  EXPECT_EQ(1u, Le16(data, 20));
  EXPECT_EQ(1u, Le16(data, 22));
  EXPECT_EQ(8000u, Le32(data, 24));
  EXPECT_EQ(16000u, Le32(data, 28));
  EXPECT_EQ(2u, Le16(data, 32));
  EXPECT_EQ(16u, Le16(data, 34));
  EXPECT_EQ("data", data.substr(36, 4));
  EXPECT_EQ(16000u, Le32(data, 40));
  EXPECT_EQ(audio, data.substr(44));
  EXPECT_EQ(1u, manager.GetFileEntryCount());

  unsigned char memory[UtteranceManager::WAVE_HEADER_SIZE];
  size_t size = 0;
  UtteranceManager::PrepareWaveHeader(16000, memory, size);
  ASSERT_EQ(44u, size);
  EXPECT_EQ(32000u, Le32(std::string(reinterpret_cast<char*>(memory), size), 28));
  EXPECT_EQ(opened.substr(0, 24), std::string(reinterpret_cast<char*>(memory), 24));
}

TEST_F(UtteranceManagerTest, ClosingPastTheCountLimitDeletesTheOldest) {
  UtteranceManager::Settings settings = DirSettings();
  settings.m_MaxFileCount = 2;
  UtteranceManager manager(settings);
  ASSERT_TRUE(manager.LoadFileEntries());
  const std::string first = Record(manager, 1, 8000, 640, 1000000);
  const std::string second = Record(manager, 2, 8000, 640, 2000000);
  const std::string third = Record(manager, 3, 16000, 1000, 3000000);
  EXPECT_EQ(2u, manager.GetFileEntryCount());
  EXPECT_FALSE(Trelka::CheckForFile(m_Dir + "/" + first));
  EXPECT_TRUE(Trelka::CheckForFile(m_Dir + "/" + second));
  EXPECT_EQ(1044u, ReadFile(m_Dir + "/" + third).size());
}

TEST_F(UtteranceManagerTest, OpenFailsWithoutFolder) {
  UtteranceManager::Settings settings = DirSettings();
  settings.m_Folder = m_Dir + "/missing/deeper";
  UtteranceManager manager(settings);
  UtteranceManager::WaveFile wave;
  wave.m_Name = "x.wav";
  EXPECT_FALSE(manager.OpenWavefile(wave, 8000, m_pPool));
  EXPECT_FALSE(wave.m_pFile);
  manager.CloseWavefile(wave);  // nothing to close
  EXPECT_EQ(0u, manager.GetFileEntryCount());
}

TEST_F(UtteranceManagerTest, SettingsLoad) {
  const apr_xml_elem* root = ParseXml(
      "<utterance-manager Save-Waveforms='TRUE' purge-existing='False' max-file-age='30' max-file-count='5' "
      "waveform-folder='utt' waveform-base-uri='http://h/u' file-prefix='p-' file-ext='.raw' log-level='DEBUG' "
      "use-logging-tag='yes' color='red'/>");
  ASSERT_TRUE(root);
  UtteranceManager::Settings settings("oxazorv-");
  settings.m_PurgeExisting = true;
  EXPECT_TRUE(settings.Load(root));
  EXPECT_TRUE(settings.m_SaveWaveforms);
  EXPECT_FALSE(settings.m_PurgeExisting);
  EXPECT_EQ(30u, settings.m_MaxFileAge);
  EXPECT_EQ(5u, settings.m_MaxFileCount);
  EXPECT_EQ("utt", settings.m_Folder);
  EXPECT_EQ("http://h/u", settings.m_BaseUri);
  EXPECT_EQ("p-", settings.m_FilePrefix);
  EXPECT_EQ(".raw", settings.m_FileExt);
  EXPECT_EQ(Trelka::LOG_LEVEL_DEBUG, settings.m_LogLevel);
  EXPECT_FALSE(settings.m_UseLoggingTag);
  EXPECT_TRUE(LogCapture::Contains("Unexpected Value <yes> for Boolean Attribute <use-logging-tag>"));
  EXPECT_TRUE(LogCapture::Contains("Unknown Utterance Manager Attribute <color>"));
  EXPECT_TRUE(LogCapture::Contains("Load Utterance Manager Attribute: max-file-age = 30"));

  UtteranceManager::Settings defaults("oxavesk-");
  EXPECT_FALSE(defaults.m_SaveWaveforms);
  EXPECT_EQ(60u, defaults.m_MaxFileAge);
  EXPECT_EQ(100u, defaults.m_MaxFileCount);
  EXPECT_EQ(".wav", defaults.m_FileExt);
  EXPECT_EQ(Trelka::LOG_LEVEL_NOTICE, defaults.m_LogLevel);
}

}  // namespace

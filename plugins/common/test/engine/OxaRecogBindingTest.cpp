// The recognizers' detector binding: frames written on the media side reach the channel's
// detector, whose callbacks arrive on the event thread as input events with their data.
#include "OxaPluginEntry.h"
#include "OxaRecogBase.h"
#include "OxaTestHost.h"

#include <gtest/gtest.h>

#include <apr_general.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace OXA_NS {

static const CodecEntry g_Codecs[] = {{"LPCM", MPF_SAMPLE_RATE_8000 | MPF_SAMPLE_RATE_16000}};
const PluginTraits g_PluginTraits = {"RTEST",
                                      "rtest",
                                      "RTEST-PLUGIN",
                                      "RTEST Plugin Version [0.0.0] Date [2022-01-01]",
                                      "oxartest.xml",
                                      "oxartest",
                                      "Failed to Load OXA RTEST Config",
                                      MRCP_RECOGNIZER_RESOURCE,
                                      STREAM_DIRECTION_SEND,
                                      g_Codecs,
                                      1};

// Records what the event thread hands to the channel.
class RecordingChannel : public RecogChannelBase {
 public:
  struct Input {
    enum Kind { StartOfInput, Speech, Dtmf, NoInput, Stop } m_Kind;
    int m_Mode = 0;
    std::string m_Data;  // speech bytes or digits
    bool m_Flag = false;  // last chunk or DTMF match
    InputStats m_Stats;
  };

  using RecogChannelBase::RecogChannelBase;
  using RecogChannelBase::GetDetector;

  void ProcessStartOfInput(int mode) override { Record(Input{Input::StartOfInput, mode, "", false, GetInputStats()}); }
  void ProcessSpeechInput(std::unique_ptr<DataChunk> chunk, bool last) override {
    std::string data = chunk->GetData() ? std::string(chunk->GetData(), chunk->GetSize()) : std::string();
    EXPECT_EQ(chunk->GetData() == nullptr, chunk->GetSize() == 0u);
    Record(Input{Input::Speech, 0, data, last, GetInputStats()});
  }
  void ProcessDtmfInput(const std::string& digits, bool match) override {
    Record(Input{Input::Dtmf, 0, digits, match, GetInputStats()});
  }
  void ProcessNoInput() override { Record(Input{Input::NoInput, 0, "", false, GetInputStats()}); }
  void ProcessStop() override { Record(Input{Input::Stop, 0, "", false, GetInputStats()}); }

  // Waits for the n-th input (1-based) and returns a copy.
  bool WaitInput(size_t n, Input* out) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (!m_Cond.wait_for(lock, std::chrono::seconds(10), [&] { return m_Inputs.size() >= n; }))
      return false;
    *out = m_Inputs[n - 1];
    return true;
  }
  size_t InputCount() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Inputs.size();
  }

 private:
  void Record(const Input& input) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Inputs.push_back(input);
    m_Cond.notify_all();
  }

  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::vector<Input> m_Inputs;  // guarded by m_Mutex
};

class TestRecogEngine : public RecogEngineBase {
 public:
  TestRecogEngine() : RecogEngineBase(g_PluginTraits) {}
  ChannelBase* CreateChannelObject() override { return new RecordingChannel(this); }
};

EngineBase* CreateEngineObject() {
  return new TestRecogEngine();
}

}  // namespace OXA_NS

namespace {

using Input = OXA_NS::RecordingChannel::Input;

const mrcp_engine_method_vtable_t g_EngineVtable = {OXA_NS::DestroyEngine, OXA_NS::OpenEngine, OXA_NS::CloseEngine,
                                                    OXA_NS::CreateChannel};

class RecogBindingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }

  void SetUp() override {
    m_pLog.reset(new OxaTest::LogCapture());
    apr_pool_create(&m_pPool, nullptr);
    m_pLayout.reset(new OxaTest::TempLayout(m_pPool));
    m_pLayout->WriteFile("conf/oxartest.xml",
                         "<oxartest><speech-dtmf-input-detector noinput-timeout=\"50\" dtmf-term-char=\"#\"/></oxartest>");
    m_pHost.reset(new OxaTest::TestHost(m_pPool));
    OXA_NS::EngineBase* engine = OXA_NS::CreateEngineObject();
    mrcp_engine_t* handle = mrcp_engine_create(MRCP_RECOGNIZER_RESOURCE, engine, &g_EngineVtable, m_pPool);
    ASSERT_NE(handle, nullptr);
    engine->SetMrcpEngine(handle);
    m_pHost->Attach(handle, m_pLayout->Layout(), 2);
    ASSERT_TRUE(m_pHost->OpenEngine());
    m_pRecord = m_pHost->CreateChannel("rec-1");
    ASSERT_NE(m_pRecord, nullptr);
    ASSERT_TRUE(m_pHost->OpenChannel(m_pRecord));
    m_pChannel = static_cast<OXA_NS::RecordingChannel*>(m_pRecord->m_pHandle->method_obj);
    m_pStream = mrcp_engine_channel_audio_stream_get(m_pRecord->m_pHandle);
    ASSERT_NE(m_pChannel->GetDetector(), nullptr);
  }

  void TearDown() override {
    EXPECT_TRUE(m_pHost->CloseEngine());
    m_pHost->DestroyEngine();
    m_pHost.reset();
    m_pLayout.reset();
    apr_pool_destroy(m_pPool);
    m_pLog.reset();
  }

  // The media side: one 10 ms frame through the stream's write-frame.
  void WriteSilence(int frames) {
    short samples[80] = {0};
    for (int i = 0; i < frames; i++) {
      mpf_frame_t frame{};
      frame.type = MEDIA_FRAME_TYPE_AUDIO;
      frame.codec_frame.buffer = samples;
      frame.codec_frame.size = sizeof(samples);
      m_pStream->vtable->write_frame(m_pStream, &frame);
    }
  }
  void WriteKey(char digit) {
    for (int i = 0; i < 6; i++) {
      mpf_frame_t frame{};
      frame.type = MEDIA_FRAME_TYPE_EVENT;
      frame.marker = i == 0 ? MPF_MARKER_START_OF_EVENT : (i == 5 ? MPF_MARKER_END_OF_EVENT : MPF_MARKER_NONE);
      frame.event_frame.event_id = mpf_dtmf_char_to_event_id(digit);
      frame.event_frame.duration = 80 * (i + 1);
      frame.event_frame.edge = i == 5;
      m_pStream->vtable->write_frame(m_pStream, &frame);
    }
    WriteSilence(5);
  }

  std::unique_ptr<OxaTest::LogCapture> m_pLog;
  apr_pool_t* m_pPool = nullptr;
  std::unique_ptr<OxaTest::TempLayout> m_pLayout;
  std::unique_ptr<OxaTest::TestHost> m_pHost;
  OxaTest::TestHost::ChannelRecord* m_pRecord = nullptr;
  OXA_NS::RecordingChannel* m_pChannel = nullptr;
  mpf_audio_stream_t* m_pStream = nullptr;
};

TEST_F(RecogBindingTest, NoInputReachesTheEventThread) {
  mpf_sdi_init(m_pChannel->GetDetector(), MPF_SDI_MODE_BOTH, 8000, 10, TRUE, FALSE);
  WriteSilence(20);
  Input input;
  ASSERT_TRUE(m_pChannel->WaitInput(1, &input));
  EXPECT_EQ(input.m_Kind, Input::NoInput);
}

TEST_F(RecogBindingTest, DtmfInputArrivesWithItsDigitsAndStatistics) {
  mpf_sdi_init(m_pChannel->GetDetector(), MPF_SDI_MODE_DTMF, 8000, 10, FALSE, FALSE);
  WriteKey('1');
  WriteKey('2');
  WriteKey('#');
  Input start, dtmf;
  ASSERT_TRUE(m_pChannel->WaitInput(1, &start));
  EXPECT_EQ(start.m_Kind, Input::StartOfInput);
  EXPECT_EQ(start.m_Mode, MPF_SDI_MODE_DTMF);
  ASSERT_TRUE(m_pChannel->WaitInput(2, &dtmf));
  EXPECT_EQ(dtmf.m_Kind, Input::Dtmf);
  EXPECT_EQ(dtmf.m_Data, "12");
  EXPECT_TRUE(dtmf.m_Flag);
  EXPECT_EQ(dtmf.m_Stats.m_Cause, MPF_SDI_CAUSE_SUCCESS);
}

TEST_F(RecogBindingTest, StopCompleteCarriesTheStatistics) {
  ASSERT_NE(mpf_sdi_init(m_pChannel->GetDetector(), MPF_SDI_MODE_BOTH, 8000, 10, FALSE, FALSE), FALSE);
  ASSERT_NE(mpf_sdi_stop(m_pChannel->GetDetector()), 0);
  WriteSilence(1);
  Input input;
  ASSERT_TRUE(m_pChannel->WaitInput(1, &input));
  EXPECT_EQ(input.m_Kind, Input::Stop);
  EXPECT_EQ(input.m_Stats.m_Cause, MPF_SDI_CAUSE_STOPPED);
}

TEST_F(RecogBindingTest, SpeechChunksAreCopiesHandedOverInOrder) {
  std::string audio(320, '\0');
  for (size_t i = 0; i < audio.size(); i++)
    audio[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(m_pChannel->SignalSpeechInputEvent(audio.data(), audio.size(), false));
  ASSERT_TRUE(m_pChannel->SignalSpeechInputEvent(audio.data(), 0, true));
  audio.assign(audio.size(), 'x');  // the events own their copies
  Input first, last;
  ASSERT_TRUE(m_pChannel->WaitInput(1, &first));
  ASSERT_TRUE(m_pChannel->WaitInput(2, &last));
  EXPECT_EQ(first.m_Kind, Input::Speech);
  ASSERT_EQ(first.m_Data.size(), 320u);
  EXPECT_EQ(first.m_Data[3], static_cast<char>(21));
  EXPECT_FALSE(first.m_Flag);
  EXPECT_EQ(last.m_Kind, Input::Speech);
  EXPECT_TRUE(last.m_Data.empty());
  EXPECT_TRUE(last.m_Flag);
}

TEST_F(RecogBindingTest, FramesAfterTheCloseFindNoDetector) {
  mpf_sdi_init(m_pChannel->GetDetector(), MPF_SDI_MODE_BOTH, 8000, 10, TRUE, FALSE);
  ASSERT_TRUE(m_pHost->CloseChannel(m_pRecord));
  EXPECT_EQ(m_pChannel->GetDetector(), nullptr);
  WriteSilence(20);
  EXPECT_EQ(m_pChannel->InputCount(), 0u);
}

}  // namespace

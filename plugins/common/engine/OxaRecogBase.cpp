#include "OxaRecogBase.h"

#include "OxaLog.h"

#include <apr_strings.h>

#include <cstring>

namespace OXA_NS {

// ---------- input events ----------

class ChannelStartOfInputEvent : public Trelka::AsyncEvent {
 public:
  ChannelStartOfInputEvent(RecogChannelBase* channel, int mode) : m_pChannel(channel), m_Mode(mode) {}
  void Process() override { m_pChannel->ProcessStartOfInput(m_Mode); }

 private:
  RecogChannelBase* m_pChannel;
  int m_Mode;
};

class ChannelSpeechInputEvent : public Trelka::AsyncEvent {
 public:
  ChannelSpeechInputEvent(RecogChannelBase* channel, DataChunk* chunk, bool last)
      : m_pChannel(channel), m_pChunk(chunk), m_Last(last) {}
  void Process() override { m_pChannel->ProcessSpeechInput(std::move(m_pChunk), m_Last); }

 private:
  RecogChannelBase* m_pChannel;
  std::unique_ptr<DataChunk> m_pChunk;  // until the channel takes it
  bool m_Last;
};

class ChannelDtmfInputEvent : public Trelka::AsyncEvent {
 public:
  ChannelDtmfInputEvent(RecogChannelBase* channel, const char* digits, bool match)
      : m_pChannel(channel), m_Digits(digits ? digits : ""), m_Match(match) {}
  void Process() override { m_pChannel->ProcessDtmfInput(m_Digits, m_Match); }

 private:
  RecogChannelBase* m_pChannel;
  std::string m_Digits;
  bool m_Match;
};

DataChunk::DataChunk(const void* data, size_t size) : m_Size(data ? size : 0) {
  if (m_Size) {
    m_Data.reset(new char[m_Size]);
    memcpy(m_Data.get(), data, m_Size);
  }
}

// ---------- detector callbacks (media thread) ----------

static RecogChannelBase* ChannelOf(mpf_sdi_detector_t* detector) {
  return static_cast<RecogChannelBase*>(mpf_sdi_obj_get(detector));
}

static void OnNoinput(mpf_sdi_detector_t* detector) {
  ChannelOf(detector)->SignalEvent(TASK_MSG_NOINPUT);
}

static void OnStopComplete(mpf_sdi_detector_t* detector, const mpf_sdi_stats_t* stats) {
  RecogChannelBase* channel = ChannelOf(detector);
  channel->SetInputStats(stats);
  channel->SignalEvent(TASK_MSG_STOP_COMPLETE);
}

static void OnStartOfInput(mpf_sdi_detector_t* detector, mpf_sdi_mode_e mode) {
  ChannelOf(detector)->SignalStartOfInput(mode);
}

static void OnSpeechInput(mpf_sdi_detector_t* detector, const void* data, apr_size_t size, mpf_sdi_state_e state,
                          const mpf_sdi_stats_t* stats) {
  RecogChannelBase* channel = ChannelOf(detector);
  channel->SetInputStats(stats);
  channel->SignalSpeechInputEvent(data, size, state == MPF_SDI_STATE_COMPLETE);
}

static void OnDtmfInput(mpf_sdi_detector_t* detector, const char* digits, apr_size_t, apt_bool_t matched,
                        mpf_sdi_state_e state, const mpf_sdi_stats_t* stats) {
  RecogChannelBase* channel = ChannelOf(detector);
  channel->SetInputStats(stats);
  if (state == MPF_SDI_STATE_COMPLETE)
    channel->SignalDtmfInputEvent(digits, matched == 1);
}

static const mpf_sdi_event_handlers_t g_DetectorHandlers = {OnNoinput,     OnStopComplete, OnStartOfInput,
                                                            OnSpeechInput, OnDtmfInput,    nullptr};

// ---------- engine ----------

RecogEngineBase::RecogEngineBase(const PluginTraits& traits) : EngineBase(traits) {
  mpf_sdi_params_init(&m_SdiParams);
  AddElementLoader("speech-dtmf-input-detector", [this](const apr_xml_elem* elem, apr_pool_t* pool) {
    return mpf_sdi_params_load(&m_SdiParams, elem, pool) ? true : false;
  });
  // Read by the recognition units that own their content.
  AddElementLoader("speech-contexts", AcceptElement);
  AddElementLoader("utterance-manager", AcceptElement);
  AddElementLoader("rdr-manager", AcceptElement);
  AddElementLoader("webhook", AcceptElement);
}

void RecogEngineBase::ResetSettings() {
  mpf_sdi_params_init(&m_SdiParams);
}

// ---------- channel ----------

RecogChannelBase::RecogChannelBase(RecogEngineBase* engine) : ChannelBase(engine), m_pDetector(nullptr) {}

RecogChannelBase::~RecogChannelBase() {
  // A channel destroyed without a close still lets go of its detector.
  DestroyDetector();
}

void RecogChannelBase::OnOpen() {
  ResetInputStats();
  RecogEngineBase* engine = static_cast<RecogEngineBase*>(GetEngine());
  mrcp_engine_channel_t* handle = GetMrcpChannel();
  mpf_sdi_detector_t* detector = mpf_sdi_detector_create(apr_pstrdup(handle->pool, GetId().c_str()),
                                                         &g_DetectorHandlers, this, &engine->GetSdiParams(),
                                                         handle->pool);
  if (!detector)
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Input Detector <%s@%s>", GetId().c_str(), GetTag());
  m_pDetector.store(detector, std::memory_order_release);
}

void RecogChannelBase::OnClose() {
  DestroyDetector();
}

void RecogChannelBase::DestroyDetector() {
  mpf_sdi_detector_t* detector = m_pDetector.exchange(nullptr, std::memory_order_acq_rel);
  if (detector)
    mpf_sdi_destroy(detector);
}

bool RecogChannelBase::Write(const mpf_frame_t* frame) {
  mpf_sdi_detector_t* detector = m_pDetector.load(std::memory_order_acquire);
  if (detector && frame)
    mpf_sdi_process(detector, frame);
  return true;
}

void RecogChannelBase::SetInputStats(const mpf_sdi_stats_t* stats) {
  if (!stats)
    return;
  std::lock_guard<std::mutex> lock(m_InputStatsMutex);
  m_InputStats.m_Cause = stats->completion_cause;
  m_InputStats.m_Duration = stats->input_duration;
  m_InputStats.m_Size = stats->output_size;
}

bool RecogChannelBase::PostEvent(Trelka::AsyncEvent* event) {
  Trelka::SoftEventProcessor* processor = GetEngine()->GetEventProcessor();
  event->Ref();
  if (!processor) {
    event->Unref();
    return false;
  }
  return processor->PostEvent(event);
}

bool RecogChannelBase::SignalStartOfInput(int mode) {
  return PostEvent(new ChannelStartOfInputEvent(this, mode));
}

bool RecogChannelBase::SignalSpeechInputEvent(const void* data, size_t size, bool last) {
  return PostEvent(new ChannelSpeechInputEvent(this, new DataChunk(data, size), last));
}

bool RecogChannelBase::SignalDtmfInputEvent(const char* digits, bool match) {
  return PostEvent(new ChannelDtmfInputEvent(this, digits, match));
}

void RecogChannelBase::ProcessStartOfInput(int) {}

void RecogChannelBase::ProcessSpeechInput(std::unique_ptr<DataChunk>, bool) {}

void RecogChannelBase::ProcessDtmfInput(const std::string&, bool) {}

}  // namespace OXA_NS

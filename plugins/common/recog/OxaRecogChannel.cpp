#include "OxaRecogChannel.h"

#include "OxaConfigUtils.h"
#include "OxaLog.h"
#include "recog/OxaRecogEngine.h"

#include <apr_strings.h>

#include <cinttypes>
#include <cstring>
#include <strings.h>

namespace OXA_NS {

namespace {

// Receives the stop of a timer whose owner may be gone by then.
class DetachedTimerHandler : public Trelka::TimerHandler {
 public:
  void OnTimeoutElapsed(Trelka::Timer*) override {}
};
DetachedTimerHandler g_DetachedTimerHandler;

std::string ToString(const apt_str_t& text) {
  return text.buf ? std::string(text.buf, text.length) : std::string();
}

bool RecogHeaderPresent(const mrcp_message_t* message, apr_size_t id) {
  return mrcp_resource_header_property_check(message, id) == TRUE;
}

}  // namespace

void DiscardTimer(Trelka::Timer*& timer) {
  if (!timer) return;
  timer->SetHandler(&g_DetachedTimerHandler);
  timer->Stop();
  timer = nullptr;
}

// A stop report of our own, for a detector that had nothing left to stop.
class RecogChannel::StopCompleteEvent : public Trelka::AsyncEvent {
 public:
  StopCompleteEvent(RecogChannel* channel, uint64_t recognition) : m_pChannel(channel), m_Recognition(recognition) {}
  void Process() override { m_pChannel->ProcessStopComplete(m_Recognition); }

 private:
  RecogChannel* m_pChannel;
  uint64_t m_Recognition;
};

// ---------- method defaults ----------

bool RecogMethod::ProcessNoInput() {
  if (!m_Active) return false;
  Cancel();
  return true;
}

bool RecogMethod::ProcessStop() {
  if (!m_Active) return false;
  Cancel();
  return true;
}

void RecogMethod::ProcessSpeechInput(std::unique_ptr<DataChunk> chunk, bool last) {
  if (chunk && chunk->GetSize()) m_pChannel->GetSpeechBuffer().push_back(std::move(chunk));
  if (last) m_pChannel->CompleteInput();
}

void RecogMethod::ProcessDtmfInput(const std::string& digits, bool) {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Store DTMF Input [%s] %s", digits.c_str(), m_pChannel->LogId());
  m_pChannel->GetDtmfDigits() = digits;
}

void RecogMethod::ProcessDtmfDigit(char digit) {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Store DTMF Digit [%c] %s", digit, m_pChannel->LogId());
  m_pChannel->GetDtmfDigits() += digit;
}

// ---------- channel ----------

RecogChannel::RecogChannel(RecogEngine* engine, const GrammarTable::Settings& grammarSettings)
    : RecogChannelBase(engine),
      m_GrammarSettings(grammarSettings),
      m_pGrammars(nullptr),
      m_pActiveRequest(nullptr),
      m_pDeferredRequest(nullptr),
      m_pDeferredResponse(nullptr),
      m_pStopResponse(nullptr),
      m_ConfidenceThreshold(0.0f),
      m_Mrcpv1Confidence(false),
      m_SpeechInputStarted(false),
      m_DtmfInputStarted(false),
      m_StartOfInputSent(false),
      m_InputComplete(false),
      m_SkipSpeech(false),
      m_InterResultTimeoutElapsed(false),
      m_Closing(false),
      m_StopReportDue(false),
      m_Recognition(0),
      m_pInterResultTimer(nullptr) {}

RecogChannel::~RecogChannel() {
  delete m_pGrammars;
  if (m_WaveFile.m_pFile) apr_file_close(m_WaveFile.m_pFile);
}

RecogEngine* RecogChannel::GetRecogEngine() const {
  return static_cast<RecogEngine*>(GetEngine());
}

void RecogChannel::OnOpen() {
  RecogChannelBase::OnOpen();
  m_LogId = "<" + GetId() + "@" + GetTag() + ">";
  delete m_pGrammars;
  m_pGrammars = new GrammarTable(GetId(), GetTag(), m_GrammarSettings, &GetRecogEngine()->GetSpeechContexts(), this);
}

void RecogChannel::OnClose() {
  RecogChannelBase::OnClose();
  // Results composed after this have no grammar to name, and none is sent.
  delete m_pGrammars;
  m_pGrammars = nullptr;
  if (m_pActiveRequest) {
    // The detector is gone: the recognition is stopped as by STOP, without a response, behind
    // the input events still queued, so that the service call ends and the close is answered.
    m_Closing = true;
    if (!IsCauseKnown()) SetCause(RECOGNIZER_COMPLETION_CAUSE_CANCELLED);
    m_StopReportDue = true;
    StopCompleteEvent* event = new StopCompleteEvent(this, m_Recognition);
    event->Ref();
    GetEngine()->GetEventProcessor()->PostEvent(event);
  }
}

bool RecogChannel::IsCloseDeferred() const {
  return m_pActiveRequest || (m_pMethod && m_pMethod->IsBusy());
}

bool RecogChannel::DispatchRequest(mrcp_message_t* request, mrcp_message_t* response) {
  switch (request->start_line.method_id) {
    case RECOGNIZER_DEFINE_GRAMMAR:
      if (!m_pGrammars) return false;
      return m_pGrammars->DefineGrammar(request, response);
    case RECOGNIZER_RECOGNIZE:
      return Recognize(request, response);
    case RECOGNIZER_START_INPUT_TIMERS:
      return StartTimers(request, response);
    case RECOGNIZER_STOP:
      return Stop(request, response);
    default:
      return false;
  }
}

bool RecogChannel::Refuse(mrcp_message_t* response, mrcp_status_code_e status, mrcp_recog_completion_cause_e cause) {
  response->start_line.status_code = status;
  mrcp_recog_header_t* header = static_cast<mrcp_recog_header_t*>(mrcp_resource_header_prepare(response));
  if (header) {
    header->completion_cause = cause;
    mrcp_resource_header_property_add(response, RECOGNIZER_HEADER_COMPLETION_CAUSE);
  }
  return false;
}

void RecogChannel::ResetRecognition() {
  m_Details.Reset();
  m_SpeechBuffer.clear();
  m_DtmfDigits.clear();
  CloseWaveform();
  m_WaveFile.m_Name.clear();
  m_WaveFile.m_Uri.clear();
  m_WaveFile.m_DataLength = 0;
  m_RdrName.clear();
  m_LoggingTag.clear();
  m_WebhookParams.clear();
  m_ConfidenceThreshold = 0.0f;
  m_SpeechInputStarted = false;
  m_DtmfInputStarted = false;
  m_StartOfInputSent = false;
  m_InputComplete = false;
  m_SkipSpeech = false;
  m_InterResultTimeoutElapsed = false;
  m_StopReportDue = false;
  ResetInputStats();
}

bool RecogChannel::Recognize(mrcp_message_t* request, mrcp_message_t* response) {
  if (m_pMethod && m_pMethod->IsActive() && !m_pActiveRequest && m_pMethod->IsFinishing() && !m_pDeferredRequest) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Wait for Finish to Complete %s", LogId());
    m_pDeferredRequest = request;
    m_pDeferredResponse = response;
    return true;
  }
  // A DTMF-only recognition has no active method but is running all the same.
  if (m_pActiveRequest || (m_pMethod && m_pMethod->IsActive())) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Previous Recog Context Not Released %s", LogId());
    return Refuse(response, MRCP_STATUS_CODE_METHOD_NOT_ALLOWED, RECOGNIZER_COMPLETION_CAUSE_ERROR);
  }
  mpf_sdi_detector_t* detector = GetDetector();
  if (!detector) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No Detector Available %s", LogId());
    return Refuse(response, MRCP_STATUS_CODE_METHOD_NOT_ALLOWED, RECOGNIZER_COMPLETION_CAUSE_ERROR);
  }
  const mpf_codec_descriptor_t* codec = mrcp_engine_sink_stream_codec_get(GetMrcpChannel());
  if (!codec) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No Codec Descriptor Available %s", LogId());
    return Refuse(response, MRCP_STATUS_CODE_METHOD_NOT_ALLOWED, RECOGNIZER_COMPLETION_CAUSE_ERROR);
  }

  // Timeouts and lengths of an earlier request do not carry over to this one.
  mpf_sdi_params_set(detector, &GetRecogEngine()->GetSdiParams());
  m_pGrammars->ClearActiveGrammars();
  mrcp_status_code_e status = m_pGrammars->SetActiveGrammar(request);
  if (status != MRCP_STATUS_CODE_SUCCESS)
    return Refuse(response, status, RECOGNIZER_COMPLETION_CAUSE_GRAM_LOAD_FAILURE);
  int modes = 0;
  if (GetActiveSpeechGrammar()) modes |= MPF_SDI_MODE_SPEECH;
  if (GetActiveDtmfGrammar()) modes |= MPF_SDI_MODE_DTMF;
  if (!modes) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "No Grammar Specified %s", LogId());
    return Refuse(response, MRCP_STATUS_CODE_MISSING_PARAM, RECOGNIZER_COMPLETION_CAUSE_GRAM_LOAD_FAILURE);
  }

  ResetRecognition();
  RecogEngine* engine = GetRecogEngine();
  m_Details.m_Save = engine->GetRdrManager() && engine->GetRdrManager()->GetSaveRecords();
  m_WaveFile.m_Record = engine->GetUtteranceManager() && engine->GetUtteranceManager()->GetSaveWaveforms();
  m_Details.m_SamplingRate = codec->sampling_rate;
  m_Details.m_MrcpVersion = request->start_line.version;

  InitRequestSettings();
  m_Mrcpv1Confidence = UseMrcpv1Confidence(request->start_line.version);

  const mrcp_generic_header_t* generic = mrcp_generic_header_get(request);
  if (generic && mrcp_generic_header_property_check(request, GENERIC_HEADER_VENDOR_SPECIFIC_PARAMS) &&
      generic->vendor_specific_params) {
    const int count = apt_pair_array_size_get(generic->vendor_specific_params);
    for (int i = 0; i < count; i++) {
      const apt_pair_t* pair = apt_pair_array_get(generic->vendor_specific_params, i);
      if (!pair) continue;
      std::string value = ToString(pair->value);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      SetGrammarParameter(ToString(pair->name), value);
    }
  }
  if (generic && mrcp_generic_header_property_check(request, GENERIC_HEADER_LOGGING_TAG))
    m_LoggingTag = ToString(generic->logging_tag);

  bool startTimers = true;
  bool uriRequested = false;
  if (!ApplyHeaders(request, response, startTimers)) return false;
  uriRequested = RecogHeaderPresent(request, RECOGNIZER_HEADER_SAVE_WAVEFORM);

  if (GrammarRef* grammar = GetActiveSpeechGrammar()) {
    for (const auto& parameter : grammar->m_Parameters) SetGrammarParameter(parameter.first, parameter.second);
  }

  const bool serviceOriginated = IsStartOfInputServiceOriginated();
  const bool interimResults = FinalizeRequestSettings();

  if (m_WaveFile.m_Record && !OpenWaveform(request, uriRequested))
    return Refuse(response, MRCP_STATUS_CODE_METHOD_FAILED, RECOGNIZER_COMPLETION_CAUSE_ERROR);

  if (m_Details.m_Save) {
    if (engine->GetRdrManager()->ComposeName(m_RdrName, GetId().c_str(), request->start_line.request_id, m_LoggingTag,
                                             request->pool))
      m_Details.m_RequestStartTime = apr_time_now();
    else
      m_Details.m_Save = false;
  }

  m_pActiveRequest = request;
  ++m_Recognition;
  if (!StartRecognition()) {
    m_pActiveRequest = nullptr;
    if (m_pMethod && m_pMethod->IsActive()) m_pMethod->ClearContext();
    CloseWaveform();
    return Refuse(response, MRCP_STATUS_CODE_METHOD_FAILED, RECOGNIZER_COMPLETION_CAUSE_ERROR);
  }

  // Started last: from here on the media thread may report input.
  mpf_sdi_speech_start_mode_set(detector, serviceOriginated ? 1 : 0);
  const apr_uint16_t frameMs = static_cast<apr_uint16_t>(codec->frame_duration ? codec->frame_duration : 10);
  mpf_sdi_init(detector, modes, codec->sampling_rate, frameMs, startTimers ? TRUE : FALSE,
               interimResults ? TRUE : FALSE);

  response->start_line.request_state = MRCP_REQUEST_STATE_INPROGRESS;
  SendMessage(response);
  return true;
}

bool RecogChannel::ApplyHeaders(mrcp_message_t* request, mrcp_message_t* response, bool& startTimers) {
  const mrcp_recog_header_t* header = static_cast<const mrcp_recog_header_t*>(mrcp_resource_header_get(request));
  if (!header) return true;
  mpf_sdi_detector_t* detector = GetDetector();
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_SPEECH_LANGUAGE)) SetLanguage(ToString(header->speech_language));
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_N_BEST_LIST_LENGTH))
    SetMaxAlternatives(static_cast<int64_t>(header->n_best_list_length));
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_START_INPUT_TIMERS) && !header->start_input_timers)
    startTimers = false;
  struct TimeoutHeader {
    apr_size_t m_Id;
    apr_size_t mrcp_recog_header_t::*m_pValue;
    void (*m_Set)(mpf_sdi_detector_t*, apr_size_t);
  };
  static const TimeoutHeader timeouts[] = {
      {RECOGNIZER_HEADER_NO_INPUT_TIMEOUT, &mrcp_recog_header_t::no_input_timeout, mpf_sdi_noinput_timeout_set},
      {RECOGNIZER_HEADER_RECOGNITION_TIMEOUT, &mrcp_recog_header_t::recognition_timeout, mpf_sdi_input_timeout_set},
      {RECOGNIZER_HEADER_SPEECH_COMPLETE_TIMEOUT, &mrcp_recog_header_t::speech_complete_timeout,
       mpf_sdi_speech_complete_timeout_set},
      {RECOGNIZER_HEADER_SPEECH_INCOMPLETE_TIMEOUT, &mrcp_recog_header_t::speech_incomplete_timeout,
       mpf_sdi_speech_incomplete_timeout_set},
      {RECOGNIZER_HEADER_DTMF_INTERDIGIT_TIMEOUT, &mrcp_recog_header_t::dtmf_interdigit_timeout,
       mpf_sdi_dtmf_interdigit_timeout_set},
      {RECOGNIZER_HEADER_DTMF_TERM_TIMEOUT, &mrcp_recog_header_t::dtmf_term_timeout, mpf_sdi_dtmf_term_timeout_set},
  };
  for (const TimeoutHeader& timeout : timeouts) {
    if (RecogHeaderPresent(request, timeout.m_Id)) timeout.m_Set(detector, header->*timeout.m_pValue);
  }
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_DTMF_TERM_CHAR))
    mpf_sdi_dtmf_term_char_set(detector, header->dtmf_term_char);
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_SENSITIVITY_LEVEL)) {
    const float level = header->sensitivity_level * 4.0f;
    const int mode = level >= 3.0f ? 3 : level > 0.0f ? static_cast<int>(level) : 0;
    mpf_sdi_vad_mode_set(detector, static_cast<apr_size_t>(mode));
  }
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_SAVE_WAVEFORM)) m_WaveFile.m_Record = header->save_waveform == TRUE;
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_CONFIDENCE_THRESHOLD))
    m_ConfidenceThreshold = header->confidence_threshold;
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_RECOGNITION_MODE))
    SetRecognitionMode(ToString(header->recognition_mode));
  if (RecogHeaderPresent(request, RECOGNIZER_HEADER_MEDIA_TYPE)) {
    const std::string type = ToString(header->media_type);
    if (strcasecmp(type.c_str(), "audio/wav") != 0 && strcasecmp(type.c_str(), "audio/wave") != 0 &&
        strcasecmp(type.c_str(), "audio/x-wav") != 0) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Not Supported Media-Type [%s] %s", type.c_str(), LogId());
      Refuse(response, MRCP_STATUS_CODE_UNSUPPORTED_PARAM_VALUE, RECOGNIZER_COMPLETION_CAUSE_ERROR);
      return false;
    }
  }
  return true;
}

void RecogChannel::SetGrammarParameter(const std::string& name, const std::string& value) {
  static const std::string webhookPrefix = "webhook.params.";
  bool flag = false;
  if (name == "speech-start-timeout") {
    mpf_sdi_speech_start_timeout_set(GetDetector(), static_cast<apr_size_t>(strtoll(value.c_str(), nullptr, 10)));
  } else if (name == "logging-tag") {
    m_LoggingTag = value;
  } else if (name == "save-waveform") {
    if (ParseBooleanString(value, flag)) m_WaveFile.m_Record = flag;
  } else if (name == "save-rdr") {
    // Without a manager no record can be written.
    if (ParseBooleanString(value, flag)) m_Details.m_Save = flag && GetRecogEngine()->GetRdrManager();
  } else if (name.compare(0, webhookPrefix.size(), webhookPrefix) == 0 && name.size() > webhookPrefix.size()) {
    const std::string key = name.substr(webhookPrefix.size());
    if (!m_WebhookParams.insert(std::make_pair(key, value)).second)
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Add Webhook Param [%s, %s] %s", key.c_str(), value.c_str(),
              LogId());
  } else if (!SetRequestParameter(name, value)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Parameter [%s] %s", name.c_str(), LogId());
  }
}

bool RecogChannel::OpenWaveform(mrcp_message_t* request, bool uriRequested) {
  UtteranceManager* manager = GetRecogEngine()->GetUtteranceManager();
  if (!manager) return false;
  if (!manager->ComposeName(m_WaveFile.m_Name, GetId().c_str(), request->start_line.request_id, m_LoggingTag,
                            request->pool) ||
      !manager->OpenWavefile(m_WaveFile, m_Details.m_SamplingRate, request->pool))
    return false;
  if (uriRequested && !manager->ComposeUri(m_WaveFile.m_Uri, m_WaveFile.m_Name, request->pool)) m_WaveFile.m_Uri.clear();
  return true;
}

void RecogChannel::WriteWaveform(const DataChunk& chunk) {
  if (!m_WaveFile.m_pFile || !chunk.GetSize()) return;
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Write [%d bytes] %s", static_cast<int>(chunk.GetSize()), LogId());
  UtteranceManager* manager = GetRecogEngine()->GetUtteranceManager();
  if (manager) manager->WriteWavefile(m_WaveFile, chunk.GetData(), chunk.GetSize());
}

void RecogChannel::CloseWaveform() {
  if (!m_WaveFile.m_pFile) return;
  UtteranceManager* manager = GetRecogEngine()->GetUtteranceManager();
  if (manager) {
    manager->CloseWavefile(m_WaveFile);
  } else {
    apr_file_close(m_WaveFile.m_pFile);
    m_WaveFile.m_pFile = nullptr;
  }
}

bool RecogChannel::StartTimers(mrcp_message_t*, mrcp_message_t*) {
  mpf_sdi_detector_t* detector = GetDetector();
  if (detector && !m_StartOfInputSent) mpf_sdi_start_timers(detector);
  return false;
}

bool RecogChannel::Stop(mrcp_message_t*, mrcp_message_t* response) {
  if (!m_pActiveRequest) return false;
  if (m_pStopResponse) {
    // An earlier STOP is answered when the recognition ends; this one has nothing left to stop.
    return false;
  }
  m_pStopResponse = response;
  SetCause(RECOGNIZER_COMPLETION_CAUSE_CANCELLED);
  if (!m_InputComplete) {
    StopInput();
  }
  return true;
}

void RecogChannel::StopInput() {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Stop Input %s", LogId());
  mpf_sdi_detector_t* detector = GetDetector();
  m_StopReportDue = true;
  if (detector && mpf_sdi_stop(detector)) return;
  // The detection ended already (its report is queued) or never ran: a report of our own keeps
  // the stop from waiting for nothing.
  StopCompleteEvent* event = new StopCompleteEvent(this, m_Recognition);
  event->Ref();
  GetEngine()->GetEventProcessor()->PostEvent(event);
}

void RecogChannel::ProcessStopComplete(uint64_t recognition) {
  if (recognition != m_Recognition) return;
  ProcessStop();
}

void RecogChannel::ProcessStop() {
  // Only a stop we asked for is reported; anything else belongs to a detection that is over.
  if (!m_StopReportDue) return;
  m_StopReportDue = false;
  // The detection ended by itself before the stop took effect; that report was handled.
  if (!m_pActiveRequest || m_InputComplete) return;
  RunStop();
}

void RecogChannel::RunStop() {
  CompleteInput();
  if (!m_pMethod || !m_pMethod->ProcessStop()) CompleteRecognition();
}

void RecogChannel::ProcessNoInput() {
  if (!m_pActiveRequest) return;
  SetCause(RECOGNIZER_COMPLETION_CAUSE_NO_INPUT_TIMEOUT);
  CompleteInput();
  if (!m_pMethod || !m_pMethod->ProcessNoInput()) CompleteRecognition();
}

void RecogChannel::ProcessError() {
  if (!IsCauseKnown()) SetCause(RECOGNIZER_COMPLETION_CAUSE_ERROR);
  if (m_InputComplete) {
    CompleteRecognition();
  } else {
    StopInput();
  }
}

void RecogChannel::ProcessStartOfInput(int mode) {
  if (!m_pActiveRequest) return;
  NoteTime(m_Details.m_StartOfInputTime);
  if (mode == MPF_SDI_MODE_SPEECH) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Speech Input Started %s", LogId());
    if (m_SpeechInputStarted) return;
    m_SpeechInputStarted = true;
    if (m_pMethod) m_pMethod->ProcessStartOfSpeechInput();
    if (m_StartOfInputSent || IsStartOfInputServiceOriginated()) return;
    SendStartOfInput(MPF_SDI_MODE_SPEECH);
  } else if (mode == MPF_SDI_MODE_DTMF) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "DTMF Input Started %s", LogId());
    if (m_DtmfInputStarted) return;
    m_DtmfInputStarted = true;
    if (!m_StartOfInputSent) SendStartOfInput(MPF_SDI_MODE_DTMF);
  }
}

void RecogChannel::ProcessSpeechInput(std::unique_ptr<DataChunk> chunk, bool last) {
  if (!m_pActiveRequest) return;
  if (m_SkipSpeech) {
    // A final response is being processed; the stop asked of the detector (or our own report
    // when it had ended) finishes the recognition.
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Skip Speech %s", LogId());
    return;
  }
  if (!m_SpeechInputStarted) {
    m_SpeechInputStarted = true;
    NoteTime(m_Details.m_StartOfInputTime);
  }
  if (m_pMethod) {
    m_pMethod->ProcessStartOfSpeechInput();
    m_pMethod->ProcessSpeechInput(std::move(chunk), last);
  } else if (last) {
    CompleteInput();
  }
}

void RecogChannel::ProcessDtmfInput(const std::string& digits, bool match) {
  if (!m_pActiveRequest) return;
  const bool timedOut = GetInputStats().m_Cause == MPF_SDI_CAUSE_TIMEDOUT && m_Details.m_MrcpVersion == MRCP_VERSION_2;
  if (match)
    SetCause(timedOut ? RECOGNIZER_COMPLETION_CAUSE_SUCCESS_MAXTIME : RECOGNIZER_COMPLETION_CAUSE_SUCCESS);
  else
    SetCause(timedOut ? RECOGNIZER_COMPLETION_CAUSE_NO_MATCH_MAXTIME : RECOGNIZER_COMPLETION_CAUSE_NO_MATCH);
  m_DtmfDigits = digits;
  m_Details.m_DtmfDigits = digits;
  CompleteInput();
  if (m_pMethod) m_pMethod->ProcessDtmfInput(digits, match);
}

bool RecogChannel::CompleteInput() {
  if (m_InputComplete) return false;
  m_InputComplete = true;
  NoteTime(m_Details.m_EndOfInputTime);
  const InputStats& stats = GetInputStats();
  m_Details.m_InputStats.completion_cause = static_cast<mpf_sdi_completion_cause_e>(stats.m_Cause);
  m_Details.m_InputStats.input_duration = stats.m_Duration;
  m_Details.m_InputStats.output_size = stats.m_Size;
  apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Input Complete [%s] size=%d bytes, dur=%d ms %s",
          mpf_sdi_completion_cause_str(stats.m_Cause), static_cast<int>(stats.m_Size),
          static_cast<int>(stats.m_Duration), LogId());
  return true;
}

mrcp_message_t* RecogChannel::CreateStartOfInput(mpf_sdi_mode_e mode) {
  mrcp_message_t* message = mrcp_event_create(m_pActiveRequest, RECOGNIZER_START_OF_INPUT, m_pActiveRequest->pool);
  if (!message) return nullptr;
  if (message->start_line.version == MRCP_VERSION_2) {
    mrcp_recog_header_t* header = static_cast<mrcp_recog_header_t*>(mrcp_resource_header_prepare(message));
    if (header) {
      apt_string_assign(&header->input_type, mode == MPF_SDI_MODE_DTMF ? "dtmf" : "speech", message->pool);
      mrcp_resource_header_property_add(message, RECOGNIZER_HEADER_INPUT_TYPE);
    }
  }
  message->start_line.request_state = MRCP_REQUEST_STATE_INPROGRESS;
  return message;
}

void RecogChannel::SendStartOfInput(mpf_sdi_mode_e mode) {
  if (!m_pActiveRequest || m_StartOfInputSent) return;
  if (m_Details.m_InputType == MPF_SDI_MODE_NONE) m_Details.m_InputType = mode;
  mrcp_message_t* message = CreateStartOfInput(mode);
  if (!message) return;
  m_StartOfInputSent = true;
  SendMessage(message);
}

void RecogChannel::SetWaveformUri(mrcp_message_t* message) {
  if (m_WaveFile.m_Uri.empty() || !message) return;
  mrcp_recog_header_t* header = static_cast<mrcp_recog_header_t*>(mrcp_resource_header_prepare(message));
  if (!header) return;
  const InputStats& stats = GetInputStats();
  if (stats.m_Size > 0) {
    if (message->start_line.version == MRCP_VERSION_2) {
      char* value = apr_psprintf(message->pool, "<%s>;size=%" PRIu64 ";duration=%" PRIu64, m_WaveFile.m_Uri.c_str(),
                                 stats.m_Size, stats.m_Duration);
      apt_string_set(&header->waveform_uri, value);
    } else {
      apt_string_assign(&header->waveform_uri, m_WaveFile.m_Uri.c_str(), message->pool);
    }
  } else {
    apt_string_assign(&header->waveform_uri, "", message->pool);
  }
  mrcp_resource_header_property_add(message, RECOGNIZER_HEADER_WAVEFORM_URI);
}

void RecogChannel::StartInterResultTimer(int64_t timeout) {
  StopInterResultTimer();
  if (timeout <= 0) return;
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Start Inter-result Timer [%d ms] %s", static_cast<int>(timeout), LogId());
  m_pInterResultTimer = new Trelka::Timer(this, timeout, Trelka::Timer::OneShot, Trelka::Timer::Dynamic);
  m_pInterResultTimer->Start(GetEngine()->GetEventProcessor());
}

void RecogChannel::StopInterResultTimer() {
  if (!m_pInterResultTimer) return;
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Stop Inter-result Timer %s", LogId());
  DiscardTimer(m_pInterResultTimer);
}

void RecogChannel::OnTimeoutElapsed(Trelka::Timer* timer) {
  if (!timer || timer != m_pInterResultTimer) return;
  DiscardTimer(m_pInterResultTimer);
  apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Inter-result Timeout Elapsed %s", LogId());
  ClearInterResultTimeout();
  m_InterResultTimeoutElapsed = true;
  if (!m_InputComplete) {
    StopInput();
  }
}

void RecogChannel::SaveRecord() {
  RdrManager* manager = GetRecogEngine()->GetRdrManager();
  if (!manager || m_RdrName.empty()) return;
  m_Details.m_CompletionTime = apr_time_now();
  manager->SaveRecord(m_Details, m_RdrName, m_pActiveRequest->pool);
}

bool RecogChannel::CompleteRecognition(mrcp_recog_completion_cause_e cause, const std::string& contentType,
                                       const std::string& body) {
  if (!m_pActiveRequest) return false;
  SetCause(cause);
  if (m_pMethod && m_pMethod->IsReading()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Wait for Reading to Complete %s", LogId());
    return false;
  }
  m_SpeechBuffer.clear();
  m_DtmfDigits.clear();
  CloseWaveform();
  StopInterResultTimer();
  if (m_Details.m_Save) SaveRecord();
  if (m_pMethod && m_pMethod->IsActive()) m_pMethod->Clear();

  mrcp_message_t* request = m_pActiveRequest;
  if (m_pStopResponse) {
    SetWaveformUri(m_pStopResponse);
    SendMessage(m_pStopResponse);
    m_pStopResponse = nullptr;
    m_pActiveRequest = nullptr;
  } else if (m_Closing) {
    m_pActiveRequest = nullptr;
  } else {
    if (!m_StartOfInputSent && IsStartOfInputServiceOriginated() &&
        (cause == RECOGNIZER_COMPLETION_CAUSE_SUCCESS || cause == RECOGNIZER_COMPLETION_CAUSE_NO_MATCH ||
         cause == RECOGNIZER_COMPLETION_CAUSE_HOTWORD_MAXTIME || cause == RECOGNIZER_COMPLETION_CAUSE_SUCCESS_MAXTIME))
      SendStartOfInput(MPF_SDI_MODE_SPEECH);
    mrcp_message_t* message = mrcp_event_create(request, RECOGNIZER_RECOGNITION_COMPLETE, request->pool);
    m_pActiveRequest = nullptr;
    if (message) {
      mrcp_recog_header_t* header = static_cast<mrcp_recog_header_t*>(mrcp_resource_header_prepare(message));
      if (header) {
        header->completion_cause = cause;
        mrcp_resource_header_property_add(message, RECOGNIZER_HEADER_COMPLETION_CAUSE);
      }
      SetWaveformUri(message);
      if (!contentType.empty() && !body.empty()) {
        mrcp_generic_header_t* generic = mrcp_generic_header_prepare(message);
        if (generic) {
          apt_string_assign(&generic->content_type, contentType.c_str(), message->pool);
          mrcp_generic_header_property_add(message, GENERIC_HEADER_CONTENT_TYPE);
        }
        mrcp_message_body_set(message, body.data(), body.size());
      }
      message->start_line.request_state = MRCP_REQUEST_STATE_COMPLETE;
      SendMessage(message);
    }
  }
  m_Closing = false;
  if (!m_pMethod || !m_pMethod->IsBusy()) OnMethodFinished();
  return true;
}

void RecogChannel::OnMethodFinished() {
  if (m_pActiveRequest) return;
  if (IsPendingClose()) {
    ProcessPendingClose();
    return;
  }
  if (m_pDeferredRequest) {
    mrcp_message_t* request = m_pDeferredRequest;
    mrcp_message_t* response = m_pDeferredResponse;
    m_pDeferredRequest = nullptr;
    m_pDeferredResponse = nullptr;
    if (!Recognize(request, response)) SendMessage(response);
  }
}

void RecogChannel::OnDtmfLength(const DtmfContext& context) {
  mpf_sdi_detector_t* detector = GetDetector();
  if (detector)
    mpf_sdi_dtmf_length_set(detector, static_cast<apr_size_t>(context.m_Length),
                            static_cast<apr_size_t>(context.m_MinLength), static_cast<apr_size_t>(context.m_MaxLength));
}

}  // namespace OXA_NS

// StreamingRecognize for one RECOGNIZE: the configuration from the request settings, the stream,
// the speech written one chunk at a time, the responses read until the service ends the stream,
// and the completion with results. Both API versions use this class; Api names the generated
// types of one version. Included by the stub unit of each version, which instantiates it.
#ifndef OXA_ZORV_STREAMING_RECOGNIZE_H
#define OXA_ZORV_STREAMING_RECOGNIZE_H

#include "OxaLog.h"
#include "OxaZorvChannel.h"
#include "OxaZorvEngine.h"
#include "OxaZorvStub.h"
#include "PbXmlGenerator.h"

#include <google/protobuf/util/json_util.h>
#include <grpcpp/client_context.h>
#include <grpcpp/support/async_stream.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace ZORV {

// The service's result message kept for the semantic tag formats.
class ProtoServiceResult : public ServiceResult {
 public:
  explicit ProtoServiceResult(const google::protobuf::Message& message) : m_pMessage(message.New()) {
    m_pMessage->CopyFrom(message);
  }
  void ComposeXml(std::ostream& stream, int level, int indent) const override {
    PbXmlGenerator generator(level, indent, true, true);
    generator.ComposeXml(*m_pMessage, stream);
  }
  bool ComposeJson(std::string& json) const override {
    return google::protobuf::util::MessageToJsonString(*m_pMessage, &json).ok();
  }

 private:
  std::unique_ptr<google::protobuf::Message> m_pMessage;
};

// Whether a line at this priority reaches the log: spares formatting what nobody reads.
inline bool IsLogged(apt_log_priority_e priority) {
  const apt_log_source_t* source = OXA_PLUGIN_LOG_SOURCE;
  return (source ? source->priority : apt_log_priority_get()) >= priority;
}

template <class Api>
class StreamingRecognizeMethod : public MethodBase, public Trelka::TimerHandler {
 public:
  typedef typename Api::StubInterface StubInterface;
  typedef typename Api::Request Request;
  typedef typename Api::Response Response;

  StreamingRecognizeMethod(Channel* channel, const std::shared_ptr<StubInterface>& stub)
      : MethodBase(channel), m_pStub(stub), m_pCreationTimer(nullptr) {
    ResetStreamState();
  }
  ~StreamingRecognizeMethod() override { DiscardTimer(m_pCreationTimer); }

  const char* GetName() const override { return "StreamingRecognize"; }

  bool Invoke() override {
    // A DTMF-only recognition never opens a stream.
    if (!m_pChannel->GetActiveSpeechGrammar()) return true;
    return CreateContext();
  }

  void Clear() override {
    if (!m_Active) return;
    if (m_StreamCreated && m_ConfigSent) {
      FinishStreaming();
    } else if (IsAnyTagPending()) {
      // Nothing may go while gRPC can still complete into it: cancel, and clear once it has.
      Cancel();
      m_ClearWhenDone = true;
    } else {
      ClearContext();
    }
  }

  void ClearContext() override {
    DiscardTimer(m_pCreationTimer);
    m_pContext.reset();
    m_Active = false;
  }

  void Cancel() override {
    if (!m_pContext) return;
    apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Cancel Streaming Recognize %s", m_pChannel->LogId());
    m_pContext->m_ClientContext.TryCancel();
  }

  // A cancelled stream whose operations are still completing counts as finishing too.
  bool IsFinishing() const override { return m_FinishTag.IsPending() || m_FinishAfterWriting || m_ClearWhenDone; }
  bool IsReading() const override { return m_ReadTag.IsPending(); }

  bool ProcessStartOfSpeechInput() override { return SendConfig(); }

  void ProcessSpeechInput(std::unique_ptr<DataChunk> chunk, bool last) override {
    if (chunk && chunk->GetSize()) {
      // Speech after the half-close waits for the stream that follows a restart.
      if (m_pContext && m_StreamCreated && !m_WriteTag.IsPending() && !m_RestartPending && !m_WritesDone)
        SendInput(*chunk);
      else
        m_pChannel->GetSpeechBuffer().push_back(std::move(chunk));
    }
    if (last && m_pChannel->CompleteInput() && !m_WriteTag.IsPending() && m_pContext && m_StreamCreated)
      SendInputComplete(false);
  }

  void ProcessDtmfInput(const std::string& digits, bool match) override {
    MethodBase::ProcessDtmfInput(digits, match);
    if (m_CreateTag.IsPending()) return;
    if (!m_pChannel->IsSpeechInputStarted())
      FinalizeDtmfInput();
    else if (!m_WriteTag.IsPending() && !SendInputComplete(false))
      FinalizeDtmfInput();
  }

  bool ProcessNoInput() override {
    if (m_CreateTag.IsPending()) {
      if (m_Active) Cancel();
      return true;
    }
    if (!m_pChannel->IsSpeechInputStarted() || !m_pContext) return false;
    if (m_WriteTag.IsPending()) return true;
    return SendInputComplete(false);
  }

  bool ProcessStop() override {
    if (m_pChannel->IsSkipSpeech()) {
      ProcessFinalResponse();
      return true;
    }
    if (m_CreateTag.IsPending()) {
      if (m_Active) Cancel();
      return true;
    }
    if (!m_pChannel->IsSpeechInputStarted() || !m_pContext) return false;
    if (!m_WriteTag.IsPending()) SendInputComplete(false);
    if (IsStopCondition() || m_pChannel->GetCause() == RECOGNIZER_COMPLETION_CAUSE_ERROR) return true;
    if (m_Active) Cancel();
    return true;
  }

  void OnTimeoutElapsed(Trelka::Timer* timer) override {
    if (!timer || timer != m_pCreationTimer) return;
    DiscardTimer(m_pCreationTimer);
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Create gRPC Stream Timed out %s", m_pChannel->LogId());
    if (m_Active) Cancel();
  }

 protected:
  void DispatchGrpcEvent(Tag* tag, bool ok) override {
    if (tag == &m_CreateTag)
      OnCreateStream(ok);
    else if (tag == &m_WriteTag)
      OnWrite(ok);
    else if (tag == &m_WritesDoneTag)
      OnWritesDone(ok);
    else if (tag == &m_ReadTag)
      OnRead(ok);
    else if (tag == &m_FinishTag)
      OnFinishStream(ok);
  }

  void OnOperationsDone() override {
    if (!m_ClearWhenDone) return;
    m_ClearWhenDone = false;
    ClearContext();
    m_pChannel->OnMethodFinished();
  }

 private:
  // One stream.
  struct Context {
    grpc::ClientContext m_ClientContext;
    Request m_Request;
    Response m_Response;
    std::unique_ptr<grpc::ClientAsyncReaderWriterInterface<Request, Response>> m_pStream;
    grpc::Status m_Status;
  };

  const StreamingRecogSettings& Settings() const { return GetZorvChannel()->GetRequestSettings(); }

  void ResetStreamState() {
    m_StreamCreated = false;
    m_ConfigSent = false;
    m_WritesDone = false;
    m_FinishAfterWriting = false;
    m_HalfCloseAfterWriting = false;
    m_StopCondition = false;
    m_ResultSeen = false;
    m_LastResultCount = 0;
    m_ClearWhenDone = false;
  }

  // An indent beyond any sensible layout would only make documents of gigabytes.
  int ResultsIndent() const {
    const int64_t indent = Settings().m_ResultsIndent;
    return indent < 0 ? 0 : indent > 32 ? 32 : static_cast<int>(indent);
  }

  bool IsStopCondition() const { return m_StopCondition || m_pChannel->IsInterResultTimeoutElapsed(); }

  const SpeechContext* GetSpeechContext() const {
    const GrammarRef* grammar = m_pChannel->GetActiveSpeechGrammar();
    return grammar ? grammar->m_pSpeechContext : nullptr;
  }

  bool CreateContext() {
    m_pContext = std::make_shared<Context>();
    ResetStreamState();
    const StreamingRecogSettings& settings = Settings();
    std::string language = settings.m_Language;
    const SpeechContext* speechContext = GetSpeechContext();
    if (speechContext && !speechContext->m_Language.empty()) language = speechContext->m_Language;
    const uint32_t rate = m_pChannel->GetSamplingRate();
    const char* id = m_pChannel->LogId();

    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG,
            "Init Streaming Config: encoding=%d, sampling-rate=%d, language=%s, max-alternatives=%d, "
            "interim-results=%d, single-utterance=%d profanity-filter=%d, word-time-offsets=%d, word-confidence=%d, "
            "auto-punctuation=%d, spoken-punctuation=%d, spoken-emojis=%d, use-enhanced=%d %s",
            1, static_cast<int>(rate), language.c_str(), static_cast<int>(settings.m_MaxAlternatives),
            settings.m_InterimResults, settings.m_SingleUtterance, settings.m_ProfanityFilter,
            settings.m_WordTimeOffsets, settings.m_WordConfidence, settings.m_AutoPunctuation,
            settings.m_SpokenPunctuation, settings.m_SpokenEmojis, settings.m_UseEnhanced, id);

    auto* streaming = m_pContext->m_Request.mutable_streaming_config();
    streaming->set_single_utterance(settings.m_SingleUtterance);
    streaming->set_interim_results(settings.m_InterimResults);
    auto* config = streaming->mutable_config();
    config->set_encoding(Api::RecognitionConfig::LINEAR16);
    config->set_sample_rate_hertz(static_cast<int32_t>(rate));
    config->set_language_code(language);
    config->set_max_alternatives(static_cast<int32_t>(settings.m_MaxAlternatives));
    config->set_profanity_filter(settings.m_ProfanityFilter);
    config->set_enable_word_time_offsets(settings.m_WordTimeOffsets);
    config->set_enable_word_confidence(settings.m_WordConfidence);
    config->set_enable_automatic_punctuation(settings.m_AutoPunctuation);
    config->set_use_enhanced(settings.m_UseEnhanced);
    config->mutable_enable_spoken_punctuation()->set_value(settings.m_SpokenPunctuation);
    config->mutable_enable_spoken_emojis()->set_value(settings.m_SpokenEmojis);
    for (const std::string& alternate : settings.m_AlternateLanguages) {
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Add Alternate Language [%s] %s", alternate.c_str(), id);
      config->add_alternative_language_codes(alternate);
    }
    if (!settings.m_Model.empty()) {
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Set Model [%s] %s", settings.m_Model.c_str(), id);
      config->set_model(settings.m_Model);
    }
    if (settings.m_SpeakerDiarization) {
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO,
              "Enable Speaker Diarization: min-speaker-count=%d, max-speaker-count=%d %s",
              static_cast<int>(settings.m_MinSpeakerCount), static_cast<int>(settings.m_MaxSpeakerCount), id);
      auto* diarization = config->mutable_diarization_config();
      diarization->set_enable_speaker_diarization(true);
      diarization->set_min_speaker_count(static_cast<int32_t>(settings.m_MinSpeakerCount));
      diarization->set_max_speaker_count(static_cast<int32_t>(settings.m_MaxSpeakerCount));
    }
    config->clear_speech_contexts();
    if (speechContext && !speechContext->m_Phrases.empty()) ComposeSpeechContext(*speechContext, *config);
    if (!settings.m_Adaptation.empty()) {
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Set Adaptation [%s] %s", settings.m_Adaptation.c_str(), id);
      // A text that does not parse leaves what it did parse.
      (void)google::protobuf::util::JsonStringToMessage(settings.m_Adaptation, config->mutable_adaptation());
    }
    if (Api::kTranscriptNormalization && !settings.m_TranscriptNormalization.empty()) {
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Set Transcript Normalization [%s] %s",
              settings.m_TranscriptNormalization.c_str(), id);
      (void)google::protobuf::util::JsonStringToMessage(settings.m_TranscriptNormalization,
                                                        config->mutable_transcript_normalization());
    }

    apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "gRPC Streaming Recognize %s", id);
    Engine* engine = GetZorvChannel()->GetZorvEngine();
    StartOperation(m_CreateTag);
    m_pContext->m_pStream = m_pStub->AsyncStreamingRecognize(&m_pContext->m_ClientContext, engine->GetTask(),
                                                             &m_CreateTag);
    if (!m_pContext->m_pStream) {
      m_CreateTag.SetPending(false);
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Start Streaming Recognition %s", id);
      m_pContext.reset();
      return false;
    }
    const int64_t timeout = engine->GetStreamingRecogSettings().m_StreamCreationTimeout;
    if (timeout > 0) {
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Start gRPC Timer [%d ms] %s", static_cast<int>(timeout), id);
      m_pCreationTimer = new Trelka::Timer(this, timeout, Trelka::Timer::OneShot, Trelka::Timer::Dynamic);
      m_pCreationTimer->Start(engine->GetEventProcessor());
    }
    m_Active = true;
    return true;
  }

  // Phrases of equal boost go into one SpeechContext message, in the context's order.
  void ComposeSpeechContext(const SpeechContext& context, typename Api::RecognitionConfig& config) {
    std::map<float, typename Api::SpeechContext*> messages;
    typename Api::SpeechContext* current = nullptr;
    float previous = -1.0f;
    for (const auto& entry : context.m_Phrases) {
      const SpeechContext::Value& value = entry.second;
      if (!current || value.m_Weight != previous) {
        auto it = messages.find(value.m_Weight);
        if (it == messages.end()) {
          apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Add Speech Context [%s] [%.2f] %s", context.m_Id.c_str(),
                  static_cast<double>(value.m_Weight), m_pChannel->LogId());
          it = messages.insert(std::make_pair(value.m_Weight, config.add_speech_contexts())).first;
        }
        current = it->second;
        previous = value.m_Weight;
      }
      current->add_phrases(value.m_Phrase);
      if (value.m_Weight >= 0.0f) current->set_boost(value.m_Weight);
    }
  }

  void OnCreateStream(bool ok) {
    m_StreamCreated = true;
    RdrManager::RecognitionDetails& details = m_pChannel->GetDetails();
    m_pChannel->NoteTime(details.m_StreamCreationTime);
    if (m_pCreationTimer) {
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Stop gRPC Timer %s", m_pChannel->LogId());
      DiscardTimer(m_pCreationTimer);
    }
    if (m_ClearWhenDone) return;
    if (m_pChannel->IsStopPending()) {
      m_pChannel->RunStop();
    } else if (details.m_InputType == MPF_SDI_MODE_DTMF && m_pChannel->IsInputComplete()) {
      FinalizeDtmfInput();
    } else if (!ok) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create gRPC Stream %s", m_pChannel->LogId());
      m_pChannel->ProcessError();
    } else if (m_pChannel->IsInputComplete() && m_pChannel->IsCauseKnown()) {
      m_pChannel->CompleteRecognition();
    } else if (m_pChannel->IsSpeechInputStarted()) {
      SendConfig();
    }
  }

  bool SendConfig() {
    if (!m_pContext || !m_StreamCreated || m_ConfigSent || m_WritesDone || m_CreateTag.IsPending()) return false;
    if (IsLogged(APT_PRIO_INFO)) {
      std::string json;
      (void)google::protobuf::util::MessageToJsonString(m_pContext->m_Request, &json);
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Send Config %s\n%s", m_pChannel->LogId(), json.c_str());
    }
    // gRPC allows one outstanding write per stream: the speech waits for this one.
    StartOperation(m_WriteTag);
    m_pContext->m_pStream->Write(m_pContext->m_Request, &m_WriteTag);
    StartOperation(m_ReadTag);
    m_pContext->m_pStream->Read(&m_pContext->m_Response, &m_ReadTag);
    m_pChannel->NoteTime(m_pChannel->GetDetails().m_StreamingStartTime);
    m_ConfigSent = true;
    return true;
  }

  void SendInput(const DataChunk& chunk) {
    if (m_WritesDone) return;
    m_pChannel->WriteWaveform(chunk);
    m_pContext->m_Request.Clear();
    m_pContext->m_Request.set_audio_content(chunk.GetData(), chunk.GetSize());
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Send [%d bytes] %s", static_cast<int>(chunk.GetSize()), m_pChannel->LogId());
    StartOperation(m_WriteTag);
    m_pContext->m_pStream->Write(m_pContext->m_Request, &m_WriteTag);
    m_pChannel->GetDetails().m_BytesSent += chunk.GetSize();
  }

  void OnWrite(bool ok) {
    if (m_FinishAfterWriting) {
      FinishStreaming();
      return;
    }
    if (m_HalfCloseAfterWriting) {
      // The utterance ended without a result: the rest of the speech waits for the next stream.
      m_HalfCloseAfterWriting = false;
      SendInputComplete(true);
      return;
    }
    if (!m_RestartPending) {
      if (!ok) {
        apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Send Input %s", m_pChannel->LogId());
        m_pChannel->ProcessError();
        return;
      }
      std::list<std::unique_ptr<DataChunk>>& buffer = m_pChannel->GetSpeechBuffer();
      if (!buffer.empty()) {
        std::unique_ptr<DataChunk> chunk = std::move(buffer.front());
        buffer.pop_front();
        SendInput(*chunk);
        return;
      }
      if (!m_pChannel->IsInputComplete()) return;
    }
    // A restart waits for this stream's end: with the half-close already sent, finish it.
    if (!SendInputComplete(false) && m_RestartPending && !m_WritesDoneTag.IsPending()) FinishStreaming();
  }

  // Half-closes the stream; false when that was done or the stream is finishing already.
  bool SendInputComplete(bool keepWaveform) {
    if (!m_pContext || !m_StreamCreated || m_WritesDone || m_FinishTag.IsPending()) return false;
    if (!m_RestartPending && !keepWaveform) m_pChannel->CloseWaveform();
    m_pChannel->StopInterResultTimer();
    m_WritesDone = true;
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Send Done Message %s", m_pChannel->LogId());
    StartOperation(m_WritesDoneTag);
    m_pContext->m_pStream->WritesDone(&m_WritesDoneTag);
    if (!m_RestartPending && !keepWaveform) m_pChannel->NoteTime(m_pChannel->GetDetails().m_StreamingEndTime);
    return true;
  }

  void OnWritesDone(bool) {
    if (m_RestartPending || m_FinishAfterWriting) {
      FinishStreaming();
    } else if (m_pChannel->GetDetails().m_InputType == MPF_SDI_MODE_DTMF) {
      if (m_pChannel->IsInputComplete()) FinalizeDtmfInput();
    } else if (m_pChannel->IsCauseKnown()) {
      m_pChannel->CompleteRecognition();
    }
  }

  void OnRead(bool ok) {
    Response& response = m_pContext->m_Response;
    if (IsLogged(APT_PRIO_INFO)) {
      std::string json;
      if (ok) (void)google::protobuf::util::MessageToJsonString(response, &json);
      const bool endOfUtterance = response.speech_event_type() == Response::END_OF_SINGLE_UTTERANCE;
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Received Response: status [%d] type [%s] result-count [%d] %s\n%s",
              ok ? 1 : 0, endOfUtterance ? "end-of-utterance" : "unspecified", ok ? response.results_size() : 0,
              m_pChannel->LogId(), json.c_str());
    }
    // A failed read delivers no message: the last one received stays for the composition.
    if (ok) ProcessResponse(response);
    if (!m_pContext) return;
    if (ok) {
      StartOperation(m_ReadTag);
      m_pContext->m_pStream->Read(&m_pContext->m_Response, &m_ReadTag);
    } else {
      ProcessFinalResponse();
    }
  }

  void ProcessResponse(const Response& response) {
    const char* id = m_pChannel->LogId();
    const StreamingRecogSettings& settings = Settings();
    if (response.speech_event_type() == Response::END_OF_SINGLE_UTTERANCE) {
      m_StopCondition = true;
      m_pChannel->GetDetails().m_EndOfUtterance = true;
      if (!m_pChannel->IsInputComplete()) {
        if (!m_ResultSeen && response.results_size() == 0 && settings.m_SkipEmptyResults) {
          // Nothing heard in this utterance: the stream ends, and a new one takes the speech.
          // One write at a time: with one outstanding, the half-close follows its completion.
          if (m_WriteTag.IsPending())
            m_HalfCloseAfterWriting = true;
          else
            SendInputComplete(true);
          return;
        }
        m_pChannel->StopInput();
      }
    }
    m_LastResultCount = response.results_size();
    if (response.results_size() == 0) return;

    m_pChannel->StopInterResultTimer();
    if (m_pChannel->IsStartOfInputFromService() && !m_pChannel->IsStartOfInputSent())
      m_pChannel->SendStartOfInput(MPF_SDI_MODE_SPEECH);
    if (settings.m_InterResultTimeout > 0 && !m_pChannel->IsInputComplete())
      m_pChannel->StartInterResultTimer(settings.m_InterResultTimeout);

    const SpeechContext* context = GetSpeechContext();
    const bool matchPhrases = context && context->m_SpeechComplete;
    for (int i = 0; i < response.results_size(); i++) {
      const auto& result = response.results(i);
      apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Result[%d]: stability [%.2f] final [%d] language [%s] %s", i,
              static_cast<double>(result.stability()), result.is_final() ? 1 : 0, result.language_code().c_str(), id);
      for (int j = 0; j < result.alternatives_size(); j++) {
        const auto& alternative = result.alternatives(j);
        apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Alternative[%d]: confidence [%.2f] transcript [%s] %s", j,
                static_cast<double>(alternative.confidence()), alternative.transcript().c_str(), id);
        for (int k = 0; k < alternative.words_size(); k++) {
          const auto& word = alternative.words(k);
// speaker_tag is deprecated in favour of speaker_label, which the service fills only lately.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
          const int speakerTag = static_cast<int>(word.speaker_tag());
#pragma GCC diagnostic pop
          apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Word[%d]: start-time [%ld:%d] end-time [%ld:%d] speaker-tag [%d] %s %s",
                  k, static_cast<long>(word.start_time().seconds()), word.start_time().nanos() / 1000000,
                  static_cast<long>(word.end_time().seconds()), word.end_time().nanos() / 1000000, speakerTag,
                  word.word().c_str(), id);
        }
        if (!matchPhrases) continue;
        bool complete = false;
        if (!context->FindPhrase(alternative.transcript(), complete)) continue;
        if (complete) {
          apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Phrase Matched [%s] %s", alternative.transcript().c_str(), id);
          m_StopCondition = true;
          if (!m_pChannel->IsInputComplete()) m_pChannel->StopInput();
        } else {
          apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Phrase Matched [%s...] %s", alternative.transcript().c_str(), id);
        }
      }
    }

    const auto& first = response.results(0);
    if (first.is_final()) {
      RecogResult result;
      for (const auto& alternative : first.alternatives()) {
        RecogAlternative stored;
        stored.m_Transcript = alternative.transcript();
        stored.m_Confidence = alternative.confidence();
        result.m_Alternatives.push_back(stored);
      }
      result.m_pServiceResult = std::make_shared<ProtoServiceResult>(first);
      RecogResultList& results = m_pChannel->GetDetails().m_Results;
      if (settings.m_SingleUtterance) results.clear();
      results.push_back(std::move(result));
    } else if (mpf_sdi_detector_t* detector = m_pChannel->GetInputDetector()) {
      mpf_sdi_result_flag_set(detector);
    }
    m_ResultSeen = true;
  }

  void ProcessFinalResponse() {
    if (m_pChannel->GetDetails().m_InputType == MPF_SDI_MODE_DTMF) {
      if (m_pChannel->IsInputComplete()) FinalizeDtmfInput();
      return;
    }
    if (m_pChannel->IsInputComplete()) {
      m_pChannel->SetSkipSpeech(false);
      std::string contentType;
      std::string body;
      if (m_pChannel->GetDetails().m_Results.empty()) {
        if (!m_pChannel->IsCauseKnown())
          m_pChannel->SetCause(m_WritesDone ? RECOGNIZER_COMPLETION_CAUSE_NO_MATCH : RECOGNIZER_COMPLETION_CAUSE_ERROR);
      } else {
        if (GetZorvChannel()->GetRequestWebhookSettings().m_Enable && GetZorvChannel()->TriggerWebhook()) return;
        if (!ComposeSpeechResult(contentType, body)) m_pChannel->SetCause(RECOGNIZER_COMPLETION_CAUSE_ERROR);
      }
      m_pChannel->CompleteRecognition(m_pChannel->GetCause(), contentType, body);
      return;
    }
    if (!IsStopCondition()) {
      m_pChannel->SetSkipSpeech(true);
      m_pChannel->StopInput();
      m_pChannel->SetCause(RECOGNIZER_COMPLETION_CAUSE_ERROR);
    } else if (m_ResultSeen || !Settings().m_SkipEmptyResults) {
      m_pChannel->SetSkipSpeech(true);
      m_pChannel->StopInput();
    } else {
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Skip Empty Result %s", m_pChannel->LogId());
      m_RestartPending = true;
      if (!m_WriteTag.IsPending() && !SendInputComplete(true) && !m_WritesDoneTag.IsPending()) FinishStreaming();
    }
  }

  bool ComposeSpeechResult(std::string& contentType, std::string& body) {
    if (m_LastResultCount == 0) return false;
    const StreamingRecogSettings& settings = Settings();
    NlsmlSettings nlsml;
    nlsml.m_Indent = ResultsIndent();
    nlsml.m_SortAlternatives = settings.m_SortAlternatives;
    nlsml.m_AlternativesBelowThreshold = settings.m_AlternativesBelowThreshold;
    nlsml.m_Mrcpv1Confidence = m_pChannel->GetMrcpv1Confidence();
    nlsml.m_TagFormat = settings.m_TagFormat;
    mrcp_recog_completion_cause_e cause = m_pChannel->GetCause();
    if (!OXA_NS::ComposeSpeechResult(m_pChannel->GetDetails().m_Results, m_pChannel->GetConfidenceThreshold(), nlsml,
                                     m_pChannel->GetActiveSpeechGrammar(), cause, contentType, body))
      return false;
    m_pChannel->SetCause(cause);
    return true;
  }

  void FinalizeDtmfInput() {
    std::string contentType;
    std::string body;
    const std::string& digits = m_pChannel->GetDetails().m_DtmfDigits;
    if (!digits.empty()) {
      NlsmlSettings nlsml;
      nlsml.m_Indent = ResultsIndent();
      nlsml.m_Mrcpv1Confidence = m_pChannel->GetMrcpv1Confidence();
      mrcp_recog_completion_cause_e cause = m_pChannel->GetCause();
      if (OXA_NS::ComposeDtmfResult(digits, nlsml, m_pChannel->GetActiveDtmfGrammar(), cause, contentType, body))
        m_pChannel->SetCause(cause);
      else
        m_pChannel->SetCause(RECOGNIZER_COMPLETION_CAUSE_ERROR);
    }
    m_pChannel->CompleteRecognition(m_pChannel->GetCause(), contentType, body);
  }

  void FinishStreaming() {
    if (m_FinishTag.IsPending() || !m_pContext) return;
    if (!m_WriteTag.IsPending() && !m_WritesDoneTag.IsPending()) {
      m_FinishAfterWriting = false;
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Finish Streaming %s", m_pChannel->LogId());
      StartOperation(m_FinishTag);
      m_pContext->m_pStream->Finish(&m_pContext->m_Status, &m_FinishTag);
    } else {
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Wait for Writing to Complete %s", m_pChannel->LogId());
      m_FinishAfterWriting = true;
    }
  }

  void OnFinishStream(bool) {
    if (!m_pContext->m_Status.ok())
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "gRPC Status: %s %s", m_pContext->m_Status.error_message().c_str(),
              m_pChannel->LogId());
    ClearContext();
    if (m_RestartPending) {
      m_RestartPending = false;
      RdrManager::RecognitionDetails& details = m_pChannel->GetDetails();
      details.PartialReset();
      m_pChannel->NoteTime(details.m_RequestStartTime);
      if (!CreateContext()) m_pChannel->ProcessError();
      return;
    }
    m_pChannel->OnMethodFinished();
  }

  std::shared_ptr<StubInterface> m_pStub;
  std::shared_ptr<Context> m_pContext;
  Trelka::Timer* m_pCreationTimer;  // deleted by the timer queue once stopped

  bool m_StreamCreated;
  bool m_ConfigSent;
  bool m_WritesDone;
  bool m_FinishAfterWriting;
  bool m_HalfCloseAfterWriting = false;
  bool m_RestartPending = false;
  bool m_StopCondition;
  bool m_ResultSeen;
  int m_LastResultCount;  // results of the last response received
  bool m_ClearWhenDone;   // cleared after the outstanding operations have completed
};

// The speech service of one API version: its generated stub on the channel's gRPC channel, and
// a StreamingRecognize method per recognition.
template <class Api>
class SpeechStubT : public SpeechStub {
 public:
  explicit SpeechStubT(Channel* channel) : SpeechStub(channel) {}

  bool CreateGrpcStub(const std::shared_ptr<grpc::Channel>& channel) override {
    m_pStub = Api::Service::NewStub(channel);
    if (!m_pStub) {
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create gRPC Speech Stub %s", m_pChannel->LogId());
      return false;
    }
    return true;
  }

  std::shared_ptr<MethodBase> CreateStreamingRecognizeMethod() override {
    return std::make_shared<StreamingRecognizeMethod<Api>>(m_pChannel, m_pStub);
  }

 private:
  std::shared_ptr<typename Api::StubInterface> m_pStub;
};

}  // namespace ZORV

#endif  // OXA_ZORV_STREAMING_RECOGNIZE_H

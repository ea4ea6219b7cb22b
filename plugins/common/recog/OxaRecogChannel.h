// The recognizer channel both recognizers build on: request dispatch, the RECOGNIZE flow with its
// headers and parameters, the detector wiring, START-OF-INPUT, STOP, START-INPUT-TIMERS, the
// inter-result timer, and the completion of a recognition with its files and RECOGNITION-COMPLETE.
// What talks to the service is a RecogMethod; the plugin's channel creates it and supplies the
// request settings through the hooks below.
#ifndef OXA_RECOG_CHANNEL_H
#define OXA_RECOG_CHANNEL_H

#include "OxaNamespace.h"
#include "OxaRecogBase.h"
#include "recog/OxaGrammar.h"
#include "recog/OxaNlsml.h"
#include "recog/OxaRdrManager.h"
#include "recog/OxaUtteranceManager.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace OXA_NS {

class RecogChannel;
class RecogEngine;

// The service side of one recognition. Event thread only. The defaults keep speech and digits in
// the channel; a service method overrides what it streams.
class RecogMethod {
 public:
  explicit RecogMethod(RecogChannel* channel) : m_pChannel(channel), m_Active(false) {}
  virtual ~RecogMethod() {}

  // Starts the service work of the channel's active request; false fails the RECOGNIZE.
  virtual bool Invoke() = 0;
  // Ends the service work once the recognition completes; the method may stay active while its
  // call finishes, and then tells the channel (RecogChannel::OnMethodFinished).
  virtual void Clear() { ClearContext(); }
  // Input events; true when the method takes the completion over.
  virtual bool ProcessNoInput();
  virtual bool ProcessStop();
  virtual bool ProcessStartOfSpeechInput() { return false; }
  virtual void ProcessSpeechInput(std::unique_ptr<DataChunk> chunk, bool last);
  virtual void ProcessDtmfInput(const std::string& digits, bool match);
  virtual void ProcessDtmfDigit(char digit);
  virtual const char* GetName() const = 0;
  virtual void ClearContext() { m_Active = false; }
  virtual void Cancel() {}

  // A RECOGNIZE that arrives now waits for the finish instead of being refused.
  virtual bool IsFinishing() const { return false; }
  // Results may still arrive: completion waits for them.
  virtual bool IsReading() const { return false; }
  // Operations of the service are still outstanding: the channel may not go away yet.
  virtual bool IsBusy() const { return m_Active; }

  bool IsActive() const { return m_Active; }
  RecogChannel* GetChannel() const { return m_pChannel; }

 protected:
  RecogChannel* const m_pChannel;
  bool m_Active;  // a context exists
};

class RecogChannel : public RecogChannelBase, private GrammarTable::Handler {
 public:
  RecogChannel(RecogEngine* engine, const GrammarTable::Settings& grammarSettings);
  ~RecogChannel() override;

  RecogEngine* GetRecogEngine() const;

  // ---- used by the method (event thread) ----
  // Once per recognition; true when this call completed the input.
  bool CompleteInput();
  // Ends the recognition (see the .cpp); false when there is none or results are still due.
  bool CompleteRecognition(mrcp_recog_completion_cause_e cause, const std::string& contentType,
                           const std::string& body);
  // The current cause, e.g. after the method set it.
  bool CompleteRecognition() { return CompleteRecognition(GetCause(), std::string(), std::string()); }
  // A service failure: an unknown cause becomes recognizer-error.
  void ProcessError();
  // Logs "Stop Input" and stops the detector; its stop-complete follows.
  void StopInput();
  // The detection is over by a stop: the method or the channel completes.
  void RunStop();
  // Whether the service, rather than the detector, starts the input of this request.
  bool IsStartOfInputFromService() const { return IsStartOfInputServiceOriginated(); }
  void SendStartOfInput(mpf_sdi_mode_e mode);
  // The method's call has finished: a pending close or a deferred RECOGNIZE goes on now.
  void OnMethodFinished();
  void StartInterResultTimer(int64_t timeout);
  void StopInterResultTimer();
  // Appends audio to the open utterance file.
  void WriteWaveform(const DataChunk& chunk);
  void CloseWaveform();
  void SetWaveformUri(mrcp_message_t* message);

  mrcp_message_t* GetActiveRequest() const { return m_pActiveRequest; }
  RdrManager::RecognitionDetails& GetDetails() { return m_Details; }
  mrcp_recog_completion_cause_e GetCause() const { return m_Details.m_CompletionCause; }
  void SetCause(mrcp_recog_completion_cause_e cause) { m_Details.m_CompletionCause = cause; }
  bool IsCauseKnown() const { return m_Details.m_CompletionCause != RECOGNIZER_COMPLETION_CAUSE_UNKNOWN; }
  // Notes the time in the detail record when it is to be saved.
  void NoteTime(apr_time_t& time) {
    if (m_Details.m_Save) time = apr_time_now();
  }
  mpf_sdi_detector_t* GetInputDetector() const { return GetDetector(); }
  GrammarRef* GetActiveSpeechGrammar() const { return m_pGrammars ? m_pGrammars->GetActiveSpeechGrammar() : nullptr; }
  GrammarRef* GetActiveDtmfGrammar() const { return m_pGrammars ? m_pGrammars->GetActiveDtmfGrammar() : nullptr; }
  std::list<std::unique_ptr<DataChunk>>& GetSpeechBuffer() { return m_SpeechBuffer; }
  std::string& GetDtmfDigits() { return m_DtmfDigits; }
  const std::map<std::string, std::string>& GetWebhookParams() const { return m_WebhookParams; }
  bool IsSpeechInputStarted() const { return m_SpeechInputStarted; }
  bool IsInputComplete() const { return m_InputComplete; }
  bool IsStartOfInputSent() const { return m_StartOfInputSent; }
  bool IsStopPending() const { return m_pStopResponse != nullptr; }
  bool IsSkipSpeech() const { return m_SkipSpeech; }
  void SetSkipSpeech(bool skip) { m_SkipSpeech = skip; }
  bool IsInterResultTimeoutElapsed() const { return m_InterResultTimeoutElapsed; }
  uint32_t GetSamplingRate() const { return m_Details.m_SamplingRate; }
  mrcp_version_e GetMrcpVersion() const { return m_Details.m_MrcpVersion; }
  float GetConfidenceThreshold() const { return m_ConfidenceThreshold; }
  bool GetMrcpv1Confidence() const { return m_Mrcpv1Confidence; }
  const std::shared_ptr<RecogMethod>& GetMethod() const { return m_pMethod; }
  // "<channel@tag>" for log lines.
  const char* LogId() { return m_LogId.c_str(); }

  // Event thread, from the input events.
  void ProcessStartOfInput(int mode) override;
  void ProcessSpeechInput(std::unique_ptr<DataChunk> chunk, bool last) override;
  void ProcessDtmfInput(const std::string& digits, bool match) override;
  void ProcessNoInput() override;
  void ProcessStop() override;

  void OnTimeoutElapsed(Trelka::Timer* timer) override;

 protected:
  // ---- hooks of the plugin's channel ----
  // RECOGNIZE: the engine's settings become this request's.
  virtual void InitRequestSettings() = 0;
  // Whether results carry MRCPv1 confidences for a request of this version.
  virtual bool UseMrcpv1Confidence(mrcp_version_e version) const = 0;
  // A service parameter of SetGrammarParameter; false for a name it does not know.
  virtual bool SetRequestParameter(const std::string& name, const std::string& value) = 0;
  // Headers that change the request settings.
  virtual void SetLanguage(const std::string& language) = 0;
  virtual void SetMaxAlternatives(int64_t count) = 0;
  virtual void SetRecognitionMode(const std::string& mode) = 0;
  virtual bool IsStartOfInputServiceOriginated() const = 0;
  // After every header and parameter: settles the request settings, fills the detail record's
  // language and maximum alternatives, and gives the interim-results flag the detector starts with.
  virtual bool FinalizeRequestSettings() = 0;
  virtual void ClearInterResultTimeout() = 0;
  // Creates and invokes the method of the active request; false answers 407 with cause 6.
  virtual bool StartRecognition() = 0;

  void SetMethod(const std::shared_ptr<RecogMethod>& method) { m_pMethod = method; }

  // Vendor-specific and grammar parameters; the channel's own names first, then the service's.
  void SetGrammarParameter(const std::string& name, const std::string& value);

  void OnOpen() override;
  void OnClose() override;
  bool IsCloseDeferred() const override;
  bool DispatchRequest(mrcp_message_t* request, mrcp_message_t* response) override;

 private:
  class StopCompleteEvent;

  bool Recognize(mrcp_message_t* request, mrcp_message_t* response);
  bool StartTimers(mrcp_message_t* request, mrcp_message_t* response);
  bool Stop(mrcp_message_t* request, mrcp_message_t* response);
  // Answers with the status and Completion-Cause; false so that the caller sends it.
  bool Refuse(mrcp_message_t* response, mrcp_status_code_e status, mrcp_recog_completion_cause_e cause);
  bool ApplyHeaders(mrcp_message_t* request, mrcp_message_t* response, bool& startTimers);
  bool OpenWaveform(mrcp_message_t* request, bool uriRequested);
  void SaveRecord();
  void ResetRecognition();
  mrcp_message_t* CreateStartOfInput(mpf_sdi_mode_e mode);
  void ProcessStopComplete(uint64_t recognition);
  void OnDtmfLength(const DtmfContext& context) override;

  GrammarTable::Settings m_GrammarSettings;
  GrammarTable* m_pGrammars;  // created at open, with the channel identifier
  std::string m_LogId;

  mrcp_message_t* m_pActiveRequest;
  mrcp_message_t* m_pDeferredRequest;
  mrcp_message_t* m_pDeferredResponse;
  mrcp_message_t* m_pStopResponse;
  RdrManager::RecognitionDetails m_Details;
  std::string m_RdrName;
  float m_ConfidenceThreshold;
  bool m_Mrcpv1Confidence;

  bool m_SpeechInputStarted;
  bool m_DtmfInputStarted;
  bool m_StartOfInputSent;
  bool m_InputComplete;
  bool m_SkipSpeech;
  bool m_InterResultTimeoutElapsed;
  bool m_Closing;  // the channel closes under a running recognition
  // A stop was asked of the detector and its one report (or ours, when it had nothing left to
  // stop) has not been processed yet; any other stop report is stale.
  bool m_StopReportDue;
  uint64_t m_Recognition;  // counts RECOGNIZE requests accepted, to tell late events apart

  std::list<std::unique_ptr<DataChunk>> m_SpeechBuffer;
  std::string m_DtmfDigits;
  UtteranceManager::WaveFile m_WaveFile;
  std::string m_LoggingTag;
  std::map<std::string, std::string> m_WebhookParams;

  std::shared_ptr<RecogMethod> m_pMethod;
  Trelka::Timer* m_pInterResultTimer;  // deleted by the timer queue once stopped
};

// Stops a timer armed on the event thread and lets the queue delete it; the handler is detached
// so that a stop still pending when its owner goes reaches nobody.
void DiscardTimer(Trelka::Timer*& timer);

}  // namespace OXA_NS

#endif  // OXA_RECOG_CHANNEL_H

// Drives one detector frame by frame and records every handler call. Audio frames carry their own
// number (1-based) in every sample but sample 1, which tells the scripted VAD the decision, so the
// audio handed out can be traced back frame by frame; inserted silence reads as frame 0.
#ifndef SDI_HARNESS_H
#define SDI_HARNESS_H

#include "mpf_sdi_detector.h"

#include <apr_pools.h>

#include <cstdint>
#include <string>
#include <vector>

struct SdiEvent {
  enum Kind { kNoInput, kStop, kStart, kSpeech, kDtmf, kDigit } kind = kNoInput;
  size_t frame = 0;  // number of the frame whose processing made the call
  int mode = 0;
  std::vector<int16_t> samples;
  size_t size = 0;
  mpf_sdi_state_e state = MPF_SDI_STATE_NO_INPUT;
  bool has_stats = false;
  mpf_sdi_stats_t stats{};
  std::string digits;
  bool matched = false;
  char digit = 0;
};

enum { kNoVoice = 0, kVoice = 1, kVadError = -1 };

class SdiHarness {
 public:
  // params null: defaults. Without speech_handler the table has no on_speech_input.
  explicit SdiHarness(const mpf_sdi_params_t* params = nullptr, bool speech_handler = true);
  ~SdiHarness();
  SdiHarness(const SdiHarness&) = delete;
  SdiHarness& operator=(const SdiHarness&) = delete;

  void Init(int modes = MPF_SDI_MODE_BOTH, bool start_timers = true, bool interim = false, uint16_t rate = 8000);

  // One audio frame; bytes 0 means the size the detector expects.
  void Audio(int voice, size_t bytes = 0);
  void Audio(int voice, size_t count, size_t bytes);
  void Frames(int voice, size_t count) { Audio(voice, count, 0); }
  void NonAudio();
  void Event(char digit, int marker);
  // A key press: start frame, frames-2 continuation frames, end frame.
  void Key(char digit, size_t frames = 5);
  // Feeds audio frames until the detection ends or `limit` frames have been fed in all.
  void UntilEnd(int voice, size_t limit);

  size_t FrameBytes() const { return rate_ / 100 * 2; }
  std::vector<SdiEvent> Of(SdiEvent::Kind kind) const;
  size_t Count(SdiEvent::Kind kind) const { return Of(kind).size(); }
  // Frame numbers of all audio handed to on_speech_input, in order.
  std::vector<int> SpeechFrames() const;
  // The report that ended the detection (speech COMPLETE, DTMF, no-input or stop); null if none.
  const SdiEvent* Ending() const;

  mpf_sdi_detector_t* det = nullptr;
  apr_pool_t* pool = nullptr;
  std::vector<SdiEvent> events;
  size_t fed = 0;

 private:
  void Feed(const mpf_frame_t& frame);
  uint16_t rate_ = 8000;
};

#endif  // SDI_HARNESS_H

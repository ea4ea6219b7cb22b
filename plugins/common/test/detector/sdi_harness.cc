#include "sdi_harness.h"

#include <apr_general.h>

#include <cstring>

namespace {

const bool g_apr = apr_initialize() == APR_SUCCESS;

SdiHarness* Of(mpf_sdi_detector_t* detector) { return static_cast<SdiHarness*>(mpf_sdi_obj_get(detector)); }

SdiEvent& Add(mpf_sdi_detector_t* detector, SdiEvent::Kind kind) {
  SdiHarness* h = Of(detector);
  SdiEvent e;
  e.kind = kind;
  h->events.push_back(e);
  h->events.back().frame = h->fed;
  return h->events.back();
}

void SetStats(SdiEvent& e, const mpf_sdi_stats_t* stats) {
  if (stats) {
    e.has_stats = true;
    e.stats = *stats;
  }
}

void OnNoinput(mpf_sdi_detector_t* d) { Add(d, SdiEvent::kNoInput); }
void OnStopComplete(mpf_sdi_detector_t* d, const mpf_sdi_stats_t* stats) { SetStats(Add(d, SdiEvent::kStop), stats); }
void OnStartOfInput(mpf_sdi_detector_t* d, mpf_sdi_mode_e mode) { Add(d, SdiEvent::kStart).mode = mode; }
void OnSpeechInput(mpf_sdi_detector_t* d, const void* data, apr_size_t size, mpf_sdi_state_e state,
                   const mpf_sdi_stats_t* stats) {
  SdiEvent& e = Add(d, SdiEvent::kSpeech);
  e.size = size;
  e.state = state;
  e.samples.resize(size / 2);
  if (size)
    std::memcpy(e.samples.data(), data, size / 2 * 2);
  SetStats(e, stats);
}
void OnDtmfInput(mpf_sdi_detector_t* d, const char* digits, apr_size_t count, apt_bool_t matched,
                 mpf_sdi_state_e state, const mpf_sdi_stats_t* stats) {
  SdiEvent& e = Add(d, SdiEvent::kDtmf);
  e.digits.assign(digits, count);
  e.matched = matched != 0;
  e.state = state;
  SetStats(e, stats);
}
void OnDtmfDigit(mpf_sdi_detector_t* d, char digit) { Add(d, SdiEvent::kDigit).digit = digit; }

}  // namespace

SdiHarness::SdiHarness(const mpf_sdi_params_t* params, bool speech_handler) {
  (void)g_apr;
  apr_pool_create(&pool, nullptr);
  mpf_sdi_event_handlers_t handlers;
  mpf_sdi_event_handlers_init(&handlers);
  handlers.on_noinput = OnNoinput;
  handlers.on_stop_complete = OnStopComplete;
  handlers.on_start_of_input = OnStartOfInput;
  handlers.on_speech_input = speech_handler ? OnSpeechInput : nullptr;
  handlers.on_dtmf_input = OnDtmfInput;
  handlers.on_dtmf_digit = OnDtmfDigit;
  det = mpf_sdi_detector_create("sdi-test", &handlers, this, params, pool);
}

SdiHarness::~SdiHarness() {
  mpf_sdi_destroy(det);
  apr_pool_destroy(pool);
}

void SdiHarness::Init(int modes, bool start_timers, bool interim, uint16_t rate) {
  rate_ = rate;
  events.clear();
  fed = 0;
  mpf_sdi_init(det, modes, rate, 10, start_timers, interim);
}

void SdiHarness::Feed(const mpf_frame_t& frame) {
  ++fed;
  mpf_sdi_process(det, &frame);
}

void SdiHarness::Audio(int voice, size_t bytes) {
  if (!bytes)
    bytes = FrameBytes();
  std::vector<int16_t> samples((bytes + 1) / 2, static_cast<int16_t>(fed + 1));
  if (samples.size() > 1)
    samples[1] = static_cast<int16_t>(voice);
  mpf_frame_t frame{};
  frame.type = MEDIA_FRAME_TYPE_AUDIO;
  frame.codec_frame.buffer = samples.data();
  frame.codec_frame.size = bytes;
  Feed(frame);
}

void SdiHarness::Audio(int voice, size_t count, size_t bytes) {
  for (size_t i = 0; i < count; ++i)
    Audio(voice, bytes);
}

void SdiHarness::NonAudio() {
  mpf_frame_t frame{};
  frame.type = MEDIA_FRAME_TYPE_NONE;
  Feed(frame);
}

void SdiHarness::Event(char digit, int marker) {
  mpf_frame_t frame{};
  frame.type = MEDIA_FRAME_TYPE_EVENT;
  frame.marker = marker;
  frame.event_frame.event_id = mpf_dtmf_char_to_event_id(digit);
  frame.event_frame.duration = 400;
  Feed(frame);
}

void SdiHarness::Key(char digit, size_t frames) {
  Event(digit, MPF_MARKER_START_OF_EVENT);
  for (size_t i = 2; i < frames; ++i)
    Event(digit, MPF_MARKER_NONE);
  Event(digit, MPF_MARKER_END_OF_EVENT);
}

void SdiHarness::UntilEnd(int voice, size_t limit) {
  while (!Ending() && fed < limit)
    Audio(voice);
}

std::vector<SdiEvent> SdiHarness::Of(SdiEvent::Kind kind) const {
  std::vector<SdiEvent> out;
  for (const SdiEvent& e : events)
    if (e.kind == kind)
      out.push_back(e);
  return out;
}

std::vector<int> SdiHarness::SpeechFrames() const {
  std::vector<int> frames;
  size_t per_frame = FrameBytes() / 2;
  for (const SdiEvent& e : events) {
    if (e.kind != SdiEvent::kSpeech)
      continue;
    for (size_t i = 0; i < e.samples.size(); i += per_frame)
      frames.push_back(e.samples[i]);
  }
  return frames;
}

const SdiEvent* SdiHarness::Ending() const {
  for (const SdiEvent& e : events) {
    bool last_speech = e.kind == SdiEvent::kSpeech && e.state == MPF_SDI_STATE_COMPLETE;
    if (last_speech || e.kind == SdiEvent::kDtmf || e.kind == SdiEvent::kNoInput || e.kind == SdiEvent::kStop)
      return &e;
  }
  return nullptr;
}

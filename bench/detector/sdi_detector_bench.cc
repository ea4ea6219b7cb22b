// mpf_sdi_process in speech mode against the bare VAD call, on the same 10 ms frames: voiced
// stretches with short pauses, so that the detector stays in speech and hands out chunks.
//
//   build-bench/bin/sdi_detector_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only
#include "mpf_sdi_detector.h"
#include "mpf_sdi_vad.h"
#include "sdi_signal.h"

#include <apr_general.h>
#include <benchmark/benchmark.h>

namespace {

// 12 s of input: 1.2 s of voice, then 0.4 s of low noise (shorter than the complete timeout).
const SdiSignal& Input(int rate) {
  static SdiSignal* signals[2];
  SdiSignal*& s = signals[rate == 16000];
  if (!s) {
    s = new SdiSignal(rate);
    for (int i = 0; i < 8; ++i) {
      s->Voice(1200);
      s->Noise(400);
    }
  }
  return *s;
}

mpf_frame_t AudioFrame(const SdiSignal& s, size_t i) {
  mpf_frame_t frame{};
  frame.type = MEDIA_FRAME_TYPE_AUDIO;
  frame.codec_frame.buffer = const_cast<int16_t*>(s.Frame(i % s.Frames()));
  frame.codec_frame.size = s.FrameSamples() * 2;
  return frame;
}

struct Sink {
  size_t bytes = 0;
  bool ended = false;
};

void OnNoinput(mpf_sdi_detector_t* d) { static_cast<Sink*>(mpf_sdi_obj_get(d))->ended = true; }
void OnStopComplete(mpf_sdi_detector_t* d, const mpf_sdi_stats_t*) {
  static_cast<Sink*>(mpf_sdi_obj_get(d))->ended = true;
}
void OnStartOfInput(mpf_sdi_detector_t*, mpf_sdi_mode_e) {}
void OnSpeechInput(mpf_sdi_detector_t* d, const void* data, apr_size_t size, mpf_sdi_state_e state,
                   const mpf_sdi_stats_t*) {
  Sink* sink = static_cast<Sink*>(mpf_sdi_obj_get(d));
  benchmark::DoNotOptimize(data);
  sink->bytes += size;
  if (state == MPF_SDI_STATE_COMPLETE)
    sink->ended = true;
}
void OnDtmfInput(mpf_sdi_detector_t*, const char*, apr_size_t, apt_bool_t, mpf_sdi_state_e, const mpf_sdi_stats_t*) {}

void BM_SdiProcess(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const SdiSignal& input = Input(rate);
  apr_pool_t* pool;
  apr_pool_create(&pool, nullptr);
  // A logger that drops the detector's debug lines, as a server's usual configuration does.
  apt_log_instance_create(APT_LOG_OUTPUT_NONE, APT_PRIO_NOTICE, pool);
  mpf_sdi_params_t params;
  mpf_sdi_params_init(&params);
  params.input_timeout = 1000000000;
  const mpf_sdi_event_handlers_t handlers = {OnNoinput,     OnStopComplete, OnStartOfInput,
                                             OnSpeechInput, OnDtmfInput,    nullptr};
  Sink sink;
  mpf_sdi_detector_t* detector = mpf_sdi_detector_create("bench", &handlers, &sink, &params, pool);
  mpf_sdi_init(detector, MPF_SDI_MODE_SPEECH, static_cast<apr_uint16_t>(rate), 10, FALSE, FALSE);
  size_t i = 0, restarts = 0;
  for (auto _ : state) {
    mpf_frame_t frame = AudioFrame(input, i++);
    mpf_sdi_process(detector, &frame);
    if (sink.ended) {  // not expected: the pauses are shorter than the complete timeout
      sink.ended = false;
      ++restarts;
      mpf_sdi_init(detector, MPF_SDI_MODE_SPEECH, static_cast<apr_uint16_t>(rate), 10, FALSE, FALSE);
    }
  }
  state.counters["out_bytes_per_frame"] = benchmark::Counter(static_cast<double>(sink.bytes) / i);
  state.counters["restarts"] = static_cast<double>(restarts);
  mpf_sdi_destroy(detector);
  apt_log_instance_destroy();
  apr_pool_destroy(pool);
}

void BM_VadProcess(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const SdiSignal& input = Input(rate);
  VadInst* vad = WebRtcVad_Create();
  WebRtcVad_Init(vad);
  WebRtcVad_set_mode(vad, 2);
  size_t i = 0;
  for (auto _ : state) {
    const int16_t* frame = input.Frame(i++ % input.Frames());
    benchmark::DoNotOptimize(WebRtcVad_Process(vad, rate, frame, input.FrameSamples()));
  }
  WebRtcVad_Free(vad);
}

BENCHMARK(BM_VadProcess)->Arg(8000)->Arg(16000);
BENCHMARK(BM_SdiProcess)->Arg(8000)->Arg(16000);

}  // namespace

// Our own main: Debian's libwebrtc_audio_processing exports a stray main() of its own.
int main(int argc, char** argv) {
  apr_initialize();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  apr_terminate();
  return 0;
}

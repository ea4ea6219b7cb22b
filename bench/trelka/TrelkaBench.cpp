#include <trelka/TrelkaEventProcessor.h>
#include <trelka/TrelkaLogFacility.h>
#include <trelka/TrelkaTimer.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <vector>

using namespace Trelka;

namespace {

struct AprInit {
  AprInit() { GlobalInit(); }
  ~AprInit() { GlobalDeinit(); }
} g_AprInit;

// Counts processed events; the last one of a batch wakes the poster.
struct Sink {
  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  uint64_t m_Target = 0;  // guarded by m_Mutex
  std::atomic<uint64_t> m_Processed{0};

  void Done() {
    uint64_t n = m_Processed.fetch_add(1, std::memory_order_relaxed) + 1;
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (n == m_Target) m_Cond.notify_all();
  }
  void WaitFor(uint64_t target) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Target = target;
    m_Cond.wait(lock, [&] { return m_Processed.load() >= m_Target; });
  }
};

class CountEvent : public AsyncEvent {
 public:
  explicit CountEvent(Sink* sink) : m_pSink(sink) {}
  void Process() override {
    if (++m_Seen == 0) benchmark::DoNotOptimize(m_Seen);
    m_pSink->Done();
  }

 private:
  Sink* m_pSink;
  int m_Seen = 0;
};

// Events posted from this thread, run by the processor's thread: the figure
// is the sustained rate including allocation, posting and processing.
void BM_EventsAcrossThreads(benchmark::State& state) {
  SoftEventProcessor processor;
  processor.Start();
  Sink sink;
  const int64_t batch = state.range(0);
  uint64_t posted = 0;
  for (auto _ : state) {
    for (int64_t i = 0; i < batch; ++i) {
      AsyncEvent* event = new CountEvent(&sink);
      event->Ref();
      processor.PostEvent(event);
    }
    posted += batch;
    sink.WaitFor(posted);
  }
  processor.Shutdown(true);
  state.SetItemsProcessed(static_cast<int64_t>(posted));
}
BENCHMARK(BM_EventsAcrossThreads)->Arg(10000)->UseRealTime()->MinTime(2.0);

class NullDevice : public LogDevice {
 public:
  NullDevice() : LogDevice(LogFacility("NULL", LOG_LEVEL_DEBUG)) {}
  bool ProcessLogRecord(const LogRecord& record) override {
    benchmark::DoNotOptimize(record.m_Message.data());
    return true;
  }
};

struct LoggerScope {
  LoggerScope() {
    Logger* logger = Logger::CreateInstance();
    logger->AddLogDevice(new NullDevice());
    logger->Start();
  }
  ~LoggerScope() { Logger::DestroyInstance(); }
};

void BM_FacilityLogFilteredOut(benchmark::State& state) {
  LoggerScope logger;
  LogFacility facility("UTTM", LOG_LEVEL_NOTICE);
  benchmark::DoNotOptimize(&facility);
  for (auto _ : state) {
    FacilityLog(facility, 0, LOG_LEVEL_DEBUG, 0, __FILE__, __LINE__, "Set expiration timer for file %s [%lu min]",
                "oxazorv-ch1-3.wav", 5UL);
  }
}
BENCHMARK(BM_FacilityLogFilteredOut);

void BM_FacilityLogFilteredOutMacro(benchmark::State& state) {
  LoggerScope logger;
  LogFacility facility("UTTM", LOG_LEVEL_NOTICE);
  benchmark::DoNotOptimize(&facility);
  for (auto _ : state) {
    TRELKA_FLOG(facility, LOG_LEVEL_DEBUG, "Set expiration timer for file %s [%lu min]", "oxazorv-ch1-3.wav", 5UL);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FacilityLogFilteredOutMacro);

// Caller side of a written record: formatting, the copy into an event and the
// post; the logger thread drains concurrently.
void BM_FacilityLogWritten(benchmark::State& state) {
  LoggerScope logger;
  LogFacility facility("UTTM", LOG_LEVEL_DEBUG);
  for (auto _ : state) {
    FacilityLog(facility, 0, LOG_LEVEL_NOTICE, 0, __FILE__, __LINE__, "%s total file entries [%d] timers [%d]",
                "UTTM", 42, 42);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FacilityLogWritten)->UseRealTime();

class NullHandler : public TimerHandler {
 public:
  void OnTimeoutElapsed(Timer* timer) override { benchmark::DoNotOptimize(timer); }
};

apr_time_t g_FakeNow = 0;
apr_time_t FakeClock(void*) { return g_FakeNow; }

// Arms 10 000 timers into one queue; range(0) = 1 for random timeouts (each
// insertion scans from the tail), 0 for ascending ones (the usual case).
void BM_TimerQueueArm10k(benchmark::State& state) {
  const int kTimers = 10000;
  NullHandler handler;
  std::vector<int64_t> timeouts(kTimers);
  std::mt19937 random(7);
  for (int i = 0; i < kTimers; ++i) timeouts[i] = state.range(0) ? 1 + random() % 60000 : 1 + i;
  std::vector<Timer*> timers;
  for (int i = 0; i < kTimers; ++i) timers.push_back(new Timer(&handler, timeouts[i], Timer::OneShot, Timer::Static));
  for (auto _ : state) {
    TimerQueue* queue = new TimerQueue();
    queue->SetClock(FakeClock, nullptr);
    for (Timer* timer : timers) queue->AddTimer(timer);
    state.PauseTiming();
    // Unqueue without deleting the timers, which are reused.
    for (Timer* timer : timers) queue->RemoveTimer(timer);
    delete queue;
    state.ResumeTiming();
  }
  for (Timer* timer : timers) delete timer;
  state.SetItemsProcessed(state.iterations() * kTimers);
}
BENCHMARK(BM_TimerQueueArm10k)->Arg(0)->Arg(1);

// Expiry of 10 000 armed timers, advanced in 1 ms steps across 60 s (so the
// queue is also rebased on the way).
void BM_TimerQueueExpire10k(benchmark::State& state) {
  const int kTimers = 10000;
  NullHandler handler;
  std::vector<int64_t> timeouts(kTimers);
  std::mt19937 random(7);
  for (int i = 0; i < kTimers; ++i) timeouts[i] = 1 + random() % 60000;
  // Armed in deadline order so that the untimed set-up stays linear.
  std::sort(timeouts.begin(), timeouts.end());
  std::vector<Timer*> timers;
  for (int i = 0; i < kTimers; ++i) timers.push_back(new Timer(&handler, timeouts[i], Timer::OneShot, Timer::Static));
  for (auto _ : state) {
    state.PauseTiming();
    TimerQueue* queue = new TimerQueue();
    queue->SetClock(FakeClock, nullptr);
    g_FakeNow = 1000000;
    for (Timer* timer : timers) queue->AddTimer(timer);
    state.ResumeTiming();
    for (int ms = 0; ms <= 60000 && !queue->IsEmpty(); ++ms) {
      g_FakeNow += 1000;
      queue->Advance();
    }
    state.PauseTiming();
    delete queue;
    state.ResumeTiming();
  }
  for (Timer* timer : timers) delete timer;
  state.SetItemsProcessed(state.iterations() * kTimers);
}
BENCHMARK(BM_TimerQueueExpire10k);

}  // namespace

BENCHMARK_MAIN();

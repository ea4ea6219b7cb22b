#ifndef TRELKA_TEST_SUPPORT_H
#define TRELKA_TEST_SUPPORT_H

#include <trelka/TrelkaEventProcessor.h>
#include <trelka/TrelkaLogFacility.h>
#include <trelka/TrelkaTimer.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace TrelkaTest {

// Upper bound for waits on things that happen promptly; only a broken build
// ever reaches it.
constexpr std::chrono::seconds kWaitLimit(20);

// Thread-safe list of strings that a test can wait on.
class Journal {
 public:
  void Add(const std::string& item) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Items.push_back(item);
    m_Cond.notify_all();
  }
  std::vector<std::string> Items() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Items;
  }
  size_t Size() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Items.size();
  }
  bool WaitForSize(size_t n) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Cond.wait_for(lock, kWaitLimit, [&] { return m_Items.size() >= n; });
  }
  bool WaitFor(const std::string& item) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Cond.wait_for(lock, kWaitLimit, [&] {
      for (const auto& i : m_Items)
        if (i == item) return true;
      return false;
    });
  }

 private:
  mutable std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::vector<std::string> m_Items;
};

// One-way latch: Open() lets every Wait() through.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Open = true;
    m_Cond.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Cond.wait_for(lock, kWaitLimit, [&] { return m_Open; });
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  bool m_Open = false;
};

// Event running a function; counts its own destruction.
class FuncEvent : public Trelka::AsyncEvent {
 public:
  explicit FuncEvent(std::function<void()> func, std::atomic<int>* destroyed = nullptr)
      : m_Func(std::move(func)), m_pDestroyed(destroyed) {}
  ~FuncEvent() override {
    if (m_pDestroyed) m_pDestroyed->fetch_add(1);
  }
  void Process() override { m_Func(); }

 private:
  std::function<void()> m_Func;
  std::atomic<int>* m_pDestroyed;
};

// Creates an event with the poster's reference and posts it.
inline bool Post(Trelka::AsyncEventProcessor* processor, std::function<void()> func,
                 std::atomic<int>* destroyed = nullptr) {
  Trelka::AsyncEvent* event = new FuncEvent(std::move(func), destroyed);
  event->Ref();
  return processor->PostEvent(event);
}

// Processor that is shut down and joined however the test ends.
class ScopedProcessor : public Trelka::SoftEventProcessor {
 public:
  ~ScopedProcessor() override { Shutdown(true); }
};

// Wall clock a test moves by hand.
class FakeClock {
 public:
  explicit FakeClock(apr_time_t start = 1000000000000LL) : m_Now(start) {}
  static apr_time_t Read(void* obj) { return static_cast<FakeClock*>(obj)->m_Now.load(); }
  void Install(Trelka::TimerQueue* queue) { queue->SetClock(&FakeClock::Read, this); }
  void AdvanceMs(int64_t ms) { m_Now.fetch_add(ms * 1000); }
  void AdvanceUs(int64_t us) { m_Now.fetch_add(us); }

 private:
  std::atomic<apr_time_t> m_Now;
};

// Single-threaded timer processor: posted events wait until the test runs
// them, so timer sequences are fully deterministic.
class ManualProcessor : public Trelka::AsyncEventTimerProcessor {
 public:
  ~ManualProcessor() override {
    for (Trelka::AsyncEvent* event : m_Pending) event->Unref();
  }
  bool PostEvent(Trelka::AsyncEvent* event) override {
    m_Pending.push_back(event);
    return true;
  }
  // Runs what is pending, including what those events post.
  void RunPending() {
    while (!m_Pending.empty()) {
      Trelka::AsyncEvent* event = m_Pending.front();
      m_Pending.erase(m_Pending.begin());
      ProcessEvent(event);
    }
  }
  size_t PendingCount() const { return m_Pending.size(); }

 private:
  std::vector<Trelka::AsyncEvent*> m_Pending;
};

// Where a capturing device writes; outlives the device, which the logger
// deletes at shutdown.
struct LogSink {
  Journal m_Messages;     // "FACILITY|LEVEL|message"
  Journal m_DeviceCalls;  // name of the device, per record
  std::mutex m_Mutex;
  std::vector<Trelka::LogRecord> m_Records;  // guarded by m_Mutex
  std::atomic<int> m_Opened{0};
  std::atomic<int> m_Closed{0};
  std::atomic<int> m_Deleted{0};
  std::atomic<int> m_RecordsBeforeClose{-1};

  std::vector<Trelka::LogRecord> Records() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Records;
  }
};

class CapturingLogDevice : public Trelka::LogDevice {
 public:
  CapturingLogDevice(const std::string& name, std::shared_ptr<LogSink> sink, bool result = true)
      : Trelka::LogDevice(Trelka::LogFacility(name, Trelka::LOG_LEVEL_DEBUG)), m_Sink(std::move(sink)),
        m_Result(result) {}
  ~CapturingLogDevice() override { m_Sink->m_Deleted.fetch_add(1); }
  bool Open() override {
    m_Sink->m_Opened.fetch_add(1);
    return true;
  }
  bool Close() override {
    m_Sink->m_RecordsBeforeClose.store(static_cast<int>(m_Sink->m_Messages.Size()));
    m_Sink->m_Closed.fetch_add(1);
    return true;
  }
  bool ProcessLogRecord(const Trelka::LogRecord& record) override {
    {
      std::lock_guard<std::mutex> lock(m_Sink->m_Mutex);
      m_Sink->m_Records.push_back(record);
    }
    m_Sink->m_DeviceCalls.Add(GetName());
    m_Sink->m_Messages.Add(record.m_Facility + "|" + Trelka::GetLogLevelName(record.m_Level) + "|" +
                           record.m_Message);
    return m_Result;
  }

 private:
  std::shared_ptr<LogSink> m_Sink;
  bool m_Result;
};

}  // namespace TrelkaTest

#endif  // TRELKA_TEST_SUPPORT_H

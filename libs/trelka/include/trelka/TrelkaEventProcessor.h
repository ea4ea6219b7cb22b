#ifndef TRELKA_EVENT_PROCESSOR_H
#define TRELKA_EVENT_PROCESSOR_H

#include <apr_pools.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>

namespace Trelka {

class Timer;
class TimerQueue;
class SoftEventProcessor;

// Reference-counted unit of work. The creator takes one reference before
// posting; that reference passes to the processor, which drops it after
// Process() returned. The event deletes itself when the count reaches zero.
class AsyncEvent {
 public:
  AsyncEvent() : m_RefCount(0) {}
  virtual ~AsyncEvent() {}

  void Ref() { m_RefCount.fetch_add(1, std::memory_order_relaxed); }
  void Unref();
  uint32_t GetRefCount() const { return m_RefCount.load(std::memory_order_acquire); }

  // Runs on the processor's thread.
  virtual void Process() = 0;

 private:
  AsyncEvent(const AsyncEvent&) = delete;
  AsyncEvent& operator=(const AsyncEvent&) = delete;

  std::atomic<uint32_t> m_RefCount;
};

class AsyncEventProcessor {
 public:
  virtual ~AsyncEventProcessor() {}

  // Any thread. The processor takes over the caller's reference.
  virtual bool PostEvent(AsyncEvent* event) = 0;
  // Processor thread: Process() then Unref().
  virtual void ProcessEvent(AsyncEvent* event);
};

// Processor that also runs a timer queue on its thread.
class AsyncEventTimerProcessor : public AsyncEventProcessor {
 public:
  AsyncEventTimerProcessor();
  // Deletes every timer still queued, without calling its handler.
  ~AsyncEventTimerProcessor() override;

  virtual void ProcessStartTimer(Timer* timer);
  virtual void ProcessStopTimer(Timer* timer);

  TimerQueue* GetTimerQueue() const { return m_pTimerQueue; }

 protected:
  TimerQueue* m_pTimerQueue;

 private:
  AsyncEventTimerProcessor(const AsyncEventTimerProcessor&) = delete;
  AsyncEventTimerProcessor& operator=(const AsyncEventTimerProcessor&) = delete;
};

// Posted by Shutdown(): ends the loop of its processor.
class ExitEvent : public AsyncEvent {
 public:
  explicit ExitEvent(SoftEventProcessor* processor) : m_pProcessor(processor) {}
  void Process() override;

 private:
  SoftEventProcessor* m_pProcessor;
};

// One dedicated thread running posted events in FIFO order, interleaved with
// the timers of its queue. Events, timer callbacks and observer notifications
// all run on that thread and never overlap.
class SoftEventProcessor : public AsyncEventTimerProcessor {
 public:
  class Observer {
   public:
    virtual ~Observer() {}
    // First thing on the new thread; false ends the thread at once.
    virtual bool OnStart(SoftEventProcessor* processor);
    // Last thing on the thread, after the exit event.
    virtual void OnShutdown(SoftEventProcessor* processor);
  };

  SoftEventProcessor();
  // Neither stops nor joins the thread: call Shutdown(true) first.
  ~SoftEventProcessor() override;

  // Never blocks and never fails while the processor exists.
  bool PostEvent(AsyncEvent* event) override;

  bool Start();
  bool Shutdown(bool wait);
  void WaitForShutdown();
  // Loop thread only (from ExitEvent).
  virtual void ProcessShutdown();
  virtual bool OnStart();
  virtual void OnShutdown();

  // Observers are appended by the owner before Start(); not owned.
  void AddObserver(Observer* observer) { m_Observers.push_back(observer); }

  // Thread body; returns when the exit event was processed or an observer
  // refused to start.
  void RunEventLoop();

  bool IsRunning() const { return m_Running.load(std::memory_order_acquire); }

 private:
  void Cleanup();

  apr_pool_t* m_pPool;
  apr_thread_t* m_pThread;
  apr_thread_cond_t* m_pCond;
  apr_thread_mutex_t* m_pMutex;
  std::deque<AsyncEvent*> m_EventQueue;  // guarded by m_pMutex
  bool m_Waiting;                        // guarded by m_pMutex
  std::atomic<bool> m_Running;           // written by the loop thread only
  std::list<Observer*> m_Observers;
};

// Thread body of a SoftEventProcessor.
void* EventProcessorTask(SoftEventProcessor* processor);

// Process-wide start and stop steps; each engine runs GlobalInit then InitSsl
// in its constructor, CleanupSsl then GlobalDeinit in its destructor.
bool GlobalInit();
bool GlobalDeinit();
void InitSsl();
void CleanupSsl();

}  // namespace Trelka

#endif  // TRELKA_EVENT_PROCESSOR_H

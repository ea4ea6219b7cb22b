#ifndef TRELKA_TIMER_H
#define TRELKA_TIMER_H

#include <trelka/TrelkaEventProcessor.h>

#include <apr_time.h>

#include <cstdint>
#include <cstddef>

namespace Trelka {

class Timer;

// Receives the callbacks of a timer, always on the thread of the processor
// that runs the timer.
class TimerHandler {
 public:
  virtual ~TimerHandler() {}
  virtual void OnTimerStarted(Timer* timer);
  virtual void OnTimerStopped(Timer* timer);
  // A one-shot timer is out of the queue and idle here: the handler owns it
  // and may delete it or start it again.
  virtual void OnTimeoutElapsed(Timer* timer) = 0;
};

// Millisecond timer, armed and disarmed from any thread by posting to the
// processor that runs it.
class Timer {
 public:
  enum Type { OneShot = 0, Periodic = 1 };
  // Dynamic: the timer queue deletes the timer once it has been stopped.
  // Static: the owner deletes it.
  enum LifeTime { Dynamic = 0, Static = 1 };

  Timer(TimerHandler* handler, int64_t timeout, Type type, LifeTime lifeTime);
  virtual ~Timer() {}

  bool Start(AsyncEventTimerProcessor* processor);
  // Also valid after a one-shot timer fired: OnTimerStopped is delivered and a
  // Dynamic timer is deleted.
  bool Stop();

  TimerHandler* GetHandler() const { return m_pHandler; }
  // On the processor's thread only, e.g. to detach a handler that goes away
  // while its stop is still pending.
  void SetHandler(TimerHandler* handler) { m_pHandler = handler; }
  int64_t GetTimeout() const { return m_Timeout; }
  void SetTimeout(int64_t timeout) { m_Timeout = timeout; }
  Type GetType() const { return m_Type; }
  LifeTime GetLifeTime() const { return m_LifeTime; }
  int64_t GetDeadline() const { return m_Deadline; }
  AsyncEventTimerProcessor* GetProcessor() const { return m_pProcessor; }
  bool IsStarted() const { return m_Started; }
  bool IsStopRequested() const { return m_StopRequested; }

 private:
  friend class TimerQueue;
  friend class StopTimerEvent;

  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  TimerHandler* m_pHandler;
  int64_t m_Timeout;
  Type m_Type;
  int64_t m_Deadline;  // 0: not in a queue
  AsyncEventTimerProcessor* m_pProcessor;
  bool m_Started;
  bool m_StopRequested;
  LifeTime m_LifeTime;
  // Links of the queue's list; meaningful only while the deadline is not 0.
  Timer* m_pPrev;
  Timer* m_pNext;
};

class StartTimerEvent : public AsyncEvent {
 public:
  explicit StartTimerEvent(Timer* timer) : m_pTimer(timer) {}
  void Process() override;

 private:
  Timer* m_pTimer;
};

class StopTimerEvent : public AsyncEvent {
 public:
  explicit StopTimerEvent(Timer* timer) : m_pTimer(timer), m_Processed(false) {}
  // A stop that never ran (posted after the processor's exit) still releases
  // a Dynamic timer that is no longer queued; queued ones go with the queue.
  ~StopTimerEvent() override;
  void Process() override;

 private:
  Timer* m_pTimer;
  bool m_Processed;
};

// Armed timers of one processor, ascending by deadline. Deadlines are
// milliseconds on a scale that restarts at 0 whenever the queue runs empty
// and is rebased past 65534 ms. Used only on the processor's thread.
class TimerQueue {
 public:
  // Source of wall-clock microseconds; replaceable for tests.
  typedef apr_time_t (*ClockFunc)(void* obj);

  TimerQueue();
  // Deletes every timer still queued, whatever its life time.
  ~TimerQueue();

  bool AddTimer(Timer* timer);
  bool RemoveTimer(Timer* timer);
  // Milliseconds from now until the first deadline; <= 0 when due. Queue
  // not empty.
  long GetTimeout() const;
  // Fires what is due; false only when the clock reads earlier than the
  // reference time.
  bool Advance();

  bool IsEmpty() const { return m_pHead == nullptr; }
  size_t GetCount() const { return m_Count; }
  int64_t GetElapsed() const { return m_Elapsed; }

  // Set before the queue is used (not while timers run).
  void SetClock(ClockFunc func, void* obj);

 private:
  void InsertTimer(Timer* timer);
  void Reschedule();
  void Unlink(Timer* timer);
  apr_time_t Now() const;

  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  // Intrusive list ascending by deadline: arming allocates nothing.
  Timer* m_pHead;
  Timer* m_pTail;
  size_t m_Count;
  int64_t m_Elapsed;
  apr_time_t m_RefTime;
  ClockFunc m_ClockFunc;
  void* m_pClockObj;
};

}  // namespace Trelka

#endif  // TRELKA_TIMER_H

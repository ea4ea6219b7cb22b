#include <trelka/TrelkaTimer.h>

namespace Trelka {

// Deadlines stay below this many milliseconds: past it the scale is rebased.
static const int64_t kRebaseThreshold = 0xFFFE;

void TimerHandler::OnTimerStarted(Timer* /*timer*/) {}

void TimerHandler::OnTimerStopped(Timer* /*timer*/) {}

Timer::Timer(TimerHandler* handler, int64_t timeout, Type type, LifeTime lifeTime)
    : m_pHandler(handler),
      m_Timeout(timeout),
      m_Type(type),
      m_Deadline(0),
      m_pProcessor(nullptr),
      m_Started(false),
      m_StopRequested(false),
      m_LifeTime(lifeTime),
      m_pPrev(nullptr),
      m_pNext(nullptr) {}

bool Timer::Start(AsyncEventTimerProcessor* processor) {
  if (!processor || m_Started) return false;
  m_pProcessor = processor;
  m_Started = true;
  AsyncEvent* event = new StartTimerEvent(this);
  event->Ref();
  return processor->PostEvent(event);
}

bool Timer::Stop() {
  if (!m_pProcessor || m_StopRequested) return false;
  m_StopRequested = true;
  AsyncEvent* event = new StopTimerEvent(this);
  event->Ref();
  return m_pProcessor->PostEvent(event);
}

void StartTimerEvent::Process() { m_pTimer->GetProcessor()->ProcessStartTimer(m_pTimer); }

void StopTimerEvent::Process() {
  m_Processed = true;
  m_pTimer->GetProcessor()->ProcessStopTimer(m_pTimer);
}

StopTimerEvent::~StopTimerEvent() {
  if (!m_Processed && m_pTimer->m_Deadline == 0 && m_pTimer->m_LifeTime == Timer::Dynamic) delete m_pTimer;
}

TimerQueue::TimerQueue()
    : m_pHead(nullptr), m_pTail(nullptr), m_Count(0), m_Elapsed(0), m_RefTime(0), m_ClockFunc(nullptr),
      m_pClockObj(nullptr) {}

TimerQueue::~TimerQueue() {
  Timer* timer = m_pHead;
  while (timer) {
    Timer* next = timer->m_pNext;
    delete timer;
    timer = next;
  }
}

void TimerQueue::SetClock(ClockFunc func, void* obj) {
  m_ClockFunc = func;
  m_pClockObj = obj;
}

apr_time_t TimerQueue::Now() const { return m_ClockFunc ? m_ClockFunc(m_pClockObj) : apr_time_now(); }

void TimerQueue::Unlink(Timer* timer) {
  if (timer->m_pPrev)
    timer->m_pPrev->m_pNext = timer->m_pNext;
  else
    m_pHead = timer->m_pNext;
  if (timer->m_pNext)
    timer->m_pNext->m_pPrev = timer->m_pPrev;
  else
    m_pTail = timer->m_pPrev;
  timer->m_pPrev = timer->m_pNext = nullptr;
  timer->m_Deadline = 0;
  --m_Count;
}

bool TimerQueue::AddTimer(Timer* timer) {
  // A timeout below 1 ms would give a deadline at or before now, possibly 0,
  // which reads as "not queued": refuse it like a zero timeout.
  if (!timer || timer->m_Timeout <= 0 || !timer->m_pHandler) return false;
  if (timer->m_Deadline != 0) Unlink(timer);
  timer->m_Deadline = timer->m_Timeout + m_Elapsed;
  InsertTimer(timer);
  timer->m_pHandler->OnTimerStarted(timer);
  return true;
}

bool TimerQueue::RemoveTimer(Timer* timer) {
  if (!timer) return false;
  if (timer->m_Deadline != 0) Unlink(timer);
  timer->m_Started = false;
  timer->m_StopRequested = false;
  timer->m_pHandler->OnTimerStopped(timer);
  if (timer->m_LifeTime == Timer::Dynamic) delete timer;
  if (!m_pHead) m_Elapsed = 0;
  return true;
}

void TimerQueue::InsertTimer(Timer* timer) {
  ++m_Count;
  if (!m_pHead) {
    timer->m_pPrev = timer->m_pNext = nullptr;
    m_pHead = m_pTail = timer;
    m_RefTime = Now();
    return;
  }
  // New timers usually have the latest deadline: scan from the tail. Equal
  // deadlines keep arming order.
  Timer* after = m_pTail;
  while (after && after->m_Deadline > timer->m_Deadline) after = after->m_pPrev;
  timer->m_pPrev = after;
  if (after) {
    timer->m_pNext = after->m_pNext;
    after->m_pNext = timer;
  } else {
    timer->m_pNext = m_pHead;
    m_pHead = timer;
  }
  if (timer->m_pNext)
    timer->m_pNext->m_pPrev = timer;
  else
    m_pTail = timer;
}

long TimerQueue::GetTimeout() const {
  // Time spent since the last Advance counts too, or a loop that was busy
  // with events would sleep past the deadline.
  apr_time_t now = Now();
  int64_t pending = now > m_RefTime ? (now - m_RefTime) / 1000 : 0;
  return static_cast<long>(m_pHead->m_Deadline - m_Elapsed - pending);
}

void TimerQueue::Reschedule() {
  for (Timer* timer = m_pTail; timer; timer = timer->m_pPrev) {
    int64_t deadline = timer->m_Deadline - m_Elapsed;
    // Overdue timers get 0 and fire in this same pass.
    timer->m_Deadline = deadline > 0 ? deadline : 0;
  }
  m_Elapsed = 0;
}

bool TimerQueue::Advance() {
  if (!m_pHead) return true;
  apr_time_t now = Now();
  if (now < m_RefTime) return false;
  m_Elapsed += (now - m_RefTime) / 1000;
  m_RefTime = now;
  if (m_Elapsed > kRebaseThreshold) Reschedule();

  while (m_pHead && m_pHead->m_Deadline <= m_Elapsed) {
    Timer* timer = m_pHead;
    Unlink(timer);
    if (timer->m_StopRequested) {
      // The pending stop event reports OnTimerStopped.
    } else if (timer->m_Type == Timer::Periodic) {
      timer->m_pHandler->OnTimeoutElapsed(timer);
      // The next period counts from this firing: lateness is not caught up.
      timer->m_Deadline = m_Elapsed + timer->m_Timeout;
      InsertTimer(timer);
    } else {
      timer->m_Started = false;
      // The handler may delete or restart the timer here.
      timer->m_pHandler->OnTimeoutElapsed(timer);
    }
    if (!m_pHead) {
      m_Elapsed = 0;
      break;
    }
  }
  return true;
}

}  // namespace Trelka

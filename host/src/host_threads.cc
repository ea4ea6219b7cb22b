// The server's two threads: the task queue for method-table calls and the media clock.
#include <pthread.h>

#include "mrcphost/host_server.h"

namespace mrcphost {

namespace {

void NameThread(std::thread &thread, const std::string &name) {
  pthread_setname_np(thread.native_handle(), name.substr(0, 15).c_str());
}

class SteadyTime : public MediaClock::TimeSource {
 public:
  SteadyClock::time_point Now() override { return SteadyClock::now(); }
  void SleepUntil(SteadyClock::time_point when) override { std::this_thread::sleep_until(when); }
};

// Beyond this many periods behind, a late clock restarts instead of bursting frames.
constexpr unsigned kMaxTicksBehind = 20;

}  // namespace

TaskQueue::~TaskQueue() {
  if (m_Thread.joinable()) {
    if (!Stop(Millis(5000))) m_Thread.detach();
  }
}

void TaskQueue::Start(const std::string &name) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (m_Thread.joinable()) return;
  m_Stopping = false;
  m_Done = false;
  m_Thread = std::thread([this] { Run(); });
  NameThread(m_Thread, name);
}

void TaskQueue::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Queue.push_back(std::move(work));
  }
  m_Cond.notify_all();
}

bool TaskQueue::Call(std::function<void()> work, SteadyClock::time_point deadline) {
  if (IsCurrent()) {
    work();
    return true;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable cond;
    bool done = false;  // guarded by mutex
  };
  auto done = std::make_shared<Done>();
  Post([done, work = std::move(work)] {
    work();
    std::lock_guard<std::mutex> lock(done->mutex);
    done->done = true;
    done->cond.notify_all();
  });
  std::unique_lock<std::mutex> lock(done->mutex);
  return done->cond.wait_until(lock, deadline, [&] { return done->done; });
}

bool TaskQueue::Stop(Millis timeout) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  if (!m_Thread.joinable()) return true;
  m_Stopping = true;
  m_Cond.notify_all();
  if (!m_Cond.wait_for(lock, timeout, [this] { return m_Done; })) return false;
  lock.unlock();
  m_Thread.join();
  return true;
}

bool TaskQueue::IsCurrent() const { return std::this_thread::get_id() == m_ThreadId.load(); }

void TaskQueue::Run() {
  m_ThreadId.store(std::this_thread::get_id());
  std::unique_lock<std::mutex> lock(m_Mutex);
  for (;;) {
    m_Cond.wait(lock, [this] { return m_Stopping || !m_Queue.empty(); });
    if (m_Queue.empty()) break;  // stopping, nothing left
    std::function<void()> work = std::move(m_Queue.front());
    m_Queue.pop_front();
    lock.unlock();
    work();
    lock.lock();
  }
  m_Done = true;
  m_Cond.notify_all();
}

MediaClock::MediaClock(std::chrono::microseconds period, TimeSource *time) : m_Period(period), m_Time(time) {
  if (!m_Time) {
    m_OwnTime = std::make_unique<SteadyTime>();
    m_Time = m_OwnTime.get();
  }
}

MediaClock::~MediaClock() {
  if (m_Thread.joinable() && !Stop(Millis(5000))) m_Thread.detach();
}

void MediaClock::Start() {
  if (m_Thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_DoneMutex);
    m_Done = false;
  }
  m_Running.store(true);
  m_Thread = std::thread([this] { Run(); });
  NameThread(m_Thread, "mrcp-media");
}

bool MediaClock::Stop(Millis timeout) {
  if (!m_Thread.joinable()) return true;
  m_Running.store(false);
  std::unique_lock<std::mutex> lock(m_DoneMutex);
  if (!m_DoneCond.wait_for(lock, timeout, [this] { return m_Done; })) return false;
  lock.unlock();
  m_Thread.join();
  return true;
}

bool MediaClock::Add(Stream *stream, SteadyClock::time_point deadline) {
  std::unique_lock<std::mutex> lock(m_StreamsMutex);
  if (!m_IdleCond.wait_until(lock, deadline, [this] { return !m_Ticking; })) return false;
  m_Streams.push_back(stream);
  stream->OnMediaJoin();
  return true;
}

bool MediaClock::Remove(Stream *stream, SteadyClock::time_point deadline) {
  std::unique_lock<std::mutex> lock(m_StreamsMutex);
  if (!m_IdleCond.wait_until(lock, deadline, [this] { return !m_Ticking; })) return false;
  for (auto it = m_Streams.begin(); it != m_Streams.end(); ++it) {
    if (*it == stream) {
      m_Streams.erase(it);
      stream->OnMediaLeave();
      break;
    }
  }
  return true;
}

void MediaClock::Tick() {
  {
    std::lock_guard<std::mutex> lock(m_StreamsMutex);
    m_Ticking = true;
  }
  for (Stream *stream : m_Streams) stream->OnMediaTick();
  {
    std::lock_guard<std::mutex> lock(m_StreamsMutex);
    m_Ticking = false;
  }
  m_IdleCond.notify_all();
  m_Ticks.fetch_add(1);
}

unsigned MediaClock::DueTicks(SteadyClock::time_point now, SteadyClock::time_point *next,
                              std::chrono::microseconds period, unsigned max_behind, uint64_t *dropped) {
  if (now < *next) return 0;
  auto behind = static_cast<uint64_t>((now - *next) / period);
  if (behind >= max_behind) {
    if (dropped) *dropped += behind;
    *next = now + period;
    return 1;
  }
  unsigned due = static_cast<unsigned>(behind) + 1;
  *next += period * due;
  return due;
}

void MediaClock::Run() {
  SteadyClock::time_point next = m_Time->Now() + m_Period;
  while (m_Running.load()) {
    m_Time->SleepUntil(next);
    uint64_t dropped = 0;
    unsigned due = DueTicks(m_Time->Now(), &next, m_Period, kMaxTicksBehind, &dropped);
    if (dropped) m_Dropped.fetch_add(dropped);
    for (unsigned i = 0; i < due && m_Running.load(); ++i) Tick();
  }
  std::lock_guard<std::mutex> lock(m_DoneMutex);
  m_Done = true;
  m_DoneCond.notify_all();
}

}  // namespace mrcphost

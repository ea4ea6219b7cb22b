#include <trelka/TrelkaEventProcessor.h>
#include <trelka/TrelkaTimer.h>

#include <apr_general.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>

namespace Trelka {

void AsyncEvent::Unref() {
  uint32_t count = m_RefCount.load(std::memory_order_relaxed);
  // A count of 0 means nobody owns the event: leave it alone.
  while (count != 0) {
    if (m_RefCount.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel, std::memory_order_relaxed)) {
      if (count == 1) delete this;
      return;
    }
  }
}

void AsyncEventProcessor::ProcessEvent(AsyncEvent* event) {
  event->Process();
  event->Unref();
}

AsyncEventTimerProcessor::AsyncEventTimerProcessor() : m_pTimerQueue(new TimerQueue()) {}

AsyncEventTimerProcessor::~AsyncEventTimerProcessor() { delete m_pTimerQueue; }

void AsyncEventTimerProcessor::ProcessStartTimer(Timer* timer) { m_pTimerQueue->AddTimer(timer); }

void AsyncEventTimerProcessor::ProcessStopTimer(Timer* timer) { m_pTimerQueue->RemoveTimer(timer); }

void ExitEvent::Process() { m_pProcessor->ProcessShutdown(); }

bool SoftEventProcessor::Observer::OnStart(SoftEventProcessor* /*processor*/) { return true; }

void SoftEventProcessor::Observer::OnShutdown(SoftEventProcessor* /*processor*/) {}

SoftEventProcessor::SoftEventProcessor()
    : m_pPool(nullptr), m_pThread(nullptr), m_pCond(nullptr), m_pMutex(nullptr), m_Waiting(false), m_Running(false) {}

SoftEventProcessor::~SoftEventProcessor() {
  // Normally empty: WaitForShutdown released what was left. Events posted to a
  // processor that never started go here.
  for (AsyncEvent* event : m_EventQueue) event->Unref();
  m_EventQueue.clear();
  if (m_pPool) apr_pool_destroy(m_pPool);
}

static void* APR_THREAD_FUNC ThreadEntry(apr_thread_t* thread, void* data) {
  EventProcessorTask(static_cast<SoftEventProcessor*>(data));
  apr_thread_exit(thread, APR_SUCCESS);
  return nullptr;
}

void* EventProcessorTask(SoftEventProcessor* processor) {
  processor->RunEventLoop();
  return nullptr;
}

bool SoftEventProcessor::Start() {
  if (apr_pool_create_ex(&m_pPool, nullptr, nullptr, nullptr) != APR_SUCCESS) {
    m_pPool = nullptr;
    return false;
  }
  if (apr_thread_mutex_create(&m_pMutex, APR_THREAD_MUTEX_DEFAULT, m_pPool) != APR_SUCCESS ||
      apr_thread_cond_create(&m_pCond, m_pPool) != APR_SUCCESS ||
      apr_thread_create(&m_pThread, nullptr, ThreadEntry, this, m_pPool) != APR_SUCCESS) {
    m_pThread = nullptr;
    Cleanup();
    return false;
  }
  return true;
}

bool SoftEventProcessor::PostEvent(AsyncEvent* event) {
  if (!m_pMutex) {
    // Not started yet (or cleaned up): nothing runs concurrently, keep the
    // event until the destructor releases it.
    m_EventQueue.push_back(event);
    return true;
  }
  apr_thread_mutex_lock(m_pMutex);
  m_EventQueue.push_back(event);
  if (m_Waiting) apr_thread_cond_signal(m_pCond);
  apr_thread_mutex_unlock(m_pMutex);
  return true;
}

bool SoftEventProcessor::Shutdown(bool wait) {
  if (!m_pThread) return false;
  AsyncEvent* event = new ExitEvent(this);
  event->Ref();
  PostEvent(event);
  if (wait) WaitForShutdown();
  return true;
}

void SoftEventProcessor::WaitForShutdown() {
  if (m_pThread) {
    apr_status_t status;
    apr_thread_join(&status, m_pThread);
    m_pThread = nullptr;
  }
  Cleanup();
}

void SoftEventProcessor::Cleanup() {
  if (m_pPool) {
    apr_pool_destroy(m_pPool);
    m_pPool = nullptr;
  }
  m_pMutex = nullptr;
  m_pCond = nullptr;
  m_pThread = nullptr;
  // What was posted after the exit event is released unprocessed.
  while (!m_EventQueue.empty()) {
    AsyncEvent* event = m_EventQueue.front();
    m_EventQueue.pop_front();
    event->Unref();
  }
}

void SoftEventProcessor::ProcessShutdown() { m_Running.store(false, std::memory_order_release); }

bool SoftEventProcessor::OnStart() {
  for (Observer* observer : m_Observers) {
    if (!observer->OnStart(this)) return false;
  }
  return true;
}

void SoftEventProcessor::OnShutdown() {
  for (Observer* observer : m_Observers) observer->OnShutdown(this);
}

void SoftEventProcessor::RunEventLoop() {
  if (!OnStart()) return;
  m_Running.store(true, std::memory_order_release);
  TimerQueue* timers = m_pTimerQueue;
  int batch = 0;
  while (m_Running.load(std::memory_order_relaxed)) {
    ++batch;
    apr_thread_mutex_lock(m_pMutex);
    if (m_EventQueue.empty()) {
      m_Waiting = true;
      apr_status_t status;
      if (timers->IsEmpty()) {
        status = apr_thread_cond_wait(m_pCond, m_pMutex);
      } else {
        long timeout = timers->GetTimeout();
        status = apr_thread_cond_timedwait(m_pCond, m_pMutex, timeout > 0 ? apr_time_from_msec(timeout) : 0);
      }
      m_Waiting = false;
      if (status != APR_SUCCESS && !APR_STATUS_IS_TIMEUP(status)) {
        apr_thread_mutex_unlock(m_pMutex);
        batch = 0;
        continue;
      }
      if (!timers->IsEmpty()) {
        apr_thread_mutex_unlock(m_pMutex);
        timers->Advance();
        apr_thread_mutex_lock(m_pMutex);
      }
      batch = 1;
      if (m_EventQueue.empty()) {
        apr_thread_mutex_unlock(m_pMutex);
        batch = 0;
        continue;
      }
    }
    AsyncEvent* event = m_EventQueue.front();
    m_EventQueue.pop_front();
    apr_thread_mutex_unlock(m_pMutex);
    ProcessEvent(event);
    // A flood of events that never lets the queue run empty must not starve
    // the timers.
    if (batch > 10 && !timers->IsEmpty()) {
      timers->Advance();
      batch = 0;
    }
  }
  OnShutdown();
}

bool GlobalInit() {
  if (apr_initialize() != APR_SUCCESS) {
    apr_terminate();
    return false;
  }
  return true;
}

bool GlobalDeinit() {
  apr_terminate();
  return true;
}

void InitSsl() {
  SSL_library_init();
  OPENSSL_add_all_algorithms_noconf();
  SSL_load_error_strings();
  ERR_load_crypto_strings();
  OpenSSL_add_all_ciphers();
}

void CleanupSsl() { EVP_cleanup(); }

}  // namespace Trelka

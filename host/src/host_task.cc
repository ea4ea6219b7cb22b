// Task threads: a thread running the run slot of a method table.
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "mrcphost/host_apt.h"

struct apt_task_t {
  void *obj = nullptr;
  apt_task_msg_pool_t *msg_pool = nullptr;
  apr_pool_t *pool = nullptr;
  apt_task_vtable_t vtable{};
  std::string name = "task";
  std::mutex mu;
  std::thread thread;  // guarded by mu
  std::atomic<bool> started{false};
};

namespace {

void RunTask(apt_task_t *task) {
  const apt_task_vtable_t &v = task->vtable;
  if (v.on_pre_run) v.on_pre_run(task);
  if (v.on_start_complete) v.on_start_complete(task);
  if (v.run) v.run(task);
  if (v.on_terminate_complete) v.on_terminate_complete(task);
  if (v.on_post_run) v.on_post_run(task);
}

void JoinTask(apt_task_t *task) {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(task->mu);
    if (!task->thread.joinable() || task->thread.get_id() == std::this_thread::get_id()) return;
    thread = std::move(task->thread);
  }
  thread.join();
}

// Asks a running task to end and waits for it, unless it was stopped already.
void StopTask(apt_task_t *task) {
  if (task->started.exchange(false)) {
    if (task->vtable.terminate) task->vtable.terminate(task);
    JoinTask(task);
  }
  // A task destroyed from its own thread cannot join; let the thread run out.
  std::lock_guard<std::mutex> lock(task->mu);
  if (task->thread.joinable()) task->thread.detach();
}

void FreeTask(apt_task_t *task) {
  StopTask(task);
  delete task;
}

apr_status_t CleanupTask(void *data) {
  FreeTask(static_cast<apt_task_t *>(data));
  return APR_SUCCESS;
}

}  // namespace

extern "C" {

apt_task_t *apt_task_create(void *obj, apt_task_msg_pool_t *msg_pool, apr_pool_t *pool) {
  if (!pool) return nullptr;
  apt_task_t *task = new apt_task_t();
  task->obj = obj;
  task->msg_pool = msg_pool;
  task->pool = pool;
  // A task whose owner forgets apt_task_destroy is still stopped and freed with its pool.
  apr_pool_cleanup_register(pool, task, CleanupTask, apr_pool_cleanup_null);
  return task;
}

apt_task_vtable_t *apt_task_vtable_get(apt_task_t *task) { return task ? &task->vtable : nullptr; }

apt_bool_t apt_task_name_set(apt_task_t *task, const char *name) {
  if (!task || !name) return FALSE;
  std::lock_guard<std::mutex> lock(task->mu);
  task->name = name;
  return TRUE;
}

apt_bool_t apt_task_start(apt_task_t *task) {
  if (!task) return FALSE;
  std::lock_guard<std::mutex> lock(task->mu);
  if (task->thread.joinable()) return FALSE;
  if (task->vtable.start && !task->vtable.start(task)) return FALSE;
  task->started.store(true);
  task->thread = std::thread(RunTask, task);
  // Thread names are limited to 15 characters.
  pthread_setname_np(task->thread.native_handle(), task->name.substr(0, 15).c_str());
  return TRUE;
}

apt_bool_t apt_task_terminate(apt_task_t *task, apt_bool_t wait) {
  if (!task) return FALSE;
  if (task->vtable.terminate && !task->vtable.terminate(task)) return FALSE;
  if (wait) {
    JoinTask(task);
    task->started.store(false);
  }
  return TRUE;
}

apt_bool_t apt_task_destroy(apt_task_t *task) {
  if (!task) return FALSE;
  apr_pool_cleanup_kill(task->pool, task, CleanupTask);
  StopTask(task);
  if (task->vtable.destroy) task->vtable.destroy(task);
  delete task;
  return TRUE;
}

void *apt_task_object_get(apt_task_t *task) { return task ? task->obj : nullptr; }

}  // extern "C"

#include "OxaZorvTask.h"

#include "OxaLog.h"

namespace ZORV {

Task::Task() : m_Name("GRPC"), m_pTask(nullptr), m_Started(false) {}

Task::~Task() {}

bool Task::Create(apr_pool_t* pool) {
  m_pTask = apt_task_create(this, nullptr, pool);
  if (!m_pTask) return false;

  apt_task_vtable_t* vtable = apt_task_vtable_get(m_pTask);
  if (vtable) {
    vtable->terminate = OnTerminateTask;
    vtable->run = RunTask;
    vtable->signal_msg = SignalTaskMsg;
    vtable->on_start_complete = InitTask;
    vtable->on_terminate_complete = DeinitTask;
  }
  apt_task_name_set(m_pTask, m_Name.c_str());
  return true;
}

bool Task::Start() {
  if (!m_pTask) return false;
  m_Started = apt_task_start(m_pTask) == TRUE;
  return m_Started;
}

bool Task::Terminate() {
  // The loop ends once the queue reports shutdown, which it does only after every
  // operation already started has completed and been delivered.
  Shutdown();
  if (!m_Started) {
    // No thread drains the queue; gRPC requires it drained before it is destroyed.
    void* tag;
    bool ok;
    while (Next(&tag, &ok)) {
    }
    return m_pTask != nullptr;
  }
  m_Started = false;
  return apt_task_terminate(m_pTask, TRUE) == TRUE;
}

bool Task::Destroy() {
  if (!m_pTask) return false;
  apt_bool_t status = apt_task_destroy(m_pTask);
  m_pTask = nullptr;
  return status == TRUE;
}

void Task::Run() {
  void* tag = nullptr;
  bool ok = false;
  while (Next(&tag, &ok)) {
    Tag* grpcTag = static_cast<Tag*>(tag);
    if (grpcTag && grpcTag->GetMethod()) grpcTag->GetMethod()->SignalGrpcEvent(grpcTag, ok);
  }
  apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Completion Queue Shutdown");
}

apt_bool_t OnTerminateTask(apt_task_t*) { return TRUE; }

apt_bool_t RunTask(apt_task_t* task) {
  Task* grpcTask = static_cast<Task*>(apt_task_object_get(task));
  if (grpcTask) grpcTask->Run();
  return TRUE;
}

apt_bool_t SignalTaskMsg(apt_task_t*, apt_task_msg_t*) { return TRUE; }

void InitTask(apt_task_t*) {}

void DeinitTask(apt_task_t*) {}

}  // namespace ZORV

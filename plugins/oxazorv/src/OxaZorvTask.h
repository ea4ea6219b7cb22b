// The gRPC task: one completion queue shared by every asynchronous call of the plugin, and
// a host task thread that does nothing but wait on it and hand each completion to the
// method that started the operation.
#ifndef ZORV_TASK_H
#define ZORV_TASK_H

#include <grpcpp/completion_queue.h>
#include <mrcphost/host_apt.h>

#include <string>

namespace ZORV {

// Completion tag of one kind of operation of one method. Its address is the tag given to
// gRPC, so it neither copies nor moves.
class Tag {
 public:
  // The method side of a tag. Called on the task thread, so an implementation only posts
  // the completion on to its event thread.
  class Handler {
   public:
    virtual ~Handler() {}
    virtual void SignalGrpcEvent(Tag* tag, bool ok) = 0;
  };

  Tag(const char* name, Handler* method) : m_Pending(false), m_Name(name), m_pMethod(method) {}
  Tag(const Tag&) = delete;
  Tag& operator=(const Tag&) = delete;

  const std::string& GetName() const { return m_Name; }
  // Fixed for the life of the tag: the only member the task thread reads.
  Handler* GetMethod() const { return m_pMethod; }

  // Event thread only: set when the operation starts, cleared when its event is processed.
  bool IsPending() const { return m_Pending; }
  void SetPending(bool pending) { m_Pending = pending; }

 private:
  bool m_Pending;
  const std::string m_Name;
  Handler* const m_pMethod;
};

class Task : public grpc::CompletionQueue {
 public:
  Task();
  ~Task() override;

  // Creates the host task; false when the host cannot.
  bool Create(apr_pool_t* pool);
  bool Start();
  // Shuts the queue down and waits for the thread, which first delivers every completion
  // still due.
  bool Terminate();
  bool Destroy();

  // Task thread: the completion loop.
  void Run();

  const std::string& GetName() const { return m_Name; }
  apt_task_t* GetHostTask() const { return m_pTask; }

 private:
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  const std::string m_Name;
  apt_task_t* m_pTask;
  bool m_Started;
};

// Host task method slots.
apt_bool_t OnTerminateTask(apt_task_t* task);
apt_bool_t RunTask(apt_task_t* task);
apt_bool_t SignalTaskMsg(apt_task_t* task, apt_task_msg_t* msg);
void InitTask(apt_task_t* task);
void DeinitTask(apt_task_t* task);

}  // namespace ZORV

#endif  // ZORV_TASK_H

// Channel skeleton shared by the three plugins: the host's channel calls become channel events
// on the engine's event processor, where the channel opens, closes and serves requests.
#ifndef OXA_CHANNEL_BASE_H
#define OXA_CHANNEL_BASE_H

#include "OxaNamespace.h"

#include <mrcphost/mrcphost.h>
#include <trelka/TrelkaEventProcessor.h>
#include <trelka/TrelkaTimer.h>

#include <fstream>
#include <string>

namespace OXA_NS {

class EngineBase;
class ChannelBase;

// Kind carried by a channel event.
enum TaskMsgType {
  TASK_MSG_OPEN_CHANNEL = 0,
  TASK_MSG_CLOSE_CHANNEL = 1,
  TASK_MSG_REQUEST = 2,
  TASK_MSG_NOINPUT = 3,
  TASK_MSG_STOP_COMPLETE = 4
};

class ChannelEvent : public Trelka::AsyncEvent {
 public:
  // message: the host's request for TASK_MSG_REQUEST, else null.
  ChannelEvent(ChannelBase* channel, mrcp_message_t* message, int type)
      : m_pChannel(channel), m_pMessage(message), m_Type(type) {}
  void Process() override;

 private:
  ChannelBase* m_pChannel;
  mrcp_message_t* m_pMessage;
  int m_Type;
};

class ChannelBase : public Trelka::TimerHandler {
 public:
  explicit ChannelBase(EngineBase* engine);
  ~ChannelBase() override;

  // Host thread: builds a channel event and posts it to the engine's event processor.
  bool SignalEvent(int type, mrcp_message_t* message);
  // Event thread: dispatches a channel event; kinds it does not know are ignored.
  void ProcessEvent(int type, mrcp_message_t* message);
  // Event thread: answers a close that was held back while the channel was busy.
  void ProcessPendingClose();

  // Media thread, once per frame: audio into the plugin (recognizers) or out of it (synthesizer).
  virtual bool Write(const mpf_frame_t* frame);
  virtual bool Read(mpf_frame_t* frame);

  // One line of the channel dump file: the identifier the server assigned.
  void Dump(std::ofstream& stream);

  void OnTimeoutElapsed(Trelka::Timer* timer) override;

  EngineBase* GetEngine() const { return m_pEngine; }
  mrcp_engine_channel_t* GetMrcpChannel() const { return m_pMrcpChannel; }
  void SetMrcpChannel(mrcp_engine_channel_t* channel) { m_pMrcpChannel = channel; }
  // The server's channel identifier; known from the channel's open on.
  const std::string& GetId();
  // "zorv", "vesk" or "lumo", the word after '@' in channel log lines.
  const char* GetTag() const;
  bool IsPendingClose() const { return m_PendingClose; }

 protected:
  // Event thread. Open always succeeds.
  virtual void Open();
  virtual void Close();
  // Creates the 200 COMPLETE response and, unless the channel serves the method itself,
  // sends it at once.
  virtual void ProcessRequest(mrcp_message_t* request);
  virtual void ProcessNoInput() {}
  virtual void ProcessStop() {}

  // Hooks of Open and Close: resources the channel holds while open.
  virtual void OnOpen() {}
  virtual void OnClose() {}
  // True while work is in flight whose end must come before the close response
  // (the work then calls ProcessPendingClose).
  virtual bool IsCloseDeferred() const { return false; }
  // Serves one request; false leaves the response for ProcessRequest to send.
  virtual bool DispatchRequest(mrcp_message_t* request, mrcp_message_t* response);

  bool SendMessage(mrcp_message_t* message);

 private:
  friend class ChannelCloseEvent;
  void CompleteClose();
  void ProcessCloseResponse();

  EngineBase* m_pEngine;
  mrcp_engine_channel_t* m_pMrcpChannel;
  std::string m_Id;
  bool m_PendingClose;
};

}  // namespace OXA_NS

#endif  // OXA_CHANNEL_BASE_H

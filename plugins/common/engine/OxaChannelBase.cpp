#include "OxaChannelBase.h"

#include "OxaEngineBase.h"
#include "OxaLog.h"

namespace OXA_NS {

// Carries the close response behind every event already queued for the channel: input the
// media thread posted before the channel let go of its detector or buffers is then processed
// while the server still holds the channel, never after it destroyed it.
class ChannelCloseEvent : public Trelka::AsyncEvent {
 public:
  explicit ChannelCloseEvent(ChannelBase* channel) : m_pChannel(channel) {}
  void Process() override { m_pChannel->ProcessCloseResponse(); }

 private:
  ChannelBase* m_pChannel;
};

void ChannelEvent::Process() {
  m_pChannel->ProcessEvent(m_Type, m_pMessage);
}

ChannelBase::ChannelBase(EngineBase* engine) : m_pEngine(engine), m_pMrcpChannel(nullptr), m_PendingClose(false) {}

ChannelBase::~ChannelBase() {}

const std::string& ChannelBase::GetId() {
  if (m_Id.empty() && m_pMrcpChannel && m_pMrcpChannel->id.buf)
    m_Id.assign(m_pMrcpChannel->id.buf, m_pMrcpChannel->id.length);
  return m_Id;
}

const char* ChannelBase::GetTag() const {
  return m_pEngine->GetTraits().m_ChannelTag;
}

bool ChannelBase::SignalEvent(int type, mrcp_message_t* message) {
  Trelka::SoftEventProcessor* processor = m_pEngine->GetEventProcessor();
  if (!processor)
    return FALSE;
  ChannelEvent* event = new ChannelEvent(this, message, type);
  event->Ref();
  return processor->PostEvent(event) ? TRUE : FALSE;
}

void ChannelBase::ProcessEvent(int type, mrcp_message_t* message) {
  switch (type) {
    case TASK_MSG_OPEN_CHANNEL:
      Open();
      break;
    case TASK_MSG_CLOSE_CHANNEL:
      Close();
      break;
    case TASK_MSG_REQUEST:
      if (message)
        ProcessRequest(message);
      break;
    case TASK_MSG_NOINPUT:
      ProcessNoInput();
      break;
    case TASK_MSG_STOP_COMPLETE:
      ProcessStop();
      break;
    default:
      break;
  }
}

void ChannelBase::Open() {
  apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Open <%s@%s>", GetId().c_str(), GetTag());
  OnOpen();
  m_pEngine->OnOpenChannel(this);
  mrcp_engine_channel_open_respond(m_pMrcpChannel, TRUE);
}

void ChannelBase::Close() {
  apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Close <%s@%s>", GetId().c_str(), GetTag());
  OnClose();
  if (IsCloseDeferred()) {
    m_PendingClose = true;
    return;
  }
  CompleteClose();
}

void ChannelBase::ProcessPendingClose() {
  if (!m_PendingClose)
    return;
  m_PendingClose = false;
  CompleteClose();
}

void ChannelBase::CompleteClose() {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Send Close Response <%s@%s>", GetId().c_str(), GetTag());
  m_pEngine->OnCloseChannel(this);
  ChannelCloseEvent* event = new ChannelCloseEvent(this);
  event->Ref();
  m_pEngine->GetEventProcessor()->PostEvent(event);
}

void ChannelBase::ProcessCloseResponse() {
  mrcp_engine_channel_close_respond(m_pMrcpChannel);
}

void ChannelBase::ProcessRequest(mrcp_message_t* request) {
  mrcp_message_t* response = mrcp_response_create(request, request->pool);
  if (!response)
    return;
  if (!DispatchRequest(request, response))
    SendMessage(response);
}

bool ChannelBase::DispatchRequest(mrcp_message_t*, mrcp_message_t*) {
  return false;
}

bool ChannelBase::SendMessage(mrcp_message_t* message) {
  return mrcp_engine_channel_message_send(m_pMrcpChannel, message) ? true : false;
}

bool ChannelBase::Write(const mpf_frame_t*) {
  return TRUE;
}

bool ChannelBase::Read(mpf_frame_t*) {
  return TRUE;
}

void ChannelBase::Dump(std::ofstream& stream) {
  stream << GetId() << std::endl;
}

void ChannelBase::OnTimeoutElapsed(Trelka::Timer*) {}

}  // namespace OXA_NS

#include "OxaZorvStub.h"

#include "OxaLog.h"
#include "OxaZorvChannel.h"
#include "OxaZorvEngine.h"

namespace ZORV {

MethodBase::MethodBase(Channel* channel)
    : RecogMethod(channel),
      m_CreateTag("create stream", this),
      m_WriteTag("writing", this),
      m_WritesDoneTag("writes done", this),
      m_ReadTag("reading", this),
      m_FinishTag("finishing", this) {}

MethodBase::~MethodBase() {}

Channel* MethodBase::GetZorvChannel() const {
  return static_cast<Channel*>(m_pChannel);
}

void MethodBase::StartOperation(Tag& tag) {
  tag.SetPending(true);
  if (!m_pSelf) m_pSelf = shared_from_this();
}

bool MethodBase::IsAnyTagPending() const {
  return m_CreateTag.IsPending() || m_WriteTag.IsPending() || m_WritesDoneTag.IsPending() || m_ReadTag.IsPending() ||
         m_FinishTag.IsPending();
}

void MethodBase::SignalGrpcEvent(Tag* tag, bool ok) {
  // The self reference is set while this tag is pending, so the method is alive; the weak
  // reference is only read here, never written after construction.
  std::shared_ptr<MethodBase> self = weak_from_this().lock();
  if (!self) return;
  GrpcEvent* event = new GrpcEvent(self, tag, ok);
  event->Ref();
  Trelka::SoftEventProcessor* processor = m_pChannel->GetEngine()->GetEventProcessor();
  if (!processor || !processor->PostEvent(event)) event->Unref();
}

void MethodBase::ProcessGrpcEvent(Tag* tag, bool ok) {
  // Keeps the method alive to the end of this call whatever the handlers let go of.
  std::shared_ptr<MethodBase> self = shared_from_this();
  if (!tag) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Invalid gRPC Event %s", m_pChannel->LogId());
  } else if (!tag->IsPending()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected gRPC Event: name [%s] status [%d] %s", tag->GetName().c_str(),
            ok ? 1 : 0, m_pChannel->LogId());
  } else {
    tag->SetPending(false);
    if (!m_Active) {
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "No Context Available %s", m_pChannel->LogId());
    } else {
      apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Process gRPC Event: name [%s] status [%d] %s", tag->GetName().c_str(),
              ok ? 1 : 0, m_pChannel->LogId());
      DispatchGrpcEvent(tag, ok);
    }
  }
  if (!IsAnyTagPending()) {
    OnOperationsDone();
    if (!IsAnyTagPending()) m_pSelf.reset();
  }
}

}  // namespace ZORV

// What every gRPC method of the Google recognizer shares: its five completion tags, the event that
// brings a completion from the task thread to the event thread, and the stub wrappers that make
// methods for a channel.
#ifndef OXA_ZORV_STUB_H
#define OXA_ZORV_STUB_H

#include "OxaZorvTask.h"
#include "recog/OxaRecogChannel.h"

#include <grpcpp/channel.h>
#include <trelka/TrelkaEventProcessor.h>

#include <memory>

namespace ZORV {

class Channel;

class MethodBase : public RecogMethod, public Tag::Handler, public std::enable_shared_from_this<MethodBase> {
 public:
  explicit MethodBase(Channel* channel);
  ~MethodBase() override;

  // Task thread: posts the completion to the event thread.
  void SignalGrpcEvent(Tag* tag, bool ok) override;
  // Event thread: one completed operation of this method.
  void ProcessGrpcEvent(Tag* tag, bool ok);

  bool IsBusy() const override { return m_Active || IsAnyTagPending(); }

 protected:
  // A completion whose tag was pending; the tag is no longer pending.
  virtual void DispatchGrpcEvent(Tag* tag, bool ok) = 0;
  // After every completion: the method has something to do once nothing is outstanding.
  virtual void OnOperationsDone() {}

  // Marks the tag pending; the method stays alive until its completion has been processed.
  void StartOperation(Tag& tag);
  bool IsAnyTagPending() const;
  Channel* GetZorvChannel() const;

  Tag m_CreateTag;
  Tag m_WriteTag;
  Tag m_WritesDoneTag;
  Tag m_ReadTag;
  Tag m_FinishTag;

 private:
  // Held while an operation is outstanding: gRPC may still complete into this object's tags after
  // the channel has let go of it.
  std::shared_ptr<MethodBase> m_pSelf;
};

// A completed gRPC operation, on its way to the event thread.
class GrpcEvent : public Trelka::AsyncEvent {
 public:
  GrpcEvent(const std::shared_ptr<MethodBase>& method, Tag* tag, bool ok) : m_pMethod(method), m_pTag(tag), m_Ok(ok) {}
  void Process() override { m_pMethod->ProcessGrpcEvent(m_pTag, m_Ok); }

 private:
  std::shared_ptr<MethodBase> m_pMethod;
  Tag* m_pTag;
  bool m_Ok;
};

class StubBase {
 public:
  explicit StubBase(Channel* channel) : m_pChannel(channel) {}
  virtual ~StubBase() {}
  // Builds the generated service stub on the gRPC channel; false when there is none.
  virtual bool CreateGrpcStub(const std::shared_ptr<grpc::Channel>& channel) = 0;

 protected:
  Channel* const m_pChannel;
};

// The speech service of one API version.
class SpeechStub : public StubBase {
 public:
  explicit SpeechStub(Channel* channel) : StubBase(channel) {}
  virtual std::shared_ptr<MethodBase> CreateStreamingRecognizeMethod() = 0;
};

// The speech stub of the API version whose generated types Api names.
template <class Api>
class SpeechStubT;

}  // namespace ZORV

#endif  // OXA_ZORV_STUB_H

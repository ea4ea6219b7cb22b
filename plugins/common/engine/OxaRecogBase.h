// What both recognizer plugins add to the skeleton: the engine's detector parameters and
// recognizer elements, and the channel's speech and DTMF input detector, whose callbacks run on
// the media thread and only post input events to the event thread.
#ifndef OXA_RECOG_BASE_H
#define OXA_RECOG_BASE_H

#include "OxaNamespace.h"
#include "OxaChannelBase.h"
#include "OxaEngineBase.h"

#include "mpf_sdi_detector.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <atomic>
#include <mutex>
#include <string>

namespace OXA_NS {

// Audio handed from the detector to the event thread.
class DataChunk {
 public:
  // Copies size bytes of data; nothing is allocated for an empty chunk.
  DataChunk(const void* data, size_t size);

  const char* GetData() const { return m_Data.get(); }
  size_t GetSize() const { return m_Size; }

 private:
  std::unique_ptr<char[]> m_Data;
  size_t m_Size;
};

class RecogEngineBase : public EngineBase {
 public:
  explicit RecogEngineBase(const PluginTraits& traits);

  const mpf_sdi_params_t& GetSdiParams() const { return m_SdiParams; }

 protected:
  // A missing speech-dtmf-input-detector element or attribute means the defaults.
  void ResetSettings() override;

 private:
  mpf_sdi_params_t m_SdiParams;
};

// Statistics of the detected input, as the detector reports them.
struct InputStats {
  int m_Cause = 0;
  uint64_t m_Duration = 0;  // ms
  uint64_t m_Size = 0;      // bytes
};

class RecogChannelBase : public ChannelBase {
 public:
  explicit RecogChannelBase(RecogEngineBase* engine);
  ~RecogChannelBase() override;

  // Media thread: feeds the frame to the detector, if the channel has one.
  bool Write(const mpf_frame_t* frame) override;

  // Media thread, from the detector callbacks.
  void SetInputStats(const mpf_sdi_stats_t* stats);
  using ChannelBase::SignalEvent;
  bool SignalEvent(int type) { return ChannelBase::SignalEvent(type, nullptr); }
  bool SignalStartOfInput(int mode);
  bool SignalSpeechInputEvent(const void* data, size_t size, bool last);
  bool SignalDtmfInputEvent(const char* digits, bool match);

  // Event thread, from the input events. The channel takes the chunk over.
  virtual void ProcessStartOfInput(int mode);
  virtual void ProcessSpeechInput(std::unique_ptr<DataChunk> chunk, bool last);
  virtual void ProcessDtmfInput(const std::string& digits, bool match);

 protected:
  void OnOpen() override;
  void OnClose() override;

  // Event thread. Null while the channel is closed.
  mpf_sdi_detector_t* GetDetector() const { return m_pDetector.load(std::memory_order_relaxed); }
  // Written on the media thread right before the event that reports it is posted; the event
  // thread may read while the next detection's statistics are written, hence the lock.
  InputStats GetInputStats() const {
    std::lock_guard<std::mutex> lock(m_InputStatsMutex);
    return m_InputStats;
  }
  void ResetInputStats() {
    std::lock_guard<std::mutex> lock(m_InputStatsMutex);
    m_InputStats = InputStats();
  }

 private:
  bool PostEvent(Trelka::AsyncEvent* event);
  void DestroyDetector();

  // Set and cleared on the event thread, read by the media thread. The detector serialises a
  // frame with its own destruction and then stays idle until the channel's pool goes, so a
  // frame that raced with the close finds it harmless.
  std::atomic<mpf_sdi_detector_t*> m_pDetector;
  mutable std::mutex m_InputStatsMutex;
  InputStats m_InputStats;  // guarded by m_InputStatsMutex
};

}  // namespace OXA_NS

#endif  // OXA_RECOG_BASE_H

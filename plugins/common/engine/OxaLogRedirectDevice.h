// Forwards the framework's log records into the server's log under the plugin's log source.
#ifndef OXA_LOG_REDIRECT_DEVICE_H
#define OXA_LOG_REDIRECT_DEVICE_H

#include "OxaNamespace.h"

#include <trelka/TrelkaLogFacility.h>

namespace OXA_NS {

class LogRedirectDevice : public Trelka::LogDevice {
 public:
  // Facility "LRD" at DEBUG: the server's own filter decides what is written.
  LogRedirectDevice();
  bool ProcessLogRecord(const Trelka::LogRecord& record) override;
};

}  // namespace OXA_NS

#endif  // OXA_LOG_REDIRECT_DEVICE_H

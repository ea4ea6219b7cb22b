#include "OxaLogRedirectDevice.h"

#include "OxaLog.h"

namespace OXA_NS {

LogRedirectDevice::LogRedirectDevice() : Trelka::LogDevice(Trelka::LogFacility("LRD", Trelka::LOG_LEVEL_DEBUG)) {}

bool LogRedirectDevice::ProcessLogRecord(const Trelka::LogRecord& record) {
  // Both scales number 0 (emergency) to 7 (debug).
  apt_log(OXA_LOG_MARK, static_cast<apt_log_priority_e>(record.m_Level), "%s", record.m_Message.c_str());
  return true;
}

}  // namespace OXA_NS

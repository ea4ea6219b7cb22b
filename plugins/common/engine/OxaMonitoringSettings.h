// Settings of the monitoring-agent element: what to report about channel usage, and when.
#ifndef OXA_MONITORING_SETTINGS_H
#define OXA_MONITORING_SETTINGS_H

#include "OxaNamespace.h"

#include <mrcphost/host_apt.h>

#include <apr_xml.h>

#include <cstdint>
#include <string>

namespace OXA_NS {

// One log line that monitoring writes.
class LogStatementSettings {
 public:
  bool Load(const apr_xml_elem* elem);

  bool m_Enable = false;
  apt_log_priority_e m_Priority = APT_PRIO_NOTICE;
};

// One status file that monitoring rewrites.
class StatusFileSettings {
 public:
  bool Load(const apr_xml_elem* elem);

  bool m_Enable = false;
  std::string m_StatusFile;  // resolved against the status directory at validation
};

// What to do on one kind of trigger.
class MonitoringHandler {
 public:
  bool Load(const apr_xml_elem* elem);
  bool IsEnabled() const { return m_LogUsage.m_Enable || m_UpdateUsage.m_Enable || m_DumpChannels.m_Enable; }

  LogStatementSettings m_LogUsage;
  StatusFileSettings m_UpdateUsage;
  StatusFileSettings m_DumpChannels;
};

class MonitoringSettings {
 public:
  static const int64_t DEFAULT_REFRESH_PERIOD = 60000;  // seconds

  bool Load(const apr_xml_elem* elem);

  MonitoringHandler m_UsageChangeHandler;
  MonitoringHandler m_UsageRefreshHandler;
  int64_t m_RefreshPeriod = DEFAULT_REFRESH_PERIOD;  // seconds
};

}  // namespace OXA_NS

#endif  // OXA_MONITORING_SETTINGS_H

#include "OxaMonitoringSettings.h"

#include "OxaConfigUtils.h"
#include "OxaLog.h"

#include <cstdlib>

namespace OXA_NS {

bool LogStatementSettings::Load(const apr_xml_elem* elem) {
  LoadAttributes(elem, "Log Statement", [this](const apr_xml_attr* attr, const char* value) {
    if (NameIs(attr->name, "enable"))
      LoadBooleanAttribute(attr, m_Enable);
    else if (NameIs(attr->name, "priority"))
      m_Priority = apt_log_priority_translate(value);
    else
      return false;
    return true;
  });
  return true;
}

bool StatusFileSettings::Load(const apr_xml_elem* elem) {
  LoadAttributes(elem, "Status File", [this](const apr_xml_attr* attr, const char* value) {
    if (NameIs(attr->name, "enable"))
      LoadBooleanAttribute(attr, m_Enable);
    else if (NameIs(attr->name, "status-file"))
      m_StatusFile = value;
    else
      return false;
    return true;
  });
  return true;
}

bool MonitoringHandler::Load(const apr_xml_elem* elem) {
  for (const apr_xml_elem* child = elem->first_child; child; child = child->next) {
    if (NameIs(child->name, "log-usage"))
      m_LogUsage.Load(child);
    else if (NameIs(child->name, "update-usage"))
      m_UpdateUsage.Load(child);
    else if (NameIs(child->name, "dump-channels"))
      m_DumpChannels.Load(child);
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Element <%s> in <%s>", child->name, elem->name);
  }
  return true;
}

bool MonitoringSettings::Load(const apr_xml_elem* elem) {
  LoadAttributes(elem, "Monitoring", [this](const apr_xml_attr* attr, const char* value) {
    if (!NameIs(attr->name, "refresh-period"))
      return false;
    m_RefreshPeriod = strtoll(value, nullptr, 10);
    return true;
  });
  for (const apr_xml_elem* child = elem->first_child; child; child = child->next) {
    if (NameIs(child->name, "usage-change-handler"))
      m_UsageChangeHandler.Load(child);
    else if (NameIs(child->name, "usage-refresh-handler"))
      m_UsageRefreshHandler.Load(child);
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Element <%s> in <%s>", child->name, elem->name);
  }
  return true;
}

}  // namespace OXA_NS

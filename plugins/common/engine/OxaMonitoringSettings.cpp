#include "OxaMonitoringSettings.h"

#include "OxaConfigUtils.h"
#include "OxaLog.h"

#include <cstdlib>

namespace OXA_NS {

bool LogStatementSettings::Load(const apr_xml_elem* elem) {
  for (const apr_xml_attr* attr = elem->attr; attr; attr = attr->next) {
    const char* value = attr->value ? attr->value : "";
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load Log Statement Attribute: %s = %s", attr->name, value);
    if (NameIs(attr->name, "enable"))
      LoadBooleanAttribute(attr, m_Enable);
    else if (NameIs(attr->name, "priority"))
      m_Priority = apt_log_priority_translate(value);
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Log Statement Attribute <%s>", attr->name);
  }
  return true;
}

bool StatusFileSettings::Load(const apr_xml_elem* elem) {
  for (const apr_xml_attr* attr = elem->attr; attr; attr = attr->next) {
    const char* value = attr->value ? attr->value : "";
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load Status File Attribute: %s = %s", attr->name, value);
    if (NameIs(attr->name, "enable"))
      LoadBooleanAttribute(attr, m_Enable);
    else if (NameIs(attr->name, "status-file"))
      m_StatusFile = value;
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Status File Attribute <%s>", attr->name);
  }
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
  for (const apr_xml_attr* attr = elem->attr; attr; attr = attr->next) {
    const char* value = attr->value ? attr->value : "";
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load Monitoring Attribute: %s = %s", attr->name, value);
    if (NameIs(attr->name, "refresh-period"))
      m_RefreshPeriod = strtoll(value, nullptr, 10);
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Monitoring Attribute <%s>", attr->name);
  }
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

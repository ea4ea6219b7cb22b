#include "OxaRecogFiles.h"

#include <apr_file_info.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>

#include "OxaLog.h"
#include "engine/OxaConfigUtils.h"

namespace OXA_NS {

void LoadFolderBoolean(const apr_xml_attr* attr, bool anyCase, bool& value) {
  if (!anyCase) {
    LoadBooleanAttribute(attr, value);
  } else if (strcasecmp(attr->value, "true") == 0) {
    value = true;
  } else if (strcasecmp(attr->value, "false") == 0) {
    value = false;
  } else {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for Boolean Attribute <%s>", attr->value,
            attr->name);
  }
}

bool ManagedFolderSettings::LoadAttribute(const apr_xml_attr* attr, bool anyCaseBooleans) {
  if (NameIs(attr->name, "purge-existing")) {
    LoadFolderBoolean(attr, anyCaseBooleans, m_PurgeExisting);
  } else if (NameIs(attr->name, "use-logging-tag")) {
    LoadFolderBoolean(attr, anyCaseBooleans, m_UseLoggingTag);
  } else if (NameIs(attr->name, "max-file-age")) {
    m_MaxFileAge = static_cast<unsigned>(strtol(attr->value, nullptr, 10));
  } else if (NameIs(attr->name, "max-file-count")) {
    m_MaxFileCount = static_cast<unsigned>(strtol(attr->value, nullptr, 10));
  } else if (NameIs(attr->name, "file-prefix")) {
    m_FilePrefix = attr->value;
  } else if (NameIs(attr->name, "file-ext")) {
    m_FileExt = attr->value;
  } else if (NameIs(attr->name, "log-level")) {
    Trelka::TranslateLogLevel(attr->value, m_LogLevel);
  } else {
    return false;
  }
  return true;
}

void ManagedFolderSettings::Apply(Trelka::FileManager& manager) const {
  manager.SetDirectory(m_Folder);
  manager.SetPurgeExisting(m_PurgeExisting);
  manager.SetMaxFileAge(m_MaxFileAge);
  manager.SetMaxFileCount(m_MaxFileCount);
  manager.SetFilePrefix(m_FilePrefix);
  manager.SetFileExtension(m_FileExt);
}

namespace {

std::string SafeNamePart(const std::string& text) {
  std::string safe(text);
  for (char& c : safe) {
    if (c == '/' || c == '\\') c = '_';
  }
  return safe;
}

}  // namespace

std::string ComposeRecogFileName(const std::string& prefix, const char* channelId, mrcp_request_id requestId,
                                 const std::string& loggingTag, bool useLoggingTag, unsigned samplingRate,
                                 const std::string& extension) {
  char id[32];
  snprintf(id, sizeof(id), "%lu", static_cast<unsigned long>(requestId));
  std::string name = prefix + SafeNamePart(channelId ? channelId : "") + "-" + id;
  if (useLoggingTag && !loggingTag.empty()) name += "-" + SafeNamePart(loggingTag);
  if (samplingRate) {
    char rate[32];
    snprintf(rate, sizeof(rate), "-%u-kHz", samplingRate / 1000);
    name += rate;
  }
  return name + extension;
}

bool MergePath(const std::string& base, const std::string& name, apr_int32_t flags, std::string& result,
               apr_pool_t* pool) {
  char* merged = nullptr;
  if (apr_filepath_merge(&merged, base.c_str(), name.c_str(), flags, pool) != APR_SUCCESS || !merged) return false;
  result = merged;
  return true;
}

}  // namespace OXA_NS

#include "OxaConfigUtils.h"

#include "OxaLog.h"

#include <apr_file_info.h>
#include <apr_fnmatch.h>
#include <apr_strings.h>

#include <strings.h>

namespace OXA_NS {

bool ParseBooleanString(const std::string& text, bool& value) {
  if (text == "true") {
    value = true;
    return true;
  }
  if (text == "false") {
    value = false;
    return true;
  }
  return false;
}

void LoadBooleanAttribute(const apr_xml_attr* attr, bool& value) {
  const char* text = attr->value ? attr->value : "";
  if (!ParseBooleanString(text, value))
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for Boolean Attribute <%s>", text, attr->name);
}

bool NameIs(const char* name, const char* expected) {
  return name && strcasecmp(name, expected) == 0;
}

void LoadAttributes(const apr_xml_elem* elem, const char* what, const AttributeLoader& load) {
  for (const apr_xml_attr* attr = elem->attr; attr; attr = attr->next) {
    const char* value = attr->value ? attr->value : "";
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load %s Attribute: %s = %s", what, attr->name, value);
    if (!load(attr, value))
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown %s Attribute <%s>", what, attr->name);
  }
}

bool IsRelativePath(const std::string& path, apr_pool_t* pool) {
  const char* root = nullptr;
  const char* rest = path.c_str();
  return apr_filepath_root(&root, &rest, 0, pool) == APR_ERELATIVE;
}

bool CheckDirPath(std::string& path, const std::string& base, apr_pool_t* pool) {
  if (!IsRelativePath(path, pool))
    return true;
  char* merged = nullptr;
  if (apr_filepath_merge(&merged, base.c_str(), path.c_str(), APR_FILEPATH_NATIVE, pool) != APR_SUCCESS)
    return false;
  path = merged;
  return true;
}

bool CheckFilePath(std::string& path, const std::string& base, apr_pool_t* pool) {
  return CheckDirPath(path, base, pool);
}

bool file_search(char** result, const char* pattern, apr_pool_t* pool) {
  if (!result || !pattern)
    return false;
  const char* sep = strrchr(pattern, '/');
  if (!sep)
    sep = strrchr(pattern, '\\');
  const char* dirPath = ".";
  const char* namePattern = pattern;
  if (sep) {
    // A pattern directly under the root keeps the root as its directory.
    dirPath = sep == pattern ? apr_pstrndup(pool, pattern, 1) : apr_pstrndup(pool, pattern, sep - pattern);
    namePattern = sep + 1;
  }

  apr_dir_t* dir = nullptr;
  if (apr_dir_open(&dir, dirPath, pool) != APR_SUCCESS)
    return false;

  const apr_int32_t wanted = APR_FINFO_NAME | APR_FINFO_CTIME | APR_FINFO_TYPE;
  const char* bestName = nullptr;
  apr_time_t bestTime = 0;
  apr_finfo_t finfo;
  for (;;) {
    apr_status_t status = apr_dir_read(&finfo, wanted, dir);
    if (status != APR_SUCCESS && status != APR_INCOMPLETE)
      break;
    if ((finfo.valid & wanted) != wanted || finfo.filetype != APR_REG || !finfo.name)
      continue;
    if (apr_fnmatch(namePattern, finfo.name, 0) != APR_SUCCESS)
      continue;
    if (!bestName || finfo.ctime > bestTime) {
      bestName = apr_pstrdup(pool, finfo.name);
      bestTime = finfo.ctime;
    }
  }
  apr_dir_close(dir);

  if (!bestName)
    return false;
  char* merged = nullptr;
  if (apr_filepath_merge(&merged, dirPath, bestName, APR_FILEPATH_NATIVE, pool) != APR_SUCCESS)
    return false;
  *result = merged;
  return true;
}

}  // namespace OXA_NS

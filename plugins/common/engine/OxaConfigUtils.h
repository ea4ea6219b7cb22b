// Helpers every configuration loader of a plugin uses: the boolean syntax and the path rules.
#ifndef OXA_CONFIG_UTILS_H
#define OXA_CONFIG_UTILS_H

#include "OxaNamespace.h"

#include <apr_pools.h>
#include <apr_xml.h>

#include <string>

namespace OXA_NS {

// Exactly "true" or "false"; anything else returns false and leaves value unchanged.
bool ParseBooleanString(const std::string& text, bool& value);

// ParseBooleanString on an attribute's value; a bad value logs the usual warning and the
// previous value stays.
void LoadBooleanAttribute(const apr_xml_attr* attr, bool& value);

// Element and attribute names are compared without regard to case.
bool NameIs(const char* name, const char* expected);

// True when the path is relative; an empty path counts as relative.
bool IsRelativePath(const std::string& path, apr_pool_t* pool);
// A relative path is replaced by base merged with it (native syntax), so an empty one becomes
// base itself; an absolute path is kept. False when the merge fails.
bool CheckDirPath(std::string& path, const std::string& base, apr_pool_t* pool);
bool CheckFilePath(std::string& path, const std::string& base, apr_pool_t* pool);

// Newest regular file (greatest change time; the first found wins a tie) matching the
// wildcard pattern "directory/name-pattern"; without a separator the directory is ".".
// False when the directory cannot be read or nothing matches. *result comes from pool.
bool file_search(char** result, const char* pattern, apr_pool_t* pool);

}  // namespace OXA_NS

#endif  // OXA_CONFIG_UTILS_H

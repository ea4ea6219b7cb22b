// Helpers every configuration loader of a plugin uses: the boolean syntax and the path rules.
#ifndef OXA_CONFIG_UTILS_H
#define OXA_CONFIG_UTILS_H

#include "OxaNamespace.h"

#include <apr_pools.h>
#include <apr_xml.h>

#include <functional>
#include <string>

namespace OXA_NS {

// Exactly "true" or "false"; anything else returns false and leaves value unchanged.
bool ParseBooleanString(const std::string& text, bool& value);

// ParseBooleanString on an attribute's value; a bad value logs the usual warning and the
// previous value stays.
void LoadBooleanAttribute(const apr_xml_attr* attr, bool& value);

// Element and attribute names are compared without regard to case.
bool NameIs(const char* name, const char* expected);

// Hands each attribute of elem to load, after logging it as "Load <what> Attribute: name = value"
// (DEBUG); an attribute that load does not know (false) is logged as "Unknown <what> Attribute
// <name>" (WARNING). value is never null.
typedef std::function<bool(const apr_xml_attr* attr, const char* value)> AttributeLoader;
void LoadAttributes(const apr_xml_elem* elem, const char* what, const AttributeLoader& load);

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

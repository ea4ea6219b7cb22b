#include "AsrClientConfig.h"

#include <apr_pools.h>
#include <apr_xml.h>
#include <strings.h>

#include <cerrno>
#include <cstdlib>

namespace asrclient {

namespace {

bool Fail(std::string *error, const std::string &text) {
  if (error) *error = text;
  return false;
}

bool Is(const char *name, const char *expected) { return name && strcasecmp(name, expected) == 0; }

bool ParseNumber(const char *text, long min, long max, long *out) {
  if (!text || !*text) return false;
  errno = 0;
  char *end = nullptr;
  long value = strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < min || value > max) return false;
  *out = value;
  return true;
}

std::string Where(const apr_xml_elem *elem, const char *attr) {
  return std::string("<") + elem->name + "> " + attr;
}

bool LoadProfile(const apr_xml_elem *elem, ClientProfile *profile, std::vector<std::string> *warnings,
                 std::string *error) {
  for (const apr_xml_attr *attr = elem->attr; attr; attr = attr->next) {
    const char *value = attr->value ? attr->value : "";
    long number = 0;
    if (Is(attr->name, "name")) {
      profile->name = value;
    } else if (Is(attr->name, "plugin")) {
      if (!*value) return Fail(error, Where(elem, attr->name) + ": empty");
      profile->plugin = value;
    } else if (Is(attr->name, "server-root")) {
      profile->server_root = value;
    } else if (Is(attr->name, "mrcp-version")) {
      if (!ParseNumber(value, 1, 2, &number)) return Fail(error, Where(elem, attr->name) + ": 1 or 2, not [" + value + "]");
      profile->mrcp_version = static_cast<int>(number);
    } else if (Is(attr->name, "codec")) {
      if (!Is(value, "LPCM") && !Is(value, "PCMU") && !Is(value, "PCMA")) {
        return Fail(error, Where(elem, attr->name) + ": LPCM, PCMU or PCMA, not [" + value + "]");
      }
      profile->codec = value;
    } else if (Is(attr->name, "sampling-rate")) {
      if (!ParseNumber(value, 0, 48000, &number) ||
          (number != 0 && number != 8000 && number != 16000 && number != 32000 && number != 48000)) {
        return Fail(error, Where(elem, attr->name) + ": 8000, 16000, 32000, 48000 or 0, not [" + value + "]");
      }
      profile->sampling_rate = static_cast<unsigned>(number);
    } else {
      warnings->push_back("unknown attribute " + Where(elem, attr->name));
    }
  }
  if (profile->name.empty()) return Fail(error, "<profile> without a name");
  for (const apr_xml_elem *child = elem->first_child; child; child = child->next) {
    if (!Is(child->name, "param")) {
      warnings->push_back(std::string("unknown element <") + child->name + "> in profile " + profile->name);
      continue;
    }
    const char *name = nullptr;
    const char *value = "";
    for (const apr_xml_attr *attr = child->attr; attr; attr = attr->next) {
      if (Is(attr->name, "name")) name = attr->value;
      if (Is(attr->name, "value")) value = attr->value ? attr->value : "";
    }
    if (!name || !*name) return Fail(error, "<param> without a name in profile " + profile->name);
    profile->params.emplace_back(name, value);
  }
  return true;
}

}  // namespace

ClientConfig DefaultClientConfig() {
  ClientConfig config;
  ClientProfile v2;
  v2.name = "kel2";
  ClientProfile v1 = v2;
  v1.name = "kel1";
  v1.mrcp_version = 1;
  config.profiles[v2.name] = v2;
  config.profiles[v1.name] = v1;
  return config;
}

bool ParseClientConfig(const std::string &document, ClientConfig *config, std::vector<std::string> *warnings,
                       std::string *error) {
  apr_pool_t *pool = nullptr;
  if (apr_pool_create(&pool, nullptr) != APR_SUCCESS) return Fail(error, "no memory");
  struct PoolGuard {
    apr_pool_t *pool;
    ~PoolGuard() { apr_pool_destroy(pool); }
  } guard{pool};

  apr_xml_parser *parser = apr_xml_parser_create(pool);
  apr_xml_doc *doc = nullptr;
  if (apr_xml_parser_feed(parser, document.data(), document.size()) != APR_SUCCESS ||
      apr_xml_parser_done(parser, &doc) != APR_SUCCESS || !doc || !doc->root) {
    char why[200] = "";
    apr_xml_parser_geterror(parser, why, sizeof(why));
    return Fail(error, std::string("not well-formed XML: ") + why);
  }
  if (!Is(doc->root->name, "asrclient")) {
    return Fail(error, std::string("the root element is <") + doc->root->name + ">, not <asrclient>");
  }
  ClientConfig result = *config;
  for (const apr_xml_attr *attr = doc->root->attr; attr; attr = attr->next) {
    long *target = Is(attr->name, "open-timeout")         ? &result.open_timeout_ms
                   : Is(attr->name, "response-timeout")   ? &result.response_timeout_ms
                   : Is(attr->name, "completion-timeout") ? &result.completion_timeout_ms
                   : Is(attr->name, "close-timeout")      ? &result.close_timeout_ms
                                                          : nullptr;
    if (!target) {
      warnings->push_back(std::string("unknown attribute <asrclient> ") + attr->name);
      continue;
    }
    // Every wait has a limit: zero or negative would mean none.
    if (!ParseNumber(attr->value, 1, 3600000, target)) {
      return Fail(error, Where(doc->root, attr->name) + ": milliseconds from 1 to 3600000, not [" +
                             (attr->value ? attr->value : "") + "]");
    }
  }
  for (const apr_xml_elem *elem = doc->root->first_child; elem; elem = elem->next) {
    if (!Is(elem->name, "profile")) {
      warnings->push_back(std::string("unknown element <") + elem->name + ">");
      continue;
    }
    ClientProfile profile;
    if (!LoadProfile(elem, &profile, warnings, error)) return false;
    result.profiles[profile.name] = profile;
  }
  *config = result;
  return true;
}

}  // namespace asrclient

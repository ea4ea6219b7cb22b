// Shared pieces of the recognizer-common fuzz targets.
#ifndef OXA_RECOG_FUZZ_SUPPORT_H
#define OXA_RECOG_FUZZ_SUPPORT_H

#include <apr_general.h>
#include <apr_pools.h>
#include <apr_xml.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace RecogFuzz {

// Lives for the whole run.
inline apr_pool_t* RootPool() {
  static apr_pool_t* pool = [] {
    apr_initialize();
    apr_pool_t* created = nullptr;
    apr_pool_create(&created, nullptr);
    return created;
  }();
  return pool;
}

// Aborts unless text is empty or a well-formed XML document.
inline void CheckXml(const std::string& text) {
  if (text.empty()) return;
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, RootPool());
  apr_xml_parser* parser = apr_xml_parser_create(pool);
  apr_xml_doc* doc = nullptr;
  if (apr_xml_parser_feed(parser, text.data(), text.size()) != APR_SUCCESS ||
      apr_xml_parser_done(parser, &doc) != APR_SUCCESS || !doc || !doc->root) {
    fprintf(stderr, "not well-formed:\n%s\n", text.c_str());
    abort();
  }
  apr_pool_destroy(pool);
}

}  // namespace RecogFuzz

#endif  // OXA_RECOG_FUZZ_SUPPORT_H

// Fuzzes the name=value pair list parser: a well-formed list must generate and parse back alike.
#include <apr_general.h>
#include <apr_pools.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mrcphost/host_apt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool initialized = apr_initialize() == APR_SUCCESS;
  if (!initialized) return 0;
  apr_pool_t *pool = nullptr;
  apr_pool_create(&pool, nullptr);
  apt_str_t value = {const_cast<char *>(reinterpret_cast<const char *>(data)), size};
  apt_pair_arr_t *arr = apt_pair_array_create(1, pool);
  const bool well_formed = apt_pair_array_parse(arr, &value, pool);
  apt_str_t generated;
  if (!apt_pair_array_generate(arr, &generated, pool)) abort();
  apt_pair_arr_t *again = apt_pair_array_create(1, pool);
  const bool again_well_formed = apt_pair_array_parse(again, &generated, pool);
  // A malformed list (a quote left open) need not survive; a well-formed one must come back alike.
  if (!well_formed) {
    apr_pool_destroy(pool);
    return 0;
  }
  if (!again_well_formed || apt_pair_array_size_get(again) != apt_pair_array_size_get(arr)) abort();
  for (int i = 0; i < apt_pair_array_size_get(arr); ++i) {
    const apt_pair_t *a = apt_pair_array_get(arr, i);
    const apt_pair_t *b = apt_pair_array_get(again, i);
    if (!apt_string_compare(&a->name, &b->name) || !apt_string_compare(&a->value, &b->value)) abort();
  }
  apr_pool_destroy(pool);
  return 0;
}

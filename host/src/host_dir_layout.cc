// Directory layout of a host installation: conf/, plugin/, log/, data/, var/ under one root.
#include <apr_file_info.h>
#include <apr_strings.h>

#include "mrcphost/host_apt.h"

struct apt_dir_layout_t {
  const char *paths[APT_LAYOUT_DIR_COUNT];
};

namespace {

const char *const kDefaultNames[APT_LAYOUT_DIR_COUNT] = {"conf", "plugin", "log", "data", "var"};

char *MergePath(const char *dir, const char *name, apr_pool_t *pool) {
  if (!dir) return nullptr;
  if (!name || !*name) return apr_pstrdup(pool, dir);
  char *merged = nullptr;
  if (apr_filepath_merge(&merged, dir, name, APR_FILEPATH_NATIVE, pool) != APR_SUCCESS) return nullptr;
  return merged;
}

}  // namespace

extern "C" {

apt_dir_layout_t *apt_dir_layout_create(apr_pool_t *pool) {
  return static_cast<apt_dir_layout_t *>(apr_pcalloc(pool, sizeof(apt_dir_layout_t)));
}

apt_dir_layout_t *apt_default_dir_layout_create(const char *root_dir, apr_pool_t *pool) {
  apt_dir_layout_t *layout = apt_dir_layout_create(pool);
  const char *root = root_dir && *root_dir ? root_dir : ".";
  for (int i = 0; i < APT_LAYOUT_DIR_COUNT; ++i) layout->paths[i] = MergePath(root, kDefaultNames[i], pool);
  return layout;
}

apt_bool_t apt_dir_layout_path_set(apt_dir_layout_t *layout, apr_size_t entry, const char *path, apr_pool_t *pool) {
  if (!layout || entry >= APT_LAYOUT_DIR_COUNT) return FALSE;
  layout->paths[entry] = path ? apr_pstrdup(pool, path) : nullptr;
  return TRUE;
}

const char *apt_dir_layout_path_get(const apt_dir_layout_t *layout, apr_size_t entry) {
  if (!layout || entry >= APT_LAYOUT_DIR_COUNT) return nullptr;
  return layout->paths[entry];
}

char *apt_confdir_filepath_get(const apt_dir_layout_t *layout, const char *file_name, apr_pool_t *pool) {
  return layout ? MergePath(layout->paths[APT_LAYOUT_CONF_DIR], file_name, pool) : nullptr;
}

char *apt_vardir_filepath_get(const apt_dir_layout_t *layout, const char *file_name, apr_pool_t *pool) {
  return layout ? MergePath(layout->paths[APT_LAYOUT_VAR_DIR], file_name, pool) : nullptr;
}

char *apt_datadir_filepath_get(const apt_dir_layout_t *layout, const char *file_name, apr_pool_t *pool) {
  return layout ? MergePath(layout->paths[APT_LAYOUT_DATA_DIR], file_name, pool) : nullptr;
}

}  // extern "C"

// Any configuration document, however malformed, leaves the plugin's loader with either a
// loaded configuration or a failure; never a crash. Built once per plugin with its objects.
#include "OxaEngineBase.h"
#include "OxaPluginEntry.h"

#include <apr_general.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace {

struct FuzzLayout {
  apr_pool_t* m_pPool = nullptr;
  apt_dir_layout_t* m_pLayout = nullptr;
  std::string m_ConfPath;
};

FuzzLayout* CreateLayout() {
  apr_initialize();
  FuzzLayout* layout = new FuzzLayout();
  apr_pool_create(&layout->m_pPool, nullptr);
  // Every record is formatted, none is written.
  apt_log_instance_create(APT_LOG_OUTPUT_NONE, APT_PRIO_DEBUG, layout->m_pPool);
  char pattern[] = "/tmp/oxa-config-fuzz-XXXXXX";
  std::string root = mkdtemp(pattern) ? pattern : "/tmp";
  for (const char* dir : {"/conf", "/data", "/var", "/var/status"})
    mkdir((root + dir).c_str(), 0755);
  layout->m_pLayout = apt_default_dir_layout_create(root.c_str(), layout->m_pPool);
  layout->m_ConfPath = root + "/conf/" + OXA_NS::g_PluginTraits.m_ConfigFile;
  return layout;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzLayout* layout = CreateLayout();
  {
    std::ofstream file(layout->m_ConfPath, std::ios::out | std::ios::trunc | std::ios::binary);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, layout->m_pPool);
  const OXA_NS::PluginTraits& traits = OXA_NS::g_PluginTraits;
  OXA_NS::EngineBase* engine = OXA_NS::CreateEngineObject();
  engine->LoadConfig(traits.m_ConfigFile, traits.m_ConfigRoot, layout->m_pLayout, pool);
  delete engine;
  apr_pool_destroy(pool);
  return 0;
}

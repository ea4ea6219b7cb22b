// Per-plugin logging. Each plugin owns one log source object (ZORV_PLUGIN, VESK_PLUGIN or
// LUMO_PLUGIN) that the host assigns through mrcp_plugin_log_source_set; the plugin build defines
// OXA_PLUGIN_LOG_SOURCE to that object's name for every translation unit of the plugin.
//
//   apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "...");
#ifndef OXA_LOG_H
#define OXA_LOG_H

#include <mrcphost/host_apt.h>

#ifndef OXA_PLUGIN_LOG_SOURCE
#error "OXA_PLUGIN_LOG_SOURCE must name the plugin log source (ZORV_PLUGIN, VESK_PLUGIN or LUMO_PLUGIN)"
#endif

#ifdef __cplusplus
extern "C" {
#endif
extern apt_log_source_t *OXA_PLUGIN_LOG_SOURCE;
#ifdef __cplusplus
}
#endif

#define OXA_LOG_MARK OXA_PLUGIN_LOG_SOURCE, APT_LOG_MARK

#endif  // OXA_LOG_H

// Shared plugin units are compiled once per plugin, each time inside that plugin's namespace.
// The build defines OXA_NS (ZORV, VESK or LUMO) for every translation unit of a plugin.
#ifndef OXA_NAMESPACE_H
#define OXA_NAMESPACE_H

#ifndef OXA_NS
#error "OXA_NS must name the plugin namespace (ZORV, VESK or LUMO)"
#endif

#endif  // OXA_NAMESPACE_H

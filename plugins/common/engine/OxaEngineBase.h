// Engine core shared by the three plugins: configuration frame, open and close flow on the
// engine's event processor, channel bookkeeping and usage monitoring. A plugin's Engine derives
// from it, registers its document attributes and elements, and fills in the start hooks.
#ifndef OXA_ENGINE_BASE_H
#define OXA_ENGINE_BASE_H

#include "OxaNamespace.h"
#include "OxaMonitoringSettings.h"

#include <mrcphost/mrcphost.h>
#include <trelka/TrelkaEventProcessor.h>
#include <trelka/TrelkaTimer.h>

#include <apr_xml.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace OXA_NS {

class ChannelBase;

struct CodecEntry {
  const char* m_Name;  // "LPCM", "PCMU"
  int m_SampleRates;   // mpf_sample_rates_e mask
};

// What tells the plugins apart in the shared skeleton.
struct PluginTraits {
  const char* m_Name;           // engine name, also the word of the usage line: "ZORV", "Vesk", "Lumo"
  const char* m_ChannelTag;     // after '@' in channel log lines: "zorv", "vesk", "lumo"
  const char* m_LogSourceName;  // "ZORV-PLUGIN"
  const char* m_VersionLine;    // logged when the plugin is created
  const char* m_ConfigFile;     // "oxazorv.xml"
  const char* m_ConfigRoot;     // "oxazorv"
  const char* m_ConfigFailure;  // "Failed to Load OXA ZORV Config"
  mrcp_resource_id m_ResourceId;
  mpf_stream_direction_e m_StreamDirection;  // SEND: audio into the plugin; RECEIVE: out of it
  const CodecEntry* m_Codecs;
  size_t m_CodecCount;
};

// Directories of the server's layout that configuration paths are resolved against.
struct ConfigDirs {
  std::string m_VarDir;
  std::string m_StatusDir;
  std::string m_DataDir;
};

class EngineBase : public Trelka::SoftEventProcessor::Observer, public Trelka::TimerHandler {
 public:
  // Reads one child element of the document root; its result does not fail the document.
  typedef std::function<bool(const apr_xml_elem* elem, apr_pool_t* pool)> ElementLoader;

  explicit EngineBase(const PluginTraits& traits);
  ~EngineBase() override;

  // Host thread. Open loads the configuration and starts the logger and the event processor;
  // the host's open is answered from the event thread once the start work is done.
  virtual bool Open();
  // Host thread. Stops the event processor (the stop work runs on it), then the logger,
  // then answers the host's close.
  virtual bool Close();
  // Stops whatever Open started when no Close came before the engine is destroyed.
  void Terminate();

  bool OnStart(Trelka::SoftEventProcessor* processor) override;
  void OnShutdown(Trelka::SoftEventProcessor* processor) override;
  void OnTimeoutElapsed(Trelka::Timer* timer) override;

  // The plugin's channel object for a new host channel.
  virtual ChannelBase* CreateChannelObject() = 0;

  // Event thread: channel bookkeeping and monitoring.
  void OnOpenChannel(ChannelBase* channel);
  void OnCloseChannel(ChannelBase* channel);
  void OnUsageChange();
  void DumpUsage(const StatusFileSettings& settings);
  void DumpChannels(const StatusFileSettings& settings);

  // Configuration (host thread, before the event processor exists).
  bool LoadConfig(const char* fileName, const char* rootName, const apt_dir_layout_t* layout, apr_pool_t* pool);
  apr_xml_doc* ParseFile(const char* path, apr_pool_t* pool);
  bool LoadDocument(const char* rootName, const apr_xml_doc* doc, apr_pool_t* pool);
  bool LoadElement(const apr_xml_elem* elem, apr_pool_t* pool);
  bool ValidateConfig(const apt_dir_layout_t* layout, apr_pool_t* pool);

  const PluginTraits& GetTraits() const { return m_Traits; }
  const std::string& GetName() const { return m_Name; }
  mrcp_engine_t* GetMrcpEngine() const { return m_pMrcpEngine; }
  void SetMrcpEngine(mrcp_engine_t* engine) { m_pMrcpEngine = engine; }
  Trelka::SoftEventProcessor* GetEventProcessor() const { return m_pEventProcessor; }
  const MonitoringSettings& GetMonitoringSettings() const { return m_MonitoringSettings; }
  const ConfigDirs& GetConfigDirs() const { return m_ConfigDirs; }
  size_t GetOpenChannelCount() const { return m_Channels.size(); }
  size_t GetMaxUsedChannels() const { return m_MaxUsedChannels; }

 protected:
  // Registration by the derived engine's constructor. A string attribute keeps its raw value;
  // a loader registered again under the same name replaces the earlier one.
  void AddDocumentAttribute(const char* name, std::string* value);
  void AddElementLoader(const char* name, ElementLoader loader);
  // Loader of an element that this version accepts and does not read yet.
  static bool AcceptElement(const apr_xml_elem* elem, apr_pool_t* pool);

  // Hooks of the derived engine, in the order they run.
  // Host thread, before the document is read.
  virtual void ResetSettings() {}
  // Host thread, resolution of the plugin's own directories and data files.
  virtual bool ValidatePluginConfig(const ConfigDirs& dirs, apr_pool_t* pool);
  // Host thread, further documents read after the configuration (their failure is logged there).
  virtual bool LoadExtraDocuments(const apt_dir_layout_t* layout, apr_pool_t* pool);
  // Event thread, start work: service clients, then the managers of the plugin's files.
  virtual bool ProcessOpen() { return true; }
  virtual bool CreateManagers() { return true; }
  // Event thread, after the refresh timer; its failures do not fail the start.
  virtual void ProcessStarted() {}
  // Event thread: the start work finished with status. By default the host's open is answered
  // here; a plugin that answers from another thread overrides this.
  virtual void OnStartComplete(bool status) { RespondOpen(status); }
  // Event thread, at shutdown before Cleanup.
  virtual void ProcessStopping() {}
  // Event thread: undoes ProcessOpen and CreateManagers (also after a failed start).
  virtual void Cleanup() {}
  // Host thread, in Close after the event processor is gone.
  virtual void UnloadExtraDocuments() {}

  // Answers the host's engine open once per Open, whichever thread gets there first.
  void RespondOpen(bool status);

 private:
  struct DocumentAttribute {
    std::string m_Name;
    std::string* m_pValue;
  };
  struct ElementEntry {
    std::string m_Name;
    ElementLoader m_Loader;
  };

  bool CreateLogger();
  void DestroyLogger();
  bool CreateEventProcessor();
  void DestroyEventProcessor();
  bool ProcessStart();
  void ProcessShutdown();
  void StartUsageRefreshTimer();
  void RunMonitoringHandler(const MonitoringHandler& handler);

  const PluginTraits& m_Traits;
  std::string m_Name;
  mrcp_engine_t* m_pMrcpEngine;
  Trelka::SoftEventProcessor* m_pEventProcessor;
  bool m_LoggerCreated;
  std::atomic<bool> m_OpenAnswered;

  std::vector<DocumentAttribute> m_DocumentAttributes;
  std::vector<ElementEntry> m_ElementLoaders;
  ConfigDirs m_ConfigDirs;
  MonitoringSettings m_MonitoringSettings;

  // Event thread only.
  std::list<ChannelBase*> m_Channels;  // open channels, in opening order
  size_t m_MaxUsedChannels;
  Trelka::Timer* m_pUsageRefreshTimer;  // owned by the timer queue
};

}  // namespace OXA_NS

#endif  // OXA_ENGINE_BASE_H

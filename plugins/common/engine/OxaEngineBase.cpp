#include "OxaEngineBase.h"

#include "OxaChannelBase.h"
#include "OxaConfigUtils.h"
#include "OxaLog.h"
#include "OxaLogRedirectDevice.h"

#include <trelka/TrelkaLogFacility.h>

#include <apr_file_io.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <fstream>

namespace OXA_NS {

EngineBase::EngineBase(const PluginTraits& traits)
    : m_Traits(traits),
      m_Name(traits.m_Name),
      m_pMrcpEngine(nullptr),
      m_pEventProcessor(nullptr),
      m_LoggerCreated(false),
      m_OpenAnswered(false),
      m_MaxUsedChannels(0),
      m_pUsageRefreshTimer(nullptr) {
  Trelka::GlobalInit();
  Trelka::InitSsl();
  AddElementLoader("monitoring-agent",
                   [this](const apr_xml_elem* elem, apr_pool_t*) { return m_MonitoringSettings.Load(elem); });
}

EngineBase::~EngineBase() {
  Trelka::CleanupSsl();
  Trelka::GlobalDeinit();
}

void EngineBase::AddDocumentAttribute(const char* name, std::string* value) {
  m_DocumentAttributes.push_back(DocumentAttribute{name, value});
}

void EngineBase::AddElementLoader(const char* name, ElementLoader loader) {
  for (ElementEntry& entry : m_ElementLoaders) {
    if (NameIs(entry.m_Name.c_str(), name)) {
      entry.m_Loader = std::move(loader);
      return;
    }
  }
  m_ElementLoaders.push_back(ElementEntry{name, std::move(loader)});
}

bool EngineBase::AcceptElement(const apr_xml_elem*, apr_pool_t*) {
  return true;
}

bool EngineBase::ValidatePluginConfig(const ConfigDirs&, apr_pool_t*) {
  return true;
}

bool EngineBase::LoadExtraDocuments(const apt_dir_layout_t*, apr_pool_t*) {
  return true;
}

// ---------- open and close ----------

bool EngineBase::Open() {
  m_OpenAnswered = false;
  const apt_dir_layout_t* layout = m_pMrcpEngine ? m_pMrcpEngine->dir_layout : nullptr;
  apr_pool_t* pool = m_pMrcpEngine ? m_pMrcpEngine->pool : nullptr;
  if (!LoadConfig(m_Traits.m_ConfigFile, m_Traits.m_ConfigRoot, layout, pool)) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "%s", m_Traits.m_ConfigFailure);
    return FALSE;
  }
  if (!LoadExtraDocuments(layout, pool))
    return FALSE;
  if (!CreateLogger()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Logger");
    return FALSE;
  }
  if (!CreateEventProcessor()) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Create Event Processor");
    DestroyLogger();
    return FALSE;
  }
  return TRUE;
}

bool EngineBase::Close() {
  DestroyEventProcessor();
  UnloadExtraDocuments();
  DestroyLogger();
  if (m_pMrcpEngine)
    mrcp_engine_close_respond(m_pMrcpEngine);
  return TRUE;
}

void EngineBase::Terminate() {
  DestroyEventProcessor();
  DestroyLogger();
}

void EngineBase::RespondOpen(bool status) {
  if (m_OpenAnswered.exchange(true))
    return;
  if (m_pMrcpEngine)
    mrcp_engine_open_respond(m_pMrcpEngine, status ? TRUE : FALSE);
}

bool EngineBase::CreateLogger() {
  Trelka::Logger* logger = Trelka::Logger::CreateInstance();
  if (!logger)
    return false;
  m_LoggerCreated = true;
  // Another user of the same logger may have registered its device first; its records and
  // ours then go out through that one.
  LogRedirectDevice* device = new LogRedirectDevice();
  if (!logger->AddLogDevice(device))
    delete device;
  logger->Start();
  return true;
}

void EngineBase::DestroyLogger() {
  if (!m_LoggerCreated)
    return;
  m_LoggerCreated = false;
  Trelka::Logger::DestroyInstance();
}

bool EngineBase::CreateEventProcessor() {
  if (m_pEventProcessor)
    return false;
  m_pEventProcessor = new Trelka::SoftEventProcessor();
  m_pEventProcessor->AddObserver(this);
  if (!m_pEventProcessor->Start()) {
    delete m_pEventProcessor;
    m_pEventProcessor = nullptr;
    return false;
  }
  return true;
}

void EngineBase::DestroyEventProcessor() {
  if (!m_pEventProcessor)
    return;
  m_pEventProcessor->Shutdown(true);
  delete m_pEventProcessor;
  m_pEventProcessor = nullptr;
}

bool EngineBase::OnStart(Trelka::SoftEventProcessor*) {
  bool status = ProcessStart();
  OnStartComplete(status);
  // A failed start has cleaned up already: the loop ends and no channel work can reach it.
  return status;
}

void EngineBase::OnShutdown(Trelka::SoftEventProcessor*) {
  ProcessShutdown();
}

bool EngineBase::ProcessStart() {
  OnUsageChange();
  if (!ProcessOpen() || !CreateManagers()) {
    Cleanup();
    return false;
  }
  OnUsageChange();
  StartUsageRefreshTimer();
  ProcessStarted();
  return true;
}

void EngineBase::ProcessShutdown() {
  OnUsageChange();
  // The timer queue deletes the timer together with the processor.
  m_pUsageRefreshTimer = nullptr;
  ProcessStopping();
  Cleanup();
}

// ---------- monitoring ----------

void EngineBase::StartUsageRefreshTimer() {
  if (!m_MonitoringSettings.m_UsageRefreshHandler.IsEnabled())
    return;
  const int64_t period = m_MonitoringSettings.m_RefreshPeriod;
  // A period that is not positive, or too large to count in milliseconds, would make the
  // timer fire without pause or overflow its deadline.
  if (period <= 0 || period > INT32_MAX) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Invalid Usage Refresh Period [%" PRId64 " sec]", period);
    return;
  }
  apt_log(OXA_LOG_MARK, APT_PRIO_INFO, "Set Usage Refresh Timer [%" PRId64 " sec]", period);
  m_pUsageRefreshTimer = new Trelka::Timer(this, period * 1000, Trelka::Timer::Periodic, Trelka::Timer::Dynamic);
  m_pUsageRefreshTimer->Start(m_pEventProcessor);
}

void EngineBase::OnTimeoutElapsed(Trelka::Timer* timer) {
  if (timer && timer == m_pUsageRefreshTimer)
    RunMonitoringHandler(m_MonitoringSettings.m_UsageRefreshHandler);
}

void EngineBase::OnUsageChange() {
  RunMonitoringHandler(m_MonitoringSettings.m_UsageChangeHandler);
}

void EngineBase::RunMonitoringHandler(const MonitoringHandler& handler) {
  if (handler.m_LogUsage.m_Enable) {
    apt_log(OXA_LOG_MARK, handler.m_LogUsage.m_Priority, "%s Usage: %d/%d/%d", m_Name.c_str(),
            static_cast<int>(m_Channels.size()), static_cast<int>(m_MaxUsedChannels),
            static_cast<int>(m_pMrcpEngine ? m_pMrcpEngine->max_channel_count : 0));
  }
  if (handler.m_UpdateUsage.m_Enable)
    DumpUsage(handler.m_UpdateUsage);
  if (handler.m_DumpChannels.m_Enable)
    DumpChannels(handler.m_DumpChannels);
}

// A status file that cannot be opened is logged and skipped; the next trigger tries again.
static bool OpenStatusFile(const std::string& path, std::ofstream& file) {
  file.open(path, std::ios::out | std::ios::trunc);
  if (file.is_open())
    return true;
  apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Open Status File %s", path.c_str());
  return false;
}

void EngineBase::DumpUsage(const StatusFileSettings& settings) {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Update usage %s", settings.m_StatusFile.c_str());
  std::ofstream file;
  if (!OpenStatusFile(settings.m_StatusFile, file))
    return;
  file << "in-use channels: " << m_Channels.size() << std::endl;
  file << "max used channels: " << m_MaxUsedChannels << std::endl;
  file << "total channels: " << (m_pMrcpEngine ? m_pMrcpEngine->max_channel_count : 0) << std::endl;
}

void EngineBase::DumpChannels(const StatusFileSettings& settings) {
  apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Dump channels %s", settings.m_StatusFile.c_str());
  std::ofstream file;
  if (!OpenStatusFile(settings.m_StatusFile, file))
    return;
  for (ChannelBase* channel : m_Channels)
    channel->Dump(file);
}

void EngineBase::OnOpenChannel(ChannelBase* channel) {
  m_Channels.push_back(channel);
  m_MaxUsedChannels = std::max(m_MaxUsedChannels, m_Channels.size());
  OnUsageChange();
}

void EngineBase::OnCloseChannel(ChannelBase* channel) {
  m_Channels.remove(channel);
  OnUsageChange();
}

// ---------- configuration ----------

bool EngineBase::LoadConfig(const char* fileName, const char* rootName, const apt_dir_layout_t* layout,
                            apr_pool_t* pool) {
  if (!layout || !pool)
    return false;
  const char* path = apt_confdir_filepath_get(layout, fileName, pool);
  if (!path)
    return false;
  ResetSettings();
  apr_xml_doc* doc = ParseFile(path, pool);
  if (!doc)
    return false;
  if (!LoadDocument(rootName, doc, pool))
    return false;
  return ValidateConfig(layout, pool);
}

apr_xml_doc* EngineBase::ParseFile(const char* path, apr_pool_t* pool) {
  apt_log(OXA_LOG_MARK, APT_PRIO_NOTICE, "Open Config File [%s]", path);
  apr_file_t* fd = nullptr;
  if (apr_file_open(&fd, path, APR_READ | APR_BINARY, 0, pool) != APR_SUCCESS) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Open Config File [%s]", path);
    return nullptr;
  }
  apr_xml_parser* parser = nullptr;
  apr_xml_doc* doc = nullptr;
  if (apr_xml_parse_file(pool, &parser, &doc, fd, 2000) != APR_SUCCESS) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Failed to Parse Config File [%s]", path);
    doc = nullptr;
  }
  apr_file_close(fd);
  return doc;
}

bool EngineBase::LoadDocument(const char* rootName, const apr_xml_doc* doc, apr_pool_t* pool) {
  const apr_xml_elem* root = doc ? doc->root : nullptr;
  if (!root || !root->name || strcmp(root->name, rootName) != 0) {
    apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Document");
    return false;
  }
  LoadAttributes(root, "Document", [this](const apr_xml_attr* attr, const char* value) {
    for (const DocumentAttribute& known : m_DocumentAttributes) {
      if (NameIs(attr->name, known.m_Name.c_str())) {
        *known.m_pValue = value;
        return true;
      }
    }
    return false;
  });
  for (const apr_xml_elem* elem = root->first_child; elem; elem = elem->next) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Loading Element %s", elem->name);
    // A bad element never fails the document.
    LoadElement(elem, pool);
  }
  return true;
}

bool EngineBase::LoadElement(const apr_xml_elem* elem, apr_pool_t* pool) {
  for (const ElementEntry& entry : m_ElementLoaders) {
    if (NameIs(elem->name, entry.m_Name.c_str()))
      return entry.m_Loader(elem, pool);
  }
  apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Element <%s>", elem->name);
  return false;
}

bool EngineBase::ValidateConfig(const apt_dir_layout_t* layout, apr_pool_t* pool) {
  const char* varDir = apt_dir_layout_path_get(layout, APT_LAYOUT_VAR_DIR);
  const char* statusDir = apt_vardir_filepath_get(layout, "status", pool);
  const char* dataDir = apt_dir_layout_path_get(layout, APT_LAYOUT_DATA_DIR);
  if (!varDir || !statusDir || !dataDir)
    return false;
  m_ConfigDirs.m_VarDir = varDir;
  m_ConfigDirs.m_StatusDir = statusDir;
  m_ConfigDirs.m_DataDir = dataDir;

  if (!ValidatePluginConfig(m_ConfigDirs, pool))
    return false;

  for (MonitoringHandler* handler :
       {&m_MonitoringSettings.m_UsageChangeHandler, &m_MonitoringSettings.m_UsageRefreshHandler}) {
    for (StatusFileSettings* file : {&handler->m_UpdateUsage, &handler->m_DumpChannels}) {
      if (file->m_Enable && !CheckFilePath(file->m_StatusFile, m_ConfigDirs.m_StatusDir, pool))
        return false;
    }
  }
  return true;
}

}  // namespace OXA_NS

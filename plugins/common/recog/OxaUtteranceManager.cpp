#include "OxaUtteranceManager.h"

#include <apr_time.h>

#include <cstring>

#include "OxaLog.h"
#include "engine/OxaConfigUtils.h"

namespace OXA_NS {

namespace {

void PutLe32(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

void PutLe16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}

bool WriteLe32At(apr_file_t* file, apr_off_t offset, uint32_t value) {
  if (apr_file_seek(file, APR_SET, &offset) != APR_SUCCESS) return false;
  unsigned char bytes[4];
  PutLe32(bytes, value);
  return apr_file_write_full(file, bytes, sizeof(bytes), nullptr) == APR_SUCCESS;
}

}  // namespace

bool UtteranceManager::Settings::Load(const apr_xml_elem* element) {
  for (const apr_xml_attr* attr = element->attr; attr; attr = attr->next) {
    apt_log(OXA_LOG_MARK, APT_PRIO_DEBUG, "Load Utterance Manager Attribute: %s = %s", attr->name, attr->value);
    if (LoadAttribute(attr, true)) continue;
    if (NameIs(attr->name, "save-waveforms"))
      LoadFolderBoolean(attr, true, m_SaveWaveforms);
    else if (NameIs(attr->name, "waveform-folder"))
      m_Folder = attr->value;
    else if (NameIs(attr->name, "waveform-base-uri"))
      m_BaseUri = attr->value;
    else
      apt_log(OXA_LOG_MARK, APT_PRIO_WARNING, "Unknown Utterance Manager Attribute <%s>", attr->name);
  }
  return true;
}

UtteranceManager::UtteranceManager(const Settings& settings)
    : detail::UtteranceLogFacilityHolder(settings.m_LogLevel),
      Trelka::FileManager(m_LogFacility),
      m_SaveWaveforms(settings.m_SaveWaveforms),
      m_BaseUri(settings.m_BaseUri),
      m_UseLoggingTag(settings.m_UseLoggingTag) {
  settings.Apply(*this);
}

bool UtteranceManager::ComposeName(std::string& name, const char* channelId, mrcp_request_id requestId,
                                   const std::string& loggingTag, apr_pool_t* /*pool*/) const {
  name = ComposeRecogFileName(m_FilePrefix, channelId, requestId, loggingTag, m_UseLoggingTag, 0, m_FileExtension);
  return true;
}

bool UtteranceManager::ComposeName(std::string& name, const char* channelId, mrcp_request_id requestId,
                                   const std::string& loggingTag, uint32_t samplingRate, apr_pool_t* /*pool*/) const {
  name = ComposeRecogFileName(m_FilePrefix, channelId, requestId, loggingTag, m_UseLoggingTag, samplingRate,
                              m_FileExtension);
  return true;
}

bool UtteranceManager::ComposePath(std::string& path, const std::string& name, apr_pool_t* pool) const {
  if (MergePath(m_Directory, name, APR_FILEPATH_NATIVE, path, pool)) return true;
  TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_WARNING, "Failed to Compose Waveform File Path for [%s]", name.c_str());
  return false;
}

bool UtteranceManager::ComposeUri(std::string& uri, const std::string& name, apr_pool_t* pool) const {
  std::string base = m_BaseUri;
  if (base.empty() || base.back() != '/') base += '/';
  if (MergePath(base, name, 0, uri, pool)) return true;
  TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_WARNING, "Failed to Compose Waveform URI for [%s]", name.c_str());
  return false;
}

void UtteranceManager::PrepareWaveHeader(uint32_t samplingRate, unsigned char* buffer, size_t& size) {
  memcpy(buffer, "RIFF", 4);
  PutLe32(buffer + 4, 0);
  memcpy(buffer + 8, "WAVEfmt ", 8);
  PutLe32(buffer + 16, 16);
  PutLe16(buffer + 20, 1);  // PCM
  PutLe16(buffer + 22, 1);  // mono
  PutLe32(buffer + 24, samplingRate);
  PutLe32(buffer + 28, samplingRate * 2);
  PutLe16(buffer + 32, 2);
  PutLe16(buffer + 34, 16);
  memcpy(buffer + 36, "data", 4);
  PutLe32(buffer + 40, 0);
  size = WAVE_HEADER_SIZE;
}

bool UtteranceManager::PrepareWaveHeader(apr_file_t* file, uint32_t samplingRate) {
  unsigned char header[WAVE_HEADER_SIZE];
  size_t size = 0;
  PrepareWaveHeader(samplingRate, header, size);
  return apr_file_write_full(file, header, size, nullptr) == APR_SUCCESS;
}

bool UtteranceManager::FinalizeWaveHeader(apr_file_t* file, uint32_t dataLength) {
  return WriteLe32At(file, 40, dataLength) && WriteLe32At(file, 4, dataLength + 36);
}

bool UtteranceManager::OpenWavefile(WaveFile& waveFile, uint32_t samplingRate, apr_pool_t* pool) {
  std::string path;
  if (!ComposePath(path, waveFile.m_Name, pool)) return false;
  TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_INFO, "Open Waveform File for Writing %s, sampling-rate [%d]",
              path.c_str(), static_cast<int>(samplingRate));
  apr_file_t* file = nullptr;
  if (apr_file_open(&file, path.c_str(), APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE | APR_FOPEN_BINARY,
                    APR_FPROT_OS_DEFAULT, pool) != APR_SUCCESS) {
    TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_WARNING, "Cannot Open Waveform File for Writing %s", path.c_str());
    return false;
  }
  if (!PrepareWaveHeader(file, samplingRate)) {
    TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_WARNING, "Cannot Open Waveform File for Writing %s", path.c_str());
    apr_file_close(file);
    return false;
  }
  waveFile.m_pFile = file;
  waveFile.m_DataLength = 0;
  return true;
}

bool UtteranceManager::WriteWavefile(WaveFile& waveFile, const void* data, apr_size_t size) {
  if (!waveFile.m_pFile) return false;
  if (apr_file_write_full(waveFile.m_pFile, data, size, nullptr) != APR_SUCCESS) return false;
  waveFile.m_DataLength += static_cast<uint32_t>(size);
  return true;
}

void UtteranceManager::CloseWavefile(WaveFile& waveFile, apr_time_t time) {
  if (!waveFile.m_pFile) return;
  TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_DEBUG, "Close Waveform File %s, content-length [%d]",
              waveFile.m_Name.c_str(), static_cast<int>(waveFile.m_DataLength));
  if (!FinalizeWaveHeader(waveFile.m_pFile, waveFile.m_DataLength))
    TRELKA_FLOG(m_LogFacility, Trelka::LOG_LEVEL_WARNING, "Failed to Finalize Waveform Header %s",
                waveFile.m_Name.c_str());
  apr_file_close(waveFile.m_pFile);
  waveFile.m_pFile = nullptr;
  AddFileEntry(waveFile.m_Name, static_cast<long>(time ? time : apr_time_now()));
}

}  // namespace OXA_NS

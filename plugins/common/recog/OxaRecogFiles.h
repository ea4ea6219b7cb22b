// What the utterance and detail-record managers share: the settings of a managed folder and the
// naming of the files of one recognition.
#ifndef OXA_RECOG_FILES_H
#define OXA_RECOG_FILES_H

#include <apr_pools.h>
#include <apr_xml.h>
#include <mrcphost/host_mrcp_message.h>
#include <trelka/TrelkaFileManager.h>
#include <trelka/TrelkaLogFacility.h>

#include <string>

#include "OxaNamespace.h"

namespace OXA_NS {

struct ManagedFolderSettings {
  ManagedFolderSettings(const std::string& filePrefix, const std::string& fileExt)
      : m_FilePrefix(filePrefix), m_FileExt(fileExt) {}

  // Stores one of the shared attributes (names without regard to case); false for any other.
  // anyCaseBooleans: "TRUE" and "False" count too.
  bool LoadAttribute(const apr_xml_attr* attr, bool anyCaseBooleans);
  // Directory, purge flag, limits, prefix and extension.
  void Apply(Trelka::FileManager& manager) const;

  bool m_PurgeExisting = false;
  unsigned m_MaxFileAge = 60;     // minutes, 0: keep
  unsigned m_MaxFileCount = 100;  // 0: no limit
  std::string m_Folder;           // resolved against the var directory by the engine
  std::string m_FilePrefix;
  std::string m_FileExt;
  Trelka::LogLevel m_LogLevel = Trelka::LOG_LEVEL_NOTICE;
  bool m_UseLoggingTag = false;
};

// A boolean attribute: exactly "true"/"false", or in any letter case; a bad value logs the usual
// warning and keeps the previous value.
void LoadFolderBoolean(const apr_xml_attr* attr, bool anyCase, bool& value);

// prefix + channel + "-" + request id [+ "-" + tag] [+ "-" + rate/1000 + "-kHz"] + extension.
// The tag comes from the client: path separators in it (or in the channel id) become '_', so
// the name always stays inside the folder.
std::string ComposeRecogFileName(const std::string& prefix, const char* channelId, mrcp_request_id requestId,
                                 const std::string& loggingTag, bool useLoggingTag, unsigned samplingRate,
                                 const std::string& extension);

// base merged with name (apr_filepath_merge with the given flags); false when the merge fails.
bool MergePath(const std::string& base, const std::string& name, apr_int32_t flags, std::string& result,
               apr_pool_t* pool);

}  // namespace OXA_NS

#endif  // OXA_RECOG_FILES_H

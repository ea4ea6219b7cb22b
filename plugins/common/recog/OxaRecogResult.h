// The results of one recognition as the service delivered them: the input of the NLSML
// composition and of the detail record.
#ifndef OXA_RECOG_RESULT_H
#define OXA_RECOG_RESULT_H

#include <list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "OxaNamespace.h"

namespace OXA_NS {

struct RecogAlternative {
  std::string m_Transcript;
  std::string m_Instance;  // the service's interpretation, where it gives one (Azure); may be empty
  float m_Confidence = 0.0f;
};

// The service's own result message, kept for the semantic tag formats.
class ServiceResult {
 public:
  virtual ~ServiceResult() {}
  // The message as XML elements, from nesting level `level` with `indent` spaces per level
  // (0: no line breaks); every element line ends with a line break.
  virtual void ComposeXml(std::ostream& stream, int level, int indent) const = 0;
  // The message as JSON text; false when it cannot be printed.
  virtual bool ComposeJson(std::string& json) const = 0;
};

// One final result of the service.
struct RecogResult {
  std::vector<RecogAlternative> m_Alternatives;  // in the order received, later sorted
  std::shared_ptr<const ServiceResult> m_pServiceResult;
};

typedef std::list<RecogResult> RecogResultList;

// Orders alternatives by descending confidence.
struct ResultComparator {
  bool operator()(const RecogAlternative& a, const RecogAlternative& b) const {
    return a.m_Confidence > b.m_Confidence;
  }
};

// Sorts the alternatives of every result by descending confidence.
void SortAlternatives(RecogResultList& results);

}  // namespace OXA_NS

#endif  // OXA_RECOG_RESULT_H

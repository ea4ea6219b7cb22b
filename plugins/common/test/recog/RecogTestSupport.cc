#include "RecogTestSupport.h"

#include <cstdlib>
#include <ctime>

extern "C" {
apt_log_source_t* ZORV_PLUGIN = nullptr;
}

namespace RecogTest {

namespace {

std::vector<std::string> g_Lines;

void OnLogRecord(const char* /*source*/, const char* /*file*/, int /*line*/, apt_log_priority_e /*priority*/,
                 const char* text, void* /*obj*/) {
  g_Lines.push_back(text);
}

// Host logger at debug with the lines captured; local time is UTC so dates are predictable.
class RecogEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    apr_initialize();
    apr_pool_create(&m_pPool, nullptr);
    apt_log_instance_create(APT_LOG_OUTPUT_NONE, APT_PRIO_DEBUG, m_pPool);
    apt_log_ext_handler_set(OnLogRecord, nullptr);
  }
  void TearDown() override {
    apt_log_instance_destroy();
    apr_pool_destroy(m_pPool);
    apr_terminate();
  }

 private:
  apr_pool_t* m_pPool = nullptr;
};

::testing::Environment* const g_Environment = ::testing::AddGlobalTestEnvironment(new RecogEnvironment);

}  // namespace

void LogCapture::Clear() { g_Lines.clear(); }

const std::vector<std::string>& LogCapture::Lines() { return g_Lines; }

bool LogCapture::Contains(const std::string& text) {
  for (const std::string& line : g_Lines) {
    if (line == text) return true;
  }
  return false;
}

void PoolTest::SetUp() {
  apr_pool_create(&m_pPool, nullptr);
  LogCapture::Clear();
}

void PoolTest::TearDown() { apr_pool_destroy(m_pPool); }

const apr_xml_elem* PoolTest::ParseXml(const std::string& text) {
  apr_xml_parser* parser = apr_xml_parser_create(m_pPool);
  apr_xml_doc* doc = nullptr;
  if (apr_xml_parser_feed(parser, text.data(), text.size()) != APR_SUCCESS ||
      apr_xml_parser_done(parser, &doc) != APR_SUCCESS || !doc) {
    ADD_FAILURE() << "not XML: " << text;
    return nullptr;
  }
  return doc->root;
}

mrcp_message_t* PoolTest::CreateRequest(mrcp_method_id method, const char* contentType, const char* contentId,
                                        const std::string& body) {
  mrcp_message_t* request = mrcp_request_create(MRCP_RECOGNIZER_RESOURCE, MRCP_VERSION_2, method, m_pPool);
  mrcp_generic_header_t* header = mrcp_generic_header_prepare(request);
  if (contentType) {
    apt_string_assign(&header->content_type, contentType, m_pPool);
    mrcp_generic_header_property_add(request, GENERIC_HEADER_CONTENT_TYPE);
  }
  if (contentId) {
    apt_string_assign(&header->content_id, contentId, m_pPool);
    mrcp_generic_header_property_add(request, GENERIC_HEADER_CONTENT_ID);
  }
  if (!body.empty()) mrcp_message_body_set(request, body.data(), body.size());
  return request;
}

bool IsWellFormedXml(const std::string& text, apr_pool_t* pool) {
  apr_xml_parser* parser = apr_xml_parser_create(pool);
  apr_xml_doc* doc = nullptr;
  return apr_xml_parser_feed(parser, text.data(), text.size()) == APR_SUCCESS &&
         apr_xml_parser_done(parser, &doc) == APR_SUCCESS && doc && doc->root;
}

}  // namespace RecogTest

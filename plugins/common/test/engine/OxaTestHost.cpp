#include "OxaTestHost.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

// The Google recognizer brings Debian's gRPC, Abseil and OpenSSL, which are not built for
// ThreadSanitizer: it cannot see their own synchronisation and reports races between their
// internal threads.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libgrpc.so\n"
         "race:libgrpc++.so\n"
         "race:libgpr.so\n"
         "race:libabsl_\n"
         "race:libcrypto.so\n"
         "race:libssl.so\n";
}

namespace OxaTest {

// ---------- LogCapture ----------

LogCapture::LogCapture() {
  apt_log_instance_create(APT_LOG_OUTPUT_NONE, APT_PRIO_DEBUG, nullptr);
  apt_log_ext_handler_set(Handler, this);
}

LogCapture::~LogCapture() {
  apt_log_ext_handler_set(nullptr, nullptr);
}

void LogCapture::Handler(const char* source, const char*, int, apt_log_priority_e priority, const char* text,
                         void* obj) {
  LogCapture* capture = static_cast<LogCapture*>(obj);
  std::lock_guard<std::mutex> lock(capture->m_Mutex);
  capture->m_Lines.push_back(Line{source ? source : "", priority, text ? text : ""});
  capture->m_Cond.notify_all();
}

size_t LogCapture::Count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  size_t count = 0;
  for (const Line& line : m_Lines)
    if (line.m_Text.find(text) != std::string::npos)
      count++;
  return count;
}

bool LogCapture::WaitFor(const std::string& text, size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  return m_Cond.wait_for(lock, timeout, [&] {
    size_t found = 0;
    for (const Line& line : m_Lines)
      if (line.m_Text.find(text) != std::string::npos)
        found++;
    return found >= count;
  });
}

std::vector<LogCapture::Line> LogCapture::Lines() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Lines;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Lines.clear();
}

// ---------- TempLayout ----------

TempLayout::TempLayout(apr_pool_t* pool) {
  char pattern[] = "/tmp/oxa-engine-XXXXXX";
  const char* root = mkdtemp(pattern);
  m_Root = root ? root : "/tmp";
  for (const char* dir : {"conf", "data", "var", "var/status"})
    mkdir(Path(dir).c_str(), 0755);
  m_pLayout = apt_default_dir_layout_create(m_Root.c_str(), pool);
}

TempLayout::~TempLayout() {
  std::error_code ec;
  std::filesystem::remove_all(m_Root, ec);
}

void TempLayout::WriteFile(const std::string& relative, const std::string& content) const {
  std::ofstream file(Path(relative), std::ios::out | std::ios::trunc | std::ios::binary);
  file << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// ---------- TestHost ----------

static const mrcp_engine_event_vtable_t g_EngineEvents = {TestHost::OnEngineOpen, TestHost::OnEngineClose};
static const mrcp_engine_channel_event_vtable_t g_ChannelEvents = {TestHost::OnChannelOpen, TestHost::OnChannelClose,
                                                                   TestHost::OnChannelMessage};

TestHost::TestHost(apr_pool_t* pool)
    : m_pPool(pool), m_pEngine(nullptr), m_OpenResponses(0), m_OpenStatus(false), m_CloseResponses(0) {}

TestHost::~TestHost() {
  for (auto& channel : m_Channels)
    DestroyChannel(channel.get());
}

void TestHost::Attach(mrcp_engine_t* engine, const apt_dir_layout_t* layout, apr_size_t maxChannels) {
  m_pEngine = engine;
  engine->id = "test-engine";
  engine->event_vtable = &g_EngineEvents;
  engine->event_obj = this;
  engine->dir_layout = layout;
  engine->max_channel_count = maxChannels;
}

bool TestHost::Wait(const std::function<bool()>& done) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  return m_Cond.wait_for(lock, std::chrono::seconds(10), done);
}

apt_bool_t TestHost::OnEngineOpen(mrcp_engine_t* engine, apt_bool_t status) {
  TestHost* host = static_cast<TestHost*>(engine->event_obj);
  std::lock_guard<std::mutex> lock(host->m_Mutex);
  host->m_OpenResponses++;
  host->m_OpenStatus = status != FALSE;
  host->m_Cond.notify_all();
  return TRUE;
}

apt_bool_t TestHost::OnEngineClose(mrcp_engine_t* engine) {
  TestHost* host = static_cast<TestHost*>(engine->event_obj);
  std::lock_guard<std::mutex> lock(host->m_Mutex);
  host->m_CloseResponses++;
  host->m_Cond.notify_all();
  return TRUE;
}

apt_bool_t TestHost::OnChannelOpen(mrcp_engine_channel_t* channel, apt_bool_t status) {
  ChannelRecord* record = static_cast<ChannelRecord*>(channel->event_obj);
  std::lock_guard<std::mutex> lock(record->m_pHost->m_Mutex);
  record->m_OpenResponses++;
  record->m_OpenStatus = status != FALSE;
  record->m_pHost->m_Cond.notify_all();
  return TRUE;
}

apt_bool_t TestHost::OnChannelClose(mrcp_engine_channel_t* channel) {
  ChannelRecord* record = static_cast<ChannelRecord*>(channel->event_obj);
  std::lock_guard<std::mutex> lock(record->m_pHost->m_Mutex);
  record->m_CloseResponses++;
  record->m_pHost->m_Cond.notify_all();
  return TRUE;
}

apt_bool_t TestHost::OnChannelMessage(mrcp_engine_channel_t* channel, mrcp_message_t* message) {
  ChannelRecord* record = static_cast<ChannelRecord*>(channel->event_obj);
  std::lock_guard<std::mutex> lock(record->m_pHost->m_Mutex);
  record->m_Messages.push_back(message);
  record->m_pHost->m_Cond.notify_all();
  return TRUE;
}

bool TestHost::OpenEngine() {
  int before = OpenResponses();
  if (!m_pEngine->method_vtable->open(m_pEngine))
    return false;
  if (!Wait([&] { return m_OpenResponses > before; }))
    return false;
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_OpenStatus;
}

bool TestHost::CloseEngine() {
  int before = CloseResponses();
  m_pEngine->method_vtable->close(m_pEngine);
  return Wait([&] { return m_CloseResponses > before; });
}

bool TestHost::DestroyEngine() {
  for (auto& channel : m_Channels)
    DestroyChannel(channel.get());
  bool result = m_pEngine->method_vtable->destroy(m_pEngine) != FALSE;
  m_pEngine = nullptr;
  return result;
}

int TestHost::OpenResponses() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_OpenResponses;
}

int TestHost::CloseResponses() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_CloseResponses;
}

TestHost::ChannelRecord* TestHost::CreateChannel(const std::string& id) {
  std::unique_ptr<ChannelRecord> record(new ChannelRecord());
  record->m_pHost = this;
  record->m_Id = id;
  apr_pool_create(&record->m_pPool, m_pPool);
  record->m_pHandle = m_pEngine->method_vtable->create_channel(m_pEngine, record->m_pPool);
  if (!record->m_pHandle)
    return nullptr;
  record->m_pHandle->event_vtable = &g_ChannelEvents;
  record->m_pHandle->event_obj = record.get();
  apt_string_assign(&record->m_pHandle->id, id.c_str(), record->m_pPool);
  m_Channels.push_back(std::move(record));
  return m_Channels.back().get();
}

bool TestHost::OpenChannel(ChannelRecord* channel) {
  if (!channel->m_pHandle->method_vtable->open(channel->m_pHandle))
    return false;
  if (!Wait([&] { return channel->m_OpenResponses > 0; }))
    return false;
  std::lock_guard<std::mutex> lock(m_Mutex);
  return channel->m_OpenStatus;
}

bool TestHost::CloseChannel(ChannelRecord* channel) {
  int before;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    before = channel->m_CloseResponses;
  }
  if (!channel->m_pHandle->method_vtable->close(channel->m_pHandle))
    return false;
  return Wait([&] { return channel->m_CloseResponses > before; });
}

mrcp_message_t* TestHost::Request(ChannelRecord* channel, mrcp_method_id method) {
  size_t before;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    before = channel->m_Messages.size();
  }
  mrcp_message_t* request = mrcp_request_create(m_pEngine->resource_id, MRCP_VERSION_2, method, channel->m_pPool);
  request->start_line.request_id = before + 1;
  if (!channel->m_pHandle->method_vtable->process_request(channel->m_pHandle, request))
    return nullptr;
  if (!Wait([&] { return channel->m_Messages.size() > before; }))
    return nullptr;
  std::lock_guard<std::mutex> lock(m_Mutex);
  return channel->m_Messages[before];
}

void TestHost::DestroyChannel(ChannelRecord* channel) {
  if (!channel->m_pHandle)
    return;
  channel->m_pHandle->method_vtable->destroy(channel->m_pHandle);
  channel->m_pHandle = nullptr;
  apr_pool_destroy(channel->m_pPool);
  channel->m_pPool = nullptr;
}

}  // namespace OxaTest

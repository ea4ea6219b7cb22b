// MRCP messages: creation, header presence, names, and the wire text both ways.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "mrcphost/host_mrcp_text.h"
#include "mrcphost/mrcphost.h"
#include "test_util.h"

namespace {

using mrcphost::test::PoolTest;
using mrcphost::test::Str;

// Builds a wire message with a correct length field from its text after the start line fields.
std::string WithLength(const std::string &rest_of_start_line, const std::string &after_start_line) {
  for (size_t digits = 1;; ++digits) {
    size_t total = strlen("MRCP/2.0 ") + digits + 1 + rest_of_start_line.size() + 2 + after_start_line.size();
    if (std::to_string(total).size() == digits) {
      return "MRCP/2.0 " + std::to_string(total) + " " + rest_of_start_line + "\r\n" + after_start_line;
    }
  }
}

class MessageTest : public PoolTest {
 protected:
  mrcp_message_t *Parse(const std::string &text, mrcp_text_error_t *error = nullptr,
                        mrcp_parse_mode_e mode = MRCP_PARSE_WIRE, apr_size_t *consumed = nullptr) {
    mrcp_text_error_t local;
    return mrcp_message_parse(text.data(), text.size(), MRCP_RECOGNIZER_RESOURCE, mode, consumed,
                              error ? error : &local, Pool());
  }
  std::string Write(const mrcp_message_t *message) {
    apt_str_t text;
    EXPECT_TRUE(mrcp_message_write(message, &text, Pool()));
    return Str(text);
  }
};

TEST_F(MessageTest, ResponseAndEventFollowTheRequest) {
  mrcp_message_t *request = mrcp_request_create(MRCP_RECOGNIZER_RESOURCE, MRCP_VERSION_2, RECOGNIZER_RECOGNIZE, Pool());
  request->start_line.request_id = 7;
  apt_string_set(&request->channel_id.session_id, "32AECB23433801");

  mrcp_message_t *response = mrcp_response_create(request, Pool());
  EXPECT_EQ(response->start_line.message_type, MRCP_MESSAGE_TYPE_RESPONSE);
  EXPECT_EQ(response->start_line.status_code, MRCP_STATUS_CODE_SUCCESS);
  EXPECT_EQ(response->start_line.request_state, MRCP_REQUEST_STATE_COMPLETE);
  EXPECT_EQ(response->start_line.request_id, 7u);
  EXPECT_EQ(response->start_line.method_id, static_cast<mrcp_method_id>(RECOGNIZER_RECOGNIZE));
  EXPECT_EQ(Str(response->channel_id.session_id), "32AECB23433801");

  mrcp_message_t *event = mrcp_event_create(request, RECOGNIZER_RECOGNITION_COMPLETE, Pool());
  EXPECT_EQ(event->start_line.message_type, MRCP_MESSAGE_TYPE_EVENT);
  EXPECT_EQ(event->start_line.request_state, MRCP_REQUEST_STATE_INPROGRESS);
  EXPECT_EQ(Str(event->start_line.method_name), "RECOGNITION-COMPLETE");
  EXPECT_EQ(event->start_line.request_id, 7u);
  EXPECT_EQ(event->recog_header.completion_cause, RECOGNIZER_COMPLETION_CAUSE_UNKNOWN);
}

TEST_F(MessageTest, HeaderIndexesFollowTheResourceOrder) {
  // Generic headers first, then the resource's, as plugins test presence by combined index.
  struct Case {
    mrcp_resource_id resource;
    const char *name;
    apr_size_t index;
  };
  const Case cases[] = {
      {MRCP_RECOGNIZER_RESOURCE, "Content-Type", 3},
      {MRCP_RECOGNIZER_RESOURCE, "Logging-Tag", 10},
      {MRCP_RECOGNIZER_RESOURCE, "Vendor-Specific-Parameters", 11},
      {MRCP_RECOGNIZER_RESOURCE, "Confidence-Threshold", 16},
      {MRCP_RECOGNIZER_RESOURCE, "Sensitivity-Level", 17},
      {MRCP_RECOGNIZER_RESOURCE, "N-Best-List-Length", 19},
      {MRCP_RECOGNIZER_RESOURCE, "No-Input-Timeout", 20},
      {MRCP_RECOGNIZER_RESOURCE, "Recognition-Timeout", 21},
      {MRCP_RECOGNIZER_RESOURCE, "Waveform-URI", 22},
      {MRCP_RECOGNIZER_RESOURCE, "Completion-Cause", 23},
      {MRCP_RECOGNIZER_RESOURCE, "Start-Input-Timers", 25},
      {MRCP_RECOGNIZER_RESOURCE, "DTMF-Term-Char", 30},
      {MRCP_RECOGNIZER_RESOURCE, "Save-Waveform", 33},
      {MRCP_RECOGNIZER_RESOURCE, "Speech-Language", 35},
      {MRCP_RECOGNIZER_RESOURCE, "Input-Type", 36},
      {MRCP_RECOGNIZER_RESOURCE, "Media-Type", 39},
      {MRCP_RECOGNIZER_RESOURCE, "Recognition-Mode", 41},
      {MRCP_RECOGNIZER_RESOURCE, "Early-No-Match", 48},
      {MRCP_SYNTHESIZER_RESOURCE, "Completion-Cause", 19},
      {MRCP_SYNTHESIZER_RESOURCE, "Voice-Gender", 21},
      {MRCP_SYNTHESIZER_RESOURCE, "Voice-Name", 24},
      {MRCP_SYNTHESIZER_RESOURCE, "Prosody-Volume", 25},
      {MRCP_SYNTHESIZER_RESOURCE, "Prosody-Rate", 26},
      {MRCP_SYNTHESIZER_RESOURCE, "Speech-Language", 28},
      {MRCP_SYNTHESIZER_RESOURCE, "Lexicon-Search-Order", 36},
  };
  for (const Case &c : cases) EXPECT_EQ(mrcp_header_index_find(c.resource, c.name), c.index) << c.name;
  EXPECT_EQ(mrcp_header_index_find(MRCP_RECOGNIZER_RESOURCE, "Voice-Name"), ~apr_size_t{0});
}

TEST_F(MessageTest, PresenceIsPerIndexAndPerResource) {
  mrcp_message_t *m = mrcp_message_create(MRCP_SYNTHESIZER_RESOURCE, MRCP_VERSION_2, Pool());
  mrcp_resource_header_property_add(m, SYNTHESIZER_HEADER_VOICE_NAME);
  mrcp_generic_header_property_add(m, GENERIC_HEADER_CONTENT_TYPE);
  EXPECT_TRUE(mrcp_header_property_check(m, GENERIC_HEADER_COUNT + SYNTHESIZER_HEADER_VOICE_NAME));
  EXPECT_TRUE(mrcp_generic_header_property_check(m, GENERIC_HEADER_CONTENT_TYPE));
  EXPECT_FALSE(mrcp_generic_header_property_check(m, GENERIC_HEADER_CONTENT_ID));
  // An id beyond the synthesizer's headers is no header at all.
  mrcp_resource_header_property_add(m, RECOGNIZER_HEADER_EARLY_NO_MATCH);
  EXPECT_FALSE(mrcp_resource_header_property_check(m, RECOGNIZER_HEADER_EARLY_NO_MATCH));
  mrcp_resource_header_property_remove(m, SYNTHESIZER_HEADER_VOICE_NAME);
  EXPECT_FALSE(mrcp_resource_header_property_check(m, SYNTHESIZER_HEADER_VOICE_NAME));
  EXPECT_EQ(mrcp_resource_header_get(m), &m->synth_header);
}

TEST_F(MessageTest, CompletionCauseNamesPerVersion) {
  struct Case {
    int cause;
    mrcp_version_e version;
    const char *name;  // null: none
  };
  const Case recog[] = {{0, MRCP_VERSION_2, "success"},        {2, MRCP_VERSION_2, "no-input-timeout"},
                        {4, MRCP_VERSION_2, "grammar-load-failure"}, {6, MRCP_VERSION_2, "recognizer-error"},
                        {8, MRCP_VERSION_2, "success-maxtime"}, {11, MRCP_VERSION_2, "cancelled"},
                        {15, MRCP_VERSION_2, "no-match-maxtime"}, {16, MRCP_VERSION_2, "grammar-definition-failure"},
                        {17, MRCP_VERSION_2, nullptr},          {3, MRCP_VERSION_1, "recognition-timeout"},
                        {4, MRCP_VERSION_1, "gram-load-failure"}, {6, MRCP_VERSION_1, "error"},
                        {10, MRCP_VERSION_1, "language-unsupported"}, {11, MRCP_VERSION_1, nullptr}};
  auto check = [](const Case &c, const apt_str_t *name) {
    if (c.name) {
      ASSERT_NE(name, nullptr) << c.cause;
      EXPECT_EQ(Str(*name), c.name);
    } else {
      EXPECT_EQ(name, nullptr) << c.cause;
    }
  };
  for (const Case &c : recog) {
    check(c, mrcp_recog_completion_cause_get(static_cast<mrcp_recog_completion_cause_e>(c.cause), c.version));
  }
  const Case synth[] = {{0, MRCP_VERSION_2, "normal"},   {4, MRCP_VERSION_2, "error"},
                        {6, MRCP_VERSION_2, "lexicon-load-failure"}, {7, MRCP_VERSION_2, "cancelled"},
                        {8, MRCP_VERSION_2, nullptr},    {5, MRCP_VERSION_1, "language-unsupported"},
                        {7, MRCP_VERSION_1, nullptr}};
  for (const Case &c : synth) {
    check(c, mrcp_synth_completion_cause_get(static_cast<mrcp_synth_completion_cause_e>(c.cause), c.version));
  }
}

TEST_F(MessageTest, ParsesARequestWithTypedHeadersAndABodyWithBlankLines) {
  const std::string body = "<?xml version=\"1.0\"?>\r\n\r\n<grammar>\r\n\r\n</grammar>\r\n";
  const std::string text = WithLength(
      "RECOGNIZE 543257",
      "Channel-Identifier: 32AECB23433801@speechrecog\r\n"
      "Content-Type: application/srgs+xml\r\n"
      "Vendor-Specific-Parameters: com.example.a=1;q=\"x;y\"\r\n"
      "Confidence-Threshold: 0.9\r\n"
      "No-Input-Timeout: 5000\r\n"
      "Start-Input-Timers: false\r\n"
      "DTMF-Term-Char: #\r\n"
      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  mrcp_text_error_t error;
  mrcp_message_t *m = Parse(text, &error);
  ASSERT_NE(m, nullptr) << error.text;
  EXPECT_EQ(m->start_line.message_type, MRCP_MESSAGE_TYPE_REQUEST);
  EXPECT_EQ(m->start_line.method_id, static_cast<mrcp_method_id>(RECOGNIZER_RECOGNIZE));
  EXPECT_EQ(m->start_line.request_id, 543257u);
  EXPECT_EQ(Str(m->channel_id.session_id), "32AECB23433801");
  EXPECT_EQ(m->resource, static_cast<mrcp_resource_id>(MRCP_RECOGNIZER_RESOURCE));
  EXPECT_FLOAT_EQ(m->recog_header.confidence_threshold, 0.9f);
  EXPECT_EQ(m->recog_header.no_input_timeout, 5000u);
  EXPECT_TRUE(mrcp_resource_header_property_check(m, RECOGNIZER_HEADER_START_INPUT_TIMERS));
  EXPECT_FALSE(m->recog_header.start_input_timers);
  EXPECT_EQ(m->recog_header.dtmf_term_char, '#');
  ASSERT_TRUE(mrcp_generic_header_property_check(m, GENERIC_HEADER_VENDOR_SPECIFIC_PARAMS));
  EXPECT_EQ(Str(apt_pair_array_find(m->generic_header.vendor_specific_params, "q")->value), "\"x;y\"");
  EXPECT_EQ(Str(m->body), body);
  EXPECT_EQ(Write(m), text);
}

TEST_F(MessageTest, RoundTripsEveryKindOfStartLine) {
  const std::string texts[] = {
      WithLength("543257 200 IN-PROGRESS", "Channel-Identifier: a1@speechrecog\r\n\r\n"),
      WithLength("START-OF-INPUT 543257 IN-PROGRESS",
                 "Channel-Identifier: a1@speechrecog\r\nInput-Type: speech\r\n\r\n"),
      WithLength("SPEAK-COMPLETE 12 COMPLETE",
                 "Channel-Identifier: s9@speechsynth\r\nCompletion-Cause: 000 normal\r\n\r\n"),
      WithLength("SPEAK 12",
                 "Channel-Identifier: s9@speechsynth\r\nContent-Type: text/plain\r\nKill-On-Barge-In: true\r\n"
                 "Voice-Gender: female\r\nVoice-Age: 30\r\nProsody-Volume: loud\r\nProsody-Rate: 1.2\r\n"
                 "Content-Length: 5\r\n\r\nhello"),
      "MRCP/1.0 5 200 COMPLETE\r\nCompletion-Cause: 001 no-match\r\n\r\n",
      "RECOGNIZE 5 MRCP/1.0\r\nConfidence-Threshold: 90\r\nContent-Length: 3\r\n\r\nabc",
      "RECOGNITION-COMPLETE 5 COMPLETE MRCP/1.0\r\nCompletion-Cause: 002 no-input-timeout\r\n\r\n",
  };
  for (const std::string &text : texts) {
    mrcp_text_error_t error;
    apr_size_t consumed = 0;
    mrcp_message_t *m = Parse(text, &error, MRCP_PARSE_WIRE, &consumed);
    ASSERT_NE(m, nullptr) << text << "\n" << error.text;
    EXPECT_EQ(consumed, text.size());
    EXPECT_EQ(Write(m), text);
  }
}

TEST_F(MessageTest, KeepsUnknownAndRepeatedHeaders) {
  const std::string text = WithLength(
      "1 200 COMPLETE",
      "Channel-Identifier: a1@speechrecog\r\nX-Trace: one\r\nActive-Request-Id-List: 3\r\n"
      "X-Trace: two\r\nActive-Request-Id-List: 4\r\nLogging-Tag: old\r\nLogging-Tag: new\r\n"
      "Vendor-Specific-Parameters: a=1\r\nVendor-Specific-Parameters: b=2\r\n\r\n");
  mrcp_message_t *m = Parse(text);
  ASSERT_NE(m, nullptr);
  ASSERT_NE(m->unknown_headers, nullptr);
  ASSERT_EQ(m->unknown_headers->nelts, 2);
  EXPECT_EQ(Str(APR_ARRAY_IDX(m->unknown_headers, 1, apt_header_field_t).value), "two");
  EXPECT_EQ(Str(m->generic_header.active_request_id_list), "3, 4");  // list headers combine
  EXPECT_EQ(Str(m->generic_header.logging_tag), "new");              // a single value: the last wins
  EXPECT_EQ(apt_pair_array_size_get(m->generic_header.vendor_specific_params), 2);
  const std::string written = Write(m);
  EXPECT_NE(written.find("X-Trace: one\r\nX-Trace: two\r\n"), std::string::npos);
  EXPECT_NE(written.find("Vendor-Specific-Parameters: a=1;b=2\r\n"), std::string::npos);
}

TEST_F(MessageTest, EmptyTypedValuesMarkTheHeaderPresent) {
  // GET-PARAMS names the parameters it asks for with empty values.
  const std::string text = WithLength("GET-PARAMS 2",
                                      "Channel-Identifier: a1@speechrecog\r\nNo-Input-Timeout:\r\n"
                                      "Confidence-Threshold: \r\n\r\n");
  mrcp_message_t *m = Parse(text);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(mrcp_resource_header_property_check(m, RECOGNIZER_HEADER_NO_INPUT_TIMEOUT));
  EXPECT_TRUE(mrcp_resource_header_property_check(m, RECOGNIZER_HEADER_CONFIDENCE_THRESHOLD));
}

TEST_F(MessageTest, RejectsBadInputNamingTheLine) {
  struct Case {
    std::string text;
    apr_size_t line;
    const char *says;
  };
  const std::string good_head = "Channel-Identifier: a1@speechrecog\r\n";
  const Case cases[] = {
      {"", 0, "empty message"},
      {"HELLO WORLD\r\n\r\n", 1, "not an MRCP start line"},
      {"MRCP/3.0 20 STOP 1\r\n\r\n", 1, "not an MRCP start line"},
      {WithLength("FROBNICATE 1", good_head + "\r\n"), 1, "unknown speechrecog method"},
      {WithLength("STOP 99999999999", good_head + "\r\n"), 1, "bad request id"},
      {WithLength("1 2000 COMPLETE", good_head + "\r\n"), 1, "bad status code"},
      {WithLength("1 200 DONE", good_head + "\r\n"), 1, "bad request state"},
      {WithLength("STOP 1", "\r\n"), 0, "missing Channel-Identifier"},
      {WithLength("STOP 1", "Channel-Identifier: a1@speechfoo\r\n\r\n"), 2, "unknown resource"},
      {WithLength("STOP 1", good_head + "No-Input-Timeout: soon\r\n\r\n"), 3, "expected a decimal number"},
      {WithLength("STOP 1", good_head + "Confidence-Threshold: 1.5\r\n\r\n"), 3, "out of range"},
      {WithLength("STOP 1", good_head + "Save-Waveform: yes\r\n\r\n"), 3, "expected true or false"},
      {WithLength("STOP 1", good_head + "Just text\r\n\r\n"), 3, "header without ':'"},
      {WithLength("STOP 1", good_head + "Vendor-Specific-Parameters: a=\"open\r\n\r\n"), 3, "a quote left open"},
      {WithLength("STOP 1", good_head + "Logging-Tag: a\x01z\r\n\r\n"), 3, "control character 0x01"},
      {"MRCP/2.0 500 STOP 1\r\n" + good_head + "\r\n", 1, "truncated"},
      {"MRCP/2.0 10 STOP 1\r\n" + good_head + "\r\n", 1, "shorter than"},
      {WithLength("STOP 1", good_head + "Content-Length: 9\r\n\r\nabc"), 0, "does not match"},
      {WithLength("STOP 1", good_head), 0, "no empty line"},
      {"MRCP/2.0 2", 1, "expected 4 or 5 fields"},
      {"RECOGNIZE 5 MRCP/1.0\r\nContent-Length: 30\r\n\r\nabc", 0, "truncated"},
  };
  for (const Case &c : cases) {
    mrcp_text_error_t error;
    EXPECT_EQ(Parse(c.text, &error), nullptr) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text << "\n" << error.text;
    EXPECT_NE(std::string(error.text).find(c.says), std::string::npos) << error.text;
  }
}

TEST_F(MessageTest, ParsesOneMessageOfAStreamAndLeavesTheRest) {
  const std::string first = WithLength("STOP 1", "Channel-Identifier: a1@speechrecog\r\n\r\n");
  const std::string second = WithLength("STOP 2", "Channel-Identifier: a1@speechrecog\r\n\r\n");
  const std::string stream = first + second;
  apr_size_t consumed = 0;
  mrcp_message_t *m = Parse(stream, nullptr, MRCP_PARSE_WIRE, &consumed);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(consumed, first.size());
  m = Parse(stream.substr(consumed), nullptr, MRCP_PARSE_WIRE, &consumed);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->start_line.request_id, 2u);
}

TEST_F(MessageTest, TemplateTakesTheMethodAloneAndTheRestAsBody) {
  const std::string text = "define-grammar\nContent-Type: application/srgs+xml\nContent-Id: <g1>\n\n<grammar>\n\n</grammar>";
  mrcp_text_error_t error;
  mrcp_message_t *m = Parse(text, &error, MRCP_PARSE_TEMPLATE);
  ASSERT_NE(m, nullptr) << error.text;
  EXPECT_EQ(m->start_line.method_id, static_cast<mrcp_method_id>(RECOGNIZER_DEFINE_GRAMMAR));
  EXPECT_EQ(Str(m->body), "<grammar>\n\n</grammar>");
  EXPECT_EQ(m->generic_header.content_length, m->body.length);
  m->start_line.request_id = 3;
  apt_string_set(&m->channel_id.session_id, "ab12");
  const std::string written = Write(m);
  EXPECT_EQ(written.find("MRCP/2.0 "), 0u);
  EXPECT_NE(written.find("DEFINE-GRAMMAR 3\r\nChannel-Identifier: ab12@speechrecog\r\n"), std::string::npos);
  EXPECT_NE(written.find("Content-Length: 21\r\n\r\n<grammar>"), std::string::npos);
  ASSERT_NE(Parse(written), nullptr);
  ASSERT_NE(Parse("STOP", &error, MRCP_PARSE_TEMPLATE), nullptr) << error.text;
}

TEST_F(MessageTest, WritesTypedValuesPerVersion) {
  mrcp_message_t *m = mrcp_request_create(MRCP_RECOGNIZER_RESOURCE, MRCP_VERSION_1, RECOGNIZER_RECOGNIZE, Pool());
  m->recog_header.confidence_threshold = 0.75f;
  mrcp_resource_header_property_add(m, RECOGNIZER_HEADER_CONFIDENCE_THRESHOLD);
  m->recog_header.completion_cause = RECOGNIZER_COMPLETION_CAUSE_ERROR;
  mrcp_resource_header_property_add(m, RECOGNIZER_HEADER_COMPLETION_CAUSE);
  apt_str_t value;
  ASSERT_TRUE(mrcp_header_value_write(m, GENERIC_HEADER_COUNT + RECOGNIZER_HEADER_CONFIDENCE_THRESHOLD, &value, Pool()));
  EXPECT_EQ(Str(value), "75");
  ASSERT_TRUE(mrcp_header_value_write(m, GENERIC_HEADER_COUNT + RECOGNIZER_HEADER_COMPLETION_CAUSE, &value, Pool()));
  EXPECT_EQ(Str(value), "006 error");
  m->start_line.version = MRCP_VERSION_2;
  ASSERT_TRUE(mrcp_header_value_write(m, GENERIC_HEADER_COUNT + RECOGNIZER_HEADER_CONFIDENCE_THRESHOLD, &value, Pool()));
  EXPECT_EQ(Str(value), "0.75");
  ASSERT_TRUE(mrcp_header_value_write(m, GENERIC_HEADER_COUNT + RECOGNIZER_HEADER_COMPLETION_CAUSE, &value, Pool()));
  EXPECT_EQ(Str(value), "006 recognizer-error");
}

TEST_F(MessageTest, ProsodyValuesParseAsWordsOrNumbers) {
  mrcp_message_t *m = mrcp_message_create(MRCP_SYNTHESIZER_RESOURCE, MRCP_VERSION_2, Pool());
  mrcp_text_error_t error;
  ASSERT_TRUE(mrcp_header_value_parse(m, "Prosody-Rate", "+20%", &error));
  EXPECT_EQ(m->synth_header.prosody_param.rate.type, PROSODY_RATE_TYPE_RELATIVE_CHANGE);
  EXPECT_FLOAT_EQ(m->synth_header.prosody_param.rate.value.relative, 1.2f);
  ASSERT_TRUE(mrcp_header_value_parse(m, "prosody-rate", "x-fast", &error));
  EXPECT_EQ(m->synth_header.prosody_param.rate.value.label, PROSODY_RATE_XFAST);
  ASSERT_TRUE(mrcp_header_value_parse(m, "Prosody-Volume", "-6dB", &error));
  EXPECT_EQ(m->synth_header.prosody_param.volume.type, PROSODY_VOLUME_TYPE_RELATIVE_CHANGE);
  EXPECT_FLOAT_EQ(m->synth_header.prosody_param.volume.value.relative, -6.0f);
  apt_str_t value;
  ASSERT_TRUE(mrcp_header_value_write(m, GENERIC_HEADER_COUNT + SYNTHESIZER_HEADER_PROSODY_VOLUME, &value, Pool()));
  EXPECT_EQ(Str(value), "-6");
  ASSERT_TRUE(mrcp_header_value_parse(m, "Prosody-Volume", "80", &error));
  EXPECT_EQ(m->synth_header.prosody_param.volume.type, PROSODY_VOLUME_TYPE_NUMERIC);
  EXPECT_FALSE(mrcp_header_value_parse(m, "Prosody-Volume", "deafening", &error));
  EXPECT_FALSE(mrcp_header_value_parse(m, "Voice-Gender", "robot", &error));
  ASSERT_TRUE(mrcp_header_value_parse(m, "X-Custom", "kept", &error));
  EXPECT_EQ(m->unknown_headers->nelts, 1);
}

}  // namespace

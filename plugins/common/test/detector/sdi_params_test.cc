// Loading the speech-dtmf-input-detector element, and the names of the enumerations.
#include "mpf_sdi_util.h"

#include <apr_general.h>
#include <apr_xml.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class SdiParamsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }
  void SetUp() override { apr_pool_create(&pool_, nullptr); }
  void TearDown() override { apr_pool_destroy(pool_); }

  // Defaults, then the attributes of one element.
  mpf_sdi_params_t Load(const std::string& attributes) {
    std::string text = "<speech-dtmf-input-detector " + attributes + "/>";
    apr_xml_parser* parser = apr_xml_parser_create(pool_);
    apr_xml_doc* doc = nullptr;
    EXPECT_EQ(APR_SUCCESS, apr_xml_parser_feed(parser, text.data(), text.size()));
    EXPECT_EQ(APR_SUCCESS, apr_xml_parser_done(parser, &doc));
    mpf_sdi_params_t params;
    mpf_sdi_params_init(&params);
    EXPECT_TRUE(mpf_sdi_params_load(&params, doc ? doc->root : nullptr, pool_));
    return params;
  }

  apr_pool_t* pool_ = nullptr;
};

// Field by field, so that a failure names the field.
void ExpectParams(const mpf_sdi_params_t& want, const mpf_sdi_params_t& got) {
#define SDI_EXPECT_FIELD(field) EXPECT_EQ(want.field, got.field) << #field
  SDI_EXPECT_FIELD(input_mode);
  SDI_EXPECT_FIELD(vad_mode);
  SDI_EXPECT_FIELD(speech_start_timeout);
  SDI_EXPECT_FIELD(speech_complete_timeout);
  SDI_EXPECT_FIELD(speech_incomplete_timeout);
  SDI_EXPECT_FIELD(noinput_timeout);
  SDI_EXPECT_FIELD(input_timeout);
  SDI_EXPECT_FIELD(dtmf_interdigit_timeout);
  SDI_EXPECT_FIELD(dtmf_term_timeout);
  SDI_EXPECT_FIELD(dtmf_term_char);
  SDI_EXPECT_FIELD(dtmf_length);
  SDI_EXPECT_FIELD(dtmf_min_length);
  SDI_EXPECT_FIELD(dtmf_max_length);
  SDI_EXPECT_FIELD(normalize_input);
  SDI_EXPECT_FIELD(speech_leading_silence);
  SDI_EXPECT_FIELD(speech_trailing_silence);
  SDI_EXPECT_FIELD(speech_output_period);
#undef SDI_EXPECT_FIELD
}

TEST_F(SdiParamsTest, Defaults) {
  ExpectParams({MPF_SDI_MODE_BOTH, 2, 300, 1000, 3000, 10000, 20000, 5000, 5000, 0, 0, 0, 0, TRUE, 50, 50, 80},
               Load(""));
}

TEST_F(SdiParamsTest, EveryAttribute) {
  ExpectParams({MPF_SDI_MODE_SPEECH, 3, 250, 800, 2500, 7000, 15000, 4000, 3000, '#', 4, 2, 6, FALSE, 100, 200, 40},
               Load("input-mode='speech' vad-mode='3' speech-start-timeout='250' speech-complete-timeout='800' "
                    "speech-incomplete-timeout='2500' noinput-timeout='7000' input-timeout='15000' "
                    "dtmf-interdigit-timeout='4000' dtmf-term-timeout='3000' dtmf-term-char='#' dtmf-length='4' "
                    "dtmf-min-length='2' dtmf-max-length='6' normalize-input='false' speech-leading-silence='100' "
                    "speech-trailing-silence='200' speech-output-period='40'"));
}

TEST_F(SdiParamsTest, ValueRules) {
  EXPECT_EQ(0u, Load("vad-mode='7'").vad_mode) << "out of range loads as 0";
  EXPECT_EQ(0u, Load("vad-mode='-1'").vad_mode);
  EXPECT_EQ(MPF_SDI_MODE_DTMF, Load("input-mode='DTMF'").input_mode);
  EXPECT_EQ(MPF_SDI_MODE_NONE, Load("input-mode='None'").input_mode);
  EXPECT_EQ(MPF_SDI_MODE_BOTH, Load("input-mode='voice'").input_mode) << "unknown value keeps the default";
  EXPECT_EQ('#', Load("dtmf-term-char='#*'").dtmf_term_char) << "first character only";
  EXPECT_EQ(0, Load("dtmf-term-char=''").dtmf_term_char);
  EXPECT_FALSE(Load("normalize-input='FALSE'").normalize_input);
  EXPECT_TRUE(Load("normalize-input='no'").normalize_input) << "bad boolean keeps the value";
  EXPECT_EQ(4500u, Load("NoInput-Timeout='4500'").noinput_timeout) << "names ignore case";
  EXPECT_EQ(1000u, Load("no-such-attribute='4500'").speech_complete_timeout);
}

TEST(SdiNamesTest, EnumerationStrings) {
  EXPECT_STREQ("NONE", mpf_sdi_mode_str(MPF_SDI_MODE_NONE));
  EXPECT_STREQ("SPEECH", mpf_sdi_mode_str(MPF_SDI_MODE_SPEECH));
  EXPECT_STREQ("DTMF", mpf_sdi_mode_str(MPF_SDI_MODE_DTMF));
  EXPECT_STREQ("SPEECH|DTMF", mpf_sdi_mode_str(MPF_SDI_MODE_BOTH));
  EXPECT_STREQ("NONE", mpf_sdi_mode_str(9));
  EXPECT_STREQ("NO-INPUT", mpf_sdi_state_str(MPF_SDI_STATE_NO_INPUT));
  EXPECT_STREQ("IN-PROGRESS", mpf_sdi_state_str(MPF_SDI_STATE_IN_PROGRESS));
  EXPECT_STREQ("COMPLETE", mpf_sdi_state_str(MPF_SDI_STATE_COMPLETE));
  EXPECT_STREQ("UNKNOWN", mpf_sdi_state_str(-1));
  EXPECT_STREQ("success", mpf_sdi_completion_cause_str(MPF_SDI_CAUSE_SUCCESS));
  EXPECT_STREQ("timedout", mpf_sdi_completion_cause_str(MPF_SDI_CAUSE_TIMEDOUT));
  EXPECT_STREQ("stopped", mpf_sdi_completion_cause_str(MPF_SDI_CAUSE_STOPPED));
  EXPECT_STREQ("UNKNOWN", mpf_sdi_completion_cause_str(3));
}

}  // namespace

// Text helpers on the inputs that break naive parsers.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "mrcphost/mrcphost.h"
#include "test_util.h"

namespace {

using mrcphost::test::PoolTest;
using mrcphost::test::Str;

class TextTest : public PoolTest {
 protected:
  std::vector<std::string> Lines(std::string text) {
    m_Buffers.push_back(text);
    apt_text_stream_t stream;
    apt_text_stream_init(&stream, &m_Buffers.back()[0], m_Buffers.back().size());
    std::vector<std::string> lines;
    apt_str_t line;
    while (apt_text_line_read(&stream, &line)) lines.push_back(Str(line));
    return lines;
  }
  std::vector<std::string> m_Buffers;
};

TEST_F(TextTest, LineReaderHandlesEveryTerminator) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},  // a last line without terminator still counts
      {"\n", {""}},
      {"", {}},
      {"a\n\rb", {"a", "", "b"}},  // LF CR is two terminators, not one
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const Case &c : cases) EXPECT_EQ(Lines(c.text), c.lines) << "input [" << c.text << "]";
}

TEST_F(TextTest, LineReaderMarksEndOfStream) {
  std::string text = "x\ny";
  apt_text_stream_t stream;
  apt_text_stream_init(&stream, &text[0], text.size());
  apt_str_t line;
  ASSERT_TRUE(apt_text_line_read(&stream, &line));
  EXPECT_FALSE(stream.is_eos);
  ASSERT_TRUE(apt_text_line_read(&stream, &line));
  EXPECT_TRUE(stream.is_eos);
  EXPECT_FALSE(apt_text_line_read(&stream, &line));
}

TEST_F(TextTest, FieldReaderSplitsAndSkipsSpaces) {
  std::string text = "  one, two,,three";
  apt_text_stream_t stream;
  apt_text_stream_init(&stream, &text[0], text.size());
  apt_str_t field;
  ASSERT_TRUE(apt_text_field_read(&stream, ',', TRUE, &field));
  EXPECT_EQ(Str(field), "one");
  ASSERT_TRUE(apt_text_field_read(&stream, ',', TRUE, &field));
  EXPECT_EQ(Str(field), "two");
  EXPECT_FALSE(apt_text_field_read(&stream, ',', TRUE, &field));  // the empty field
  ASSERT_TRUE(apt_text_field_read(&stream, ',', FALSE, &field));
  EXPECT_EQ(Str(field), "three");
  EXPECT_FALSE(apt_text_field_read(&stream, ',', FALSE, &field));
  EXPECT_TRUE(stream.is_eos);
}

TEST_F(TextTest, HeaderSectionStopsAtTheEmptyLineAndLeavesTheBody) {
  std::string text = "Path: turn.start\r\nX-RequestId:abc  \r\nFolded: a\r\n  b\r\n\r\nbody: not a header\r\n";
  apt_text_stream_t stream;
  apt_text_stream_init(&stream, &text[0], text.size());
  apt_header_section_t section;
  apt_header_section_init(&section);
  ASSERT_TRUE(apt_header_section_parse(&section, &stream, Pool()));
  ASSERT_EQ(section.fields->nelts, 3);
  EXPECT_EQ(Str(apt_header_section_field_get(&section, "path")->value), "turn.start");
  EXPECT_EQ(Str(apt_header_section_field_get(&section, "X-REQUESTID")->value), "abc");
  EXPECT_EQ(Str(apt_header_section_field_get(&section, "Folded")->value), "a b");
  EXPECT_EQ(std::string(static_cast<const char *>(stream.pos), stream.end), "body: not a header\r\n");
}

TEST_F(TextTest, HeaderSectionRejectsBadLines) {
  const char *bad[] = {
      "Path turn.start\r\n\r\n",  // no colon
      ": value\r\n\r\n",          // no name
      "Bad Name: x\r\n\r\n",      // space in the name
      " folded first\r\n\r\n",    // continuation without a header
      "Path: a\x01z\r\n\r\n",     // control character
      "Path: never ended\r\n",    // no empty line
  };
  for (const char *text : bad) {
    std::string copy = text;
    apt_text_stream_t stream;
    apt_text_stream_init(&stream, &copy[0], copy.size());
    apt_header_section_t section;
    apt_header_section_init(&section);
    EXPECT_FALSE(apt_header_section_parse(&section, &stream, Pool())) << text;
  }
}

TEST_F(TextTest, PairArrayKeepsQuotesAndSeparatorsInsideThem) {
  struct Case {
    std::string text;
    std::vector<std::pair<std::string, std::string>> pairs;
  };
  const Case cases[] = {
      {"a=1;b=2", {{"a", "1"}, {"b", "2"}}},
      {" a = 1 ; b= 2 ", {{"a", "1"}, {"b", "2"}}},
      {"q=\"x;y=z\";n=2", {{"q", "\"x;y=z\""}, {"n", "2"}}},
      {"q=\"a\\\"b;c\";n", {{"q", "\"a\\\"b;c\""}, {"n", ""}}},  // escaped quote inside quotes
      {";;a=1;;", {{"a", "1"}}},
      {"=orphan;b=1", {{"b", "1"}}},
      {"", {}},
      {"url=http://h/p?x=1&y=2", {{"url", "http://h/p?x=1&y=2"}}},
  };
  for (const Case &c : cases) {
    apt_pair_arr_t *arr = apt_pair_array_create(2, Pool());
    apt_str_t value = {const_cast<char *>(c.text.data()), c.text.size()};
    ASSERT_TRUE(apt_pair_array_parse(arr, &value, Pool())) << c.text;
    std::vector<std::pair<std::string, std::string>> got;
    for (int i = 0; i < apt_pair_array_size_get(arr); ++i) {
      const apt_pair_t *pair = apt_pair_array_get(arr, i);
      got.emplace_back(Str(pair->name), Str(pair->value));
    }
    EXPECT_EQ(got, c.pairs) << c.text;
  }
}

TEST_F(TextTest, PairArrayWithAnOpenQuoteIsMalformed) {
  std::string text = "a=1;u=\"unterminated;x=1";
  apt_pair_arr_t *arr = apt_pair_array_create(2, Pool());
  apt_str_t value = {&text[0], text.size()};
  EXPECT_FALSE(apt_pair_array_parse(arr, &value, Pool()));
  ASSERT_EQ(apt_pair_array_size_get(arr), 2);
  EXPECT_EQ(Str(apt_pair_array_get(arr, 1)->value), "\"unterminated;x=1");
}

TEST_F(TextTest, PairArrayGeneratesWhatItParses) {
  std::string text = "a=1;q=\"x;y\";flag";
  apt_pair_arr_t *arr = apt_pair_array_create(2, Pool());
  apt_str_t value = {&text[0], text.size()};
  ASSERT_TRUE(apt_pair_array_parse(arr, &value, Pool()));
  apt_str_t generated;
  ASSERT_TRUE(apt_pair_array_generate(arr, &generated, Pool()));
  EXPECT_EQ(Str(generated), text);
  EXPECT_EQ(Str(apt_pair_array_find(arr, "q")->value), "\"x;y\"");
  EXPECT_EQ(apt_pair_array_find(arr, "Q"), nullptr);  // names are case-sensitive
}

TEST_F(TextTest, UniqueIdsAreHexOfTheAskedLengthAndDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    apt_str_t id;
    ASSERT_TRUE(apt_unique_id_generate(&id, 32, Pool()));
    std::string text = Str(id);
    ASSERT_EQ(text.size(), 32u);
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(id.buf[32], '\0');
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 100u);
  apt_str_t odd;
  ASSERT_TRUE(apt_unique_id_generate(&odd, 7, Pool()));
  EXPECT_EQ(Str(odd).size(), 7u);
}

TEST_F(TextTest, DtmfEventIdsMapBothWays) {
  const std::string digits = "0123456789*#ABCD";
  for (apr_uint32_t id = 0; id < 16; ++id) {
    EXPECT_EQ(mpf_event_id_to_dtmf_char(id), digits[id]);
    EXPECT_EQ(mpf_dtmf_char_to_event_id(digits[id]), id);
  }
  EXPECT_EQ(mpf_event_id_to_dtmf_char(16), 0);  // flash and beyond are not digits
  EXPECT_EQ(mpf_dtmf_char_to_event_id('a'), 12u);
  EXPECT_EQ(mpf_dtmf_char_to_event_id('x'), 0xFFFFFFFFu);
  EXPECT_EQ(mpf_dtmf_char_to_event_id('\0'), 0xFFFFFFFFu);
}

TEST_F(TextTest, DirectoryLayoutResolvesFilesBelowItsEntries) {
  apt_dir_layout_t *layout = apt_default_dir_layout_create("/opt/host", Pool());
  EXPECT_STREQ(apt_dir_layout_path_get(layout, APT_LAYOUT_DATA_DIR), "/opt/host/data");
  EXPECT_STREQ(apt_dir_layout_path_get(layout, APT_LAYOUT_VAR_DIR), "/opt/host/var");
  EXPECT_STREQ(apt_confdir_filepath_get(layout, "oxazorv.xml", Pool()), "/opt/host/conf/oxazorv.xml");
  EXPECT_STREQ(apt_vardir_filepath_get(layout, "status", Pool()), "/opt/host/var/status");
  EXPECT_STREQ(apt_vardir_filepath_get(layout, "/abs/file", Pool()), "/abs/file");
  EXPECT_EQ(apt_dir_layout_path_get(layout, APT_LAYOUT_DIR_COUNT), nullptr);
  apt_dir_layout_t *empty = apt_dir_layout_create(Pool());
  EXPECT_EQ(apt_confdir_filepath_get(empty, "x", Pool()), nullptr);
  ASSERT_TRUE(apt_dir_layout_path_set(empty, APT_LAYOUT_CONF_DIR, "/c", Pool()));
  EXPECT_STREQ(apt_confdir_filepath_get(empty, "x", Pool()), "/c/x");
}

}  // namespace

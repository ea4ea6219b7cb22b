#include "PbXmlGenerator.h"

#include <google/cloud/speech/v1/cloud_speech.pb.h>
#include <google/cloud/speech/v1p1beta1/cloud_speech.pb.h>
#include <google/protobuf/struct.pb.h>
#include <gtest/gtest.h>
#include <pbxml_test.pb.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "XmlCheck.h"

namespace ZORV {
namespace {

namespace speech = google::cloud::speech::v1;
namespace speechbeta = google::cloud::speech::v1p1beta1;
using google::protobuf::Struct;
using google::protobuf::Value;
using oxa::pbxmltest::AllKinds;

std::string Compose(const google::protobuf::Message& message, int level, int indent, bool dots = true,
                    bool dashes = true) {
  PbXmlGenerator generator(level, indent, dots, dashes);
  std::ostringstream stream;
  generator.ComposeXml(message, stream);
  EXPECT_EQ(generator.GetLevel(), level);
  std::string error;
  EXPECT_TRUE(test::IsWellFormedXml(stream.str(), &error)) << error << "\n" << stream.str();
  return stream.str();
}

// Struct keys come out in the map's iteration order, which protobuf does not fix.
void ExpectBlocksInAnyOrder(const std::string& out, std::vector<std::string> blocks) {
  std::sort(blocks.begin(), blocks.end());
  do {
    std::string joined;
    for (const std::string& block : blocks) joined += block;
    if (joined == out) return;
  } while (std::next_permutation(blocks.begin(), blocks.end()));
  ADD_FAILURE() << "unexpected output:\n" << out;
}

speech::StreamingRecognitionResult FinalResult() {
  speech::StreamingRecognitionResult result;
  speech::SpeechRecognitionAlternative* alternative = result.add_alternatives();
  alternative->set_transcript("call home");
  alternative->set_confidence(0.912f);
  result.set_is_final(true);
  result.mutable_result_end_time()->set_seconds(1);
  result.mutable_result_end_time()->set_nanos(500000000);
  result.set_language_code("en-us");
  return result;
}

TEST(PbXmlGenerator, FinalResultInsideNlsmlInstance) {
  EXPECT_EQ(Compose(FinalResult(), 4, 2),
            "        <alternatives>\n"
            "          <transcript>call home</transcript>\n"
            "          <confidence>0.912</confidence>\n"
            "        </alternatives>\n"
            "        <is_final>true</is_final>\n"
            "        <result_end_time>\n"
            "          <seconds>1</seconds>\n"
            "          <nanos>500000000</nanos>\n"
            "        </result_end_time>\n"
            "        <language_code>en-us</language_code>\n");
}

speech::StreamingRecognizeResponse InterimResponse() {
  speech::StreamingRecognizeResponse response;
  speech::StreamingRecognitionResult* result = response.add_results();
  speech::SpeechRecognitionAlternative* alternative = result->add_alternatives();
  alternative->set_transcript("hello world");
  alternative->set_confidence(0.5f);
  speech::WordInfo* word = alternative->add_words();
  word->mutable_start_time()->set_nanos(100000000);
  word->mutable_end_time()->set_seconds(1);
  word->set_word("hello");
  word->set_confidence(0.75f);
  word->set_speaker_label("A");
  result->set_stability(0.9f);
  result->set_channel_tag(1);
  response.set_speech_event_type(speech::StreamingRecognizeResponse::END_OF_SINGLE_UTTERANCE);
  response.mutable_total_billed_time()->set_seconds(15);
  response.set_request_id(9007199254740993);
  return response;
}

TEST(PbXmlGenerator, ResponseWithWordsEventAndDurations) {
  EXPECT_EQ(Compose(InterimResponse(), 0, 2),
            "<results>\n"
            "  <alternatives>\n"
            "    <transcript>hello world</transcript>\n"
            "    <confidence>0.5</confidence>\n"
            "    <words>\n"
            "      <start_time>\n"
            "        <nanos>100000000</nanos>\n"
            "      </start_time>\n"
            "      <end_time>\n"
            "        <seconds>1</seconds>\n"
            "      </end_time>\n"
            "      <word>hello</word>\n"
            "      <confidence>0.75</confidence>\n"
            "      <speaker_label>A</speaker_label>\n"
            "    </words>\n"
            "  </alternatives>\n"
            "  <stability>0.9</stability>\n"
            "  <channel_tag>1</channel_tag>\n"
            "</results>\n"
            "<speech_event_type>END_OF_SINGLE_UTTERANCE</speech_event_type>\n"
            "<total_billed_time>\n"
            "  <seconds>15</seconds>\n"
            "</total_billed_time>\n"
            "<request_id>9007199254740993</request_id>\n");
}

TEST(PbXmlGenerator, IndentZeroWritesOneLine) {
  speechbeta::StreamingRecognitionResult result;
  speechbeta::SpeechRecognitionAlternative* alternative = result.add_alternatives();
  alternative->set_transcript("yes");
  alternative->set_confidence(0.25f);
  result.set_is_final(true);
  result.mutable_result_end_time()->set_nanos(250000000);
  EXPECT_EQ(Compose(result, 3, 0),
            "<alternatives><transcript>yes</transcript><confidence>0.25</confidence></alternatives>"
            "<is_final>true</is_final><result_end_time><nanos>250000000</nanos></result_end_time>");
}

TEST(PbXmlGenerator, UnsetAndEmptyFieldsAreNotWritten) {
  EXPECT_EQ(Compose(speech::StreamingRecognizeResponse(), 0, 2), "");
  speech::StreamingRecognitionResult result;
  result.add_alternatives();  // present but empty: only its element
  result.set_is_final(false);
  result.set_stability(0.0f);
  EXPECT_EQ(Compose(result, 0, 2), "<alternatives>\n</alternatives>\n");
}

TEST(PbXmlGenerator, TranscriptTextIsEscaped) {
  speech::SpeechRecognitionAlternative alternative;
  alternative.set_transcript("a<b & \"c\" 'd'\nnext\x01" "end");
  EXPECT_EQ(Compose(alternative, 0, 2),
            "<transcript>a&lt;b &amp; &quot;c&quot; &apos;d&apos; next end</transcript>\n");
}

TEST(PbXmlGenerator, QuoteXmlElementText) {
  struct Case {
    std::string text;
    bool changed;
    std::string quoted;
  };
  const Case cases[] = {
      {"plain text", false, ""},
      {"", false, ""},
      {"caf\xC3\xA9 \xE2\x82\xAC", false, ""},  // UTF-8 stays as it is
      {"tab\tcr\r", false, ""},                  // allowed in XML text
      {"<>&\"'", true, "&lt;&gt;&amp;&quot;&apos;"},
      {"two\nlines\n", true, "two lines "},
      // Characters no XML document may contain become spaces too.
      {std::string("nul\0bell\x07", 9), true, "nul bell "},
      {"x\x1Fy\xEF\xBF\xBEz\xEF\xBF\xBF", true, "x y z "},
      {"\xEF\xBF\xBD ok", false, ""},  // U+FFFD is allowed
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(PbXmlGenerator::QuoteXmlElementText(c.text, out), c.changed) << c.text;
    EXPECT_EQ(out, c.changed ? c.quoted : "untouched") << c.text;
  }
}

TEST(PbXmlGenerator, ScalarKinds) {
  struct Case {
    std::function<void(AllKinds&)> set;
    std::string expected;  // at level 1, indent 3
  };
  const Case cases[] = {
      {[](AllKinds& m) { m.set_f_int32(-42); }, "   <f_int32>-42</f_int32>\n"},
      {[](AllKinds& m) { m.set_f_int64(std::numeric_limits<int64_t>::min()); },
       "   <f_int64>-9223372036854775808</f_int64>\n"},
      {[](AllKinds& m) { m.set_f_uint32(4294967295u); }, "   <f_uint32>4294967295</f_uint32>\n"},
      {[](AllKinds& m) { m.set_f_uint64(std::numeric_limits<uint64_t>::max()); },
       "   <f_uint64>18446744073709551615</f_uint64>\n"},
      {[](AllKinds& m) { m.set_f_sint32(-7); }, "   <f_sint32>-7</f_sint32>\n"},
      {[](AllKinds& m) { m.set_f_fixed64(12345678901234); }, "   <f_fixed64>12345678901234</f_fixed64>\n"},
      {[](AllKinds& m) { m.set_f_float(0.1f); }, "   <f_float>0.1</f_float>\n"},
      {[](AllKinds& m) { m.set_f_float(3.14159274f); }, "   <f_float>3.14159</f_float>\n"},
      {[](AllKinds& m) { m.set_f_double(1234567.0); }, "   <f_double>1.23457e+06</f_double>\n"},
      {[](AllKinds& m) { m.set_f_double(1e-7); }, "   <f_double>1e-07</f_double>\n"},
      {[](AllKinds& m) { m.set_f_double(-2.5); }, "   <f_double>-2.5</f_double>\n"},
      {[](AllKinds& m) { m.set_f_bool(true); }, "   <f_bool>true</f_bool>\n"},
      {[](AllKinds& m) { m.set_f_bool(false); }, "   <f_bool>false</f_bool>\n"},  // set, so written
      {[](AllKinds& m) { m.set_f_enum(oxa::pbxmltest::COLOR_GREEN); }, "   <f_enum>COLOR_GREEN</f_enum>\n"},
      {[](AllKinds& m) { m.set_f_string("a&b"); }, "   <f_string>a&amp;b</f_string>\n"},
      {[](AllKinds& m) { m.set_f_string(""); }, "   <f_string></f_string>\n"},
      // Binary data as Base64.
      {[](AllKinds& m) { m.set_f_bytes(std::string("\0\xFF<", 3)); }, "   <f_bytes>AP88</f_bytes>\n"},
      {[](AllKinds& m) { m.set_f_bytes("ab"); }, "   <f_bytes>YWI=</f_bytes>\n"},
      {[](AllKinds& m) { m.set_f_bytes("a"); }, "   <f_bytes>YQ==</f_bytes>\n"},
      {[](AllKinds& m) {
         m.add_r_enum(oxa::pbxmltest::COLOR_GREEN);
         m.add_r_enum(oxa::pbxmltest::COLOR_RED);
       },
       "   <r_enum>COLOR_GREEN</r_enum>\n   <r_enum>COLOR_RED</r_enum>\n"},
  };
  for (const Case& c : cases) {
    AllKinds message;
    c.set(message);
    EXPECT_EQ(Compose(message, 1, 3), c.expected);
  }
}

TEST(PbXmlGenerator, MessagesRepeatedGroupsAndExtensionsInFieldNumberOrder) {
  AllKinds message;
  message.SetExtension(oxa::pbxmltest::ext_note, "e");
  message.mutable_payload()->set_note("n");
  message.add_r_message()->set_id(1);
  message.add_r_message()->set_id(2);
  message.add_r_int32(1);
  message.add_r_int32(2);
  message.mutable_f_message()->set_id(7);
  message.mutable_f_message()->set_label("x");
  message.set_f_int32(1);
  const std::string body =
      "<f_int32>1</f_int32>\n"
      "<f_message>\n"
      "  <id>7</id>\n"
      "  <label>x</label>\n"
      "</f_message>\n"
      "<r_int32>1</r_int32>\n"
      "<r_int32>2</r_int32>\n"
      "<r_message>\n"
      "  <id>1</id>\n"
      "</r_message>\n"
      "<r_message>\n"
      "  <id>2</id>\n"
      "</r_message>\n"
      "<Payload>\n"
      "  <note>n</note>\n"
      "</Payload>\n";
  EXPECT_EQ(Compose(message, 0, 2, false, false), body + "<oxa.pbxmltest.ext_note>e</oxa.pbxmltest.ext_note>\n");
  EXPECT_EQ(Compose(message, 0, 2, true, false), body + "<oxa_pbxmltest_ext_note>e</oxa_pbxmltest_ext_note>\n");

  AllKinds empty;
  empty.mutable_f_message();
  EXPECT_EQ(Compose(empty, 0, 2), "<f_message>\n</f_message>\n");
}

TEST(PbXmlGenerator, MessageSetExtensionIsNamedByItsType) {
  oxa::pbxmltest::Container container;
  container.MutableExtension(oxa::pbxmltest::SetItem::item)->set_n(3);
  EXPECT_EQ(Compose(container, 0, 2, false),
            "<oxa.pbxmltest.SetItem>\n"
            "  <n>3</n>\n"
            "</oxa.pbxmltest.SetItem>\n");
}

TEST(PbXmlGenerator, MapEntriesKeepElementsNested) {
  AllKinds message;
  (*message.mutable_labels())["k"].set_id(5);
  EXPECT_EQ(Compose(message, 0, 2),
            "<labels>\n"
            "  <k>    <id>5</id>\n"
            "</k>\n"
            "</labels>\n");
  // A scalar value does not close the key element; the entry's end does.
  AllKinds tags;
  (*tags.mutable_tags())["t"] = "v";
  EXPECT_EQ(Compose(tags, 0, 2),
            "<tags>\n"
            "  <t>  <value>v</value>\n"
            "</t>\n"
            "</tags>\n");
}

Value StringValue(const std::string& text) {
  Value value;
  value.set_string_value(text);
  return value;
}

TEST(PbXmlGenerator, StructScalarsSitInsideTheirKeyElement) {
  Struct s;
  (*s.mutable_fields())["city"] = StringValue("Paris");
  (*s.mutable_fields())["size"].set_number_value(3);
  ExpectBlocksInAnyOrder(Compose(s, 0, 2), {"<city>Paris</city>\n", "<size>3</size>\n"});

  Struct kinds;
  (*kinds.mutable_fields())["ok"].set_bool_value(false);
  (*kinds.mutable_fields())["ratio"].set_number_value(0.125);
  (*kinds.mutable_fields())["none"].set_null_value(google::protobuf::NULL_VALUE);
  (*kinds.mutable_fields())["empty"] = StringValue("");
  (*kinds.mutable_fields())["text"] = StringValue("R&D\n");
  ExpectBlocksInAnyOrder(Compose(kinds, 1, 2), {"  <ok>false</ok>\n", "  <ratio>0.125</ratio>\n",
                                                 "  <none>    <null_value>NULL_VALUE</null_value>\n</none>\n",
                                                 "  <empty></empty>\n", "  <text>R&amp;D </text>\n"});
}

TEST(PbXmlGenerator, NestedStructOpensAnIndentedBlock) {
  Struct s;
  Struct* inner = (*s.mutable_fields())["outer"].mutable_struct_value();
  (*inner->mutable_fields())["inner"].set_bool_value(true);
  EXPECT_EQ(Compose(s, 1, 2),
            "  <outer>\n"
            "    <inner>true</inner>\n"
            "  </outer>\n");
  EXPECT_EQ(Compose(s, 0, 2),
            "<outer>\n"
            "  <inner>true</inner>\n"
            "</outer>\n");
  EXPECT_EQ(Compose(s, 2, 0), "<outer><inner>true</inner></outer>");
}

TEST(PbXmlGenerator, ListValueHoldsOneValuesElementPerItem) {
  Struct s;
  google::protobuf::ListValue* list = (*s.mutable_fields())["l"].mutable_list_value();
  list->add_values()->set_number_value(1);
  *list->add_values() = StringValue("a");
  EXPECT_EQ(Compose(s, 0, 2),
            "<l>  <list_value>\n"
            "    <values>\n"
            "1    </values>\n"
            "    <values>\n"
            "a    </values>\n"
            "  </list_value>\n"
            "</l>\n");

  // A struct inside a list.
  Struct nested;
  Struct* item = (*nested.mutable_fields())["l"].mutable_list_value()->add_values()->mutable_struct_value();
  (*item->mutable_fields())["k"] = StringValue("v");
  EXPECT_EQ(Compose(nested, 0, 2),
            "<l>  <list_value>\n"
            "    <values>\n"
            "\n"
            "      <k>v</k>\n"
            "        </values>\n"
            "  </list_value>\n"
            "</l>\n");
}

TEST(PbXmlGenerator, KeyNames) {
  struct Case {
    std::string key;
    bool dots;
    bool dashes;
    std::string element;
  };
  const Case cases[] = {
      {"first name", false, false, "first_name"},
      {"content-type", false, false, "content-type"},
      {"content-type", false, true, "content_type"},
      {"a.b-c d", true, false, "a_b-c_d"},
      {"a.b-c d", true, true, "a_b_c_d"},
      {"a.b", false, true, "a.b"},
  };
  for (const Case& c : cases) {
    Struct s;
    (*s.mutable_fields())[c.key] = StringValue("x");
    EXPECT_EQ(Compose(s, 0, 2, c.dots, c.dashes), "<" + c.element + ">x</" + c.element + ">\n") << c.key;
  }

  // Characters other than space, dot and dash stay, even where XML names forbid them.
  Struct digit;
  (*digit.mutable_fields())["1st"] = StringValue("x");
  PbXmlGenerator generator(0, 2, true, true);
  std::ostringstream stream;
  generator.ComposeXml(digit, stream);
  EXPECT_EQ(stream.str(), "<1st>x</1st>\n");
}

TEST(PbXmlGenerator, FieldNames) {
  PbXmlGenerator generator(0, 2, true, true);
  const google::protobuf::Descriptor* kinds = AllKinds::descriptor();
  EXPECT_EQ(generator.GetXmlFieldName(*kinds->FindFieldByName("f_int32")), "f_int32");
  EXPECT_EQ(generator.GetXmlFieldName(*kinds->FindFieldByName("payload")), "Payload");
  EXPECT_EQ(generator.GetXmlFieldName(*kinds->file()->FindExtensionByName("ext_note")), "oxa.pbxmltest.ext_note");
  EXPECT_EQ(generator.GetXmlFieldName(*oxa::pbxmltest::SetItem::descriptor()->FindExtensionByName("item")), "oxa.pbxmltest.SetItem");
}

TEST(PbXmlGenerator, ElementHelpers) {
  std::ostringstream stream;
  PbXmlGenerator::InsertIndent(stream, 3);
  PbXmlGenerator::InsertStartOfElement(stream, "a");
  PbXmlGenerator::InsertEndOfElement(stream, "a");
  PbXmlGenerator::InsertIndent(stream, 0);
  PbXmlGenerator::InsertIndent(stream, -2);
  EXPECT_EQ(stream.str(), "   <a></a>");
}

}  // namespace
}  // namespace ZORV

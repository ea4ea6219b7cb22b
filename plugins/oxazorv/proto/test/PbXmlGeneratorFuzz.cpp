// Any response the service could send, rendered as XML, must stay well-formed: the text
// ends up in the NLSML body sent to the MRCP client.
#include <google/cloud/speech/v1/cloud_speech.pb.h>
#include <google/cloud/speech/v1p1beta1/cloud_speech.pb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "PbXmlGenerator.h"
#include "XmlCheck.h"

namespace {

void CheckRendering(const google::protobuf::Message& message) {
  for (int indent : {2, 0}) {
    ZORV::PbXmlGenerator generator(4, indent, true, true);
    std::ostringstream stream;
    generator.ComposeXml(message, stream);
    std::string error;
    if (!ZORV::test::IsWellFormedXml(stream.str(), &error)) {
      std::fprintf(stderr, "not well-formed (%s):\n%s\n", error.c_str(), stream.str().c_str());
      std::abort();
    }
    if (generator.GetLevel() != 4) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  google::cloud::speech::v1::StreamingRecognizeResponse v1;
  if (v1.ParseFromArray(data, static_cast<int>(size))) CheckRendering(v1);
  google::cloud::speech::v1p1beta1::StreamingRecognizeResponse v1p1beta1;
  if (v1p1beta1.ParseFromArray(data, static_cast<int>(size))) CheckRendering(v1p1beta1);
  return 0;
}

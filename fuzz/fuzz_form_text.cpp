// Form text (any encoding the reader accepts) to a binary form file, as
// `trd convert --binary` does. A text that converts must give a binary file
// that reads back, and whose text is a fixed point of the conversion.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "authoring/FormBinaryWrite.h"
#include "formfile/FormStream.h"
#include "platform/Errors.h"

using namespace trd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string binary;
  try {
    binary = form::FormTextToBinary(bytes, form::ResourceHeader::With, "fuzz.txt");
  } catch (const FormatError&) {
    return 0;
  }
  std::string text;
  try {
    text = fuzz::Join(form::ObjectResourceToText(binary, "written.dfm"));
  } catch (const FormatError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    fuzz::Require(false, "the binary writer's output reads back");
  }
  std::string binary2;
  try {
    binary2 = form::FormTextToBinary(text, form::ResourceHeader::With, "canonical.txt");
  } catch (const FormatError& e) {
    std::fprintf(stderr, "%s\n--- text ---\n%s", e.what(), text.c_str());
    fuzz::Require(false, "canonical text parses");
  }
  fuzz::Require(fuzz::Join(form::ObjectResourceToText(binary2, "again.dfm")) == text,
                "canonical text is a fixed point of text -> binary -> text");
  return 0;
}

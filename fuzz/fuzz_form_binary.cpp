// Binary form files (resource header or bare "TPF0" stream) to form text, as
// the import reads them. Whatever converts must give canonical text that
// parses again and converts to itself through the binary writer.
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
  std::string text;
  try {
    // Also read the bytes as a bare stream, whatever their first bytes are:
    // the stream reader sits behind both the form and the report reader.
    form::ReadComponentStream(bytes, "fuzz.dfm");
  } catch (const FormatError&) {
  }
  try {
    if (form::DetectFormFormat(bytes) != form::FormFormat::Binary) return 0;
    text = fuzz::Join(form::ObjectResourceToText(bytes, "fuzz.dfm"));
  } catch (const FormatError&) {
    return 0;
  }
  // The writer's text must read back; converting it again is a fixed point.
  std::string binary;
  try {
    binary = form::FormTextToBinary(text, form::ResourceHeader::With, "canonical.txt");
  } catch (const FormatError& e) {
    std::fprintf(stderr, "%s\n--- text ---\n%s", e.what(), text.c_str());
    fuzz::Require(false, "canonical text of a binary form file parses");
  }
  fuzz::Require(fuzz::Join(form::ObjectResourceToText(binary, "again.dfm")) == text,
                "binary -> text -> binary -> text gives the same text");
  return 0;
}

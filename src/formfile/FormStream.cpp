#include "FormStream.h"

namespace trd::form {
namespace {

// Replays a form file in any format to `sink`.
void ReadAny(std::string_view bytes, FormSink& sink, std::string_view file_name) {
  if (DetectFormFormat(bytes) == FormFormat::Binary) {
    StreamExtent at = LocateComponentStream(bytes, file_name);
    ReadComponentStream(bytes.substr(at.offset, at.size), sink, file_name, at.offset);
  } else {
    ParseFormText(DecodeFormText(bytes, file_name), sink, file_name);
  }
}

}  // namespace

FormFormat DetectFormFormat(std::string_view bytes) {
  if (LooksBinary(bytes)) return FormFormat::Binary;
  // FF FE opens UTF-16LE text; any other leading FF is a (damaged) resource
  // header, which the binary reader reports precisely.
  if (!bytes.empty() && bytes[0] == '\xFF' && bytes.substr(0, 2) != "\xFF\xFE")
    return FormFormat::Binary;
  return FormFormat::Text;
}

std::vector<std::string> ObjectResourceToText(std::string_view bytes, std::string_view file_name) {
  std::vector<std::string> lines;
  lines.reserve(bytes.size() / 16);  // about 19 bytes of binary per line
  TextWriter writer(lines);
  ReadAny(bytes, writer, file_name);
  return lines;
}

const std::vector<std::string>& ObjectResourceToText(std::string_view bytes,
                                                     std::string_view file_name,
                                                     FormTextBuffer& buffer) {
  TextWriter writer = buffer.Writer();
  ReadAny(bytes, writer, file_name);
  return buffer.lines();
}

FormObject ReadForm(std::string_view bytes, std::string_view file_name) {
  TreeBuilder builder;
  ReadAny(bytes, builder, file_name);
  return builder.Take();
}

}  // namespace trd::form

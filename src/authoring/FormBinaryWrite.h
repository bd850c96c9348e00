// Writing form files: the binary component-stream writer and the
// conversions that end in a binary form file. Authoring tools for
// `trd convert --binary`, `trd mkreport`, the samples and the tests; the
// harvest only reads form files and does not link this.
//
// The formats are those of formfile/FormBinary.h (component stream, resource
// header) and formfile/FormText.h (form text), described in docs/formats.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formfile/FormBinary.h"
#include "formfile/FormObject.h"
#include "formfile/FormSink.h"

namespace trd::form {

// Writes events as a component stream appended to `out` (starting with the
// signature). Strings keep their kind where the text allows: an 8-bit kind
// whose text has no Windows-1252 form is written as WString, a String longer
// than 255 bytes as LString. An integer is written in its kind when it fits,
// else in the narrowest kind that does. Names and identifiers longer than 255
// bytes, class names of 240 bytes or more (their length byte would read as an
// object prefix), and Null as a list element, raise FormatError
// "<file_name>: <what>".
class BinaryWriter final : public FormSink {
 public:
  BinaryWriter(std::string& out, std::string_view file_name);

  void BeginObject(ObjectKind kind, std::string_view class_name, std::string_view name,
                   std::optional<std::int32_t> position) override;
  void EndObject() override;
  void BeginProperty(std::string_view name) override;
  void IntegerValue(ValueKind kind, std::int64_t v) override;
  void RealValue(ValueKind kind, long double v) override;
  void StringValue(ValueKind kind, std::string_view utf8) override;
  void IdentValue(ValueKind kind, std::string_view text) override;
  void BinaryValue(std::string_view bytes) override;
  void BeginSet() override;
  void SetElement(std::string_view name) override;
  void EndSet() override;
  void BeginList() override;
  void EndList() override;
  void BeginCollection() override;
  void BeginItem(std::optional<ItemIndex> index) override;
  void EndItem() override;
  void EndCollection() override;

  // Class name of the root object (names the resource).
  const std::string& RootClass() const { return root_class_; }

 private:
  enum class Open : std::uint8_t { ObjectProperties, ObjectChildren, List, Set, Collection, Item };
  [[noreturn]] void Fail(std::string_view what) const;
  void Short(std::string_view s, std::string_view what);
  void Integer(std::int64_t v);  // narrowest Int8/16/32/64

  std::string& out_;
  std::string file_name_;
  std::string root_class_;
  std::string scratch_;
  std::vector<Open> open_;
};

// Component stream of a tree.
std::string WriteComponentStream(const FormObject& root, std::string_view file_name = {});
// Prefixes a component stream with the resource header named after the
// upper-cased class name.
std::string WrapInResource(std::string_view stream, std::string_view class_name);

// Form text (the bytes of a text form file, decoded as described above) to a
// binary form file, with or without the resource header (named after the
// root's class name, upper-cased; flags 0x1030).
std::string FormTextToBinary(std::string_view text, ResourceHeader header,
                             std::string_view file_name);

// A tree as a binary form file.
std::string FormToBinary(const FormObject& root, ResourceHeader header,
                         std::string_view file_name = {});

}  // namespace trd::form

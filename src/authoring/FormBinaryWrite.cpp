#include "FormBinaryWrite.h"

#include <bit>
#include <cstring>

#include "formfile/FormEncoding.h"
#include "formfile/FormText.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::form {
namespace {

char Tag(ValueKind k) { return static_cast<char>(k); }

bool Fits(ValueKind k, std::int64_t v) {
  switch (k) {
    case ValueKind::Int8:
      return v >= INT8_MIN && v <= INT8_MAX;
    case ValueKind::Int16:
      return v >= INT16_MIN && v <= INT16_MAX;
    case ValueKind::Int32:
      return v >= INT32_MIN && v <= INT32_MAX;
    case ValueKind::Int64:
      return true;
    default:
      return false;
  }
}

int Width(ValueKind k) {
  switch (k) {
    case ValueKind::Int8:
      return 1;
    case ValueKind::Int16:
      return 2;
    case ValueKind::Int32:
      return 4;
    default:
      return 8;
  }
}

}  // namespace

BinaryWriter::BinaryWriter(std::string& out, std::string_view file_name)
    : out_(out), file_name_(file_name) {}

void BinaryWriter::Fail(std::string_view what) const {
  throw FormatError(file_name_.empty() ? std::string(what) : file_name_ + ": " + std::string(what));
}

void BinaryWriter::Short(std::string_view s, std::string_view what) {
  if (s.size() > 255)
    Fail(std::string(what) + " longer than 255 bytes: " + std::string(s.substr(0, 40)) + "...");
  out_ += static_cast<char>(s.size());
  out_ += s;
}

void BinaryWriter::Integer(std::int64_t v) {
  ValueKind k = IntegerKindFor(v);
  out_ += Tag(k);
  AppendLe(out_, static_cast<std::uint64_t>(v), Width(k));
}

void BinaryWriter::BeginObject(ObjectKind kind, std::string_view class_name, std::string_view name,
                               std::optional<std::int32_t> position) {
  if (open_.empty()) {
    out_ += kStreamSignature;
    root_class_ = class_name;
  } else if (open_.back() == Open::ObjectProperties) {
    out_ += '\0';  // end of the parent's properties
    open_.back() = Open::ObjectChildren;
  }
  int flags = (kind == ObjectKind::Inherited ? 1 : 0) | (position ? 2 : 0) |
              (kind == ObjectKind::Inline ? 4 : 0);
  if (flags) out_ += static_cast<char>(0xF0 | flags);
  if (position) Integer(*position);
  if (class_name.empty()) Fail("object without a class name");
  // The class name's length byte must stay below F0, which starts an object
  // prefix: the reader would take a longer name's length for flags.
  if (class_name.size() >= 0xF0)
    Fail("class name longer than 239 bytes: " + std::string(class_name.substr(0, 40)) + "...");
  Short(class_name, "class name");
  Short(name, "object name");
  open_.push_back(Open::ObjectProperties);
}

void BinaryWriter::EndObject() {
  if (open_.back() == Open::ObjectProperties) out_ += '\0';
  out_ += '\0';
  open_.pop_back();
}

void BinaryWriter::BeginProperty(std::string_view name) {
  if (name.empty()) Fail("property without a name");
  Short(name, "property name");
}

void BinaryWriter::IntegerValue(ValueKind kind, std::int64_t v) {
  if (kind == ValueKind::Currency) {
    out_ += Tag(kind);
    AppendLe(out_, static_cast<std::uint64_t>(v), 8);
    return;
  }
  if (!Fits(kind, v)) kind = IntegerKindFor(v);
  out_ += Tag(kind);
  AppendLe(out_, static_cast<std::uint64_t>(v), Width(kind));
}

void BinaryWriter::RealValue(ValueKind kind, long double v) {
  out_ += Tag(kind);
  switch (kind) {
    case ValueKind::Single:
      AppendLe(out_, std::bit_cast<std::uint32_t>(static_cast<float>(v)), 4);
      break;
    case ValueKind::Double:
    case ValueKind::Date:
      AppendLe(out_, std::bit_cast<std::uint64_t>(static_cast<double>(v)), 8);
      break;
    default: {
      unsigned char ten[10];
      EncodeExtended(v, ten);
      out_.append(reinterpret_cast<const char*>(ten), 10);
    }
  }
}

void BinaryWriter::StringValue(ValueKind kind, std::string_view utf8) {
  if (kind == ValueKind::String || kind == ValueKind::LString) {
    scratch_.clear();
    if (text::AppendUtf8AsCp1252(scratch_, utf8)) {
      if (kind == ValueKind::String && scratch_.size() <= 255) {
        out_ += Tag(kind);
        out_ += static_cast<char>(scratch_.size());
      } else {
        out_ += Tag(ValueKind::LString);
        AppendLe(out_, scratch_.size(), 4);
      }
      out_ += scratch_;
      return;
    }
    kind = ValueKind::WString;  // no 8-bit form
  }
  if (kind == ValueKind::Utf8String) {
    out_ += Tag(kind);
    AppendLe(out_, utf8.size(), 4);
    out_ += utf8;
    return;
  }
  scratch_.clear();
  std::size_t units = AppendUtf8AsUtf16Le(scratch_, utf8);
  out_ += Tag(ValueKind::WString);
  AppendLe(out_, units, 4);
  out_ += scratch_;
}

void BinaryWriter::IdentValue(ValueKind kind, std::string_view text) {
  if (kind == ValueKind::Null && !open_.empty() && open_.back() == Open::List)
    Fail("Null cannot be an element of a list");
  out_ += Tag(kind);
  if (kind == ValueKind::Ident) {
    if (text.empty()) Fail("empty identifier");
    Short(text, "identifier");
  }
}

void BinaryWriter::BinaryValue(std::string_view bytes) {
  if (bytes.size() > UINT32_MAX) Fail("binary data larger than 4 GB");
  out_ += Tag(ValueKind::Binary);
  AppendLe(out_, bytes.size(), 4);
  out_ += bytes;
}

void BinaryWriter::BeginSet() {
  out_ += Tag(ValueKind::Set);
  open_.push_back(Open::Set);
}
void BinaryWriter::SetElement(std::string_view name) {
  if (name.empty()) Fail("empty set element");
  Short(name, "set element");
}
void BinaryWriter::EndSet() {
  out_ += '\0';
  open_.pop_back();
}

void BinaryWriter::BeginList() {
  out_ += Tag(ValueKind::List);
  open_.push_back(Open::List);
}
void BinaryWriter::EndList() {
  out_ += '\0';
  open_.pop_back();
}

void BinaryWriter::BeginCollection() {
  out_ += Tag(ValueKind::Collection);
  open_.push_back(Open::Collection);
}
void BinaryWriter::BeginItem(std::optional<ItemIndex> index) {
  if (index) {
    ValueKind k = index->kind != ValueKind::Int64 && Fits(index->kind, index->value)
                      ? index->kind
                      : IntegerKindFor(index->value);
    out_ += Tag(k);
    AppendLe(out_, static_cast<std::uint64_t>(std::int64_t{index->value}), Width(k));
  }
  out_ += Tag(ValueKind::List);
  open_.push_back(Open::Item);
}
void BinaryWriter::EndItem() {
  out_ += '\0';
  open_.pop_back();
}
void BinaryWriter::EndCollection() {
  out_ += '\0';
  open_.pop_back();
}

std::string WriteComponentStream(const FormObject& root, std::string_view file_name) {
  std::string out;
  BinaryWriter writer(out, file_name);
  WalkTree(root, writer);
  return out;
}

std::string WrapInResource(std::string_view stream, std::string_view class_name) {
  std::string out("\xFF\x0A\x00", 3);
  out += text::UpperAscii(class_name);
  out += '\0';
  AppendLe(out, 0x1030, 2);
  AppendLe(out, stream.size(), 4);
  out += stream;
  return out;
}

std::string FormTextToBinary(std::string_view text, ResourceHeader header,
                             std::string_view file_name) {
  std::string stream;
  BinaryWriter writer(stream, file_name);
  ParseFormText(DecodeFormText(text, file_name), writer, file_name);
  if (header == ResourceHeader::Without) return stream;
  return WrapInResource(stream, writer.RootClass());
}

std::string FormToBinary(const FormObject& root, ResourceHeader header,
                         std::string_view file_name) {
  std::string stream = WriteComponentStream(root, file_name);
  if (header == ResourceHeader::Without) return stream;
  return WrapInResource(stream, root.class_name);
}

}  // namespace trd::form

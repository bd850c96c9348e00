// Reading binary component streams and locating them in form files.
#include <array>
#include <bit>
#include <cstring>
#include <string>

#include "FormBinary.h"
#include "FormEncoding.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::form {
namespace {

// Bytes of names: kStart may begin one (letters, "_", and bytes >= 0x80,
// which belong to non-ASCII letters), kDigit may begin a set element,
// kFollow may come after the first (also digits and "." of dotted paths).
constexpr std::uint8_t kStart = 1, kDigit = 2, kFollow = 4;
constexpr auto kNameBytes = [] {
  std::array<std::uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
    bool digit = c >= '0' && c <= '9';
    t[c] = static_cast<std::uint8_t>((letter ? kStart | kFollow : 0) |
                                     (digit ? kDigit | kFollow : 0) | (c == '.' ? kFollow : 0));
  }
  return t;
}();

class StreamReader {
 public:
  StreamReader(std::string_view data, FormSink& sink, std::string_view file, std::size_t base)
      : data_(data), sink_(sink), file_(file), base_(base) {}

  std::size_t Run() {
    if (data_.substr(0, kStreamSignature.size()) != kStreamSignature)
      Fail(0, "component stream signature TPF0 missing");
    pos_ = kStreamSignature.size();
    ReadObject(0);
    return pos_;
  }

 private:
  [[noreturn]] void Fail(std::size_t at, std::string_view what) const {
    throw FormatError(std::string(file_) + ": offset " + std::to_string(base_ + at) + ": " +
                      std::string(what));
  }

  const unsigned char* At() const {
    return reinterpret_cast<const unsigned char*>(data_.data()) + pos_;
  }
  void Need(std::size_t n, const char* what) const {
    if (data_.size() - pos_ < n) Fail(pos_, std::string("truncated ") + what);
  }
  std::uint8_t Peek(const char* what) const {
    Need(1, what);
    return *At();
  }
  std::uint8_t U8(const char* what) {
    Need(1, what);
    return static_cast<std::uint8_t>(data_[pos_++]);
  }
  std::uint64_t Le(int n, const char* what) {
    Need(n, what);
    std::uint64_t v = LoadLe(At(), n);
    pos_ += n;
    return v;
  }
  std::string_view Bytes(std::size_t n, const char* what) {
    Need(n, what);
    std::string_view v = data_.substr(pos_, n);
    pos_ += n;
    return v;
  }
  std::string_view Short(const char* what) {
    std::size_t n = U8(what);
    return Bytes(n, what);
  }
  // Names and identifiers are UTF-8; bytes that are not are read as
  // Windows-1252 (streams written by 8-bit tools). They must be words that
  // form text can hold: letters (any non-ASCII character counts as one),
  // digits, "_" and "." (dotted paths), not starting with a digit or a dot
  // unless `kind` allows a leading digit (set elements), and every "." joins
  // two words: it is followed by a byte that may start a name, as the text
  // reader's dotted names require ("Font.Name", never "Caption.", "a..b" or
  // "Font.1"). A set element starting with a digit is a number in form text,
  // so it is all digits and fits a 64-bit integer (at most 18 digits here).
  // A name breaking this is a sign of a damaged stream.
  enum class NameKind { Word, Element };
  std::string_view Name(const char* what, std::string& scratch, NameKind kind = NameKind::Word) {
    std::size_t at = pos_;
    std::string_view raw = Short(what);
    if (raw.empty()) return raw;
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    unsigned ok = kNameBytes[p[0]] & (kind == NameKind::Element ? kStart | kDigit : kStart);
    unsigned follow = kFollow, high = p[0];
    for (std::size_t i = 1; i < raw.size(); ++i) {
      follow &= kNameBytes[p[i]];
      high |= p[i];
      if (p[i] == '.' && (i + 1 == raw.size() || !(kNameBytes[p[i + 1]] & kStart))) follow = 0;
    }
    if (ok && (kNameBytes[p[0]] & kDigit)) {
      bool number = raw.size() <= 18;
      for (unsigned char c : raw) number = number && c >= '0' && c <= '9';
      if (!number) ok = 0;
    }
    if (!ok || !follow) Fail(at, std::string("invalid ") + what);
    if ((high & 0x80) && !text::IsValidUtf8(raw)) {
      scratch.clear();
      text::AppendCp1252AsUtf8(scratch, raw);
      return scratch;
    }
    return raw;
  }
  void Deeper(int depth) const {
    if (depth > kMaxNesting) Fail(pos_, "nesting too deep");
  }
  // The terminating 00 of a property, element, item or child list.
  bool AtEnd(const char* what) {
    if (Peek(what) != 0) return false;
    ++pos_;
    return true;
  }

  std::int32_t SmallInteger(const char* what) {
    std::size_t at = pos_;
    switch (static_cast<ValueKind>(U8(what))) {
      case ValueKind::Int8:
        return static_cast<std::int8_t>(U8(what));
      case ValueKind::Int16:
        return static_cast<std::int16_t>(Le(2, what));
      case ValueKind::Int32:
        return static_cast<std::int32_t>(Le(4, what));
      default:
        Fail(at, std::string(what) + ": integer expected");
    }
  }

  void ReadObject(int depth) {
    Deeper(depth);
    std::uint8_t flags = 0;
    if ((Peek("object header") & 0xF0) == 0xF0) flags = U8("object header") & 0x0F;
    std::optional<std::int32_t> position;
    if (flags & 2) position = SmallInteger("child position");
    if (Peek("class name") == 0) Fail(pos_, "object without a class name");
    // A length byte of F0 or more reads as an object prefix where no prefix
    // was written, so no writer can store a class name that long: a second
    // prefix is damage.
    if (Peek("class name") >= 0xF0) Fail(pos_, "invalid class name");
    std::string_view class_name = Name("class name", class_scratch_);
    std::string_view name = Name("object name", name_scratch_);
    ObjectKind kind = (flags & 1)   ? ObjectKind::Inherited
                      : (flags & 4) ? ObjectKind::Inline
                                    : ObjectKind::Object;
    sink_.BeginObject(kind, class_name, name, position);
    while (!AtEnd("property list")) ReadProperty(depth);
    while (!AtEnd("child object list")) ReadObject(depth + 1);
    sink_.EndObject();
  }

  void ReadProperty(int depth) {
    sink_.BeginProperty(Name("property name", name_scratch_));
    ReadValue(depth + 1);
  }

  // 8-bit strings are Windows-1252.
  void String8(ValueKind kind, std::string_view raw) {
    if (IsAscii(raw)) return sink_.StringValue(kind, raw);
    scratch_.clear();
    text::AppendCp1252AsUtf8(scratch_, raw);
    sink_.StringValue(kind, scratch_);
  }

  std::size_t Count(const char* what) { return static_cast<std::size_t>(Le(4, what)); }

  void ReadValue(int depth) {
    Deeper(depth);
    std::size_t at = pos_;
    std::uint8_t tag = U8("value type");
    if (tag > kLastValueKind) Fail(at, "unknown value type " + std::to_string(tag));
    ValueKind kind = static_cast<ValueKind>(tag);
    switch (kind) {
      case ValueKind::List:
        sink_.BeginList();
        while (!AtEnd("list")) ReadValue(depth + 1);
        sink_.EndList();
        break;
      case ValueKind::Int8:
        sink_.IntegerValue(kind, static_cast<std::int8_t>(U8("integer")));
        break;
      case ValueKind::Int16:
        sink_.IntegerValue(kind, static_cast<std::int16_t>(Le(2, "integer")));
        break;
      case ValueKind::Int32:
        sink_.IntegerValue(kind, static_cast<std::int32_t>(Le(4, "integer")));
        break;
      case ValueKind::Int64:
      case ValueKind::Currency:
        sink_.IntegerValue(kind, static_cast<std::int64_t>(Le(8, "integer")));
        break;
      case ValueKind::Extended:
        sink_.RealValue(
            kind,
            DecodeExtended(reinterpret_cast<const unsigned char*>(Bytes(10, "float").data())));
        break;
      case ValueKind::Double:
      case ValueKind::Date:
        sink_.RealValue(kind, std::bit_cast<double>(Le(8, "float")));
        break;
      case ValueKind::Single:
        sink_.RealValue(kind, std::bit_cast<float>(static_cast<std::uint32_t>(Le(4, "float"))));
        break;
      case ValueKind::String:
        String8(kind, Short("string"));
        break;
      case ValueKind::LString:
        String8(kind, Bytes(Count("string"), "string"));
        break;
      case ValueKind::WString: {
        std::size_t units = Count("string");
        if (units > (data_.size() - pos_) / 2) Fail(pos_, "truncated string");
        scratch_.clear();
        AppendUtf16LeAsUtf8(scratch_, Bytes(units * 2, "string"));
        sink_.StringValue(kind, scratch_);
        break;
      }
      case ValueKind::Utf8String: {
        std::string_view raw = Bytes(Count("string"), "string");
        if (IsAscii(raw) || text::IsValidUtf8(raw)) {
          sink_.StringValue(kind, raw);
        } else {
          scratch_.clear();
          AppendSanitizedUtf8(scratch_, raw);
          sink_.StringValue(kind, scratch_);
        }
        break;
      }
      case ValueKind::Ident:
        if (Peek("identifier") == 0) Fail(pos_, "empty identifier");
        sink_.IdentValue(kind, Name("identifier", scratch_));
        break;
      case ValueKind::False:
      case ValueKind::True:
      case ValueKind::Nil:
      case ValueKind::Null:
        sink_.IdentValue(kind, KeywordText(kind));
        break;
      case ValueKind::Binary:
        sink_.BinaryValue(Bytes(Count("binary data"), "binary data"));
        break;
      case ValueKind::Set:
        sink_.BeginSet();
        while (!AtEnd("set")) sink_.SetElement(Name("set element", scratch_, NameKind::Element));
        sink_.EndSet();
        break;
      case ValueKind::Collection:
        ReadCollection(depth);
        break;
    }
  }

  void ReadCollection(int depth) {
    sink_.BeginCollection();
    while (!AtEnd("collection")) {
      std::optional<ItemIndex> index;
      auto k = static_cast<ValueKind>(Peek("collection item"));
      if (k == ValueKind::Int8 || k == ValueKind::Int16 || k == ValueKind::Int32)
        index = ItemIndex{k, SmallInteger("item index")};
      std::size_t at = pos_;
      if (U8("collection item") != static_cast<std::uint8_t>(ValueKind::List))
        Fail(at, "collection item: list expected");
      sink_.BeginItem(index);
      while (!AtEnd("collection item")) ReadProperty(depth + 1);
      sink_.EndItem();
    }
    sink_.EndCollection();
  }

  std::string_view data_;
  FormSink& sink_;
  std::string_view file_;
  std::size_t base_;
  std::size_t pos_ = 0;
  std::string scratch_, class_scratch_, name_scratch_;
};

}  // namespace

std::size_t ReadComponentStream(std::string_view bytes, FormSink& sink, std::string_view file_name,
                                std::size_t base_offset) {
  return StreamReader(bytes, sink, file_name, base_offset).Run();
}

FormObject ReadComponentStream(std::string_view bytes, std::string_view file_name,
                               std::size_t base_offset, std::size_t* consumed) {
  TreeBuilder builder;
  std::size_t used = ReadComponentStream(bytes, builder, file_name, base_offset);
  if (consumed) *consumed = used;
  return builder.Take();
}

bool LooksBinary(std::string_view bytes) {
  return bytes.substr(0, 3) == std::string_view("\xFF\x0A\x00", 3) ||
         bytes.substr(0, kStreamSignature.size()) == kStreamSignature;
}

StreamExtent LocateComponentStream(std::string_view bytes, std::string_view file_name) {
  auto fail = [&](std::size_t at, const std::string& what) -> StreamExtent {
    throw FormatError(std::string(file_name) + ": offset " + std::to_string(at) + ": " + what);
  };
  if (bytes.substr(0, kStreamSignature.size()) == kStreamSignature) return {0, bytes.size()};
  if (bytes.substr(0, 3) != std::string_view("\xFF\x0A\x00", 3))
    return fail(0, "not a binary form file (no resource header, no TPF0 signature)");
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t pos = 3;
  if (pos < bytes.size() && p[pos] == 0xFF) {
    pos += 3;  // ordinal name
  } else {
    std::size_t nul = bytes.find('\0', pos);
    if (nul == std::string_view::npos) return fail(pos, "resource name not terminated");
    pos = nul + 1;
  }
  if (bytes.size() < pos || bytes.size() - pos < 6) return fail(pos, "truncated resource header");
  std::size_t size = static_cast<std::size_t>(LoadLe(p + pos + 2, 4));
  pos += 6;
  if (size > bytes.size() - pos)
    return fail(pos - 4, "resource size " + std::to_string(size) + " exceeds the " +
                             std::to_string(bytes.size() - pos) + " bytes that follow");
  return {pos, size};
}

}  // namespace trd::form

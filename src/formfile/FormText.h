// Form text: the readable layout of component streams.
//
// Reading. Tokens may be separated by any white space, line breaks included,
// so the layout of the lines does not matter:
//   object   := ("object" | "inherited" | "inline") [name ":"] class
//               ["[" integer "]"] property* object* "end"
//   property := name "=" value                (name may be dotted: Font.Name)
//   value    := integer | real[s|c|d] | string | identifier
//             | "[" [element {"," element}] "]"        set
//             | "(" value* ")"                          list
//             | "{" hex digits and blanks "}"           binary data
//             | "<" item* ">"                           collection
//   item     := "item" ["[" integer "]"] property* "end"
//   string   := piece {"+" piece}
//   piece    := ('quoted text' | #code | #$hex)+, without blanks between
// Inside quotes '' stands for one apostrophe and every other character
// (also "#") is literal; #code is a Unicode code point (two codes forming a
// surrogate pair are one character). Keywords (object, end, item, False,
// True, nil, Null) ignore letter case. Integers take the narrowest kind;
// reals without suffix are Extended, suffix s Single, c Currency (the text
// holds the amount times 10000), d Date.
//
// Writing: the canonical layout (two spaces per level, "Name = value",
// strings cut into pieces of 64 characters, closers attached to the last
// entry); see TextWriter.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FormObject.h"
#include "FormSink.h"

namespace trd::form {

// The text of a text form file as UTF-8: a UTF-8 BOM is dropped; UTF-16 with
// a BOM (either byte order) is converted; BOM-less bytes that are valid UTF-8
// are taken as they are, anything else is read as Windows-1252.
std::string DecodeFormText(std::string_view bytes, std::string_view file_name);

// Parses form text (UTF-8, as DecodeFormText gives it) and replays it to
// `sink`. Errors are FormatError "<file_name>: line N: <what>".
void ParseFormText(std::string_view utf8, FormSink& sink, std::string_view file_name);
FormObject ParseFormText(std::string_view utf8, std::string_view file_name);

// Number formats of form text.
// Extended and Double: fixed point with 18 decimals, rounded to 16
// significant digits ("90.000000000000000000", "0.549548981478437800").
void AppendFixedReal(std::string& out, long double v);
// Single, Date, Currency (before their suffix): the shortest text of the
// value rounded to 15 significant digits, exponent form ("1.5E-7", "1E20")
// below 1E-4 and from 1E15 on.
void AppendGeneralReal(std::string& out, long double v);

// Writes events as lines of canonical form text (UTF-8, no line ends):
//   object Name: TClass [n]   (inherited / inline; "object TClass" unnamed)
//   two spaces of indentation per level; "Name = value"
//   strings: printable characters (code >= 32) raw inside quotes, the
//     apostrophe as #39 and control characters as #n; a string of more than
//     64 characters starts on the line after "Name = " (one level deeper) and
//     is cut into lines of 64 characters joined by " +"
//   lists "(" one entry per line, ")" appended to the last entry; sets
//     "[a, b]"; collections "<", "item" / "item [n]" ... "end", ">" appended to
//     the last "end" ("<>" when empty); binary data "{" then lines of up to 32
//     bytes in upper-case hex one level deeper, "}" appended to the last (all
//     on one line below 32 bytes)
//
// The writer replaces the content of `lines` once the root object has ended,
// reusing the storage of the strings already there. With a `spare` vector,
// strings no longer needed are parked there and taken back before new ones
// are allocated, so converting many files in a row allocates little. After a
// failure the content of `lines` is unspecified.
class TextWriter final : public FormSink {
 public:
  explicit TextWriter(std::vector<std::string>& lines, std::vector<std::string>* spare = nullptr)
      : lines_(lines), spare_(spare) {}

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

 private:
  // The line being built: a byte buffer that costs one capacity check per
  // append and keeps its storage from line to line.
  class Line {
   public:
    Line() : buf_(new char[256]), cap_(256) {}
    char* Extend(std::size_t n) {  // n more bytes at the end, uninitialised
      if (cap_ - size_ < n + 8) Grow(n + 8);
      char* p = buf_.get() + size_;
      size_ += n;
      return p;
    }
    Line& operator+=(std::string_view s) {
      if (!s.empty()) std::memcpy(Extend(s.size()), s.data(), s.size());
      return *this;
    }
    Line& operator+=(char c) {
      *Extend(1) = c;
      return *this;
    }
    void Spaces(std::size_t n) {  // in steps of 8, into the slack past the end
      char* p = Extend(n);
      constexpr std::uint64_t kEight = 0x2020202020202020ULL;
      for (std::size_t i = 0; i < n; i += 8) std::memcpy(p + i, &kEight, 8);
    }
    void Clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    std::string_view View() const { return {buf_.get(), size_}; }

   private:
    void Grow(std::size_t n);  // keeps 8 bytes of slack past the end
    std::unique_ptr<char[]> buf_;
    std::size_t size_ = 0;
    std::size_t cap_;
  };

  enum class Open : std::uint8_t { Object, Item, List, Set, Collection };
  void Indent() {
    line_.Clear();
    line_.Spaces(2 * static_cast<std::size_t>(level_));
  }
  // Copies the line into the result, into the storage of an old line where
  // there is one.
  void Flush() {
    if (count_ < lines_.size()) {
      lines_[count_].clear();
      lines_[count_].append(line_.View());
    } else if (spare_ && !spare_->empty()) {
      lines_.push_back(std::move(spare_->back()));
      spare_->pop_back();
      lines_.back().clear();
      lines_.back().append(line_.View());
    } else {
      lines_.emplace_back(line_.View());
    }
    ++count_;
    line_.Clear();
  }
  void NewLine() {
    Flush();
    Indent();
  }
  void BeforeValue() {
    if (!open_.empty() && open_.back() == Open::List) NewLine();
  }
  void AfterValue() {
    if (open_.empty() || open_.back() == Open::Object || open_.back() == Open::Item) Flush();
  }
  void AppendString(std::string_view utf8);

  void Finish();

  std::vector<std::string>& lines_;
  std::vector<std::string>* spare_;
  std::size_t count_ = 0;  // lines written
  Line line_;
  int level_ = 0;
  std::vector<Open> open_;
  bool first_element_ = true;
};

// The tree as lines of canonical form text.
std::vector<std::string> FormToText(const FormObject& root);

// Converts many form files in a row into one vector of lines, keeping the
// storage of earlier conversions for later ones.
class FormTextBuffer {
 public:
  // Lines of `lines()` are replaced by the sink's output once its root
  // object has ended.
  TextWriter Writer() { return TextWriter(lines_, &spare_); }
  const std::vector<std::string>& lines() const { return lines_; }
  std::vector<std::string>& lines() { return lines_; }

 private:
  std::vector<std::string> lines_;
  std::vector<std::string> spare_;
};

}  // namespace trd::form

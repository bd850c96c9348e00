// Reading form text: decoding the file's bytes and parsing the tokens.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "FormBinary.h"
#include "FormEncoding.h"
#include "FormText.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::form {
namespace {

bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsIdentChar(unsigned char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

class TextParser {
 public:
  TextParser(std::string_view s, FormSink& sink, std::string_view file)
      : s_(s), sink_(sink), file_(file) {}

  void Run() {
    Next();
    if (!AtHeaderWord()) Fail("object, inherited or inline expected");
    ParseObject(0);
    if (tok_ != Tok::End) Fail("text after the end of the root object");
  }

 private:
  enum class Tok : std::uint8_t { End, Symbol, Integer, Real, String, Char };

  [[noreturn]] void Fail(std::string_view what) const { FailAt(tok_line_, what); }
  [[noreturn]] void FailAt(int line, std::string_view what) const {
    throw FormatError(std::string(file_) + ": line " + std::to_string(line) + ": " +
                      std::string(what));
  }

  // Skips blanks and control characters, counting lines (LF, CR LF, CR).
  void SkipBlanks() {
    while (p_ < s_.size() && static_cast<unsigned char>(s_[p_]) <= 32) {
      if (s_[p_] == '\n' || (s_[p_] == '\r' && (p_ + 1 >= s_.size() || s_[p_ + 1] != '\n')))
        ++line_;
      ++p_;
    }
  }

  bool NextCharIs(char c) {
    std::size_t save = p_;
    int save_line = line_;
    SkipBlanks();
    bool is = p_ < s_.size() && s_[p_] == c;
    p_ = save;
    line_ = save_line;
    return is;
  }

  void Next() {
    SkipBlanks();
    tok_line_ = line_;
    if (p_ >= s_.size()) {
      tok_ = Tok::End;
      return;
    }
    std::size_t start = p_;
    char c = s_[p_];
    if (IsIdentStart(static_cast<unsigned char>(c))) {
      // Dotted names (Font.Name, DataModule.Table) are one symbol.
      for (;;) {
        while (p_ < s_.size() && IsIdentChar(static_cast<unsigned char>(s_[p_]))) ++p_;
        if (p_ + 1 < s_.size() && s_[p_] == '.' &&
            IsIdentStart(static_cast<unsigned char>(s_[p_ + 1])))
          ++p_;
        else
          break;
      }
      tok_ = Tok::Symbol;
      text_ = s_.substr(start, p_ - start);
    } else if (c == '$') {
      ++p_;
      while (p_ < s_.size() && HexDigit(s_[p_]) >= 0) ++p_;
      text_ = s_.substr(start, p_ - start);
      ReadHexInteger();
    } else if (c == '-' || IsDigit(c)) {
      ReadNumber(start);
    } else if (c == '\'' || c == '#') {
      tok_ = Tok::String;
      str_.clear();
      high_ = 0;
      ReadString();
    } else {
      tok_ = Tok::Char;
      ch_ = c;
      ++p_;
    }
  }

  void ReadHexInteger() {
    std::uint64_t v = 0;
    auto r = std::from_chars(text_.data() + 1, text_.data() + text_.size(), v, 16);
    if (text_.size() < 2 || r.ec != std::errc() || v > static_cast<std::uint64_t>(INT64_MAX))
      Fail("invalid number " + std::string(text_));
    tok_ = Tok::Integer;
    int_ = static_cast<std::int64_t>(v);
  }

  // -?digits, then any of digits . e E + - make it a real; a suffix letter
  // s, c or d gives the real's kind.
  void ReadNumber(std::size_t start) {
    ++p_;
    while (p_ < s_.size() && IsDigit(s_[p_])) ++p_;
    bool real = false;
    while (p_ < s_.size() && (IsDigit(s_[p_]) || s_[p_] == '.' || s_[p_] == 'e' || s_[p_] == 'E' ||
                              s_[p_] == '+' || s_[p_] == '-')) {
      ++p_;
      real = true;
    }
    text_ = s_.substr(start, p_ - start);
    real_kind_ = ValueKind::Extended;
    if (p_ < s_.size()) {
      switch (s_[p_]) {
        case 's':
        case 'S':
          real_kind_ = ValueKind::Single;
          break;
        case 'c':
        case 'C':
          real_kind_ = ValueKind::Currency;
          break;
        case 'd':
        case 'D':
          real_kind_ = ValueKind::Date;
          break;
        default:
          break;
      }
      if (real_kind_ != ValueKind::Extended) {
        ++p_;
        real = true;
      }
    }
    const char* b = text_.data();
    const char* e = b + text_.size();
    if (!real) {
      auto r = std::from_chars(b, e, int_);
      if (r.ec == std::errc::result_out_of_range)
        Fail("integer out of range: " + std::string(text_));
      if (r.ec != std::errc() || r.ptr != e) Fail("invalid number " + std::string(text_));
      tok_ = Tok::Integer;
      return;
    }
    auto r = std::from_chars(b, e, real_);
    if (r.ec != std::errc() || r.ptr != e) Fail("invalid number " + std::string(text_));
    tok_ = Tok::Real;
  }

  void AppendCode(char32_t code) {
    if (high_ && code >= 0xDC00 && code <= 0xDFFF) {
      text::AppendUtf8(str_, 0x10000 + ((high_ - 0xD800) << 10) + (code - 0xDC00));
      high_ = 0;
      return;
    }
    FlushHigh();
    if (code >= 0xD800 && code <= 0xDBFF)
      high_ = code;  // may pair with the next code, even across " +"
    else
      text::AppendUtf8(str_, code);  // a lone low surrogate becomes U+FFFD
  }
  void FlushHigh() {
    if (high_) text::AppendUtf8(str_, 0xFFFD);
    high_ = 0;
  }

  // One piece: quoted runs and #codes without blanks between; appended to
  // str_.
  void ReadString() {
    while (p_ < s_.size()) {
      if (s_[p_] == '\'') {
        FlushHigh();
        ++p_;
        for (;;) {
          if (p_ >= s_.size() || s_[p_] == '\n' || s_[p_] == '\r') Fail("unterminated string");
          char c = s_[p_++];
          if (c == '\'') {
            if (p_ < s_.size() && s_[p_] == '\'') {
              ++p_;
            } else {
              break;
            }
          }
          str_ += c;
        }
      } else if (s_[p_] == '#') {
        ++p_;
        int base = 10;
        if (p_ < s_.size() && s_[p_] == '$') {
          base = 16;
          ++p_;
        }
        std::size_t d = p_;
        std::uint32_t code = 0;
        while (p_ < s_.size() && (base == 16 ? HexDigit(s_[p_]) >= 0 : IsDigit(s_[p_]))) {
          code = code * base + static_cast<std::uint32_t>(HexDigit(s_[p_]));
          if (code > 0x10FFFF) Fail("character code out of range");
          ++p_;
        }
        if (p_ == d) Fail("character code expected after #");
        AppendCode(code);
      } else {
        break;
      }
    }
  }

  bool AtWord(std::string_view word) {
    return tok_ == Tok::Symbol && text::EqualsIgnoreCase(text_, word) && !NextCharIs('=');
  }
  bool AtHeaderWord() { return AtWord("object") || AtWord("inherited") || AtWord("inline"); }
  bool AtChar(char c) const { return tok_ == Tok::Char && ch_ == c; }
  void Expect(char c, std::string_view what) {
    if (!AtChar(c)) Fail(what);
    Next();
  }
  std::string_view Symbol(std::string_view what) {
    if (tok_ != Tok::Symbol) Fail(std::string(what) + " expected");
    if (text_.size() > 255) Fail(std::string(what) + " longer than 255 bytes");
    std::string_view v = text_;
    Next();
    return v;
  }
  std::int32_t Index(std::string_view what) {
    if (tok_ != Tok::Integer || int_ < INT32_MIN || int_ > INT32_MAX)
      Fail(std::string(what) + " expected");
    auto v = static_cast<std::int32_t>(int_);
    Next();
    Expect(']', "] expected after " + std::string(what));
    return v;
  }
  void Deeper(int depth) const {
    if (depth > kMaxNesting) Fail("nesting too deep");
  }

  void ParseObject(int depth) {
    Deeper(depth);
    ObjectKind kind = text::EqualsIgnoreCase(text_, "object")      ? ObjectKind::Object
                      : text::EqualsIgnoreCase(text_, "inherited") ? ObjectKind::Inherited
                                                                   : ObjectKind::Inline;
    int header_line = tok_line_;
    Next();
    std::string_view name, class_name = Symbol("class name");
    if (AtChar(':')) {
      Next();
      name = class_name;
      class_name = Symbol("class name");
    }
    std::optional<std::int32_t> position;
    if (AtChar('[')) {
      Next();
      position = Index("child position");
    }
    sink_.BeginObject(kind, class_name, name, position);
    bool children = false;
    for (;;) {
      if (tok_ == Tok::End)
        FailAt(header_line,
               "object " + std::string(name.empty() ? class_name : name) + " has no end");
      if (AtWord("end")) break;
      if (AtHeaderWord()) {
        ParseObject(depth + 1);
        children = true;
        continue;
      }
      if (tok_ != Tok::Symbol) Fail("property name expected");
      if (children) Fail("property after a child object");
      ParseProperty(depth);
    }
    Next();
    sink_.EndObject();
  }

  void ParseProperty(int depth) {
    std::string_view name = Symbol("property name");
    Expect('=', "= expected after property " + std::string(name));
    sink_.BeginProperty(name);
    ParseValue(depth + 1, Open::Property);
  }

  enum class Open : std::uint8_t { Property, List };

  void ParseValue(int depth, Open where) {
    Deeper(depth);
    switch (tok_) {
      case Tok::Integer:
        sink_.IntegerValue(IntegerKindFor(int_), int_);
        Next();
        return;
      case Tok::Real:
        if (real_kind_ == ValueKind::Currency) {
          // Currency is a 64-bit count written with 15 significant digits,
          // so the ends of its range come out as +-9.22337203685478E18, a
          // little beyond them: such a text reads as the end it stands for.
          constexpr long double kShownEnd = 9.22337203685478e18L;
          constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
          constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
          long double v = std::round(real_);
          if (!(v >= -kShownEnd && v <= kShownEnd)) Fail("currency out of range");
          sink_.IntegerValue(ValueKind::Currency,
                             v <= static_cast<long double>(kMin)   ? kMin
                             : v >= static_cast<long double>(kMax) ? kMax
                                                                   : static_cast<std::int64_t>(v));
        } else if (real_kind_ == ValueKind::Single) {
          sink_.RealValue(real_kind_, static_cast<float>(real_));
        } else if (real_kind_ == ValueKind::Date) {
          sink_.RealValue(real_kind_, static_cast<double>(real_));
        } else {
          sink_.RealValue(real_kind_, real_);
        }
        Next();
        return;
      case Tok::String:
        ParseString();
        return;
      case Tok::Symbol:
        ParseWord(where);
        return;
      case Tok::Char:
        break;
      case Tok::End:
        Fail("value expected");
    }
    switch (ch_) {
      case '[':
        ParseSet();
        return;
      case '(':
        ParseList(depth);
        return;
      case '{':
        ParseBinary();
        return;
      case '<':
        ParseCollection(depth);
        return;
      default:
        Fail(std::string("value expected, found ") + ch_);
    }
  }

  // Pieces joined by "+", each decoded on its own and appended to str_
  // (the first one by Next()).
  void ParseString() {
    ReadStringPieces();
    FlushHigh();
    sink_.StringValue(StringKindFor(str_), str_);
    Next();
  }
  void ReadStringPieces() {
    for (;;) {
      // The current token is a piece already appended to str_.
      std::size_t save = p_;
      int save_line = line_;
      SkipBlanks();
      if (p_ >= s_.size() || s_[p_] != '+') {
        p_ = save;
        line_ = save_line;
        return;
      }
      ++p_;
      SkipBlanks();
      tok_line_ = line_;
      if (p_ >= s_.size() || (s_[p_] != '\'' && s_[p_] != '#')) Fail("string expected after +");
      ReadString();
    }
  }

  void ParseWord(Open where) {
    static constexpr ValueKind kKeywords[] = {ValueKind::False, ValueKind::True, ValueKind::Nil,
                                              ValueKind::Null};
    for (ValueKind k : kKeywords) {
      if (text::EqualsIgnoreCase(text_, KeywordText(k))) {
        if (k == ValueKind::Null && where == Open::List) Fail("Null cannot be a list element");
        sink_.IdentValue(k, KeywordText(k));
        Next();
        return;
      }
    }
    sink_.IdentValue(ValueKind::Ident, Symbol("identifier"));
  }

  void ParseSet() {
    Next();
    sink_.BeginSet();
    if (!AtChar(']')) {
      for (;;) {
        if (tok_ != Tok::Symbol && tok_ != Tok::Integer) Fail("set element expected");
        if (text_.size() > 255) Fail("set element longer than 255 bytes");
        sink_.SetElement(text_);
        Next();
        if (AtChar(']')) break;
        Expect(',', ", or ] expected in set");
      }
    }
    Next();
    sink_.EndSet();
  }

  void ParseList(int depth) {
    int open_line = tok_line_;
    Next();
    sink_.BeginList();
    while (!AtChar(')')) {
      if (tok_ == Tok::End) FailAt(open_line, "list not closed");
      ParseValue(depth + 1, Open::List);
    }
    Next();
    sink_.EndList();
  }

  // Hex digits up to "}", blanks and line breaks ignored.
  void ParseBinary() {
    int open_line = tok_line_;
    str_.clear();
    int high = -1;
    for (;;) {
      SkipBlanks();
      if (p_ >= s_.size()) FailAt(open_line, "binary data not closed");
      char c = s_[p_++];
      if (c == '}') break;
      int d = HexDigit(c);
      if (d < 0) FailAt(line_, "invalid character in binary data");
      if (high < 0) {
        high = d;
      } else {
        str_ += static_cast<char>(high * 16 + d);
        high = -1;
      }
    }
    if (high >= 0) FailAt(line_, "odd number of hex digits in binary data");
    sink_.BinaryValue(str_);
    Next();
  }

  void ParseCollection(int depth) {
    int open_line = tok_line_;
    Next();
    sink_.BeginCollection();
    while (!AtChar('>')) {
      if (tok_ == Tok::End) FailAt(open_line, "collection not closed");
      if (!AtWord("item")) Fail("item or > expected in collection");
      Next();
      std::optional<ItemIndex> index;
      if (AtChar('[')) {
        Next();
        std::int32_t v = Index("item index");
        index = ItemIndex{IntegerKindFor(v), v};
      }
      sink_.BeginItem(index);
      int item_line = tok_line_;
      while (!AtWord("end")) {
        if (tok_ == Tok::End) FailAt(item_line, "collection item has no end");
        if (tok_ != Tok::Symbol) Fail("property name expected");
        ParseProperty(depth + 1);
      }
      Next();
      sink_.EndItem();
    }
    Next();
    sink_.EndCollection();
  }

  std::string_view s_;
  FormSink& sink_;
  std::string_view file_;
  std::size_t p_ = 0;
  int line_ = 1;
  // Current token.
  Tok tok_ = Tok::End;
  int tok_line_ = 1;
  std::string_view text_;  // Symbol, Integer, Real: as written
  char ch_ = 0;
  std::int64_t int_ = 0;
  long double real_ = 0;
  ValueKind real_kind_ = ValueKind::Extended;
  std::string str_;    // String: decoded pieces; binary data
  char32_t high_ = 0;  // pending high surrogate of a string
};

}  // namespace

std::string DecodeFormText(std::string_view bytes, std::string_view file_name) {
  std::string out;
  auto take = [&](std::string_view b) {
    if (IsAscii(b))
      out.assign(b);
    else
      out = text::DecodeUtf8OrCp1252(b);
  };
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    take(bytes.substr(3));
  } else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    std::string_view body = bytes.substr(2);
    if (body.size() % 2 != 0)
      throw FormatError(std::string(file_name) + ": UTF-16 text with an odd number of bytes");
    if (bytes[0] == '\xFF') {
      AppendUtf16LeAsUtf8(out, body);
    } else {
      std::string swapped(body);
      for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
      AppendUtf16LeAsUtf8(out, swapped);
    }
  } else {
    take(bytes);
  }
  return out;
}

void ParseFormText(std::string_view utf8, FormSink& sink, std::string_view file_name) {
  TextParser(utf8, sink, file_name).Run();
}

FormObject ParseFormText(std::string_view utf8, std::string_view file_name) {
  TreeBuilder builder;
  ParseFormText(utf8, builder, file_name);
  return builder.Take();
}

}  // namespace trd::form

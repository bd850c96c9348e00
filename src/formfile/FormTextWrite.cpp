// Canonical form text: the text writer and the number formats.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "FormEncoding.h"
#include "FormText.h"
#include "platform/Text.h"

namespace trd::form {
namespace {

constexpr std::size_t kPieceLength = 64;   // characters per string line
constexpr std::size_t kBytesPerLine = 32;  // binary data bytes per line

// A finite non-zero value rounded to `significant` digits:
// |value| = digits[0] "." digits[1..count) * 10^exponent.
struct Decimal {
  char digits[40];
  int count = 0;
  int exponent = 0;
  bool negative = false;
};

Decimal Round(long double v, int significant) {
  char buf[80];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, significant - 1);
  Decimal d;
  const char* p = buf;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') d.digits[d.count++] = *p;
  ++p;  // 'e'
  int sign = 1;
  if (*p == '-' || *p == '+') sign = (*p++ == '-') ? -1 : 1;
  int e = 0;
  std::from_chars(p, r.ptr, e);
  d.exponent = sign * e;
  return d;
}

bool AppendSpecial(std::string& out, long double v) {
  if (std::isnan(v)) {
    out += "NAN";
  } else if (std::isinf(v)) {
    out += v < 0 ? "-INF" : "INF";
  } else {
    return false;
  }
  return true;
}

template <class Out>
void AppendInt(Out& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out += std::string_view(buf, static_cast<std::size_t>(r.ptr - buf));
}

}  // namespace

void AppendGeneralReal(std::string& out, long double v) {
  if (AppendSpecial(out, v)) return;
  if (v == 0) {
    out += '0';
    return;
  }
  Decimal d = Round(v, 15);
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  if (d.negative) out += '-';
  if (d.exponent < -4 || d.exponent >= 15) {
    out += d.digits[0];
    if (d.count > 1) {
      out += '.';
      out.append(d.digits + 1, d.count - 1);
    }
    out += 'E';
    AppendInt(out, d.exponent);
  } else if (d.exponent >= 0) {
    int whole = d.exponent + 1;
    for (int i = 0; i < whole; ++i) out += i < d.count ? d.digits[i] : '0';
    if (d.count > whole) {
      out += '.';
      out.append(d.digits + whole, d.count - whole);
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out.append(d.digits, d.count);
  }
}

void AppendFixedReal(std::string& out, long double v) {
  constexpr int kDecimals = 18, kPrecision = 16;
  if (AppendSpecial(out, v)) return;
  Decimal d;
  if (v != 0) {
    d = Round(v, kPrecision);
    if (d.exponent >= kPrecision) return AppendGeneralReal(out, v);
    // Digits beyond the 18th decimal are not shown: round there instead.
    int shown = std::min(kPrecision, d.exponent + 1 + kDecimals);
    if (shown < kPrecision) d = shown > 0 ? Round(v, shown) : Decimal{};
  }
  if (d.count == 0) {  // zero at 18 decimals
    out += "0.";
    out.append(kDecimals, '0');
    return;
  }
  if (d.negative) out += '-';
  std::string_view digits(d.digits, d.count);
  std::size_t frac_digits = 0;
  if (d.exponent >= 0) {
    std::size_t whole = static_cast<std::size_t>(d.exponent) + 1;
    for (std::size_t i = 0; i < whole; ++i) out += i < digits.size() ? digits[i] : '0';
    out += '.';
    if (digits.size() > whole) {
      out.append(digits.substr(whole));
      frac_digits = digits.size() - whole;
    }
  } else {
    out += "0.";
    std::size_t zeros = static_cast<std::size_t>(-d.exponent - 1);
    out.append(zeros, '0');
    out.append(digits);
    frac_digits = zeros + digits.size();
  }
  if (frac_digits < kDecimals) out.append(kDecimals - frac_digits, '0');
}

void TextWriter::Line::Grow(std::size_t n) {
  std::size_t cap = std::max(2 * cap_, size_ + n);
  std::unique_ptr<char[]> buf(new char[cap]);
  std::memcpy(buf.get(), buf_.get(), size_);
  buf_ = std::move(buf);
  cap_ = cap;
}

void TextWriter::BeginObject(ObjectKind kind, std::string_view class_name, std::string_view name,
                             std::optional<std::int32_t> position) {
  Indent();
  line_ += kind == ObjectKind::Inherited ? "inherited "
           : kind == ObjectKind::Inline  ? "inline "
                                         : "object ";
  if (!name.empty()) {
    line_ += name;
    line_ += ": ";
  }
  line_ += class_name;
  if (position) {
    line_ += " [";
    AppendInt(line_, *position);
    line_ += ']';
  }
  Flush();
  ++level_;
  open_.push_back(Open::Object);
}

void TextWriter::EndObject() {
  --level_;
  open_.pop_back();
  Indent();
  line_ += "end";
  Flush();
  if (open_.empty()) Finish();
}

// Drops the old lines beyond the text, parking their storage when there is
// a spare vector.
void TextWriter::Finish() {
  if (spare_)
    for (std::size_t i = count_; i < lines_.size(); ++i) spare_->push_back(std::move(lines_[i]));
  lines_.resize(count_);
}

void TextWriter::BeginProperty(std::string_view name) {
  Indent();
  line_ += name;
  line_ += " = ";
}

void TextWriter::IntegerValue(ValueKind kind, std::int64_t v) {
  BeforeValue();
  if (kind == ValueKind::Currency) {
    std::string t;
    AppendGeneralReal(t, static_cast<long double>(v));
    line_ += t;
    line_ += 'c';
  } else {
    AppendInt(line_, v);
  }
  AfterValue();
}

void TextWriter::RealValue(ValueKind kind, long double v) {
  BeforeValue();
  std::string t;
  switch (kind) {
    case ValueKind::Single:
      AppendGeneralReal(t, v);
      t += 's';
      break;
    case ValueKind::Date:
      AppendGeneralReal(t, v);
      t += 'd';
      break;
    default:
      AppendFixedReal(t, v);
  }
  line_ += t;
  AfterValue();
}

void TextWriter::StringValue(ValueKind, std::string_view utf8) {
  BeforeValue();
  AppendString(utf8);
  AfterValue();
}

// Pieces of at most 64 characters: a run of printable characters is one
// quoted piece, every other character one #code; a line is cut as soon as
// it holds 64 characters and more follow.
void TextWriter::AppendString(std::string_view s) {
  if (s.size() <= kPieceLength) {  // common case: one quoted piece
    bool plain = true;
    for (char c : s)
      plain = plain && static_cast<unsigned char>(c) >= 32 && c != '\'' &&
              static_cast<unsigned char>(c) < 0x80;
    if (plain) {
      line_ += '\'';
      line_ += s;
      line_ += '\'';
      return;
    }
  }
  std::size_t length = IsAscii(s) ? s.size() : text::Length(s);
  ++level_;
  if (length > kPieceLength) NewLine();
  auto next = [&](std::size_t& p) -> char32_t {
    auto c = static_cast<unsigned char>(s[p]);
    if (c < 0x80) {
      ++p;
      return c;
    }
    return text::DecodeUtf8(s, p);
  };
  auto printable = [](char32_t c) { return c >= 32 && c != '\''; };
  std::size_t p = 0, i = 0, line_start = 0;
  while (i < length) {
    std::size_t q = p;
    char32_t c = next(q);
    if (printable(c)) {
      std::size_t run = p;
      for (;;) {
        p = q;
        ++i;
        if (i >= length || i - line_start >= kPieceLength) break;
        c = next(q);
        if (!printable(c)) break;
      }
      line_ += '\'';
      line_ += s.substr(run, p - run);
      line_ += '\'';
    } else {
      line_ += '#';
      AppendInt(line_, static_cast<std::int64_t>(c));
      p = q;
      ++i;
    }
    if (i - line_start >= kPieceLength && i < length) {
      line_ += " +";
      NewLine();
      line_start = i;
    }
  }
  --level_;
}

// Form text reads False, True, nil and Null in any letter case as those
// values; binary streams may hold them as identifiers too (some converters
// write "Null" so). Such an identifier is written in the keyword's own
// spelling, which is how it reads back, so the canonical text of a stream is
// also the canonical text of the stream made from that text.
namespace {
std::string_view KeywordSpelling(std::string_view ident) {
  for (ValueKind k : {ValueKind::False, ValueKind::True, ValueKind::Nil, ValueKind::Null})
    if (text::EqualsIgnoreCase(ident, KeywordText(k))) return KeywordText(k);
  return ident;
}
}  // namespace

void TextWriter::IdentValue(ValueKind kind, std::string_view text) {
  BeforeValue();
  line_ += kind == ValueKind::Ident ? KeywordSpelling(text) : KeywordText(kind);
  AfterValue();
}

namespace {

// The two hex digits of each byte as they lie in memory, so that four bytes
// become one 8-byte store.
constexpr auto kHexPairs = [] {
  std::array<std::uint16_t, 256> t{};
  constexpr char kHex[] = "0123456789ABCDEF";
  for (int b = 0; b < 256; ++b) {
    auto hi = static_cast<std::uint16_t>(kHex[b >> 4]),
         lo = static_cast<std::uint16_t>(kHex[b & 15]);
    t[b] = std::endian::native == std::endian::little ? static_cast<std::uint16_t>(hi | lo << 8)
                                                      : static_cast<std::uint16_t>(hi << 8 | lo);
  }
  return t;
}();

void HexEncode(const unsigned char* in, std::size_t n, char* out) {
  std::size_t k = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; k + 4 <= n; k += 4) {
      std::uint64_t w =
          std::uint64_t{kHexPairs[in[k]]} | std::uint64_t{kHexPairs[in[k + 1]]} << 16 |
          std::uint64_t{kHexPairs[in[k + 2]]} << 32 | std::uint64_t{kHexPairs[in[k + 3]]} << 48;
      std::memcpy(out + 2 * k, &w, 8);
    }
  }
  for (; k < n; ++k) std::memcpy(out + 2 * k, &kHexPairs[in[k]], 2);
}

}  // namespace

void TextWriter::BinaryValue(std::string_view bytes) {
  BeforeValue();
  line_ += '{';
  ++level_;
  bool multi_line = bytes.size() >= kBytesPerLine;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t off = 0; off < bytes.size(); off += kBytesPerLine) {
    if (multi_line) NewLine();
    std::size_t n = std::min(kBytesPerLine, bytes.size() - off);
    HexEncode(in + off, n, line_.Extend(2 * n));
  }
  --level_;
  line_ += '}';
  AfterValue();
}

void TextWriter::BeginSet() {
  BeforeValue();
  line_ += '[';
  open_.push_back(Open::Set);
  first_element_ = true;
}

void TextWriter::SetElement(std::string_view name) {
  if (!first_element_) line_ += ", ";
  first_element_ = false;
  line_ += name;
}

void TextWriter::EndSet() {
  line_ += ']';
  open_.pop_back();
  AfterValue();
}

void TextWriter::BeginList() {
  BeforeValue();
  line_ += '(';
  ++level_;
  open_.push_back(Open::List);
}

void TextWriter::EndList() {
  --level_;
  open_.pop_back();
  line_ += ')';
  AfterValue();
}

void TextWriter::BeginCollection() {
  BeforeValue();
  line_ += '<';
  ++level_;
  open_.push_back(Open::Collection);
}

void TextWriter::BeginItem(std::optional<ItemIndex> index) {
  NewLine();
  line_ += "item";
  if (index) {
    line_ += " [";
    AppendInt(line_, index->value);
    line_ += ']';
  }
  Flush();
  ++level_;
  open_.push_back(Open::Item);
}

void TextWriter::EndItem() {
  --level_;
  open_.pop_back();
  Indent();
  line_ += "end";
}

void TextWriter::EndCollection() {
  --level_;
  open_.pop_back();
  line_ += '>';
  AfterValue();
}

std::vector<std::string> FormToText(const FormObject& root) {
  std::vector<std::string> lines;
  TextWriter writer(lines);
  WalkTree(root, writer);
  return lines;
}

}  // namespace trd::form

#include "PropertyValues.h"

#include <array>

#include "platform/Errors.h"
#include "platform/Text.h"
#include "shared/Services.h"

namespace trd::extract {
namespace {

constexpr std::array<std::string_view, 10> kSimpleTextNames = {
    "Caption",     "Hint",         "Text",          "SimpleText",  "Title",
    "ReportTitle", "DisplayLabel", "Title.Caption", "DisplayName", "EmptyError"};
constexpr std::array<std::string_view, 7> kStringListNames = {
    "Lines.Strings", "Items.Strings", "Messages.Strings", "RuntimeMessages.Strings",
    "Tabs.Strings",  "Hints.Strings", "PickList.Strings"};
constexpr std::array<std::string_view, 4> kCollectionNames = {"Sections", "Columns", "Panels",
                                                              "Dimensions"};
// Further names that reach the string-list reader (see IsStringListProperty).
constexpr std::array<std::string_view, 5> kStringListExtraNames = {
    "Lines.Nodes", "Caption", "Title.Caption", "DisplayName", "DisplayLabel"};

template <std::size_t N>
bool InTable(const std::array<std::string_view, N>& table, std::string_view name) {
  for (std::string_view t : table)
    if (text::EqualsIgnoreCase(t, name)) return true;
  return false;
}

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The text without its first n characters (empty when it has no more).
std::string_view DropChars(std::string_view s, std::size_t n) {
  return s.substr(text::Left(s, n).size());
}

// The text without its last n characters (empty when it has no more).
std::string_view DropLastChars(std::string_view s, std::size_t n) {
  std::size_t len = text::Length(s);
  return len <= n ? std::string_view() : text::Left(s, len - n);
}

// A piece line without the " +" that joins it to the next one.
std::string_view StripJoin(std::string_view t) {
  return EndsWith(t, " +") ? t.substr(0, t.size() - 2) : t;
}

// Compatibility: earlier readers cut each continuation line to a piece by
// these rules and, when everything gathered that way was empty, looked for
// the value on the next line. The text no longer comes from these cuts, but
// the lines consumed stay the same.
std::string_view LegacyPiece(std::string_view t) {
  if (t.find(" +") != std::string_view::npos) return DropLastChars(DropChars(t, 1), 3);
  if (std::size_t dot = t.find('.'); dot != std::string_view::npos) {
    // from the second character up to and including the first "."
    std::size_t from = text::Left(t, 1).size();
    return dot < from ? std::string_view() : t.substr(from, dot + 1 - from);
  }
  return DropChars(t, 1);
}

// Name and raw value of a property line: the name is the text before the
// first " ="; the raw value is the line without the name, " =" and the
// character after it (without its first two characters when there is no
// " =").
std::string_view SplitLine(std::string_view line, std::string& name) {
  std::size_t eq = line.find(" =");
  if (eq == std::string_view::npos) {
    name.clear();
    return DropChars(line, 2);
  }
  name.assign(line.substr(0, eq));
  return DropChars(line.substr(eq + 2), 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsSimpleTextName(std::string_view property) { return InTable(kSimpleTextNames, property); }
bool IsStringListName(std::string_view property) { return InTable(kStringListNames, property); }
bool IsCollectionName(std::string_view property) { return InTable(kCollectionNames, property); }

// ---- String expressions -----------------------------------------------------

void StringDecoder::Flush() {
  if (pending_high_) {
    text::AppendUtf8(out_, 0xFFFD);
    pending_high_ = 0;
  }
}

void StringDecoder::Emit(char32_t cp) {
  if (cp >= 0xDC00 && cp <= 0xDFFF && pending_high_) {
    text::AppendUtf8(out_, 0x10000 + ((pending_high_ - 0xD800) << 10) + (cp - 0xDC00));
    pending_high_ = 0;
    return;
  }
  Flush();
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    pending_high_ = cp;
    return;
  }
  text::AppendUtf8(out_, cp);  // lone low surrogates and out-of-range codes become U+FFFD
}

void StringDecoder::Add(std::string_view piece) {
  const std::size_t n = piece.size();
  std::size_t i = 0;
  while (i < n) {
    char c = piece[i];
    if (c == '\'') {  // quoted run: literal up to the closing quote
      ++i;
      for (;;) {
        std::size_t q = piece.find('\'', i);
        if (q == std::string_view::npos) {
          if (i < n) Flush();
          out_.append(piece.substr(i));
          i = n;
          break;
        }
        if (q > i) {
          Flush();
          out_.append(piece.substr(i, q - i));
        }
        if (q + 1 < n && piece[q + 1] == '\'') {  // doubled quote: one apostrophe
          Flush();
          out_ += '\'';
          i = q + 2;
          continue;
        }
        i = q + 1;
        break;
      }
    } else if (c == '#') {
      ++i;
      if (i < n && IsDigit(piece[i])) {
        char32_t cp = 0;
        while (i < n && IsDigit(piece[i])) {
          if (cp <= 0x10FFFF) cp = cp * 10 + char32_t(piece[i] - '0');
          ++i;
        }
        Emit(cp);
      }
      // a "#" without digits is dropped
    } else {
      Flush();
      out_ += c;
      ++i;
    }
  }
}

std::string StringDecoder::Take() {
  Flush();
  std::string r = std::move(out_);
  out_.clear();
  return r;
}

std::string DecodeString(std::string_view piece) {
  StringDecoder d;
  d.Add(piece);
  return d.Take();
}

// ---- Property lines ---------------------------------------------------------

PropertyLine ReadPropertyLine(std::string_view line, const std::vector<std::string>& lines,
                              std::size_t& index) {
  PropertyLine result;
  if (line.find(" =") == std::string_view::npos && line.find(" +") == std::string_view::npos)
    return result;
  const std::size_t property_line = index;
  std::string_view raw = SplitLine(line, result.name);

  auto next_line = [&]() -> std::string_view {
    if (index + 1 >= lines.size()) {
      throw FormatError("line " + std::to_string(property_line + 1) + ": the value of " +
                        (result.name.empty() ? std::string("the line") : "'" + result.name + "'") +
                        " continues past the last line");
    }
    ++index;
    return text::Trim(lines[index]);
  };

  StringDecoder value;
  // Whether the text gathered by the legacy rules is empty; an empty one
  // means the value starts on the next line.
  bool gathered_empty;
  if (EndsWith(raw, " +")) {
    value.Add(StripJoin(raw));
    gathered_empty = text::Length(raw) <= 3;
    for (std::string_view piece_line = raw; EndsWith(piece_line, " +");) {
      std::string_view t = next_line();
      value.Add(StripJoin(t));
      if (!LegacyPiece(t).empty()) gathered_empty = false;
      piece_line = t;
    }
  } else {
    value.Add(raw);
    gathered_empty = raw.empty();
  }

  if (gathered_empty) {
    std::string_view t = next_line();
    std::string gathered(DropLastChars(t, 3));
    value.Add(StripJoin(t));
    for (std::string_view piece_line = t; EndsWith(piece_line, " +");) {
      std::string_view u = next_line();
      value.Add(StripJoin(u));
      gathered.append(LegacyPiece(u));
      piece_line = u;
    }
    // The name is read again from the property line with the gathered text
    // appended; it can only change when the line itself held no " =".
    if (line.find(" =") == std::string_view::npos) {
      std::string longer = std::string(line) + gathered;
      SplitLine(longer, result.name);
    }
  }
  result.value = value.Take();
  return result;
}

// ---- Value tests ------------------------------------------------------------

bool IsDateTimeText(std::string_view text, const DateTimeText& settings) {
  // Every accepted form starts, after blanks, with a digit or a marker; most
  // texts are rejected here without reading the clock.
  std::string_view t = text;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  if (t.empty()) return false;
  if (!IsDigit(t.front()) && !text::StartsWithIgnoreCase(t, settings.am_marker) &&
      !text::StartsWithIgnoreCase(t, settings.pm_marker))
    return false;
  return TextToDateTime(text, settings).has_value();
}

bool IsSimpleTextProperty(std::string_view component, std::string_view property,
                          std::string_view value, const DateTimeText& settings) {
  if (!IsSimpleTextName(property)) return false;
  if (text::EqualsIgnoreCase(value, component) || shared::EmptyString(component) || value == " " ||
      value == "-")
    return false;
  return !IsDateTimeText(value, settings);
}

bool IsStringListProperty(std::string_view property, std::string_view header_name,
                          std::string_view value, const DateTimeText& settings) {
  if (!IsStringListName(property) && !InTable(kStringListExtraNames, property)) return false;
  if (text::EqualsIgnoreCase(header_name, value) || shared::EmptyString(header_name) ||
      value == "-" || value == " ")
    return false;
  return !IsDateTimeText(value, settings);
}

bool TestaValorProp(std::string_view value, std::string_view /*component*/,
                    std::string_view class_name, std::string_view property) {
  auto punctuation = [](char32_t c) {
    return (c >= 32 && c <= 38) || (c >= 40 && c <= 47) || (c >= 58 && c <= 64) ||
           (c >= 91 && c <= 93) || c == 95 || c == 124;
  };
  bool accept = true;
  for (std::size_t i = 0; i < value.size();) {
    char32_t c = text::DecodeUtf8(value, i);
    if ((c >= '0' && c <= '9') || punctuation(c)) {
      accept = false;
    } else {
      accept = true;
      break;
    }
  }
  if (text::UpperAscii(class_name) == "TMENUITEM" && text::UpperAscii(property) == "HINT")
    accept = false;
  return accept;
}

}  // namespace trd::extract

#include "Text.h"

#include <array>

namespace trd::text {
namespace {

constexpr char Up(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
constexpr bool IsCont(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte length of the UTF-8 sequence starting with lead byte c, or 1 when c
// cannot start one.
std::size_t SeqLen(std::string_view s, std::size_t i) {
  if (static_cast<unsigned char>(s[i]) < 0x80) return 1;  // most texts are mostly ASCII
  std::size_t i2 = i;
  DecodeUtf8(s, i2);
  return i2 - i;
}

}  // namespace

std::string UpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Up(c);
  return r;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Up(a[i]) != Up(b[i])) return false;
  return true;
}

int CompareIgnoreCase(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = Up(a[i]), y = Up(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return s.substr(0, e);
}

std::size_t Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += SeqLen(s, i)) ++n;
  return n;
}

std::string_view Left(std::string_view s, std::size_t n) {
  // Every code point (and every malformed byte) takes at least one byte.
  if (s.size() <= n) return s;
  std::size_t i = 0;
  while (n > 0 && i < s.size()) {
    i += SeqLen(s, i);
    --n;
  }
  return s.substr(0, i);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  unsigned char c = s[i];
  if (c < 0x80) {
    ++i;
    return c;
  }
  std::size_t n;
  char32_t cp, min;
  if ((c & 0xE0) == 0xC0) {
    n = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 3, cp = c & 0x07, min = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + n >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (std::size_t k = 1; k <= n; ++k) {
    unsigned char d = s[i + k];
    if (!IsCont(d)) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += n + 1;
  return cp;
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t start = i;
    char32_t cp = DecodeUtf8(s, i);
    // A malformed sequence decodes to U+FFFD consuming one byte; a real
    // U+FFFD consumes three.
    if (cp == 0xFFFD && i - start == 1) return false;
  }
  return true;
}

namespace {

// Unicode of Windows-1252 bytes 0x80..0x9F; 0 marks the five undefined
// bytes, which stand for the C1 control of the same number.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

void AppendCp1252AsUtf8(std::string& out, std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0) {
      char16_t u = kCp1252High[c - 0x80];
      AppendUtf8(out, u ? u : c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

bool AppendUtf8AsCp1252(std::string& out, std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    if (cp < 0xA0) {  // C1 control: only the five undefined bytes carry one
      if (kCp1252High[cp - 0x80] != 0) return false;
      out += static_cast<char>(cp);
      continue;
    }
    std::size_t k = 0;
    while (k < kCp1252High.size() && kCp1252High[k] != cp) ++k;
    if (k == kCp1252High.size() || cp == 0) return false;
    out += static_cast<char>(0x80 + k);
  }
  return true;
}

std::string DecodeUtf8OrCp1252(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  AppendCp1252AsUtf8(out, bytes);
  return out;
}

std::string PathText(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (std::size_t from = 0;;) {
    const std::size_t slash = path.find('/', from);
    out += DecodeUtf8OrCp1252(path.substr(from, slash == std::string_view::npos ? slash : slash - from));
    if (slash == std::string_view::npos) return out;
    out += '/';
    from = slash + 1;
  }
}

}  // namespace trd::text

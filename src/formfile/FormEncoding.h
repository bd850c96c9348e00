// Character and number encodings of component streams.
//
// 8-bit strings are Windows-1252 (converted by platform/Text.h, the one home
// of that encoding); wide strings are UTF-16LE; floats are little-endian
// IEEE, the Extended kind being the 10-byte x87 format (64-bit mantissa with
// explicit integer bit, 15-bit exponent biased by 16383, sign).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace trd::form {

inline bool IsAscii(std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ULL) return false;
  }
  for (; i < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
  return true;
}

// Appends the UTF-8 form of UTF-16LE bytes (an odd last byte is ignored);
// pairs are joined, lone surrogates become U+FFFD.
void AppendUtf16LeAsUtf8(std::string& out, std::string_view bytes);
// Appends UTF-8 text, each malformed byte replaced by U+FFFD.
void AppendSanitizedUtf8(std::string& out, std::string_view bytes);

// Appends the UTF-16LE bytes of UTF-8 text; returns the number of code units.
std::size_t AppendUtf8AsUtf16Le(std::string& out, std::string_view utf8);

// 10-byte Extended <-> long double. Values outside the range of long double
// (on targets where it is narrower) become infinities or zeros.
long double DecodeExtended(const unsigned char* ten_bytes);
void EncodeExtended(long double v, unsigned char* ten_bytes);

// Little-endian integers.
inline std::uint64_t LoadLe(const unsigned char* p, int n) {
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline void AppendLe(std::string& out, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i, v >>= 8) out += static_cast<char>(v & 0xFF);
}

}  // namespace trd::form

#include "FormEncoding.h"

#include <cmath>
#include <limits>

#include "platform/Text.h"

namespace trd::form {
void AppendUtf16LeAsUtf8(std::string& out, std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size() / 2;
  for (std::size_t i = 0; i < n; ++i) {
    char32_t u = p[2 * i] | (p[2 * i + 1] << 8);
    if (u < 0x80) {
      out += static_cast<char>(u);
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      char32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    text::AppendUtf8(out, u);  // lone surrogates become U+FFFD
  }
}

void AppendSanitizedUtf8(std::string& out, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      out += bytes[i++];
      continue;
    }
    std::size_t start = i;
    char32_t cp = text::DecodeUtf8(bytes, i);
    if (cp == 0xFFFD && i - start == 1)
      text::AppendUtf8(out, 0xFFFD);
    else
      out.append(bytes.substr(start, i - start));
  }
}

std::size_t AppendUtf8AsUtf16Le(std::string& out, std::string_view utf8) {
  std::size_t units = 0;
  auto put = [&](char32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
    ++units;
  };
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = text::DecodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return units;
}

long double DecodeExtended(const unsigned char* p) {
  std::uint64_t mantissa = LoadLe(p, 8);
  int exponent = ((p[9] & 0x7F) << 8) | p[8];
  bool negative = (p[9] & 0x80) != 0;
  long double v;
  if (exponent == 0x7FFF) {
    v = (mantissa << 1) == 0 ? std::numeric_limits<long double>::infinity()
                             : std::numeric_limits<long double>::quiet_NaN();
  } else {
    // Denormals (exponent 0) use the exponent of the smallest normal.
    int e = (exponent == 0 ? 1 : exponent) - 16383 - 63;
    v = std::ldexp(static_cast<long double>(mantissa), e);
  }
  return negative ? -v : v;
}

void EncodeExtended(long double v, unsigned char* p) {
  bool negative = std::signbit(v);
  std::uint64_t mantissa = 0;
  int exponent = 0;
  if (std::isnan(v)) {
    exponent = 0x7FFF;
    mantissa = 0xC000000000000000ULL;
  } else if (std::isinf(v)) {
    exponent = 0x7FFF;
    mantissa = 0x8000000000000000ULL;
  } else if (v != 0) {
    int e;
    long double m = std::frexp(std::fabs(v), &e);  // m in [0.5, 1)
    exponent = e - 1 + 16383;
    if (exponent >= 0x7FFF) {
      exponent = 0x7FFF;
      mantissa = 0x8000000000000000ULL;
    } else if (exponent <= 0) {
      // Denormal: scale by the smallest normal exponent.
      mantissa = static_cast<std::uint64_t>(std::ldexp(std::fabs(v), 16382 + 63));
      exponent = 0;
    } else {
      mantissa = static_cast<std::uint64_t>(std::ldexp(m, 64));
    }
  }
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(mantissa >> (8 * i));
  p[8] = static_cast<unsigned char>(exponent & 0xFF);
  p[9] = static_cast<unsigned char>((exponent >> 8) | (negative ? 0x80 : 0));
}

}  // namespace trd::form

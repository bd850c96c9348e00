// The wide strings of component streams, read into UTF-8 (their 8-bit
// strings are Windows-1252: tests/platform/TextTest.cpp).
#include <gtest/gtest.h>

#include <string>

#include "formfile/FormEncoding.h"

namespace trd::form {
namespace {

std::string FromUtf16Le(std::u16string_view units) {
  std::string bytes;
  for (char16_t u : units) AppendLe(bytes, u, 2);
  std::string out;
  AppendUtf16LeAsUtf8(out, bytes);
  return out;
}

TEST(FormEncoding, Utf16ReadsAsUtf8) {
  EXPECT_EQ(FromUtf16Le(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf16Le(u"\xDBFF\xDFFF"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(FromUtf16Le(u"a\xE9\x20AC"), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(FromUtf16Le(u"\xD83D" u"a"), "\xEF\xBF\xBD" "a");  // lone high
  EXPECT_EQ(FromUtf16Le(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed pair
  EXPECT_EQ(FromUtf16Le(u"\xD83D"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace trd::form

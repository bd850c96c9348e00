// The character encodings of component streams, read into UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "formfile/FormEncoding.h"

namespace trd::form {
namespace {

std::string FromCp1252(std::string_view bytes) {
  std::string out;
  AppendCp1252AsUtf8(out, bytes);
  return out;
}

std::string FromUtf16Le(std::u16string_view units) {
  std::string bytes;
  for (char16_t u : units) AppendLe(bytes, u, 2);
  std::string out;
  AppendUtf16LeAsUtf8(out, bytes);
  return out;
}

TEST(FormEncoding, Cp1252AndUtf16ReadAsUtf8) {
  EXPECT_EQ(FromCp1252("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(FromCp1252("\xE9"), "\xC3\xA9");
  EXPECT_EQ(FromCp1252("\x81"), "\xC2\x81");  // undefined: the C1 control of that number
  EXPECT_EQ(FromCp1252("\x9F\xA0\xFF"), "\xC5\xB8\xC2\xA0\xC3\xBF");
  EXPECT_EQ(FromCp1252(std::string("a\0b", 3)), std::string("a\0b", 3));

  EXPECT_EQ(FromUtf16Le(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf16Le(u"\xDBFF\xDFFF"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(FromUtf16Le(u"a\xE9\x20AC"), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(FromUtf16Le(u"\xD83D" u"a"), "\xEF\xBF\xBD" "a");  // lone high
  EXPECT_EQ(FromUtf16Le(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed pair
  EXPECT_EQ(FromUtf16Le(u"\xD83D"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace trd::form
